// pdf2swf: a SWF slide show of PDF pages.
//   pdf2swf [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A-B] SOURCE.pdf -o OUTPUT.swf
#include "../tool_status.h"
#include "atomic_file.h"
#include "page_pipeline.h"
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
        tools::convertToSwf(command.source, command.output, command.options);
        // The output is written; a page that ran out of time is said, with a status of its own.
        const std::vector<int> cutShort = pdftox::takePagesCutShort();
        for (const int page : cutShort) {
            std::fprintf(stderr, "pdf2swf: page %d is too complex: it was cut short after %lld s\n",
                         page, static_cast<long long>(pdftox::pageBudget().count() / 1000));
        }
        if (!cutShort.empty()) {
            return TOOL_CUT_SHORT;
        }
    } catch (const tools::UsageError& e) {
        return tools::reportUsageError("pdf2swf", e, tools::pdf2swfSynopsis);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2swf: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
