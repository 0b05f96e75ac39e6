#pragma once

#include "mupdf.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace pdftox {

/// Font classes of the RTF font table.
enum class FontClass { Roman, Swiss, Modern, Tech };

struct FontFace {
    std::string family; ///< a family name a word processor can find ("Times New Roman")
    FontClass cls = FontClass::Roman;
    std::string fallback; ///< a common family of the same class, for readers without `family`

    bool operator<(const FontFace& o) const {
        return family < o.family || (family == o.family && cls < o.cls);
    }
};

/// A PostScript font name taken apart: "ABCDEF+TimesNewRomanPS-BoldItalicMT" gives the family
/// "Times New Roman" and the bold and italic hints. `serif` and `mono` come from the font
/// program where known.
struct FontNameInfo {
    FontFace face;
    bool bold = false;
    bool italic = false;
};
FontNameInfo describeFontName(const std::string& postscriptName, bool serif, bool mono);

struct Run {
    FontFace face;
    bool bold = false;
    bool italic = false;
    int halfPoints = 24;
    uint32_t color = 0; ///< 0xRRGGBB
    int shift = 0;      ///< 1: raised and smaller (superscript), -1: lowered (subscript)
    std::u32string text;
};

enum class Alignment { Left, Right, Center, Justify };

/// A paragraph rebuilt from printed lines: the lines joined with spaces (a hyphen that splits a
/// word at a line's end removed), with the alignment and first-line indent they were set with.
struct Paragraph {
    std::vector<Run> runs;
    Alignment alignment = Alignment::Left;
    int firstIndentTwips = 0; ///< the first line's indent against the other lines (may be < 0)
    bool spaced = false;      ///< ends its block of text or a gap follows: space after it
    bool leader = false;      ///< holds a tab that a row of dots fills to the right margin
    int lineTwips = 0;        ///< the step from line to line on the page; 0: not known
    int spaceAfterTwips = -1; ///< the space below it on the page; -1: not known
};

struct Picture {
    std::string data; ///< PNG or JPEG file bytes
    bool jpeg = false;
    int pixelWidth = 0;
    int pixelHeight = 0;
    int widthTwips = 0; ///< size on the page
    int heightTwips = 0;
};

/// A table whose cells line up on the page: its rows from the top, each with one cell per
/// column (an empty cell holds no paragraph). Places are measured from the page's left edge.
struct Table {
    struct Row {
        std::vector<std::vector<Paragraph>> cells;
    };
    int leftTwips = 0;               ///< where the first column starts
    std::vector<int> cellRightTwips; ///< where each column ends
    std::vector<Row> rows;
};

/// What one page holds, in reading order.
struct PageModel {
    int widthTwips = 12240;
    int heightTwips = 15840;
    int columns = 1;          ///< 2: the page sets its text in two columns
    int columnGapTwips = 0;   ///< the space between them
    size_t spanningItems = 0; ///< with two columns: the first items stand across both, above them
    std::vector<std::variant<Paragraph, Picture, Table>> items;
};

/// Extracts the text and pictures of `page` (counting from 1).
PageModel extractPage(fz_context* ctx, fz_document* doc, int page);

} // namespace pdftox
