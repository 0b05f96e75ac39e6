#include "text_model.h"

#include "image_writers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace pdftox {
namespace {

constexpr int TwipsPerPoint = 20;

bool contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Family names that documents carry in PostScript form, and what a word processor calls them.
struct KnownFamily {
    const char* prefix; // lower case, spaces removed
    const char* family;
    FontClass cls;
};
const KnownFamily knownFamilies[] = {
    {"timesnewroman", "Times New Roman", FontClass::Roman},
    {"times", "Times New Roman", FontClass::Roman},
    {"nimbusrom", "Times New Roman", FontClass::Roman},
    {"arial", "Arial", FontClass::Swiss},
    {"helvetica", "Arial", FontClass::Swiss},
    {"nimbussans", "Arial", FontClass::Swiss},
    {"couriernew", "Courier New", FontClass::Modern},
    {"courier", "Courier New", FontClass::Modern},
    {"nimbusmono", "Courier New", FontClass::Modern},
    {"symbol", "Symbol", FontClass::Tech},
    {"zapfdingbats", "Wingdings", FontClass::Tech},
    {"dingbats", "Wingdings", FontClass::Tech},
    {"cmtt", "Courier New", FontClass::Modern},
    {"cmss", "Arial", FontClass::Swiss},
    {"cm", "Times New Roman", FontClass::Roman}, // TeX's Computer Modern
    {"lmroman", "Times New Roman", FontClass::Roman},
    {"lmsans", "Arial", FontClass::Swiss},
    {"lmmono", "Courier New", FontClass::Modern},
};

const char* fallbackOf(FontClass cls) {
    switch (cls) {
    case FontClass::Swiss:
        return "Arial";
    case FontClass::Modern:
        return "Courier New";
    case FontClass::Tech:
        return "Symbol";
    case FontClass::Roman:
        break;
    }
    return "Times New Roman";
}

// "MinionPro" gives "Minion Pro"; runs of capitals stay together ("ITCFranklin" keeps "ITC").
std::string spaceCamelCase(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '_' || c == '-') {
            out += ' ';
            continue;
        }
        if (i > 0 && std::isupper((unsigned char)c) &&
            (std::islower((unsigned char)name[i - 1]) ||
             (i + 1 < name.size() && std::islower((unsigned char)name[i + 1]) &&
              std::isupper((unsigned char)name[i - 1])))) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        }
        out += c;
    }
    return out;
}

} // namespace

FontNameInfo describeFontName(const std::string& postscriptName, bool serif, bool mono) {
    FontNameInfo info;
    std::string name = postscriptName;
    // A subset prefix: six capitals and a plus sign.
    if (name.size() > 7 && name[6] == '+' &&
        std::all_of(name.begin(), name.begin() + 6,
                    [](unsigned char c) { return std::isupper(c); })) {
        name.erase(0, 7);
    }
    const std::string low = lower(name);
    info.bold = contains(low, "bold") || contains(low, "black") || contains(low, "heavy") ||
                contains(low, "semibold") || contains(low, "demi") || (low.rfind("cmb", 0) == 0) ||
                (low.rfind("cmbx", 0) == 0);
    info.italic = contains(low, "italic") || contains(low, "oblique") || contains(low, "slanted") ||
                  low.rfind("cmti", 0) == 0 || low.rfind("cmmi", 0) == 0 ||
                  low.rfind("cmsl", 0) == 0 ||
                  (low.size() > 2 && (low.ends_with("-it") || low.ends_with(",it")));

    // The family is what stands before the style part.
    std::string family = name.substr(0, name.find_first_of("-,"));
    for (const char* suffix : {"PSMT", "MT", "PS"}) {
        if (family.size() > std::strlen(suffix) + 2 && family.ends_with(suffix)) {
            family.resize(family.size() - std::strlen(suffix));
            break;
        }
    }
    std::string key = lower(family);
    key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
    for (const KnownFamily& known : knownFamilies) {
        if (key.rfind(known.prefix, 0) == 0) {
            info.face.family = known.family;
            info.face.cls = known.cls;
            info.face.fallback = fallbackOf(known.cls);
            return info;
        }
    }
    info.face.cls = mono ? FontClass::Modern : (serif ? FontClass::Roman : FontClass::Swiss);
    info.face.family = family.empty() ? fallbackOf(info.face.cls) : spaceCamelCase(family);
    info.face.fallback = fallbackOf(info.face.cls);
    return info;
}

namespace {

struct StyleKey {
    fz_font* font;
    int halfPoints;
    uint32_t color;
    bool operator==(const StyleKey&) const = default;
};

Run runFor(fz_context* ctx, const StyleKey& key) {
    Run run;
    const char* name = key.font ? fz_font_name(ctx, key.font) : "";
    const bool serif = key.font && fz_font_is_serif(ctx, key.font);
    const bool mono = key.font && fz_font_is_monospaced(ctx, key.font);
    const FontNameInfo info = describeFontName(name ? name : "", serif, mono);
    run.face = info.face;
    run.bold = info.bold || (key.font && fz_font_is_bold(ctx, key.font));
    run.italic = info.italic || (key.font && fz_font_is_italic(ctx, key.font));
    run.halfPoints = key.halfPoints;
    run.color = key.color;
    return run;
}

void appendChar(fz_context* ctx, Paragraph& para, StyleKey& current, const fz_stext_char* ch) {
    const StyleKey key{ch->font, std::max(2, int(std::lround(ch->size * 2))),
                       uint32_t(ch->color) & 0xFFFFFFu};
    if (para.runs.empty() || !(key == current)) {
        para.runs.push_back(runFor(ctx, key));
        current = key;
    }
    para.runs.back().text.push_back(char32_t(ch->c));
}

void appendSpace(Paragraph& para) {
    if (!para.runs.empty() && !para.runs.back().text.empty() &&
        para.runs.back().text.back() != U' ') {
        para.runs.back().text.push_back(U' ');
    }
}

float lineSize(const fz_stext_line* line) {
    float size = 0;
    for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
        size = std::max(size, ch->size);
    }
    return size > 0 ? size : 10.0f;
}

// A block is centred when every line sits in the middle of the page and the lines are not
// simply full-width lines of a column that happens to be centred (their widths differ, or a
// single line is clearly narrower than the page).
bool isCentered(const fz_stext_block* block, const fz_rect& page) {
    const float pageWidth = page.x1 - page.x0;
    const float middle = (page.x0 + page.x1) / 2;
    float narrowest = pageWidth;
    float widest = 0;
    int lines = 0;
    for (const fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
        if (std::fabs((line->bbox.x0 + line->bbox.x1) / 2 - middle) > 0.02f * pageWidth) {
            return false;
        }
        const float width = line->bbox.x1 - line->bbox.x0;
        narrowest = std::min(narrowest, width);
        widest = std::max(widest, width);
        ++lines;
    }
    if (lines == 0) {
        return false;
    }
    return lines == 1 ? widest < 0.7f * pageWidth : widest - narrowest > 0.1f * widest;
}

void addTextBlock(fz_context* ctx, const fz_stext_block* block, const fz_rect& page,
                  PageModel& model) {
    Paragraph para;
    StyleKey current{nullptr, 0, 0};
    const fz_stext_line* previous = nullptr;
    const bool centered = isCentered(block, page);

    long lastAdded = -1;
    auto flush = [&] {
        while (!para.runs.empty() && !para.runs.back().text.empty() &&
               para.runs.back().text.back() == U' ') {
            para.runs.back().text.pop_back();
        }
        std::erase_if(para.runs, [](const Run& run) { return run.text.empty(); });
        const bool blank = std::all_of(para.runs.begin(), para.runs.end(), [](const Run& run) {
            return run.text.find_first_not_of(U" \t\u00a0") == std::u32string::npos;
        });
        if (!blank) {
            para.centered = centered;
            model.items.emplace_back(std::move(para));
            lastAdded = long(model.items.size()) - 1;
        }
        para = Paragraph();
        current = StyleKey{nullptr, 0, 0};
    };

    for (const fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
        if (!line->first_char) {
            continue;
        }
        if (previous) {
            const float size = lineSize(previous);
            // A line that stops well short of the block's right edge ends its paragraph, as
            // does a gap of more than a line between two lines.
            const bool shortLine = previous->bbox.x1 < block->bbox.x1 - 3 * size;
            const bool gap = line->bbox.y0 - previous->bbox.y1 > 1.2f * size;
            if ((shortLine && !centered) || gap) {
                flush();
                if (gap && lastAdded >= 0) {
                    std::get<Paragraph>(model.items[size_t(lastAdded)]).spaced = true;
                }
            } else {
                appendSpace(para);
            }
        }
        for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
            if (ch->c == 0 || ch->c == 0xFFFD) {
                continue;
            }
            appendChar(ctx, para, current, ch);
        }
        previous = line;
    }
    flush();
    if (lastAdded >= 0) {
        std::get<Paragraph>(model.items[size_t(lastAdded)]).spaced = true;
    }
}

// Pictures are kept at no more than this resolution on the page: enough for print, and a
// 600 dpi scan does not make a document of hundreds of megabytes.
constexpr double PictureDpi = 200;

bool isPhoto(fz_context* ctx, fz_image* image) {
    fz_compressed_buffer* compressed = fz_compressed_image_buffer(ctx, image);
    return compressed &&
           (compressed->params.type == FZ_IMAGE_JPEG || compressed->params.type == FZ_IMAGE_JPX);
}

// The picture's pixels as RGB on white: its colour space converted, its soft mask or stencil
// applied, as a reader would see it on the page.
std::vector<uint8_t> flattenOnWhite(fz_context* ctx, fz_image* image, int wantW, int wantH,
                                    int* outW, int* outH) {
    fz_pixmap* raw = nullptr;
    guarded(ctx,
            [&] { raw = fz_get_pixmap_from_image(ctx, image, nullptr, nullptr, &wantW, &wantH); });
    PixmapPtr pix(raw, {ctx});
    const bool stencil = image->imagemask || !fz_pixmap_colorspace(ctx, raw);
    if (!stencil && fz_pixmap_colorspace(ctx, raw) != fz_device_rgb(ctx)) {
        fz_pixmap* rgb = nullptr;
        guarded(ctx, [&] {
            rgb = fz_convert_pixmap(ctx, raw, fz_device_rgb(ctx), nullptr, nullptr,
                                    fz_default_color_params, 1);
        });
        pix.reset(rgb);
    }
    PixmapPtr mask(nullptr, {ctx});
    if (image->mask) {
        fz_pixmap* m = nullptr;
        guarded(ctx, [&] {
            m = fz_get_pixmap_from_image(ctx, image->mask, nullptr, nullptr, nullptr, nullptr);
        });
        mask.reset(m);
    }

    const int w = fz_pixmap_width(ctx, pix.get());
    const int h = fz_pixmap_height(ctx, pix.get());
    const int n = fz_pixmap_components(ctx, pix.get());
    const bool alpha = fz_pixmap_alpha(ctx, pix.get());
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix.get());
    const uint8_t* samples = fz_pixmap_samples(ctx, pix.get());
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    const int mw = mask ? fz_pixmap_width(ctx, mask.get()) : 0;
    const int mh = mask ? fz_pixmap_height(ctx, mask.get()) : 0;
    const int mn = mask ? fz_pixmap_components(ctx, mask.get()) : 0;
    const ptrdiff_t mstride = mask ? fz_pixmap_stride(ctx, mask.get()) : 0;
    const uint8_t* msamples = mask ? fz_pixmap_samples(ctx, mask.get()) : nullptr;

    for (int y = 0; y < h; ++y) {
        const uint8_t* row = samples + stride * y;
        uint8_t* out = rgb.data() + size_t(y) * size_t(w) * 3;
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = row + size_t(x) * size_t(n);
            int r, g, b, a;
            if (stencil) {
                // A stencil paints where its alpha is set, in the text colour: black.
                r = g = b = 0;
                a = px[n - 1];
            } else {
                r = px[0];
                g = px[1];
                b = px[2];
                a = alpha ? px[n - 1] : 255;
                if (alpha && a > 0 && a < 255) {
                    // Samples of a pixmap with alpha are premultiplied.
                    r = r * 255 / a;
                    g = g * 255 / a;
                    b = b * 255 / a;
                }
            }
            if (msamples) {
                const int mx = int(int64_t(x) * mw / w);
                const int my = int(int64_t(y) * mh / h);
                a = a * msamples[mstride * my + size_t(mx) * size_t(mn)] / 255;
            }
            out[3 * x] = uint8_t((r * a + 255 * (255 - a)) / 255);
            out[3 * x + 1] = uint8_t((g * a + 255 * (255 - a)) / 255);
            out[3 * x + 2] = uint8_t((b * a + 255 * (255 - a)) / 255);
        }
    }
    *outW = w;
    *outH = h;
    return rgb;
}

void addPicture(fz_context* ctx, const fz_stext_block* block, PageModel& model) {
    fz_image* image = block->u.i.image;
    Picture pic;
    pic.widthTwips =
        std::max(1, int(std::lround((block->bbox.x1 - block->bbox.x0) * TwipsPerPoint)));
    pic.heightTwips =
        std::max(1, int(std::lround((block->bbox.y1 - block->bbox.y0) * TwipsPerPoint)));
    if (image->w < 1 || image->h < 1) {
        return;
    }

    // A plain JPEG in grey or RGB goes in as it is.
    fz_compressed_buffer* compressed = fz_compressed_image_buffer(ctx, image);
    const int components = image->colorspace ? fz_colorspace_n(ctx, image->colorspace) : 0;
    if (compressed && compressed->params.type == FZ_IMAGE_JPEG && compressed->buffer &&
        (components == 1 || components == 3) && !image->mask && !image->use_decode &&
        !image->use_colorkey && !image->imagemask) {
        unsigned char* data = nullptr;
        const size_t len = fz_buffer_storage(ctx, compressed->buffer, &data);
        pic.data.assign(reinterpret_cast<const char*>(data), len);
        pic.jpeg = true;
        pic.pixelWidth = image->w;
        pic.pixelHeight = image->h;
        model.items.emplace_back(std::move(pic));
        return;
    }

    const int wantW = std::max(1, int(pic.widthTwips / 1440.0 * PictureDpi));
    const int wantH = std::max(1, int(pic.heightTwips / 1440.0 * PictureDpi));
    int w = 0;
    int h = 0;
    const std::vector<uint8_t> rgb = flattenOnWhite(ctx, image, wantW, wantH, &w, &h);
    Bitmap bitmap;
    bitmap.width = w;
    bitmap.height = h;
    bitmap.channels = 3;
    bitmap.stride = ptrdiff_t(w) * 3;
    bitmap.pixels = rgb.data();
    bitmap.dpi = int(std::lround(w / (pic.widthTwips / 1440.0)));
    pic.jpeg = isPhoto(ctx, image);
    pic.data = pic.jpeg ? encodeJpeg(bitmap, 85) : encodePng(bitmap);
    pic.pixelWidth = w;
    pic.pixelHeight = h;
    model.items.emplace_back(std::move(pic));
}

} // namespace

PageModel extractPage(fz_context* ctx, fz_document* doc, int page) {
    PageModel model;
    fz_rect bounds{};
    const PagePtr pagePtr = loadPage(ctx, doc, page, &bounds);
    fz_page* p = pagePtr.get();
    model.widthTwips = std::max(720, int(std::lround((bounds.x1 - bounds.x0) * TwipsPerPoint)));
    model.heightTwips = std::max(720, int(std::lround((bounds.y1 - bounds.y0) * TwipsPerPoint)));

    fz_stext_options options{};
    options.flags = FZ_STEXT_PRESERVE_IMAGES | FZ_STEXT_DEHYPHENATE | FZ_STEXT_MEDIABOX_CLIP;
    fz_stext_page* text = nullptr;
    guarded(ctx, [&] { text = fz_new_stext_page_from_page(ctx, p, &options); });
    TextPagePtr textPtr(text, {ctx});

    for (const fz_stext_block* block = text->first_block; block; block = block->next) {
        if (block->type == FZ_STEXT_BLOCK_TEXT) {
            addTextBlock(ctx, block, bounds, model);
        } else if (block->type == FZ_STEXT_BLOCK_IMAGE) {
            try {
                addPicture(ctx, block, model);
            } catch (const std::exception&) {
                // A picture that cannot be decoded is left out; the text stays.
            }
        }
    }
    return model;
}

} // namespace pdftox
