#include "mupdf.h"
#include "saslprep.h"

#include <mupdf/pdf.h>
#include <set>

#include <mutex>

namespace pdftox {
namespace {

std::mutex g_locks[FZ_LOCK_MAX];

void lockFn(void*, int lock) {
    g_locks[lock].lock();
}
void unlockFn(void*, int lock) {
    g_locks[lock].unlock();
}

// Damaged files make MuPDF report what it repairs; the caller learns of real failures through
// results, so these messages stay quiet.
void quiet(void*, const char*) {}

// The resource store is kept modest so that long exports stay within a bounded footprint.
constexpr size_t StoreSize = 96u << 20;

} // namespace

fz_context* rootContext() {
    static fz_locks_context locks{nullptr, lockFn, unlockFn};
    static fz_context* root = [] {
        fz_context* ctx = fz_new_context(nullptr, &locks, StoreSize);
        if (ctx) {
            fz_set_warning_callback(ctx, quiet, nullptr);
            fz_set_error_callback(ctx, quiet, nullptr);
            fz_try(ctx) {
                fz_register_document_handlers(ctx);
            }
            fz_catch(ctx) {}
        }
        return ctx;
    }();
    return root;
}

ThreadContext::ThreadContext() : m_ctx(nullptr) {
    if (fz_context* root = rootContext()) {
        m_ctx = fz_clone_context(root);
    }
    if (!m_ctx) {
        throw MuError("cannot create a MuPDF context", FZ_ERROR_GENERIC);
    }
    fz_set_warning_callback(m_ctx, quiet, nullptr);
    fz_set_error_callback(m_ctx, quiet, nullptr);
}

ThreadContext::~ThreadContext() {
    fz_drop_context(m_ctx);
}

namespace {
thread_local fz_cookie* t_pageCookie = nullptr;
} // namespace

fz_cookie* currentPageCookie() {
    return t_pageCookie;
}

void setCurrentPageCookie(fz_cookie* cookie) {
    t_pageCookie = cookie;
}

PagePtr loadPage(fz_context* ctx, fz_document* doc, int number, fz_rect* bounds) {
    fz_page* page = nullptr;
    guarded(ctx, [&] { page = fz_load_page(ctx, doc, number - 1); });
    PagePtr owned(page, {ctx});
    guarded(ctx, [&] { *bounds = fz_bound_page(ctx, page); });
    return owned;
}

TextPagePtr readPageText(fz_context* ctx, fz_page* page, const fz_stext_options& options) {
    fz_rect bounds{};
    guarded(ctx, [&] { bounds = fz_bound_page(ctx, page); });
    fz_stext_page* raw = nullptr;
    guarded(ctx, [&] { raw = fz_new_stext_page(ctx, bounds); });
    TextPagePtr text(raw, {ctx});
    fz_device* device = nullptr;
    guarded(ctx, [&] { device = fz_new_stext_device(ctx, raw, &options); });
    DevicePtr owned(device, {ctx});
    guarded(ctx, [&] {
        fz_run_page(ctx, page, device, fz_identity, currentPageCookie());
        fz_close_device(ctx, device);
    });
    return text;
}

void drawPage(fz_context* ctx, fz_page* page, fz_matrix ctm, fz_device* device) {
    try {
        guarded(ctx, [&] { fz_run_page(ctx, page, device, ctm, currentPageCookie()); });
    } catch (const MuError&) {
    }
    try {
        guarded(ctx, [&] { fz_close_device(ctx, device); });
    } catch (const MuError&) {
    }
}

PixmapPtr newWhitePixmap(fz_context* ctx, fz_rect bounds, double zoom) {
    const fz_irect box =
        fz_round_rect(fz_transform_rect(bounds, fz_scale(float(zoom), float(zoom))));
    fz_pixmap* pix = nullptr;
    guarded(ctx, [&] { pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 0); });
    PixmapPtr owned(pix, {ctx});
    guarded(ctx, [&] { fz_clear_pixmap_with_value(ctx, pix, 255); });
    return owned;
}

Bitmap bitmapOf(fz_context* ctx, fz_pixmap* pix, int dpi) {
    Bitmap bm;
    bm.width = fz_pixmap_width(ctx, pix);
    bm.height = fz_pixmap_height(ctx, pix);
    bm.channels = fz_pixmap_components(ctx, pix);
    bm.stride = fz_pixmap_stride(ctx, pix);
    bm.pixels = fz_pixmap_samples(ctx, pix);
    bm.dpi = dpi;
    return bm;
}

int countPages(fz_context* ctx, fz_document* doc) {
    int claimed = 0;
    guarded(ctx, [&] { claimed = fz_count_pages(ctx, doc); });
    pdf_document* pdf = nullptr;
    int objects = 0;
    guarded(ctx, [&] {
        pdf = pdf_document_from_fz_document(ctx, doc);
        objects = pdf ? pdf_xref_len(ctx, pdf) : 0;
    });
    // Every page is an object of its own: a claim within the objects is believed.
    if (!pdf || claimed <= objects) {
        return claimed;
    }
    int found = 0;
    guarded(ctx, [&] {
        std::vector<pdf_obj*> stack{pdf_dict_getp(ctx, pdf_trailer(ctx, pdf), "Root/Pages")};
        std::set<int> seen;
        while (!stack.empty() && found < claimed) {
            pdf_obj* node = stack.back();
            stack.pop_back();
            if (!pdf_is_dict(ctx, node) ||
                (pdf_is_indirect(ctx, node) && !seen.insert(pdf_to_num(ctx, node)).second)) {
                continue;
            }
            pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
            if (!pdf_is_array(ctx, kids)) {
                ++found; // a leaf of the tree: a page
                continue;
            }
            for (int i = pdf_array_len(ctx, kids) - 1; i >= 0; --i) {
                stack.push_back(pdf_array_get(ctx, kids, i));
            }
        }
    });
    return std::min(claimed, found);
}

DocumentPtr openPdf(fz_context* ctx, const std::string& path) {
    fz_document* doc = nullptr;
    // Only PDF: a file of another kind under a .pdf name is not opened as that kind.
    guarded(ctx, [&] { doc = &pdf_open_document(ctx, path.c_str())->super; });
    auto owned = own<DocumentPtr>(ctx, doc);
    int pages = 0;
    guarded(ctx, [&] {
        if (!fz_needs_password(ctx, doc)) {
            pages = fz_count_pages(ctx, doc);
        } else {
            pages = 1;
        }
    });
    if (pages <= 0) {
        // A real PDF with an empty page tree, or bytes from which repair found no document.
        bool pageTree = false;
        guarded(ctx, [&] {
            pdf_document* pdf = pdf_document_from_fz_document(ctx, doc);
            if (pdf && pdf->num_xref_sections > 0) {
                pdf_obj* tree = pdf_dict_getp(ctx, pdf_trailer(ctx, pdf), "Root/Pages");
                pageTree = pdf_is_dict(ctx, tree);
            }
        });
        if (pageTree) {
            throw NoPages();
        }
        throw MuError("no document found", FZ_ERROR_GENERIC);
    }
    return owned;
}

Access unlock(fz_context* ctx, fz_document* doc, const std::string& password) {
    int needs = 0;
    guarded(ctx, [&] { needs = fz_needs_password(ctx, doc); });
    if (!needs) {
        return Access::Open;
    }
    if (password.empty()) {
        return Access::NeedsPassword;
    }
    // AES-256 files (revisions 5 and 6) take their password as SASLprep'd UTF-8 (ISO 32000-2),
    // which MuPDF does not prepare itself: the prepared form goes first, then the typed bytes
    // for files whose maker did not prepare theirs. Older revisions get the typed bytes alone,
    // as MuPDF expects them (it maps UTF-8 to PDFDocEncoding for those).
    int revision = 0;
    guarded(ctx, [&] {
        pdf_document* pdf = pdf_document_from_fz_document(ctx, doc);
        if (pdf && pdf->crypt) {
            revision = pdf_crypt_revision(ctx, pdf->crypt);
        }
    });
    const std::vector<std::string> tries =
        revision >= 5 ? aes256Passwords(password) : std::vector<std::string>{password};
    int ok = 0;
    for (const std::string& attempt : tries) {
        guarded(ctx, [&] { ok = fz_authenticate_password(ctx, doc, attempt.c_str()); });
        if (ok) {
            break;
        }
    }
    if (!ok) {
        return Access::WrongPassword;
    }
    int pages = 0;
    guarded(ctx, [&] { pages = fz_count_pages(ctx, doc); });
    if (pages <= 0) {
        throw NoPages();
    }
    return Access::Open;
}

} // namespace pdftox
