#pragma once

#include "usage_error.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tools {

/// The forms of pdftk's grammar that the tool carries out.
struct PdftkCommand {
    enum class Operation { Copy, Cat, UpdateInfo };
    Operation operation = Operation::Copy;
    std::vector<std::string> inputs;
    std::vector<std::string> passwords; ///< input_pw values, one per input in order
    std::string infoFile;               ///< update_info
    std::string output;
};

/// Parses the arguments after the program name:
///   IN... [input_pw PW...] [cat | update_info INFO] output OUT [dont_ask | do_ask]
/// Throws UsageError for anything else (page ranges, handles, encryption options, ...).
PdftkCommand parsePdftkArgs(const std::vector<std::string>& args);

/// Carries the command out with qpdf. The output is written under a temporary name in its
/// folder and renamed when complete, never encrypted. Throws std::runtime_error with a
/// one-line message (missing input, wrong password, damaged file, unwritable output).
void runPdftk(const PdftkCommand& command);

/// Reads pdftk's InfoKey/InfoValue lines (CR LF or LF; other lines such as InfoBegin are
/// ignored). Values are UTF-8; bytes that are not UTF-8 are read as Windows-1252, and XML
/// character references (&#233;) as their characters.
std::vector<std::pair<std::string, std::string>> readInfoFile(const std::string& path);

/// Overwrites the password arguments of `argv` in place, so that other users cannot read
/// them from the process list, and returns them.
std::vector<std::string> takePasswords(int argc, char** argv);

} // namespace tools
