// pdf2htm: one HTML file from a PDF.  pdf2htm [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html
#include "atomic_file.h"
#include "html_export.h"
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
        tools::refuseOutputOverInput(command.source, command.output);
        tools::convertToHtml(command.source, command.output, command.first, command.last);
        // The output is written; a page that ran out of time is said, with a status of its own.
        return tools::reportPagesCutShort("pdf2htm");
    } catch (const tools::UsageError& e) {
        return tools::reportUsageError("pdf2htm", e, tools::pdf2htmSynopsis);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pdf2htm: %s\n", e.what());
        return pdftox::exitStatusFor(e);
    }
    return 0;
}
