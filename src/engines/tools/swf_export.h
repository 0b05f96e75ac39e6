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

/// Writes the pages of the PDF at `source` as a SWF movie at `output`: one frame per page on a
/// stage of the first page's size, each showing the page's plain text as the movie's own text
/// (glyph outlines) over a picture of the rest of the page.
/// Returns the number of frames; throws std::runtime_error with a one-line message.
int convertToSwf(const std::string& source, const std::string& output, const SwfOptions& options);

} // namespace tools
