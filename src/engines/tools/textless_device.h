#pragma once

#include <mupdf/fitz.h>

namespace tools {

/// A device that passes everything but text on to `target`: the page's pictures and drawings
/// without its letters, for a background under text that stays text. Text clips are passed
/// on so that the clip stack stays balanced. `painted` becomes true once anything is drawn.
fz_device* newTextlessDevice(fz_context* ctx, fz_device* target, bool* painted);

} // namespace tools
