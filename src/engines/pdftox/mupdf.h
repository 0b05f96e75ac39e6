#pragma once

// Small C++ wrappers over MuPDF: contexts for threads, MuPDF errors as exceptions, owning
// pointers that drop through their context.
#include "image_writers.h"

#include <mupdf/fitz.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace pdftox {

/// A MuPDF error, carried past its fz_try as a C++ exception.
class MuError : public std::runtime_error {
public:
    MuError(const std::string& message, int code) : std::runtime_error(message), m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

/// A PDF that opens but holds no page.
class NoPages : public MuError {
public:
    NoPages() : MuError("the PDF has no pages", FZ_ERROR_GENERIC) {}
};

/// The root context, shared by all threads through clones (its locks make that safe).
fz_context* rootContext();

/// A context of its own for one thread, dropped with the object.
class ThreadContext {
public:
    ThreadContext();
    ~ThreadContext();
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;
    fz_context* get() const { return m_ctx; }

private:
    fz_context* m_ctx;
};

/// Runs `body` inside fz_try and turns a MuPDF error into MuError after fz_catch. The body
/// must hold no objects with destructors: a MuPDF error leaves it by longjmp.
template <typename Body> void guarded(fz_context* ctx, Body&& body) {
    char message[256] = "";
    volatile int code = 0;
    fz_try(ctx) {
        body();
    }
    fz_catch(ctx) {
        code = fz_caught(ctx);
        fz_strlcpy(message, fz_caught_message(ctx), sizeof message);
    }
    if (code != 0) {
        throw MuError(message, code);
    }
}

template <typename T, void (*Drop)(fz_context*, T*)> struct Dropper {
    fz_context* ctx;
    void operator()(T* p) const { Drop(ctx, p); }
};

template <typename T, void (*Drop)(fz_context*, T*)>
using Owned = std::unique_ptr<T, Dropper<T, Drop>>;

using DocumentPtr = Owned<fz_document, fz_drop_document>;
using PagePtr = Owned<fz_page, fz_drop_page>;
using PixmapPtr = Owned<fz_pixmap, fz_drop_pixmap>;
using DevicePtr = Owned<fz_device, fz_drop_device>;
using BufferPtr = Owned<fz_buffer, fz_drop_buffer>;
using TextPagePtr = Owned<fz_stext_page, fz_drop_stext_page>;

template <typename Ptr, typename T> Ptr own(fz_context* ctx, T* p) {
    return Ptr(p, {ctx});
}

/// Loads page `number` (from 1) and gives its bounds as displayed; throws MuError.
/// The cookie of the page in work on this thread (see PageBudget), or nullptr: what runs a
/// page passes it to MuPDF, so that the page can be told to stop.
fz_cookie* currentPageCookie();
void setCurrentPageCookie(fz_cookie* cookie);

PagePtr loadPage(fz_context* ctx, fz_document* doc, int number, fz_rect* bounds);

/// The text of `page` as the page shows it: its contents and its annotations and form fields
/// (a filled-in field's value, a ticked box), which MuPDF's own text extraction leaves out.
/// Throws MuError.
TextPagePtr readPageText(fz_context* ctx, fz_page* page, const fz_stext_options& options);

/// Runs `page` through `device` with `ctm` and closes the device. A damaged content stream
/// stops where it breaks: what was drawn up to there is kept, and no error leaves.
void drawPage(fz_context* ctx, fz_page* page, fz_matrix ctm, fz_device* device);

/// A white RGB pixmap covering `bounds` scaled by `zoom`; throws MuError.
PixmapPtr newWhitePixmap(fz_context* ctx, fz_rect bounds, double zoom);

/// The pixels of `pix` (owned by it) as a Bitmap of `dpi` dots per inch.
Bitmap bitmapOf(fz_context* ctx, fz_pixmap* pix, int dpi);

/// The pages of `doc`. A page tree may claim more pages than it holds (a /Count of 100 000 000
/// over one page): when the claim exceeds the objects of the file, the pages are counted in
/// the tree, so that no export walks through millions of pages that are not there.
int countPages(fz_context* ctx, fz_document* doc);

/// Opens a PDF file; throws MuError when it cannot be opened or repaired.
DocumentPtr openPdf(fz_context* ctx, const std::string& path);

/// The result of trying a password on an open document.
enum class Access { Open, NeedsPassword, WrongPassword };

/// Unlocks `doc` with `password` (user or owner) when it needs one. For an AES-256 file the
/// password's SASLprep form is tried first, then its bytes as typed (see saslprep.h). Throws
/// MuError when the unlocked document has no pages.
Access unlock(fz_context* ctx, fz_document* doc, const std::string& password);

} // namespace pdftox
