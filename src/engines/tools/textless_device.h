#pragma once

#include <mupdf/fitz.h>

#include <functional>
#include <map>
#include <optional>

namespace tools {

/// The device box of a path that is one upright rectangle (four corners whose sides lie along
/// the axes once `ctm` places them), or nothing for any other path.
std::optional<fz_rect> uprightRectangle(fz_context* ctx, const fz_path* path, fz_matrix ctm);

/// How a web page shows one glyph of the PDF page.
enum class GlyphShow {
    Text,        ///< as text in a browser's font
    DrawnHidden, ///< drawn into the background, with its character as invisible text over it
    Drawn        ///< drawn into the background only: it has no character worth writing
};

/// A browser can show a glyph as text when its character is known and a font of the browser
/// looks like it. Glyphs of Type 3 fonts (pictures drawn by the PDF itself) and of symbol fonts
/// (dingbats, ornaments, whose codes stand for pictures rather than letters) are drawn, as are
/// glyphs without a character (none, U+FFFD, private use or control codes); their characters,
/// where real, stay as invisible text so that the page can still be searched.
GlyphShow showOf(fz_context* ctx, fz_font* font, int character);

/// The glyphs that a page writes as text, per font: each character with the glyph that shows it
/// (the first one met). A glyph that stands for several characters (a ligature) is left out.
using GlyphUses = std::map<fz_font*, std::map<int, int>>;

/// A device that passes everything but text on to `target`: the page's pictures and drawings
/// without its letters, for a background under text that stays text. Glyphs that showOf()
/// does not let be text are drawn with the rest. Text clips are passed on so that the clip
/// stack stays balanced. `painted` becomes true once anything is drawn. `uses`, if given,
/// collects the glyphs written as text.
fz_device* newTextlessDevice(fz_context* ctx, fz_device* target, bool* painted,
                             GlyphUses* uses = nullptr);

/// Whether a glyph of the page's filled text is shown some other way: `call` counts the
/// device's fill_text calls from 0, `span` and `item` index the text's spans and a span's items.
using KeptOut = std::function<bool(int call, int span, int item)>;

/// Like newTextlessDevice(), but the caller chooses the glyphs left out: filled text loses
/// those for which `keptOut` (which must outlive the device) is true; stroked and clipping text
/// is passed on whole. Tiles are passed on uncached, so that a pattern's text is seen as often
/// as it is drawn and the calls are counted as in any other run of the same page.
fz_device* newTextSplitDevice(fz_context* ctx, fz_device* target, bool* painted,
                              const KeptOut* keptOut);

} // namespace tools
