#include "tool_args.h"

#include "atomic_file.h"
#include "page_pipeline.h"

#include "../tool_status.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace tools {
namespace {

bool parsePage(const std::string& text, int* page) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *page = int(value);
    return true;
}

template <typename Number> bool parseNumber(const std::string& text, Number* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

bool isOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

} // namespace

int reportUsageError(const char* program, const UsageError& e, const char* synopsis) {
    if (*e.what()) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
    }
    if (e.wantsSynopsis() && synopsis) {
        std::fprintf(stderr, "%s\n", synopsis);
    }
    return TOOL_USAGE;
}

const char* const pdf2htmSynopsis = "usage: pdf2htm [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html";

void refuseOutputOverInput(const std::string& source, const std::string& output) {
    if (pdftox::sameFile(source, output)) {
        throw UsageError(output + ": the output would be written over the input");
    }
}

HtmlCommand parsePdf2htmArgs(const std::vector<std::string>& args) {
    HtmlCommand cmd;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "-f" || arg == "-l") && i + 1 < args.size()) {
            if (!parsePage(args[++i], arg == "-f" ? &cmd.first : &cmd.last)) {
                throw UsageError(arg + " needs a page number, not '" + args[i] + "'");
            }
        } else if (arg == "-q") {
            // Quiet is the only way this program speaks anyway: errors only.
        } else if (isOption(arg)) {
            throw UsageError("unknown option " + arg, true);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        throw UsageError("", true);
    }
    cmd.source = files[0];
    cmd.output = files[1];
    return cmd;
}

const char* const pdf2swfSynopsis =
    "usage: pdf2swf [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A-B] SOURCE.pdf -o OUTPUT.swf";

SwfCommand parsePdf2swfArgs(const std::vector<std::string>& args) {
    SwfCommand cmd;
    SwfOptions& options = cmd.options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-s" && i + 1 < args.size()) {
            const std::string& setting = args[++i];
            if (setting == "simpleviewer") {
                options.viewer = true;
            } else if (setting.starts_with("framerate=")) {
                if (!parseNumber(setting.substr(10), &options.frameRate)) {
                    throw UsageError("not a frame rate: " + setting);
                }
            } else {
                throw UsageError("unknown setting " + setting);
            }
        } else if (arg == "-q") {
            // Only errors are ever printed.
        } else if (arg == "-z") {
            options.compress = true;
        } else if (arg == "-p" && i + 1 < args.size()) {
            const std::string& range = args[++i];
            // From the second character on, so that the first page may carry a sign.
            const size_t dash = range.find('-', 1);
            const bool ok =
                dash == std::string::npos
                    ? parseNumber(range, &options.first) && parseNumber(range, &options.last)
                    : parseNumber(range.substr(0, dash), &options.first) &&
                          parseNumber(range.substr(dash + 1), &options.last);
            if (!ok) {
                throw UsageError("not a page range: " + range);
            }
        } else if (arg == "-o" && i + 1 < args.size()) {
            cmd.output = args[++i];
        } else if (isOption(arg)) {
            throw UsageError("unknown option " + arg, true);
        } else if (cmd.source.empty()) {
            cmd.source = arg;
        } else {
            throw UsageError("", true);
        }
    }
    if (cmd.source.empty() || cmd.output.empty()) {
        throw UsageError("", true);
    }
    return cmd;
}

int reportPagesCutShort(const char* program) {
    const std::vector<int> cutShort = pdftox::takePagesCutShort();
    for (const int page : cutShort) {
        std::fprintf(stderr, "%s: page %d is too complex: it was cut short after %lld s\n", program,
                     page, static_cast<long long>(pdftox::pageBudget().count() / 1000));
    }
    return cutShort.empty() ? TOOL_OK : TOOL_CUT_SHORT;
}

} // namespace tools
