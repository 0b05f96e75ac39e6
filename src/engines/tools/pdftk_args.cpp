#include "pdftk_args.h"

#include <cctype>
#include <cstring>
#include <set>

namespace tools {
namespace {

const std::set<std::string> keywords = {"input_pw", "cat",      "update_info",
                                        "output",   "dont_ask", "do_ask"};

} // namespace

PdftkCommand parsePdftkArgs(const std::vector<std::string>& args) {
    PdftkCommand cmd;
    size_t i = 0;
    while (i < args.size() && !keywords.count(args[i])) {
        if (args[i].size() > 2 && args[i][1] == '=' &&
            std::isupper(static_cast<unsigned char>(args[i][0]))) {
            throw UsageError("input handles (" + args[i] + ") are not supported");
        }
        cmd.inputs.push_back(args[i++]);
    }
    if (cmd.inputs.empty()) {
        throw UsageError("no input PDF given");
    }
    if (i < args.size() && args[i] == "input_pw") {
        ++i;
        while (i < args.size() && !keywords.count(args[i])) {
            cmd.passwords.push_back(args[i++]);
        }
        if (cmd.passwords.empty()) {
            throw UsageError("input_pw needs a password");
        }
    }
    if (i < args.size() && args[i] == "cat") {
        cmd.operation = PdftkCommand::Operation::Cat;
        ++i;
        if (i < args.size() && !keywords.count(args[i])) {
            throw UsageError("page ranges after cat are not supported");
        }
    } else if (i < args.size() && args[i] == "update_info") {
        cmd.operation = PdftkCommand::Operation::UpdateInfo;
        if (++i >= args.size() || keywords.count(args[i])) {
            throw UsageError("update_info needs an information file");
        }
        cmd.infoFile = args[i++];
    }
    if (i >= args.size() || args[i] != "output") {
        throw UsageError("expected 'output' and a file name");
    }
    if (++i >= args.size() || keywords.count(args[i])) {
        throw UsageError("output needs a file name");
    }
    cmd.output = args[i++];
    if (cmd.output == "-" || cmd.output == "PROMPT") {
        throw UsageError("output must be a file name");
    }
    if (i < args.size() && (args[i] == "dont_ask" || args[i] == "do_ask")) {
        ++i;
    }
    if (i < args.size()) {
        throw UsageError("unexpected argument '" + args[i] + "'");
    }
    if (cmd.operation != PdftkCommand::Operation::Cat && cmd.inputs.size() != 1) {
        throw UsageError("this operation takes one input PDF");
    }
    return cmd;
}

std::vector<std::string> takePasswords(int argc, char** argv) {
    std::vector<std::string> passwords;
    bool inPasswords = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "input_pw") {
            inPasswords = true;
            continue;
        }
        if (keywords.count(arg)) {
            inPasswords = false;
        }
        if (inPasswords) {
            passwords.push_back(arg);
            std::memset(argv[i], 'x', std::strlen(argv[i]));
        }
    }
    return passwords;
}

bool isPlainJoin(const std::vector<std::string>& args) {
    try {
        const PdftkCommand command = parsePdftkArgs(args);
        return command.operation == PdftkCommand::Operation::Cat && command.inputs.size() >= 2 &&
               command.passwords.empty() && !args.empty() && args.back() == "dont_ask";
    } catch (const UsageError&) {
        return false;
    }
}

} // namespace tools
