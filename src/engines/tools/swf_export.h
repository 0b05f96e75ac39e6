#pragma once

#include <string>

namespace tools {

struct SwfOptions {
    double frameRate = 0.5;
    bool compress = false;
    bool viewer = false;
    int first = 1;
    int last = 1 << 30;
};

/// Writes the pages of the PDF at `source` as a SWF movie at `output`: one frame per page, each
/// showing the page rendered as a JPEG picture filling a stage of the first page's size.
/// Returns the number of frames; throws std::runtime_error with a one-line message.
int convertToSwf(const std::string& source, const std::string& output, const SwfOptions& options);

} // namespace tools
