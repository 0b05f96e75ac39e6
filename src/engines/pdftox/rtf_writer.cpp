#include "rtf_writer.h"

#include "atomic_file.h"
#include "utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>

namespace pdftox {
namespace {

// Half an inch around the text, less on small pages.
// Families that come with the common systems and office suites. A document's own typeface
// (an embedded "A Caslon") is rarely installed where it is read: word processors then pick a
// font by their own rules, often a wide sans serif, and the text runs longer than the page it
// came from. Such a family is named by the common family of its class instead.
bool commonlyInstalled(const std::string& family) {
    static const std::set<std::string> common = {"arial",
                                                 "arial black",
                                                 "arial narrow",
                                                 "baskerville",
                                                 "book antiqua",
                                                 "bookman old style",
                                                 "calibri",
                                                 "calibri light",
                                                 "cambria",
                                                 "candara",
                                                 "century",
                                                 "century gothic",
                                                 "century schoolbook",
                                                 "comic sans ms",
                                                 "consolas",
                                                 "constantia",
                                                 "corbel",
                                                 "courier new",
                                                 "dejavu sans",
                                                 "dejavu sans mono",
                                                 "dejavu serif",
                                                 "didot",
                                                 "franklin gothic medium",
                                                 "futura",
                                                 "garamond",
                                                 "georgia",
                                                 "gill sans mt",
                                                 "gulim",
                                                 "helvetica",
                                                 "helvetica neue",
                                                 "impact",
                                                 "liberation mono",
                                                 "liberation sans",
                                                 "liberation serif",
                                                 "lucida console",
                                                 "lucida grande",
                                                 "lucida sans unicode",
                                                 "malgun gothic",
                                                 "meiryo",
                                                 "microsoft jhenghei",
                                                 "microsoft sans serif",
                                                 "microsoft yahei",
                                                 "mingliu",
                                                 "ms gothic",
                                                 "ms mincho",
                                                 "ms pgothic",
                                                 "ms pmincho",
                                                 "noto sans",
                                                 "noto serif",
                                                 "open sans",
                                                 "optima",
                                                 "palatino linotype",
                                                 "pmingliu",
                                                 "roboto",
                                                 "segoe ui",
                                                 "segoe ui symbol",
                                                 "simhei",
                                                 "simsun",
                                                 "symbol",
                                                 "tahoma",
                                                 "times new roman",
                                                 "trebuchet ms",
                                                 "verdana",
                                                 "webdings",
                                                 "wingdings",
                                                 "wingdings 2",
                                                 "wingdings 3",
                                                 "yu gothic",
                                                 "yu mincho",
                                                 "batang",
                                                 "dotum"};
    std::string key = family;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return common.count(key) > 0;
}

int marginFor(int widthTwips, int heightTwips) {
    return std::min({720, widthTwips / 8, heightTwips / 8});
}

const char* classWord(FontClass cls) {
    switch (cls) {
    case FontClass::Swiss:
        return "\\fswiss";
    case FontClass::Modern:
        return "\\fmodern";
    case FontClass::Tech:
        return "\\ftech";
    case FontClass::Roman:
        break;
    }
    return "\\froman";
}

const char* alignmentWord(Alignment alignment) {
    switch (alignment) {
    case Alignment::Right:
        return "\\qr";
    case Alignment::Center:
        return "\\qc";
    case Alignment::Justify:
        return "\\qj";
    case Alignment::Left:
        break;
    }
    return "\\ql";
}

void appendHex(std::string& out, const std::string& data) {
    static const char digits[] = "0123456789abcdef";
    out.reserve(out.size() + data.size() * 2 + data.size() / 64 + 2);
    for (size_t i = 0; i < data.size(); ++i) {
        if (i % 64 == 0) {
            out += '\n';
        }
        const auto b = static_cast<unsigned char>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

} // namespace

RtfWriter::RtfWriter() : m_body(std::tmpfile()) {
    if (!m_body) {
        throw std::runtime_error("cannot create a temporary file");
    }
}

RtfWriter::~RtfWriter() {
    std::fclose(m_body);
}

void RtfWriter::put(const std::string& s) {
    if (!s.empty() && std::fwrite(s.data(), 1, s.size(), m_body) != s.size()) {
        throw std::runtime_error("write failed");
    }
}

int RtfWriter::fontIndex(const FontFace& face) {
    auto [it, inserted] = m_fonts.emplace(face, int(m_fontOrder.size()));
    if (inserted) {
        m_fontOrder.push_back(face);
    }
    return it->second;
}

int RtfWriter::colorIndex(uint32_t color) {
    auto [it, inserted] = m_colors.emplace(color, int(m_colorOrder.size()) + 1);
    if (inserted) {
        m_colorOrder.push_back(color);
    }
    return it->second;
}

std::string RtfWriter::escapeText(const std::u32string& text) {
    std::string out;
    out.reserve(text.size());
    auto unicode = [&out](int value) {
        out += "\\u";
        out += std::to_string(value > 32767 ? value - 65536 : value);
        out += '?';
    };
    for (const char32_t c : text) {
        if (c == U'\\' || c == U'{' || c == U'}') {
            out += '\\';
            out += char(c);
        } else if (c == U'\t') {
            out += "\\tab ";
        } else if (c == 0xA0) {
            out += "\\~";
        } else if (c < 0x20) {
            continue;
        } else if (c < 0x80) {
            out += char(c);
        } else if (c <= 0xFFFF) {
            unicode(int(c));
        } else if (c <= 0x10FFFF) {
            const char32_t v = c - 0x10000;
            unicode(int(0xD800 + (v >> 10)));
            unicode(int(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

// A paragraph's properties and text, up to its end (`\\par` or `\\cell`, which the caller
// writes). `width` is that of its column or cell, where a leader's tab goes; `place` holds
// words that go with the paragraph's properties (`\\intbl` in a table).
std::string RtfWriter::paragraphRtf(const Paragraph& para, int width, const char* place) {
    std::string out;
    int largest = 0; // half points
    for (const Run& run : para.runs) {
        largest = std::max(largest, run.halfPoints);
    }
    // Lines of one block (a code listing, an address) stay together; blocks are apart, as far
    // as on the page or else by half a line of their text.
    const int after =
        para.spaceAfterTwips >= 0 ? para.spaceAfterTwips : std::clamp(largest * 5, 40, 120);
    out += "\\pard\\plain";
    out += place;
    out += "\\sa" + std::to_string(para.spaced ? after : 0);
    // Lines as far apart as on the page: a word processor's own spacing is wider for most fonts
    // and would make the text longer than the page it came from.
    if (para.lineTwips > 0) {
        out += "\\sl-" + std::to_string(std::max(para.lineTwips, largest * 10)) + "\\slmult0";
    }
    out += alignmentWord(para.alignment);
    // A hanging indent: the later lines indented, the first one back at the margin.
    if (para.firstIndentTwips < 0) {
        out += "\\li" + std::to_string(-para.firstIndentTwips);
    }
    if (para.firstIndentTwips != 0) {
        out += "\\fi" + std::to_string(para.firstIndentTwips);
    }
    // A dot leader: a right tab at the margin, the gap before it filled with dots.
    if (para.leader) {
        out += "\\tqr\\tldot\\tx" + std::to_string(width);
    }
    // The paragraph's mark in the size of its text: a word processor counts the mark's size in
    // the height of the last line, which the default 12 points would make taller.
    if (largest > 0) {
        out += "\\fs" + std::to_string(largest);
    }
    for (const Run& run : para.runs) {
        out +=
            "{\\f" + std::to_string(fontIndex(run.face)) + "\\fs" + std::to_string(run.halfPoints);
        if (run.bold) {
            out += "\\b";
        }
        if (run.italic) {
            out += "\\i";
        }
        if (run.color != 0) {
            out += "\\cf" + std::to_string(colorIndex(run.color));
        }
        if (run.shift != 0) {
            out += run.shift > 0 ? "\\super" : "\\sub";
        }
        out += ' ';
        out += escapeText(run.text);
        out += '}';
    }
    return out;
}

// A table without borders, its columns where they stand on the page. `columnLeft` is where the
// text column that holds it starts on the page. A table that would reach past the column's right
// edge moves left first; one wider than the column is narrowed to fit, its columns keeping their
// shares.
std::string RtfWriter::tableRtf(const Table& table, int columnLeft, int width) {
    constexpr int Gap = 40; // the space within each side of a cell
    const int right = table.cellRightTwips.empty() ? table.leftTwips : table.cellRightTwips.back();
    const int tableWidth = std::max(1, right - table.leftTwips);
    const int start = std::max(-Gap, std::min(table.leftTwips - columnLeft, width - tableWidth));
    const double scale =
        tableWidth > width - start ? double(std::max(width - start, 1)) / tableWidth : 1.0;
    // No space above and below a cell's text: the rows stand as close as on the page.
    std::string definition = "\\trowd\\trgaph" + std::to_string(Gap) +
                             "\\trpaddt0\\trpaddft3\\trpaddb0\\trpaddfb3\\trleft" +
                             std::to_string(start);
    int previous = start;
    for (const int cell : table.cellRightTwips) {
        // Each cell at least a twip wide: a word processor takes edges only from left to right.
        const int x =
            std::max(previous + 1, start + int(std::lround((cell - table.leftTwips) * scale)));
        definition += "\\cellx" + std::to_string(x);
        previous = x;
    }
    std::string out;
    for (const Table::Row& row : table.rows) {
        out += definition + '\n';
        for (size_t c = 0; c < row.cells.size(); ++c) {
            const int cellWidth =
                int(std::lround(
                    ((c < table.cellRightTwips.size() ? table.cellRightTwips[c] : right) -
                     (c == 0 ? table.leftTwips : table.cellRightTwips[c - 1])) *
                    scale)) -
                2 * Gap;
            // An empty cell in the smallest size, so that it never makes its row taller.
            if (row.cells[c].empty()) {
                out += "\\pard\\plain\\intbl\\fs2";
            }
            for (size_t i = 0; i < row.cells[c].size(); ++i) {
                if (i > 0) {
                    out += "\\par\n";
                }
                out += paragraphRtf(row.cells[c][i], std::max(cellWidth, 0), "\\intbl");
            }
            out += "\\cell\n";
        }
        out += "\\row\n";
    }
    return out;
}

void RtfWriter::addPage(const PageModel& page) {
    const int margin = marginFor(page.widthTwips, page.heightTwips);
    const int pageTextWidth = page.widthTwips - 2 * margin;
    const bool twoColumns = page.columns == 2 && pageTextWidth > 3 * page.columnGapTwips;
    const int textWidth = twoColumns ? (pageTextWidth - page.columnGapTwips) / 2 : pageTextWidth;
    const int textHeight = page.heightTwips - 2 * margin;
    std::string out;
    if (m_pages == 0) {
        m_firstWidth = page.widthTwips;
        m_firstHeight = page.heightTwips;
    } else {
        out += "\\sect";
    }
    // Each page is a section of its own size, so landscape pages stay landscape.
    std::string geometry = "\\pgwsxn" + std::to_string(page.widthTwips) + "\\pghsxn" +
                           std::to_string(page.heightTwips) + "\\marglsxn" +
                           std::to_string(margin) + "\\margrsxn" + std::to_string(margin) +
                           "\\margtsxn" + std::to_string(margin) + "\\margbsxn" +
                           std::to_string(margin);
    if (page.widthTwips > page.heightTwips) {
        geometry += "\\lndscpsxn";
    }
    const std::string columns = "\\cols2\\colsx" + std::to_string(page.columnGapTwips);
    // What stands across the top of a page of two columns is a section of one column that the
    // columns follow on the same page.
    const size_t across = twoColumns ? std::min(page.spanningItems, page.items.size()) : 0;
    out += "\\sectd\\sbkpage" + geometry;
    if (twoColumns && across == 0) {
        out += columns;
    }
    out += '\n';

    if (page.items.empty()) {
        out += "\\pard\\plain\\par\n";
    }
    for (size_t i = 0; i < page.items.size(); ++i) {
        const auto& item = page.items[i];
        if (across > 0 && i == across) {
            out += "\\sect\\sectd\\sbknone" + geometry + columns + '\n';
        }
        if (const auto* para = std::get_if<Paragraph>(&item)) {
            out += paragraphRtf(*para, textWidth, "");
            out += "\\par\n";
        } else if (const auto* table = std::get_if<Table>(&item)) {
            const int column = twoColumns && table->leftTwips >= page.widthTwips / 2
                                   ? margin + textWidth + page.columnGapTwips
                                   : margin;
            out += tableRtf(*table, column, textWidth);
            // A page's text ends with a paragraph: a word processor hangs the section's break
            // on the last paragraph, which must not be a table's row.
            if (i + 1 == page.items.size()) {
                out += "\\pard\\plain\\fs2\\par\n";
            }
        } else {
            const Picture& pic = std::get<Picture>(item);
            // Scaled down, keeping its shape, when it would not fit between the margins.
            double scale = 1.0;
            if (pic.widthTwips > textWidth) {
                scale = double(textWidth) / pic.widthTwips;
            }
            if (pic.heightTwips * scale > textHeight) {
                scale = double(textHeight) / pic.heightTwips;
            }
            const int goalW = std::max(1, int(pic.widthTwips * scale));
            const int goalH = std::max(1, int(pic.heightTwips * scale));
            out += "\\pard\\plain\\ql{\\pict";
            out += pic.jpeg ? "\\jpegblip" : "\\pngblip";
            out += "\\picw" + std::to_string(pic.pixelWidth) + "\\pich" +
                   std::to_string(pic.pixelHeight) + "\\picwgoal" + std::to_string(goalW) +
                   "\\pichgoal" + std::to_string(goalH);
            appendHex(out, pic.data);
            out += "}\\par\n";
        }
        if (out.size() > (1u << 20)) {
            put(out);
            out.clear();
        }
    }
    put(out);
    ++m_pages;
}

void RtfWriter::finish(const std::string& path) {
    std::string head = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
    if (m_fontOrder.empty()) {
        fontIndex(FontFace{"Times New Roman", FontClass::Roman, "Times New Roman"});
    }
    for (size_t i = 0; i < m_fontOrder.size(); ++i) {
        const FontFace& f = m_fontOrder[i];
        const bool common = commonlyInstalled(f.family) || f.fallback.empty();
        head += "{\\f" + std::to_string(i) + classWord(f.cls) + "\\fcharset0\\fprq2 " +
                escapeText(decodeUtf8(common ? f.family : f.fallback));
        if (common && !f.fallback.empty() && f.fallback != f.family) {
            head += "{\\*\\falt " + escapeText(decodeUtf8(f.fallback)) + "}";
        }
        head += ";}";
    }
    head += "}\n{\\colortbl;";
    for (const uint32_t c : m_colorOrder) {
        head += "\\red" + std::to_string((c >> 16) & 255) + "\\green" +
                std::to_string((c >> 8) & 255) + "\\blue" + std::to_string(c & 255) + ";";
    }
    head += "}\n";
    if (!m_title.empty()) {
        head += "{\\info{\\title " + escapeText(decodeUtf8(m_title)) + "}}\n";
    }
    const int margin = marginFor(m_firstWidth, m_firstHeight);
    head += "\\paperw" + std::to_string(m_firstWidth) + "\\paperh" + std::to_string(m_firstHeight) +
            "\\margl" + std::to_string(margin) + "\\margr" + std::to_string(margin) + "\\margt" +
            std::to_string(margin) + "\\margb" + std::to_string(margin) + "\\viewkind1\n";

    if (m_pages == 0) {
        put("\\pard\\plain\\par\n");
    }
    if (std::fflush(m_body) != 0 || std::ferror(m_body)) {
        throw WriteError("write failed", errno);
    }

    AtomicFile file(path);
    std::FILE* out = std::fopen(file.tempPath().c_str(), "wb");
    if (!out) {
        throw WriteError("cannot create " + path, errno);
    }
    bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
    std::rewind(m_body);
    char buffer[1 << 16];
    size_t n = 0;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, m_body)) > 0) {
        ok = std::fwrite(buffer, 1, n, out) == n;
    }
    ok = ok && std::fputs("}\n", out) >= 0;
    ok = std::fflush(out) == 0 && ok;
    const int error = errno;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        throw WriteError("cannot write " + path, error);
    }
    file.commit();
}

} // namespace pdftox
