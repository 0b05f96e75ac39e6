#pragma once

#include "usage_error.h"

#include <string>
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

/// Overwrites the password arguments of `argv` in place, so that other users cannot read
/// them from the process list, and returns them.
std::vector<std::string> takePasswords(int argc, char** argv);

/// Whether `args` is a plain join: two or more files, `cat`, `output` and a file, nothing else
/// but `dont_ask` (no passwords, no questions before overwriting).
bool isPlainJoin(const std::vector<std::string>& args);

} // namespace tools
