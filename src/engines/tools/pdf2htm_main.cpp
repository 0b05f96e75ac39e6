// pdf2htm: one HTML file from a PDF.  pdf2htm [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html
#include "../tool_status.h"
#include "atomic_file.h"
#include "html_export.h"
#include "page_pipeline.h"
#include "tool_args.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    pdftox::installPartFileCleanup();
    pdftox::endWithParent();
    try {
        const tools::HtmlCommand command =
            tools::parsePdf2htmArgs(std::vector<std::string>(argv + 1, argv + argc));
        tools::convertToHtml(command.source, command.output, command.first, command.last);
        // The output is written; a page that ran out of time is said, with a status of its own.
        const std::vector<int> cutShort = pdftox::takePagesCutShort();
        for (const int page : cutShort) {
            std::fprintf(stderr, "pdf2htm: page %d is too complex: it was cut short after %lld s\n",
                         page, static_cast<long long>(pdftox::pageBudget().count() / 1000));
        }
        if (!cutShort.empty()) {
            return TOOL_CUT_SHORT;
        }
    } catch (const tools::UsageError& e) {
        return tools::reportUsageError("pdf2htm", e, tools::pdf2htmSynopsis);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2htm: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
