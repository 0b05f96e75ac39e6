#include "pdftk_args.h"

#include <cctype>
#include <cstring>
#include <set>
#include <utility>

namespace tools {
namespace {

const std::set<std::string> keywords = {"input_pw", "cat",      "update_info",
                                        "output",   "dont_ask", "do_ask"};

/// Where the passwords stand in `args`: after `input_pw`, the next argument is always a
/// password, whatever it says ("output" is a password too); the ones after it, up to one for
/// each input, as long as they are no keyword. {0, 0} when there is no `input_pw` after the
/// inputs.
std::pair<size_t, size_t> passwordSpan(const std::vector<std::string>& args) {
    size_t inputs = 0;
    while (inputs < args.size() && !keywords.count(args[inputs])) {
        ++inputs;
    }
    if (inputs >= args.size() || args[inputs] != "input_pw") {
        return {0, 0};
    }
    const size_t first = inputs + 1;
    size_t count = first < args.size() ? 1 : 0;
    while (count < inputs && first + count < args.size() && !keywords.count(args[first + count])) {
        ++count;
    }
    return {first, count};
}

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
        const auto [first, count] = passwordSpan(args);
        if (count == 0) {
            throw UsageError("input_pw needs a password");
        }
        cmd.passwords.assign(args.begin() + std::ptrdiff_t(first),
                             args.begin() + std::ptrdiff_t(first + count));
        i = first + count;
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
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto [first, count] = passwordSpan(args);
    std::vector<std::string> passwords;
    for (size_t k = first; k < first + count; ++k) {
        passwords.push_back(args[k]);
        std::memset(argv[k + 1], 'x', std::strlen(argv[k + 1]));
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
