#pragma once

#include "text_model.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pdftox {

/// Writes pages into an RTF document: the body goes to an anonymous temporary file as pages
/// arrive (fonts and colours are numbered as they are met), and finish() writes the header
/// with the font and colour tables followed by the body under the final name.
class RtfWriter {
public:
    RtfWriter();
    ~RtfWriter();
    RtfWriter(const RtfWriter&) = delete;
    RtfWriter& operator=(const RtfWriter&) = delete;

    void setTitle(const std::string& utf8Title) { m_title = utf8Title; }
    /// Appends one page; a page break separates it from the one before. Throws on write errors.
    void addPage(const PageModel& page);
    /// Writes the whole document at `path` (through a temporary name). Throws on failure.
    void finish(const std::string& path);

    /// `text` as RTF text: ASCII as is with \ { } escaped, everything else as \uN? escapes
    /// (characters beyond U+FFFF as a surrogate pair).
    static std::string escapeText(const std::u32string& text);

private:
    int fontIndex(const FontFace& face);
    int colorIndex(uint32_t color);
    std::string paragraphRtf(const Paragraph& para, int width, const char* place);
    std::string tableRtf(const Table& table, int columnLeft, int width);
    void put(const std::string& s);

    std::FILE* m_body = nullptr;
    std::string m_title;
    std::map<FontFace, int> m_fonts;
    std::vector<FontFace> m_fontOrder;
    std::map<uint32_t, int> m_colors;
    std::vector<uint32_t> m_colorOrder;
    int m_pages = 0;
    int m_firstWidth = 12240;
    int m_firstHeight = 15840;
};

} // namespace pdftox
