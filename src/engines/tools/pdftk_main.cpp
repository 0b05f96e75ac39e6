// pdftk-compatible tool: decryption, joining and document information, with pdftk's grammar.
//
// The image assembly starts this tool once per page to join its growing file with the next
// page, hundreds of times in a row. Loading qpdf and its crypto libraries costs more than such
// a join itself, so this front joins plain files on its own (appendPages) and loads the full
// tool, libpdftk.so beside it or one folder up, only for everything else.
#include "atomic_file.h"
#include "pdf_append.h"
#include "pdftk_args.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

/// Set to "1" by a caller whose first input is a scratch file it deletes after the join: the
/// join may then turn that file into the output instead of copying it.
constexpr const char* consumeFirstVariable = "LUMADOC_PDFTK_CONSUME_FIRST";

std::string ownFolder() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        return ".";
    }
    path.resize(static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

int runFullTool(int argc, char** argv) {
    const std::string folder = ownFolder();
    std::string tried;
    for (const std::string& candidate : {folder + "/libpdftk.so", folder + "/../libpdftk.so"}) {
        if (void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            using Main = int (*)(int, char**);
            if (auto fullMain = reinterpret_cast<Main>(dlsym(library, "lumadoc_pdftk_main"))) {
                return fullMain(argc, argv);
            }
        }
        tried += (tried.empty() ? "" : "; ") + std::string(dlerror());
    }
    std::fprintf(stderr, "pdftk: the tool's library cannot be loaded: %s\n", tried.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    pdftox::endWithParent();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (tools::isPlainJoin(args)) {
        pdftox::installPartFileCleanup();
        const tools::PdftkCommand command = tools::parsePdftkArgs(args);
        const char* consume = std::getenv(consumeFirstVariable);
        try {
            if (tools::appendPages(
                    command.inputs[0], {command.inputs.begin() + 1, command.inputs.end()},
                    command.output,
                    consume && std::strcmp(consume, "1") == 0 ? tools::FirstFile::MayConsume
                                                              : tools::FirstFile::Keep)) {
                return 0;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pdftk: %s\n", e.what());
            return pdftox::exitStatusFor(e);
        }
    }
    return runFullTool(argc, argv);
}
