// The full pdftk-compatible tool, on qpdf: decryption, joining and document information, with
// pdftk's grammar. The tool's front (pdftk_main.cpp) loads it for whatever it does not do itself.
#include "pdftk_tool.h"

#include "atomic_file.h"
#include "tool_args.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) int lumadoc_pdftk_main(int argc, char** argv) {
    // First of all: the passwords leave the argument memory that the process list shows.
    std::vector<std::string> passwords = tools::takePasswords(argc, argv);
    // "PROMPT" stands for a password given on the standard input, a line each, as pdftk reads
    // it: the caller keeps it out of the process list, where other users could read it.
    for (std::string& password : passwords) {
        if (password == "PROMPT") {
            std::getline(std::cin, password);
            if (!password.empty() && password.back() == '\r') {
                password.pop_back();
            }
        }
    }
    pdftox::installPartFileCleanup();
    pdftox::endWithParent();
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
