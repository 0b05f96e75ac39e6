// The C interface of the export library: handles, argument checks, progress, result codes.
#include "../pdftox.h"

#include "atomic_file.h"
#include "image_export.h"
#include "mupdf.h"
#include "recognition.h"
#include "rtf_writer.h"

#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pdftox {
namespace {

std::atomic<int> g_lastCutShort{0};

/// Counts the pages of one export that were cut short (PagesCutShort), from its start to its end.
struct CutShortCount {
    CutShortCount() { takePagesCutShort(); }
    ~CutShortCount() { g_lastCutShort = int(takePagesCutShort().size()); }
    CutShortCount(const CutShortCount&) = delete;
    CutShortCount& operator=(const CutShortCount&) = delete;
};

struct OpenDocument {
    ThreadContext context;
    DocumentPtr doc{nullptr, {nullptr}};
    DocumentSource source;
    int pageCount = 0;
    std::mutex use;
};

std::mutex g_registryMutex;
std::map<int, std::shared_ptr<OpenDocument>> g_documents;
int g_nextHandle = 1;

std::shared_ptr<OpenDocument> find(int handle) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_documents.find(handle);
    return it == g_documents.end() ? nullptr : it->second;
}

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

/// Reports progress for a page range of which only [validFirst, validLast] lies inside the
/// document: the pages before and after it count as done at once, so that the count still
/// runs to the size of the whole range.
class Progress {
public:
    Progress(ExportProgressFn fn, int first, int last) : m_fn(fn), m_first(first), m_last(last) {}

    void skipped(long long pages) {
        if (pages > 0) {
            m_done += pages;
            report();
        }
    }
    void pageDone() {
        ++m_done;
        report();
    }

private:
    void report() {
        if (m_fn) {
            m_fn(m_first, m_last, int(std::min<long long>(m_done, INT_MAX)));
        }
    }
    ExportProgressFn m_fn;
    int m_first;
    int m_last;
    long long m_done = 0;
};

struct Range {
    int first;
    int last;
    long long before; // pages of the range below 1
    long long after;  // pages of the range beyond the document
    bool empty() const { return first > last; }
};

Range validRange(int first, int last, int pageCount) {
    Range r{std::max(first, 1), std::min(last, pageCount), 0, 0};
    if (first > last) {
        return {1, 0, 0, 0};
    }
    r.before = std::max<long long>(0, std::min<long long>(last, 0) - first + 1);
    r.after = std::max<long long>(
        0, static_cast<long long>(last) -
               std::max<long long>(static_cast<long long>(first) - 1, pageCount));
    return r;
}

// No exception may leave a function of the C interface: in a C caller it would end the
// program. Each function's body runs inside one of these; whatever escapes it (MuPDF's errors,
// failed allocations, a std::system_error of a lock, anything else) becomes the function's
// failure result.
template <class Result, class Body> Result atTheBoundary(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// The same for the functions without a result.
template <class Body> void atTheBoundary(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

std::string metadata(fz_context* ctx, fz_document* doc, const char* key) {
    char value[512] = "";
    try {
        guarded(ctx, [&] { fz_lookup_metadata(ctx, doc, key, value, sizeof value); });
    } catch (const MuError&) {
        return {};
    }
    return value;
}

} // namespace
} // namespace pdftox

using namespace pdftox;

extern "C" {

int OpenPDF(const char* path, const char* password) {
    return atTheBoundary(PDFTOX_CANNOT_OPEN, [&] {
        if (!path || !*path) {
            return PDFTOX_CANNOT_OPEN;
        }
        auto entry = std::make_shared<OpenDocument>();
        fz_context* ctx = entry->context.get();
        try {
            entry->doc = openPdf(ctx, path);
            entry->source = {path, text(password)};
            switch (unlock(ctx, entry->doc.get(), entry->source.password)) {
            case Access::NeedsPassword:
                return PDFTOX_NEEDS_PASSWORD;
            case Access::WrongPassword:
                return PDFTOX_WRONG_PASSWORD;
            case Access::Open:
                break;
            }
        } catch (const NoPages&) {
            return PDFTOX_NO_PAGES;
        }
        entry->pageCount = countPages(ctx, entry->doc.get());
        if (entry->pageCount <= 0) {
            return PDFTOX_NO_PAGES;
        }
        std::lock_guard lock(g_registryMutex);
        if (g_nextHandle == INT_MAX) {
            return PDFTOX_CANNOT_OPEN;
        }
        const int handle = g_nextHandle++;
        g_documents.emplace(handle, std::move(entry));
        return handle;
    });
}

int GetPageNum(int handle) {
    return atTheBoundary(PDFTOX_BAD_HANDLE, [&] {
        const auto entry = find(handle);
        return entry ? entry->pageCount : PDFTOX_BAD_HANDLE;
    });
}

// The page's width or height as displayed, rounded; 0 for a page that cannot be loaded.
static int pageSize(int handle, int page, bool width) {
    return atTheBoundary(0, [&] {
        const auto entry = find(handle);
        if (!entry || page < 1 || page > entry->pageCount) {
            return 0;
        }
        std::lock_guard lock(entry->use);
        fz_rect bounds{};
        loadPage(entry->context.get(), entry->doc.get(), page, &bounds);
        return int(width ? bounds.x1 - bounds.x0 + 0.5f : bounds.y1 - bounds.y0 + 0.5f);
    });
}

int GetPageWidth(int handle, int page) {
    return pageSize(handle, page, true);
}

int GetPageHeight(int handle, int page) {
    return pageSize(handle, page, false);
}

int ExportIMG(int handle, const char* folder, const char* namePrefix, int imageTypeCode,
              int resolution, int colorDepth, int firstPage, int lastPage,
              ExportProgressFn progress) {
    return atTheBoundary(PDFTOX_WRITE_FAILED, [&] {
        const auto entry = find(handle);
        if (!entry) {
            return PDFTOX_BAD_HANDLE;
        }
        if (!folder || !*folder || imageTypeCode < PDFTOX_BMP || imageTypeCode > PDFTOX_GIF ||
            resolution < 1 || resolution > 2400) {
            return PDFTOX_BAD_ARGUMENT;
        }
        std::lock_guard lock(entry->use);
        ImageJob job;
        job.folder = folder;
        if (job.folder.back() != '/') {
            job.folder += '/';
        }
        job.prefix = namePrefix && *namePrefix ? namePrefix : "page-";
        job.type = ImageType(imageTypeCode);
        job.dpi = resolution;
        job.paletted = colorDepth > 0 && colorDepth <= 8;
        job.pageCount = entry->pageCount;

        const Range range = validRange(firstPage, lastPage, entry->pageCount);
        Progress report(progress, firstPage, lastPage);
        report.skipped(range.before);
        const CutShortCount cutShort;
        int written = 0;
        if (!range.empty()) {
            written = exportImages(entry->source, job, range.first, range.last,
                                   [&report] { report.pageDone(); });
            if (written < 0) {
                return written; // PDFTOX_WRITE_FAILED, PDFTOX_DISK_FULL or PDFTOX_STOPPED
            }
        }
        report.skipped(range.after);
        return written;
    });
}

int ExportRTF(int handle, const char* outputPath, int firstPage, int lastPage,
              ExportProgressFn progress) {
    return atTheBoundary(PDFTOX_WRITE_FAILED, [&] {
        const auto entry = find(handle);
        if (!entry) {
            return PDFTOX_BAD_HANDLE;
        }
        if (!outputPath || !*outputPath) {
            return PDFTOX_BAD_ARGUMENT;
        }
        std::lock_guard lock(entry->use);
        const Range range = validRange(firstPage, lastPage, entry->pageCount);
        Progress report(progress, firstPage, lastPage);
        const CutShortCount cutShort;
        try {
            RtfWriter writer;
            writer.setTitle(metadata(entry->context.get(), entry->doc.get(), FZ_META_INFO_TITLE));
            report.skipped(range.before);
            int pages = 0;
            if (!range.empty()) {
                const bool finished = runPages<PageModel>(
                    entry->source, range.first, range.last,
                    [](fz_context* ctx, fz_document* doc, int page) {
                        return extractPage(ctx, doc, page);
                    },
                    [&](int, std::optional<PageModel>&& page) {
                        // A page that cannot be read still takes its place as an empty page.
                        writer.addPage(page ? *page : PageModel());
                        ++pages;
                        report.pageDone();
                        return true;
                    });
                if (!finished) {
                    return PDFTOX_STOPPED;
                }
            }
            writer.finish(outputPath);
            report.skipped(range.after);
            return pages;
        } catch (const WriteError& e) {
            switch (faultOf(e.error())) {
            case WriteFault::DiskFull:
                return PDFTOX_DISK_FULL;
            case WriteFault::NameTooLong:
                return PDFTOX_NAME_TOO_LONG;
            default:
                return PDFTOX_WRITE_FAILED;
            }
        }
    });
}

int SetTextRecognition(int on) {
    return atTheBoundary(1, [&] { return setRecognition(on != 0) ? 1 : 0; });
}

int PagesCutShort(void) {
    return g_lastCutShort.load();
}

void StopExports(void) {
    atTheBoundary([] { requestStop(); });
}

void ClosePDF(int handle) {
    atTheBoundary([&] {
        std::shared_ptr<OpenDocument> entry;
        {
            std::lock_guard lock(g_registryMutex);
            auto it = g_documents.find(handle);
            if (it == g_documents.end()) {
                return;
            }
            entry = std::move(it->second);
            g_documents.erase(it);
        }
        // Waits for an export on this handle that another thread may be running.
        std::lock_guard lock(entry->use);
    });
}

int SetRCPath(const char*) {
    return atTheBoundary(1, [] { return 1; });
}

} // extern "C"
