#pragma once

// JPEG pictures drawn smaller than they are stored (a 200 or 300 dpi scan on a 120 dpi page),
// decoded at a reduced scale instead of at full size and then shrunk.
#include "mupdf.h"

#include <cstdint>

namespace pdftox {

/// Makes `drawDevice` (made by fz_new_draw_device with the identity transform, so that the
/// matrices it receives are in device pixels) draw upright JPEG pictures that come out
/// smaller than they are stored from one decoding by libjpeg-turbo (at a half, a quarter or an
/// eighth of their size when that still covers the target, else at full size), averaged down
/// to exactly the pixels MuPDF would scale them to. Every other picture, and any JPEG that does
/// not decode without a warning, is drawn by MuPDF as before, and so is a picture of which
/// less than half falls inside `target` (the pixels of the device's pixmap) or that shrinks
/// to a thumbnail. The device must be used on the calling thread.
void decodeJpegsReduced(fz_device* drawDevice, fz_irect target);

/// Averages `src` (`srcWidth` × `srcHeight` pixels of `channels` bytes, rows `srcStride`
/// apart) down to `dstWidth` × `dstHeight` (each at most the source's) into `dst`, each output
/// pixel the mean of the source area it covers. Used by the drawing above; exposed for tests.
void averageDown(const uint8_t* src, int srcWidth, int srcHeight, std::ptrdiff_t srcStride,
                 int channels, uint8_t* dst, int dstWidth, int dstHeight, std::ptrdiff_t dstStride);

} // namespace pdftox
