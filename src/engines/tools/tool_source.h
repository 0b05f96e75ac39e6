#pragma once

#include "mupdf.h"

#include <string>

namespace tools {

/// The PDF a program converts, open, with the page range it asked for clamped to the document.
struct ToolSource {
    pdftox::ThreadContext context;
    pdftox::DocumentPtr doc{nullptr, {nullptr}};
    int first = 1;
    int last = 0;
};

/// Opens `path` for pages first..last. Throws std::runtime_error with a one-line message when
/// the file cannot be opened, needs a password, or the range holds no page of the document.
void openToolSource(ToolSource& source, const std::string& path, int first, int last);

} // namespace tools
