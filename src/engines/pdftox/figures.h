#pragma once

#include "mupdf.h"

#include <vector>

namespace pdftox {

/// The areas of `page` where its vector drawings stand: the boxes of its filled and stroked
/// paths and shadings, boxes that touch or nearly touch merged into one. Left out: page-wide
/// backgrounds, long thin rules (underlines, column and table rules alone) and areas smaller than
/// half an inch either way. `pageBounds` are the page's bounds as displayed.
std::vector<fz_rect> drawingAreas(fz_context* ctx, fz_page* page, fz_rect pageBounds);

/// `area` of `page` drawn with everything on it (drawings, pictures, text) at `dpi` on white, as
/// an RGB pixmap.
PixmapPtr drawArea(fz_context* ctx, fz_page* page, fz_rect area, int dpi);

} // namespace pdftox
