// pdf2swf: a SWF slide show of PDF pages.
//   pdf2swf [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A-B] SOURCE.pdf -o OUTPUT.swf
#include "atomic_file.h"
#include "swf_export.h"
#include "tool_args.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    pdftox::installPartFileCleanup();
    pdftox::endWithParent();
    try {
        const tools::SwfCommand command =
            tools::parsePdf2swfArgs(std::vector<std::string>(argv + 1, argv + argc));
        tools::refuseOutputOverInput(command.source, command.output);
        tools::convertToSwf(command.source, command.output, command.options);
        // The output is written; a page that ran out of time is said, with a status of its own.
        return tools::reportPagesCutShort("pdf2swf");
    } catch (const tools::UsageError& e) {
        return tools::reportUsageError("pdf2swf", e, tools::pdf2swfSynopsis);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2swf: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
