#include "swf_export.h"

#include "image_writers.h"
#include "mupdf.h"
#include "page_pipeline.h"
#include "swf_writer.h"
#include "tool_source.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

using namespace pdftox;

namespace tools {
namespace {

// Pages are drawn at twice the stage's resolution so that zooming in the player stays sharp.
constexpr double Zoom = 2.0;
constexpr int Quality = 85;

struct Frame {
    std::string jpeg;
    int width = 0;
    int height = 0;
};

Frame renderFrame(fz_context* ctx, fz_document* doc, int number) {
    fz_rect bounds{};
    const PagePtr page = loadPage(ctx, doc, number, &bounds);
    const PixmapPtr pix = newWhitePixmap(ctx, bounds, Zoom);
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, pix.get()); });
    DevicePtr device(dev, {ctx});
    drawPage(ctx, page.get(), fz_scale(float(Zoom), float(Zoom)), dev);
    const Bitmap bm = bitmapOf(ctx, pix.get(), int(72 * Zoom));
    return Frame{encodeJpeg(bm, Quality), bm.width, bm.height};
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
                                movie.addFrame(frame->jpeg, frame->width, frame->height);
                            } else {
                                // A page that cannot be read still takes its frame, blank.
                                std::vector<uint8_t> white(size_t(stageW) * size_t(stageH) * 3,
                                                           255);
                                Bitmap bm{stageW, stageH, 3, stageW * 3, white.data(), 72};
                                movie.addFrame(encodeJpeg(bm, Quality), stageW, stageH);
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
