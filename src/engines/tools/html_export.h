#pragma once

#include <string>

namespace tools {

/// Writes the pages first..last of the PDF at `source` as one HTML file at `output`: each page
/// a box of the page's size whose drawings and pictures form a background image (saved
/// beside the HTML file as <name>-<page>.png or .jpg) under the page's text as real,
/// selectable text at its place, in its size, weight, style, colour and a close font family;
/// links stay links. Pages are clamped to the document. Returns the number of pages written;
/// throws std::runtime_error with a one-line message when nothing could be written.
int convertToHtml(const std::string& source, const std::string& output, int first, int last);

} // namespace tools
