#pragma once

// Writes small PDF files for tests: base-14 fonts with WinAnsi encoding, uncompressed page
// contents and optional RGB pictures, so every expected word, style and size is known.
#include <string>
#include <vector>

namespace testing_support {

struct FixturePicture {
    std::string name; ///< resource name used in the content ("Im1")
    int width = 8;
    int height = 8;
    std::string rgb; ///< width * height * 3 bytes
};

struct FixturePage {
    double width = 612;
    double height = 792;
    int rotate = 0;
    std::string content; ///< content stream; fonts /F1 Helvetica, /F2 Helvetica-Bold,
                         ///< /F3 Times-Roman, /F4 Times-Italic, /F5 Courier
    std::vector<FixturePicture> pictures;
};

/// Writes the pages as a PDF at `path` (with an information dictionary holding `title`).
/// Returns false when the file cannot be written.
bool writeFixturePdf(const std::string& path, const std::vector<FixturePage>& pages,
                     const std::string& title = "Fixture");

/// A whole PDF file of `objects` (object i + 1 is objects[i]) with its cross-reference table;
/// `trailer` is the trailer's entries besides /Size ("/Root 1 0 R").
std::string assemblePdf(const std::vector<std::string>& objects, const std::string& trailer);

/// A content-stream text line: BT /font size Tf x y Td (text) Tj ET, with `text` in WinAnsi
/// bytes (pass "\xe9" for é).
std::string textLine(const char* font, double size, double x, double y, const std::string& text);

/// A one-page PDF whose forms draw one another ten times each, `levels` deep (10^levels fills):
/// small, and without a time limit it never ends.
std::string formBombPdf(int levels = 9);

/// A picture of solid colour blocks, `w` x `h` pixels.
FixturePicture checkerPicture(const std::string& name, int w, int h);

} // namespace testing_support
