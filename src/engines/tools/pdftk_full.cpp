// The full pdftk-compatible tool, on qpdf: decryption, joining and document information, with
// pdftk's grammar. The tool's front (pdftk_main.cpp) loads it for whatever it does not do itself.
#include "pdftk_tool.h"

#include "atomic_file.h"
#include "tool_args.h"

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" __attribute__((visibility("default"))) int lumadoc_pdftk_main(int argc, char** argv) {
    // First of all: the passwords leave the argument memory that the process list shows.
    const std::vector<std::string> passwords = tools::takePasswords(argc, argv);
    pdftox::installPartFileCleanup();
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        tools::PdftkCommand command = tools::parsePdftkArgs(args);
        command.passwords = passwords;
        tools::runPdftk(command);
    } catch (const tools::UsageError& e) {
        return tools::reportUsageError("pdftk", e, nullptr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdftk: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
