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

/// A page needs recognition when its text is mostly unusable, or when it has no text but shows
/// something. A page with real text is never recognised.
bool needsRecognition(fz_context* ctx, fz_page* page, const fz_stext_page* text);

/// The page's words as Tesseract reads them from the page drawn at 300 dpi in grey (less for a
/// huge page), as a text page of their own laid out where the words stand (in a plain serif
/// font, sized from the heights of the paragraph's lines). Null when Tesseract is missing, fails,
/// reads next to nothing with confidence (a photograph), or the page's work is cut short.
/// `wordsRead`, if given, is the number of words read with confidence.
TextPagePtr recognisePage(fz_context* ctx, fz_page* page, fz_rect bounds,
                          const fz_stext_options& options, int* wordsRead);

/// Whether the page is to be recognised: recognition is on, Tesseract is there and the page's
/// own text `own` calls for it (needsRecognition).
bool wantsRecognition(fz_context* ctx, fz_page* page, const fz_stext_page* own);

/// What recognition made of a page: its words (null when it kept its own text) and whether
/// they replace the picture that covers the page (a scanned page of text).
struct Recognition {
    TextPagePtr words;
    bool replacesPicture = false;
};

/// Recognises a page that wantsRecognition(). A page without text of its own that a picture
/// covers is taken as a page of text only when it reads as one (forty words or more);
/// otherwise, a cover or a photograph, it keeps what it had. `own` was read with `options`.
Recognition recognise(fz_context* ctx, fz_page* page, const fz_stext_page* own,
                      const fz_stext_options& options);

} // namespace pdftox
