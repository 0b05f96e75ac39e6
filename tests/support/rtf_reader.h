#pragma once

// A small RTF reader for tests: the text of each page (pages split at \page and at \sect, unless
// the section goes on on the same page: \sbknone), the runs with their character formatting, the
// paragraphs with their alignment, and the pictures met.
#include <string>
#include <vector>

namespace testing_support {

struct RtfRun {
    std::string text; ///< UTF-8
    bool bold = false;
    bool italic = false;
    int halfPoints = 24;
    std::string font;
    int red = 0, green = 0, blue = 0;
};

struct RtfParagraph {
    std::string text;          ///< UTF-8, without the paragraph mark
    char alignment = 'l';      ///< l, r, c or j (\ql \qr \qc \qj)
    int firstIndent = 0;       ///< \fi, twips
    int leftIndent = 0;        ///< \li, twips
    int spaceAfter = 0;        ///< \sa, twips
    bool allBold = false;      ///< every visible character bold
    int halfPoints = 0;        ///< the largest size of its visible characters
    bool allMonospace = false; ///< every visible character in a \fmodern font
    bool picture = false;      ///< holds a picture
};

struct RtfPage {
    std::vector<RtfRun> runs;
    std::vector<RtfParagraph> paragraphs; ///< ended by \par
    std::string text; ///< all runs, paragraphs separated by '\n', "[picture]" where one stands
    int pictures = 0;
};

struct RtfDocument {
    bool valid = false; ///< starts with {\rtf1 and its groups balance
    std::vector<RtfPage> pages;
    std::vector<std::string> fonts;
    std::vector<std::string> fontClasses; ///< "roman", "swiss", "modern", ... per font
};

RtfDocument readRtf(const std::string& rtf);

} // namespace testing_support
