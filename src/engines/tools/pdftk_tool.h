#pragma once

#include "pdftk_args.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tools {

/// Carries the command out with qpdf. The output is written under a temporary name in its
/// folder and renamed when complete, never encrypted. Throws std::runtime_error with a
/// one-line message (missing input, wrong password, damaged file, unwritable output).
void runPdftk(const PdftkCommand& command);

/// Reads pdftk's InfoKey/InfoValue lines (CR LF or LF; other lines such as InfoBegin are
/// ignored). Values are UTF-8; bytes that are not UTF-8 are read as Windows-1252, and XML
/// character references (&#233;) as their characters.
std::vector<std::pair<std::string, std::string>> readInfoFile(const std::string& path);

} // namespace tools
