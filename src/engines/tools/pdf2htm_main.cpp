// pdf2htm: one HTML file from a PDF.  pdf2htm [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html
#include "atomic_file.h"
#include "html_export.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool parsePage(const char* text, int* page) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *page = int(value);
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: pdf2htm [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    pdftox::installPartFileCleanup();
    int first = 1;
    int last = INT_MAX;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-f" || arg == "-l") && i + 1 < argc) {
            if (!parsePage(argv[++i], arg == "-f" ? &first : &last)) {
                std::fprintf(stderr, "pdf2htm: %s needs a page number, not '%s'\n", arg.c_str(),
                             argv[i]);
                return 2;
            }
        } else if (arg == "-q") {
            // Quiet is the only way this program speaks anyway: errors only.
        } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "pdf2htm: unknown option %s\n", arg.c_str());
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        return usage();
    }
    try {
        tools::convertToHtml(files[0], files[1], first, last);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2htm: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
