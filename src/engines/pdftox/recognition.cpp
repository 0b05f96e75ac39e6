#include "recognition.h"

#include <tesseract/capi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pdftox {
namespace {

constexpr float RecognitionDpi = 300;

std::atomic<int> g_recognition{-1}; // -1: not yet read from the environment

// ---- Tesseract, loaded on first use --------------------------------------------------------

// The functions of Tesseract's C interface that recognition uses.
struct Tesseract {
    decltype(&TessBaseAPICreate) create = nullptr;
    decltype(&TessBaseAPIDelete) destroy = nullptr;
    decltype(&TessBaseAPIInit2) init = nullptr;
    decltype(&TessBaseAPISetVariable) setVariable = nullptr;
    decltype(&TessBaseAPIGetAvailableLanguagesAsVector) languages = nullptr;
    decltype(&TessDeleteTextArray) deleteTextArray = nullptr;
    decltype(&TessDeleteText) deleteText = nullptr;
    decltype(&TessBaseAPISetPageSegMode) setPageSegMode = nullptr;
    decltype(&TessBaseAPISetImage) setImage = nullptr;
    decltype(&TessBaseAPISetSourceResolution) setResolution = nullptr;
    decltype(&TessBaseAPIRecognize) recognize = nullptr;
    decltype(&TessBaseAPIGetIterator) iterator = nullptr;
    decltype(&TessBaseAPIClear) clear = nullptr;
    decltype(&TessResultIteratorDelete) deleteIterator = nullptr;
    decltype(&TessResultIteratorGetPageIterator) pageIterator = nullptr;
    decltype(&TessResultIteratorNext) next = nullptr;
    decltype(&TessResultIteratorGetUTF8Text) text = nullptr;
    decltype(&TessResultIteratorConfidence) confidence = nullptr;
    decltype(&TessResultIteratorWordFontAttributes) fontAttributes = nullptr;
    decltype(&TessPageIteratorIsAtBeginningOf) beginsAt = nullptr;
    decltype(&TessPageIteratorBoundingBox) box = nullptr;
    decltype(&TessPageIteratorBaseline) baseline = nullptr;
    decltype(&TessMonitorCreate) createMonitor = nullptr;
    decltype(&TessMonitorDelete) deleteMonitor = nullptr;
    decltype(&TessMonitorSetCancelFunc) setCancel = nullptr;
    decltype(&TessMonitorSetCancelThis) setCancelThis = nullptr;
    void (*setMaxActiveLevels)(int) = nullptr; ///< OpenMP's, when it is there
    std::string languageList; ///< "eng+deu+...": every language installed, English first
};

template <typename F> bool resolve(void* library, const char* name, F* to) {
    *to = reinterpret_cast<F>(dlsym(library, name));
    return *to != nullptr;
}

// Tesseract's C interface, or null when the library or its English data is missing.
const Tesseract* tesseract() {
    static std::once_flag once;
    static std::unique_ptr<Tesseract> loaded;
    std::call_once(once, [] {
        void* library = dlopen("libtesseract.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            return;
        }
        auto t = std::make_unique<Tesseract>();
        // OpenMP comes with Tesseract (or came before it, with a picture library).
        resolve(library, "omp_set_max_active_levels", &t->setMaxActiveLevels);
        const bool all =
            resolve(library, "TessBaseAPICreate", &t->create) &&
            resolve(library, "TessBaseAPIDelete", &t->destroy) &&
            resolve(library, "TessBaseAPIInit2", &t->init) &&
            resolve(library, "TessBaseAPISetVariable", &t->setVariable) &&
            resolve(library, "TessBaseAPIGetAvailableLanguagesAsVector", &t->languages) &&
            resolve(library, "TessDeleteTextArray", &t->deleteTextArray) &&
            resolve(library, "TessDeleteText", &t->deleteText) &&
            resolve(library, "TessBaseAPISetPageSegMode", &t->setPageSegMode) &&
            resolve(library, "TessBaseAPISetImage", &t->setImage) &&
            resolve(library, "TessBaseAPISetSourceResolution", &t->setResolution) &&
            resolve(library, "TessBaseAPIRecognize", &t->recognize) &&
            resolve(library, "TessBaseAPIGetIterator", &t->iterator) &&
            resolve(library, "TessBaseAPIClear", &t->clear) &&
            resolve(library, "TessResultIteratorDelete", &t->deleteIterator) &&
            resolve(library, "TessResultIteratorGetPageIterator", &t->pageIterator) &&
            resolve(library, "TessResultIteratorNext", &t->next) &&
            resolve(library, "TessResultIteratorGetUTF8Text", &t->text) &&
            resolve(library, "TessResultIteratorConfidence", &t->confidence) &&
            resolve(library, "TessResultIteratorWordFontAttributes", &t->fontAttributes) &&
            resolve(library, "TessPageIteratorIsAtBeginningOf", &t->beginsAt) &&
            resolve(library, "TessPageIteratorBoundingBox", &t->box) &&
            resolve(library, "TessPageIteratorBaseline", &t->baseline) &&
            resolve(library, "TessMonitorCreate", &t->createMonitor) &&
            resolve(library, "TessMonitorDelete", &t->deleteMonitor) &&
            resolve(library, "TessMonitorSetCancelFunc", &t->setCancel) &&
            resolve(library, "TessMonitorSetCancelThis", &t->setCancelThis);
        if (!all) {
            return;
        }
        // The languages installed: English, which must be there, then the others but the
        // script detector.
        TessBaseAPI* probe = t->create();
        if (t->init(probe, nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            t->destroy(probe);
            return;
        }
        t->languageList = "eng";
        if (char** names = t->languages(probe)) {
            for (char** name = names; *name; ++name) {
                const std::string language = *name;
                if (language != "eng" && language != "osd" && language != "equ") {
                    t->languageList += "+" + language;
                }
            }
            t->deleteTextArray(names);
        }
        t->destroy(probe);
        loaded = std::move(t);
    });
    return loaded.get();
}

// Recognisers set up once and lent to the pages: setting one up reads its language models (a
// tenth of a second or more), so they are kept for the next page and the next file.
class RecogniserPool {
public:
    explicit RecogniserPool(const Tesseract* api) : m_api(api) {}
    TessBaseAPI* take() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_free.empty()) {
                TessBaseAPI* handle = m_free.back();
                m_free.pop_back();
                return handle;
            }
        }
        TessBaseAPI* handle = m_api->create();
        if (m_api->init(handle, nullptr, m_api->languageList.c_str(), tesseract::OEM_LSTM_ONLY) !=
                0 &&
            m_api->init(handle, nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            m_api->destroy(handle);
            return nullptr;
        }
        // Tesseract's notes on its work ("Detected 122 diacritics") are not for the user's
        // terminal or the tools' error output.
        m_api->setVariable(handle, "debug_file", "/dev/null");
        return handle;
    }
    // Ends the recognisers, before Tesseract's own caches go at the end of the process (they
    // complain of every recogniser still there).
    void end() {
        std::lock_guard lock(m_mutex);
        for (TessBaseAPI* handle : m_free) {
            m_api->destroy(handle);
        }
        m_free.clear();
    }
    void give(TessBaseAPI* handle) {
        m_api->clear(handle);
        std::lock_guard lock(m_mutex);
        m_free.push_back(handle);
    }

private:
    const Tesseract* m_api;
    std::mutex m_mutex;
    std::vector<TessBaseAPI*> m_free;
};

RecogniserPool* pool() {
    const Tesseract* api = tesseract();
    if (!api) {
        return nullptr;
    }
    // Kept to the end of the process, unlike statics, which go while other threads may still be
    // recognising (a tool that ends on a signal).
    static RecogniserPool* const recognisers = [api] {
        auto* made = new RecogniserPool(api);
        std::atexit([] { pool()->end(); });
        return made;
    }();
    return recognisers;
}

bool cancelled(void* cookie, int /*words*/) {
    return cookie && static_cast<fz_cookie*>(cookie)->abort != 0;
}

// ---- from Tesseract's words to text --------------------------------------------------------

struct Word {
    std::string text; ///< UTF-8
    fz_rect box;      ///< in page coordinates
    float baseline;   ///< of its line, in page coordinates
    float size;       ///< font size, points
    bool bold = false;
    bool lineEnd = false;
    int paragraph = 0; ///< Tesseract's paragraph, counted from the page's first
};

std::vector<Word> readWords(const Tesseract& t, TessBaseAPI* handle, fz_matrix toPage,
                            int* confident) {
    std::vector<Word> words;
    TessResultIterator* it = t.iterator(handle);
    if (!it) {
        return words;
    }
    TessPageIterator* page = t.pageIterator(it);
    float lineBaseline = 0;
    float lineSize = 10;
    int paragraph = 0;
    do {
        if (t.beginsAt(page, tesseract::RIL_PARA)) {
            ++paragraph;
        }
        if (t.beginsAt(page, tesseract::RIL_TEXTLINE)) {
            int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
            int left = 0, top = 0, right = 0, bottom = 0;
            if (t.baseline(page, tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2) &&
                t.box(page, tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) {
                const float base = float(y1 + y2) / 2;
                lineBaseline = fz_transform_point_xy(0, base, toPage).y;
                // From the baseline up to the tallest letters is about 0.72 of the size in
                // Latin type; a line of lower-case letters alone reads a little small.
                const float ascent = std::max(1.0f, base - float(top));
                lineSize = std::clamp(ascent * toPage.d / 0.72f, 3.0f, 200.0f);
            }
        }
        char* utf8 = t.text(it, tesseract::RIL_WORD);
        if (!utf8) {
            continue;
        }
        std::string text = utf8;
        t.deleteText(utf8);
        int left = 0, top = 0, right = 0, bottom = 0;
        // A word read with next to no confidence is noise from a picture, not text.
        // Tesseract also reports blank words, read with confidence, over empty areas.
        if (text.find_first_not_of(" \t\n") == std::string::npos) {
            continue;
        }
        const float confidence = t.confidence(it, tesseract::RIL_WORD);
        *confident += confidence >= 60;
        if (text.empty() || confidence < 20 ||
            !t.box(page, tesseract::RIL_WORD, &left, &top, &right, &bottom)) {
            continue;
        }
        Word w;
        w.text = std::move(text);
        w.box = fz_transform_rect(
            fz_make_rect(float(left), float(top), float(right), float(bottom)), toPage);
        w.baseline = lineBaseline;
        w.size = lineSize;
        w.paragraph = paragraph;
        BOOL bold = 0, italic = 0, underlined = 0, monospace = 0, serif = 0, smallcaps = 0;
        int points = 0, fontId = 0;
        if (t.fontAttributes(it, &bold, &italic, &underlined, &monospace, &serif, &smallcaps,
                             &points, &fontId)) {
            w.bold = bold != 0;
        }
        words.push_back(std::move(w));
    } while (t.next(it, tesseract::RIL_WORD));
    t.deleteIterator(it);
    // A word ends its line when the next word starts a new one (its baseline moves).
    for (size_t i = 0; i < words.size(); ++i) {
        words[i].lineEnd = i + 1 == words.size() || words[i + 1].baseline != words[i].baseline ||
                           words[i + 1].box.x0 < words[i].box.x0;
    }
    // The lines of a paragraph share their size: one without ascenders ("programs.") would read
    // small from its own height and stand apart from the others.
    std::map<int, std::vector<float>> sizes; // per paragraph, a size per word
    for (const Word& w : words) {
        sizes[w.paragraph].push_back(w.size);
    }
    for (auto& [number, list] : sizes) {
        std::nth_element(list.begin(), list.begin() + std::ptrdiff_t(list.size() / 2), list.end());
    }
    for (Word& w : words) {
        const std::vector<float>& list = sizes[w.paragraph];
        const float median = list[list.size() / 2];
        if (w.size < median * 1.1f) { // a larger line (a heading run in) keeps its own
            w.size = median;
        }
    }
    return words;
}

// The words as text of a plain serif font (most scanned text is set in one), each stretched to the
// width it has on the page, through a text device, which lays out lines and blocks as it does for a
// page's own text.
TextPagePtr textOf(fz_context* ctx, const std::vector<Word>& words, fz_rect bounds,
                   const fz_stext_options& options) {
    fz_font* regular = nullptr;
    guarded(ctx, [&] { regular = fz_new_base14_font(ctx, "Times-Roman"); });
    Owned<fz_font, fz_drop_font> regularOwner(regular, {ctx});
    fz_font* bold = nullptr;
    guarded(ctx, [&] { bold = fz_new_base14_font(ctx, "Times-Bold"); });
    Owned<fz_font, fz_drop_font> boldOwner(bold, {ctx});
    fz_text* text = nullptr;
    guarded(ctx, [&] { text = fz_new_text(ctx); });
    const auto dropText = [ctx](fz_text* t) { fz_drop_text(ctx, t); };
    std::unique_ptr<fz_text, decltype(dropText)> textOwner(text, dropText);

    for (const Word& w : words) {
        fz_font* font = w.bold ? bold : regular;
        const std::string shown = w.lineEnd ? w.text : w.text + " ";
        guarded(ctx, [&] {
            float advance = 0;
            int length = 0;
            for (const char* s = w.text.c_str(); *s; s += length) {
                int c = 0;
                length = fz_chartorune(&c, s);
                advance += fz_advance_glyph(ctx, font, fz_encode_character(ctx, font, c), 0);
            }
            // Tesseract's box holds the ink; type's advance runs a little beyond it on both
            // sides (the letters' side bearings), which lines of text are measured by.
            const float bearing = 0.04f * w.size;
            const float width = w.box.x1 - w.box.x0 + 2 * bearing;
            const float stretch =
                advance > 0 ? std::clamp(width / (advance * w.size), 0.5f, 2.0f) : 1.0f;
            // Stretched with its size kept: the text reads its size from the matrix's area.
            const float root = std::sqrt(stretch);
            const fz_matrix trm =
                fz_make_matrix(w.size * root, 0, 0, -w.size / root, w.box.x0 - bearing, w.baseline);
            fz_show_string(ctx, text, font, trm, shown.c_str(), 0, 0, FZ_BIDI_LTR, FZ_LANG_UNSET);
        });
    }

    fz_stext_page* raw = nullptr;
    guarded(ctx, [&] { raw = fz_new_stext_page(ctx, bounds); });
    TextPagePtr page(raw, {ctx});
    fz_device* device = nullptr;
    guarded(ctx, [&] { device = fz_new_stext_device(ctx, raw, &options); });
    DevicePtr deviceOwner(device, {ctx});
    const float black = 0;
    guarded(ctx, [&] {
        fz_fill_text(ctx, device, text, fz_identity, fz_device_gray(ctx), &black, 1,
                     fz_default_color_params);
        fz_close_device(ctx, device);
    });
    return page;
}

bool unusableCharacter(int c) {
    return c == 0xFFFD || (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000 || (c < 0x20 && c != '\t');
}

// The share of the page's area that its largest picture covers.
float largestPicture(const fz_stext_page* text, fz_rect bounds) {
    const float area = (bounds.x1 - bounds.x0) * (bounds.y1 - bounds.y0);
    float largest = 0;
    for (const fz_stext_block* block = text->first_block; block; block = block->next) {
        if (block->type == FZ_STEXT_BLOCK_IMAGE) {
            const fz_rect r = fz_intersect_rect(block->bbox, bounds);
            if (!fz_is_empty_rect(r)) {
                largest = std::max(largest, (r.x1 - r.x0) * (r.y1 - r.y0) / area);
            }
        }
    }
    return largest;
}

// The page drawn through `ctm` in grey on white.
PixmapPtr drawnInGrey(fz_context* ctx, fz_page* page, fz_rect bounds, fz_matrix ctm) {
    fz_pixmap* pix = nullptr;
    guarded(ctx, [&] {
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_gray(ctx),
                                      fz_round_rect(fz_transform_rect(bounds, ctm)), nullptr, 0);
        fz_clear_pixmap_with_value(ctx, pix, 255);
    });
    PixmapPtr owned(pix, {ctx});
    fz_device* draw = nullptr;
    guarded(ctx, [&] { draw = fz_new_draw_device(ctx, fz_identity, pix); });
    DevicePtr drawOwner(draw, {ctx});
    drawPage(ctx, page, ctm, draw);
    return owned;
}

// Whether anything would be seen on the page: marks that a coarse drawing shows.
bool showsSomething(fz_context* ctx, fz_page* page, fz_rect bounds) {
    const float zoom = 18.0f / 72;
    const fz_matrix ctm = fz_scale(zoom, zoom);
    const PixmapPtr owned = drawnInGrey(ctx, page, bounds, ctm);
    fz_pixmap* pix = owned.get();
    const int w = fz_pixmap_width(ctx, pix);
    const int h = fz_pixmap_height(ctx, pix);
    const unsigned char* samples = fz_pixmap_samples(ctx, pix);
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix);
    long marked = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            marked += samples[stride * y + x] < 224;
        }
    }
    return marked * 400 > long(w) * h; // more than a quarter of a percent
}

} // namespace

bool recognitionEnabled() {
    int state = g_recognition.load();
    if (state < 0) {
        const char* given = std::getenv("LUMADOC_OCR");
        state = given && (std::strcmp(given, "0") == 0 || std::strcmp(given, "no") == 0) ? 0 : 1;
        int unset = -1;
        g_recognition.compare_exchange_strong(unset, state);
        state = g_recognition.load();
    }
    return state != 0;
}

bool setRecognition(bool on) {
    const bool before = recognitionEnabled();
    g_recognition.store(on ? 1 : 0);
    return before;
}

TextCensus censusOf(const fz_stext_page* text) {
    TextCensus census;
    for (const fz_stext_block* block = text->first_block; block; block = block->next) {
        if (block->type != FZ_STEXT_BLOCK_TEXT) {
            continue;
        }
        for (const fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                if (unusableCharacter(ch->c)) {
                    ++census.unusable;
                } else if (ch->c != ' ' && ch->c != '\t') {
                    ++census.usable;
                }
            }
        }
    }
    return census;
}

bool needsRecognition(fz_context* ctx, fz_page* page, const fz_stext_page* text) {
    const TextCensus census = censusOf(text);
    if (census.unusable > census.usable) {
        return true;
    }
    // Any real text of its own, even a line over a picture (a chart's page with its running
    // head), means the page is not recognised: the picture may be a figure, not a scan.
    if (census.usable > 0) {
        return false;
    }
    fz_rect bounds{};
    guarded(ctx, [&] { bounds = fz_bound_page(ctx, page); });
    return showsSomething(ctx, page, bounds);
}

TextPagePtr recognisePage(fz_context* ctx, fz_page* page, fz_rect bounds,
                          const fz_stext_options& options, int* wordsRead) {
    RecogniserPool* recognisers = pool();
    TessBaseAPI* handle = recognisers ? recognisers->take() : nullptr;
    if (!handle) {
        return TextPagePtr(nullptr, {ctx});
    }
    const std::unique_ptr<TessBaseAPI, std::function<void(TessBaseAPI*)>> lent(
        handle, [recognisers](TessBaseAPI* h) { recognisers->give(h); });
    const Tesseract* api = tesseract();
    // Pages are recognised side by side already: Tesseract's own threads would only compete
    // with them (on two cores they make it several times slower).
    if (api->setMaxActiveLevels) {
        api->setMaxActiveLevels(0);
    }
    // 300 dpi, less for a page so large that its drawing would pass Tesseract's limit of
    // 32767 pixels a side or 60 million pixels.
    const float widthPt = std::max(1.0f, bounds.x1 - bounds.x0);
    const float heightPt = std::max(1.0f, bounds.y1 - bounds.y0);
    const float zoom = std::min({RecognitionDpi / 72, 32000 / widthPt, 32000 / heightPt,
                                 std::sqrt(60e6f / (widthPt * heightPt))});
    const fz_matrix ctm = fz_scale(zoom, zoom);
    const PixmapPtr owned = drawnInGrey(ctx, page, bounds, ctm);
    fz_pixmap* pix = owned.get();
    fz_cookie* cookie = currentPageCookie();
    if (cookie && cookie->abort) {
        return TextPagePtr(nullptr, {ctx});
    }

    api->setPageSegMode(handle, tesseract::PSM_AUTO);
    api->setImage(handle, fz_pixmap_samples(ctx, pix), fz_pixmap_width(ctx, pix),
                  fz_pixmap_height(ctx, pix), 1, int(fz_pixmap_stride(ctx, pix)));
    api->setResolution(handle, int(std::lround(zoom * 72)));
    ETEXT_DESC* monitor = api->createMonitor();
    api->setCancel(monitor, cancelled);
    api->setCancelThis(monitor, cookie);
    const int failed = api->recognize(handle, monitor);
    api->deleteMonitor(monitor);
    std::vector<Word> words;
    int confident = 0;
    if (failed == 0 && !(cookie && cookie->abort)) {
        // Pixels of the drawing to points of the page.
        const fz_matrix toPage =
            fz_concat(fz_translate(float(fz_pixmap_x(ctx, pix)), float(fz_pixmap_y(ctx, pix))),
                      fz_scale(1 / zoom, 1 / zoom));
        words = readWords(*api, handle, toPage, &confident);
    }
    if (wordsRead) {
        *wordsRead = confident;
    }
    // A photograph gives a few words read without confidence: it has no text.
    if (confident < 3) {
        return TextPagePtr(nullptr, {ctx});
    }
    return textOf(ctx, words, bounds, options);
}

bool wantsRecognition(fz_context* ctx, fz_page* page, const fz_stext_page* own) {
    try {
        return recognitionEnabled() && pool() && needsRecognition(ctx, page, own);
    } catch (const std::exception&) {
        return false;
    }
}

Recognition recognise(fz_context* ctx, fz_page* page, const fz_stext_page* own,
                      const fz_stext_options& options) {
    Recognition out{TextPagePtr(nullptr, {ctx}), false};
    try {
        fz_rect bounds{};
        guarded(ctx, [&] { bounds = fz_bound_page(ctx, page); });
        int wordsRead = 0;
        out.words = recognisePage(ctx, page, bounds, options, &wordsRead);
        if (!out.words) {
            return out;
        }
        // The page's pictures, read now if its text was read without them.
        float covered = 0;
        if (options.flags & FZ_STEXT_PRESERVE_IMAGES) {
            covered = largestPicture(own, bounds);
        } else {
            fz_stext_options withPictures{};
            withPictures.flags = FZ_STEXT_PRESERVE_IMAGES | FZ_STEXT_MEDIABOX_CLIP;
            covered = largestPicture(readPageText(ctx, page, withPictures).get(), bounds);
        }
        // A page of text reads as a page of words; a picture that covers a page without text
        // of its own and reads as a few words (a book's cover, a poster, a photograph of a
        // sign) is a picture, and stays one.
        constexpr int TextPageWords = 40;
        if (covered > 0.5f && wordsRead < TextPageWords && censusOf(own).unusable == 0) {
            out.words.reset();
            return out;
        }
        out.replacesPicture = covered > 0.5f && wordsRead >= TextPageWords;
    } catch (const std::exception&) {
        // Recognition that fails leaves the page with what it had.
        out.words.reset();
        out.replacesPicture = false;
    }
    return out;
}

} // namespace pdftox
