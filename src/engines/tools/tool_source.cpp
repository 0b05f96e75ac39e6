#include "tool_source.h"

#include <algorithm>
#include <stdexcept>

namespace tools {

using namespace pdftox;

void openToolSource(ToolSource& source, const std::string& path, int first, int last) {
    fz_context* ctx = source.context.get();
    try {
        source.doc = openPdf(ctx, path);
    } catch (const NoPages& e) {
        throw std::runtime_error(path + ": " + e.what());
    } catch (const MuError& e) {
        throw std::runtime_error(path + ": cannot open the PDF: " + e.what());
    }
    if (unlock(ctx, source.doc.get(), "") != Access::Open) {
        throw std::runtime_error(path + ": the PDF is protected by a password");
    }
    const int pages = countPages(ctx, source.doc.get());
    source.first = std::max(first, 1);
    source.last = std::min(last, pages);
    if (source.first > source.last) {
        throw std::runtime_error("no pages in the range asked for");
    }
}

} // namespace tools
