#pragma once

// Text recognition for pages whose own text is missing or unusable: scans, text drawn as
// outlines, fonts without a character map. The page is drawn at 300 dpi in grey and read by
// Tesseract, loaded when first needed, so that a machine without it still converts everything
// else.
#include "mupdf.h"

namespace pdftox {

/// Whether recognition is on: LUMADOC_OCR=0 in the environment turns it off from the start,
/// setRecognition() afterwards.
bool recognitionEnabled();
/// Sets it; gives the previous setting.
bool setRecognition(bool on);

/// What the characters of a page's text are worth.
struct TextCensus {
    int usable = 0;   ///< letters, digits, punctuation
    int unusable = 0; ///< U+FFFD, private use, control codes: glyphs whose character is unknown
};
TextCensus censusOf(const fz_stext_page* text);

/// A page needs recognition when its text is mostly unusable, when it has no text but shows
/// something, or when a picture covers most of it and it holds next to no text (a scan with a
/// stamped page number). A page with real text is never recognised.
bool needsRecognition(fz_context* ctx, fz_page* page, const fz_stext_page* text);

/// The page's words as Tesseract reads them, as a text page of their own laid out where the
/// words stand (in a plain sans-serif font, sized from the lines' heights). Null when
/// Tesseract is missing, fails, reads next to nothing with confidence (a photograph), or the
/// page's work is cut short. `wordsRead`, if given, is the number of words read with
/// confidence.
TextPagePtr recognisePage(fz_context* ctx, fz_page* page, const fz_stext_options& options,
                          int* wordsRead);

/// The page's text for the exports: its own, or the recognised words when it needs them and
/// recognition is on. `recognised` tells which.
TextPagePtr pageTextForExport(fz_context* ctx, fz_page* page, const fz_stext_options& options,
                              bool* recognised);

} // namespace pdftox
