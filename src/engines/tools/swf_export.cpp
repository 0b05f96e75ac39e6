#include "swf_export.h"

#include "image_writers.h"
#include "mupdf.h"
#include "page_pipeline.h"
#include "swf_writer.h"
#include "tool_source.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <unordered_map>

using namespace pdftox;

namespace tools {
namespace {

// Pages are drawn at twice the stage's resolution so that zooming in the player stays sharp.
constexpr double Zoom = 2.0;
constexpr int Quality = 85;

using Frame = SwfBitmap;

// Zlib-compressed colour table and rows of indices, as DefineBitsLossless stores them.
std::string mappedData(const std::vector<uint32_t>& table, const Bitmap& bm,
                       const std::function<uint8_t(const uint8_t*)>& indexOf) {
    const size_t rowBytes = (size_t(bm.width) + 3) & ~size_t(3);
    std::vector<uint8_t> raw(table.size() * 3 + rowBytes * size_t(bm.height), 0);
    for (size_t i = 0; i < table.size(); ++i) {
        raw[3 * i] = uint8_t(table[i] >> 16);
        raw[3 * i + 1] = uint8_t(table[i] >> 8);
        raw[3 * i + 2] = uint8_t(table[i]);
    }
    uint8_t* rows = raw.data() + table.size() * 3;
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* from = bm.row(y);
        uint8_t* to = rows + rowBytes * size_t(y);
        for (int x = 0; x < bm.width; ++x) {
            to[x] = indexOf(from + size_t(x) * size_t(bm.channels));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, raw.data(), uLong(raw.size()), 6) !=
        Z_OK) {
        throw std::runtime_error("cannot compress a page");
    }
    out.resize(size);
    return out;
}

// A page of text and drawings has few colours: a grey page (black text and its smoothed edges)
// in 16 shades, one of at most 256 colours exactly, through a colour table. Either is sharper
// than a JPEG and a fraction of its size. Photographs and colourful pages stay JPEG.
Frame encodeFrame(const Bitmap& bm) {
    Frame frame;
    frame.width = bm.width;
    frame.height = bm.height;
    if (bm.channels != 3) {
        frame.data = encodeJpeg(bm, Quality);
        return frame;
    }
    const auto key = [](const uint8_t* p) {
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    std::unordered_map<uint32_t, uint8_t> palette;
    bool grey = true;
    for (int y = 0; y < bm.height && (grey || palette.size() <= 256); ++y) {
        const uint8_t* p = bm.row(y);
        for (int x = 0; x < bm.width; ++x, p += 3) {
            grey = grey && std::abs(p[0] - p[1]) <= 2 && std::abs(p[1] - p[2]) <= 2;
            if (palette.size() <= 256) {
                palette.emplace(key(p), 0);
            }
        }
    }
    if (grey) {
        std::vector<uint32_t> table;
        for (uint32_t level = 0; level < 16; ++level) {
            table.push_back(level * 17 * 0x010101u);
        }
        frame.kind = Frame::Kind::Mapped;
        frame.colors = 16;
        frame.data = mappedData(
            table, bm, [](const uint8_t* p) { return uint8_t((unsigned(p[1]) * 15 + 127) / 255); });
        return frame;
    }
    if (palette.size() <= 256) {
        std::vector<uint32_t> table;
        for (auto& [colour, index] : palette) {
            index = uint8_t(table.size());
            table.push_back(colour);
        }
        frame.kind = Frame::Kind::Mapped;
        frame.colors = int(table.size());
        frame.data = mappedData(table, bm, [&](const uint8_t* p) { return palette.at(key(p)); });
        return frame;
    }
    frame.data = encodeJpeg(bm, Quality);
    return frame;
}

Frame renderFrame(fz_context* ctx, fz_document* doc, int number) {
    fz_rect bounds{};
    const PagePtr page = loadPage(ctx, doc, number, &bounds);
    const PixmapPtr pix = newWhitePixmap(ctx, bounds, Zoom);
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, pix.get()); });
    DevicePtr device(dev, {ctx});
    drawPage(ctx, page.get(), fz_scale(float(Zoom), float(Zoom)), dev);
    return encodeFrame(bitmapOf(ctx, pix.get(), int(72 * Zoom)));
}

} // namespace

int convertToSwf(const std::string& source, const std::string& output, const SwfOptions& options) {
    if (swfFrameRate(options.frameRate) == 0) {
        throw std::runtime_error("the frame rate must be above 0 and below 256");
    }
    ToolSource opened;
    openToolSource(opened, source, options.first, options.last);
    fz_rect firstBounds{};
    loadPage(opened.context.get(), opened.doc.get(), opened.first, &firstBounds);
    const int first = opened.first;
    const int last = opened.last;
    const int stageW = std::max(1, int(std::lround(firstBounds.x1 - firstBounds.x0)));
    const int stageH = std::max(1, int(std::lround(firstBounds.y1 - firstBounds.y0)));

    SwfMovie movie(stageW, stageH, options.frameRate, options.viewer);
    std::string failure;
    runPages<Frame>(DocumentSource{source, ""}, first, last, renderFrame,
                    [&](int n, std::optional<Frame>&& frame) {
                        try {
                            if (frame) {
                                movie.addFrame(*frame);
                            } else {
                                // A page that cannot be read still takes its frame, blank.
                                std::vector<uint8_t> white(size_t(stageW) * size_t(stageH) * 3,
                                                           255);
                                Bitmap bm{stageW, stageH, 3, stageW * 3, white.data(), 72};
                                movie.addFrame(encodeFrame(bm));
                            }
                        } catch (const std::exception& e) {
                            failure = "page " + std::to_string(n) + ": " + e.what();
                            return false;
                        }
                        return true;
                    });
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
    movie.finish(output, options.compress);
    return last - first + 1;
}

} // namespace tools
