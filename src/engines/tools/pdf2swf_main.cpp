// pdf2swf: a SWF slide show of PDF pages.
//   pdf2swf [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A-B] SOURCE.pdf -o OUTPUT.swf
#include "atomic_file.h"
#include "swf_export.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: pdf2swf [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A-B] "
                         "SOURCE.pdf -o OUTPUT.swf\n");
    return 2;
}

bool parseNumber(const std::string& text, double* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

bool parseInt(const std::string& text, int* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

} // namespace

int main(int argc, char** argv) {
    pdftox::installPartFileCleanup();
    tools::SwfOptions options;
    std::string source;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-s" && i + 1 < argc) {
            const std::string setting = argv[++i];
            if (setting == "simpleviewer") {
                options.viewer = true;
            } else if (setting.rfind("framerate=", 0) == 0) {
                if (!parseNumber(setting.substr(10), &options.frameRate)) {
                    std::fprintf(stderr, "pdf2swf: not a frame rate: %s\n", setting.c_str());
                    return 2;
                }
            } else {
                std::fprintf(stderr, "pdf2swf: unknown setting %s\n", setting.c_str());
                return 2;
            }
        } else if (arg == "-q") {
            // Only errors are ever printed.
        } else if (arg == "-z") {
            options.compress = true;
        } else if (arg == "-p" && i + 1 < argc) {
            const std::string range = argv[++i];
            const size_t dash = range.find('-', 1);
            const bool ok = dash == std::string::npos
                                ? parseInt(range, &options.first) && parseInt(range, &options.last)
                                : parseInt(range.substr(0, dash), &options.first) &&
                                      parseInt(range.substr(dash + 1), &options.last);
            if (!ok) {
                std::fprintf(stderr, "pdf2swf: not a page range: %s\n", range.c_str());
                return 2;
            }
        } else if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "pdf2swf: unknown option %s\n", arg.c_str());
            return usage();
        } else if (source.empty()) {
            source = arg;
        } else {
            return usage();
        }
    }
    if (source.empty() || output.empty()) {
        return usage();
    }
    try {
        tools::convertToSwf(source, output, options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2swf: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
