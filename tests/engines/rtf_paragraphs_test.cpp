// RTF export: paragraphs rebuilt from printed lines. The fixtures set known paragraphs in
// 10-point Courier (6 points a character, so every line's extent is known): wrapped like a
// word processor wraps them, placed by their alignment, and read back with the tests' RTF
// reader (and LibreOffice where installed).
#include "engine_test_support.h"
#include "rtf_reader.h"
#include "text_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace engine_tests;
using testing_support::FixturePage;
using testing_support::readRtf;
using testing_support::RtfDocument;
using testing_support::RtfParagraph;

namespace {

constexpr double Left = 72;
constexpr double CharWidth = 6; // Courier at 10 points
constexpr double Leading = 12;

// A paragraph as a fixture sets it. In `text`, '|' marks where a word may be broken at a line's
// end (with a hyphen unless the part before ends in one); `measure` is the line length in
// characters. A heading is one line in its own font.
struct Setting {
    std::string text;
    char alignment = 'l'; // l r c j
    int indent = 0;       // first line indent, characters
    bool gapBefore = false;
    int measure = 40;
    const char* font = "F5";
    double size = 10;
    double x = Left; // left edge of the column
    int hanging = 0; // indent of the lines after the first, characters
};

std::string withoutMarks(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != '|') {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> wrap(const Setting& p) {
    std::vector<std::string> lines;
    std::string current;
    std::istringstream words(p.text);
    std::string word;
    while (words >> word) {
        const size_t room = size_t(p.measure - (lines.empty() ? p.indent : p.hanging));
        const std::string whole = withoutMarks(word);
        if (current.empty()) {
            current = whole;
        } else if (current.size() + 1 + whole.size() <= room) {
            current += " " + whole;
        } else if (const size_t bar = word.find('|'); bar != std::string::npos) {
            std::string head = word.substr(0, bar);
            if (head.back() != '-') {
                head += '-';
            }
            if (current.size() + 1 + head.size() <= room) {
                lines.push_back(current + " " + head);
                current = withoutMarks(word.substr(bar + 1));
            } else {
                lines.push_back(current);
                current = whole;
            }
        } else {
            lines.push_back(current);
            current = whole;
        }
    }
    if (!current.empty()) {
        lines.push_back(current);
    }
    return lines;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// Content for the paragraphs from the top of the page down; `y` is the first baseline and ends
// below the last line.
std::string setParagraphs(const std::vector<Setting>& paragraphs, double& y) {
    std::ostringstream out;
    for (const Setting& p : paragraphs) {
        if (p.gapBefore) {
            y -= Leading;
        }
        if (p.font != std::string("F5")) {
            out << "BT /" << p.font << ' ' << p.size << " Tf 0 Tw " << p.x << ' ' << y << " Td ("
                << escaped(p.text) << ") Tj ET\n";
            y -= 2 * p.size;
            continue;
        }
        const std::vector<std::string> lines = wrap(p);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const int indent = i == 0 ? p.indent : p.hanging;
            const double width = double(line.size()) * CharWidth;
            const double measure = (p.measure - indent) * CharWidth;
            double x = p.x + indent * CharWidth;
            double wordSpacing = 0;
            if (p.alignment == 'r') {
                x = p.x + p.measure * CharWidth - width;
            } else if (p.alignment == 'c') {
                x = p.x + (p.measure * CharWidth - width) / 2;
            } else if (p.alignment == 'j' && i + 1 < lines.size()) {
                const auto spaces = std::count(line.begin(), line.end(), ' ');
                wordSpacing = spaces > 0 ? (measure - width) / double(spaces) : 0;
            }
            out << "BT /F5 10 Tf " << wordSpacing << " Tw " << x << ' ' << y << " Td ("
                << escaped(line) << ") Tj ET\n";
            y -= Leading;
        }
    }
    return out.str();
}

FixturePage pageOf(const std::vector<Setting>& paragraphs) {
    FixturePage page;
    double y = 720;
    page.content = setParagraphs(paragraphs, y);
    return page;
}

const char* const Story =
    "Once upon a time a small fox lived at the edge of a wide green wood, where the river bent "
    "twice before it ran into the lake.";
const char* const Morning =
    "Every morning she walked down to the water to drink, and every morning the old heron "
    "told her the news of the night.";
const char* const Winter =
    "When winter came the river froze from bank to bank, and the fox learned to cross it on "
    "the ice without a sound.";

struct Case {
    const char* name;
    std::vector<Setting> set;
    std::vector<std::pair<std::string, char>> expected; // joined text and alignment
};

std::vector<Case> cases() {
    const std::string hyphenated =
        "The word in this long sentence will be broken at the end of a line as a para|graph "
        "word; Jean-|Paul keeps his hyphen.";
    return {
        {"RaggedLeftWithGap", {{Story}, {Morning, 'l', 0, true}}, {{Story, 'l'}, {Morning, 'l'}}},
        {"RightAligned", {{Story, 'r'}, {Winter, 'r', 0, true}}, {{Story, 'r'}, {Winter, 'r'}}},
        {"Centred", {{Morning, 'c'}}, {{Morning, 'c'}}},
        {"JustifiedWithIndents",
         {{std::string(Story) + " " + Morning, 'j', 3},
          {std::string(Winter) + " " + Story, 'j', 3}},
         {{std::string(Story) + " " + Morning, 'j'}, {std::string(Winter) + " " + Story, 'j'}}},
        {"HyphenatedWord",
         {{hyphenated, 'l', 0, false, 30}},
         {{"The word in this long sentence will be broken at the end of a line as a paragraph "
           "word; Jean-Paul keeps his hyphen.",
           'l'}}},
        {"HeadingAndBody",
         {{"A Heading of Its Own", 'l', 0, false, 40, "F2", 16}, {Story}, {Winter, 'l', 3}},
         {{"A Heading of Its Own", 'l'}, {Story, 'l'}, {Winter, 'l'}}},
        {"HangingIndentList",
         {{std::string("A. ") + Story, 'j', 0, false, 40, "F5", 10, Left, 3},
          {std::string("B. ") + Morning, 'j', 0, false, 40, "F5", 10, Left, 3},
          {std::string("C. ") + Winter, 'j', 0, false, 40, "F5", 10, Left, 3}},
         {{std::string("A. ") + Story, 'j'},
          {std::string("B. ") + Morning, 'j'},
          {std::string("C. ") + Winter, 'j'}}},
        {"IndentedFirstLines",
         {{Story, 'l', 3}, {Morning, 'l', 3}, {Winter, 'l', 3}},
         {{Story, 'l'}, {Morning, 'l'}, {Winter, 'l'}}},
    };
}

// Pages of the fixture, one per case, and their export read back.
class RtfParagraphs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempFolder;
        std::vector<FixturePage> pages;
        for (const Case& c : cases()) {
            pages.push_back(pageOf(c.set));
        }
        pages.push_back(twoColumns());
        const std::string pdf = s_dir->file("paragraphs.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(pdf, pages));
        const int h = OpenPDF(pdf.c_str(), "");
        ASSERT_GT(h, 0);
        s_rtf = s_dir->file("paragraphs.rtf");
        ASSERT_EQ(ExportRTF(h, s_rtf.c_str(), 1, int(pages.size()), nullptr), int(pages.size()));
        ClosePDF(h);
        s_doc = new RtfDocument(readRtf(readFile(s_rtf)));
    }
    static void TearDownTestSuite() {
        delete s_doc;
        delete s_dir;
    }

    // A paragraph that runs from the bottom of the left column to the top of the right one,
    // then an indented paragraph in the right column.
    static FixturePage twoColumns() {
        const std::string first = std::string(Story) + " " + Morning + " " + Winter;
        Setting left{first, 'j', 0, false, 30};
        std::vector<std::string> lines = wrap(left);
        const size_t inLeft = lines.size() / 2;
        FixturePage page;
        std::ostringstream out;
        double y = 720;
        for (size_t i = 0; i < lines.size(); ++i) {
            const bool rightColumn = i >= inLeft;
            if (i == inLeft) {
                y = 720;
            }
            const double x = Left + (rightColumn ? 36 * CharWidth : 0);
            const auto spaces = std::count(lines[i].begin(), lines[i].end(), ' ');
            const double spacing =
                i + 1 < lines.size() && spaces > 0
                    ? (30 * CharWidth - double(lines[i].size()) * CharWidth) / double(spaces)
                    : 0;
            out << "BT /F5 10 Tf " << spacing << " Tw " << x << ' ' << y << " Td (" << lines[i]
                << ") Tj ET\n";
            y -= Leading;
        }
        Setting second{Winter, 'l', 3, false, 30};
        second.x = Left + 36 * CharWidth;
        page.content = out.str() + setParagraphs({second}, y);
        return page;
    }

    static inline TempFolder* s_dir = nullptr;
    static inline std::string s_rtf;
    static inline RtfDocument* s_doc = nullptr;
};

TEST_F(RtfParagraphs, KnownParagraphsComeBackJoinedWithTheirAlignment) {
    ASSERT_TRUE(s_doc->valid);
    const std::vector<Case> all = cases();
    ASSERT_EQ(s_doc->pages.size(), all.size() + 1);
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        const std::vector<RtfParagraph>& got = s_doc->pages[i].paragraphs;
        ASSERT_EQ(got.size(), all[i].expected.size());
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k].text, all[i].expected[k].first) << "paragraph " << k;
            EXPECT_EQ(got[k].alignment, all[i].expected[k].second) << "paragraph " << k;
        }
    }
}

TEST_F(RtfParagraphs, IndentsHeadingsAndGapsAreKept) {
    const auto& justified = s_doc->pages[3].paragraphs;
    ASSERT_EQ(justified.size(), 2u);
    EXPECT_EQ(justified[0].firstIndent, 360) << "three characters of 6 points";
    EXPECT_EQ(justified[0].spaceAfter, 0) << "an indent, not a gap, separates these two";
    EXPECT_GT(justified[1].spaceAfter, 0) << "the last of its block";

    const auto& heading = s_doc->pages[5].paragraphs;
    ASSERT_EQ(heading.size(), 3u);
    EXPECT_TRUE(heading[0].allBold);
    EXPECT_EQ(heading[0].halfPoints, 32);
    EXPECT_FALSE(heading[1].allBold);
    EXPECT_EQ(heading[1].firstIndent, 0);
    EXPECT_EQ(heading[2].firstIndent, 360);

    const auto& list = s_doc->pages[6].paragraphs;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].leftIndent, 360) << "later lines of a list item indented";
    EXPECT_EQ(list[1].firstIndent, -360) << "its first line back at the margin";

    const auto& gap = s_doc->pages[0].paragraphs;
    ASSERT_EQ(gap.size(), 2u);
    EXPECT_GT(gap[0].spaceAfter, 0) << "a gap follows it";
}

TEST_F(RtfParagraphs, AParagraphRunsOnIntoTheNextColumn) {
    const auto& got = s_doc->pages.back().paragraphs;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text, std::string(Story) + " " + Morning + " " + Winter);
    EXPECT_EQ(got[0].alignment, 'j');
    EXPECT_EQ(got[1].text, Winter);
}

TEST_F(RtfParagraphs, WordProcessorSeesTheSameParagraphs) {
    if (run("command -v soffice >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "LibreOffice is not installed";
    }
    ASSERT_EQ(run("cd '" + s_dir->path() + "' && soffice -env:UserInstallation=file://" +
                  s_dir->path() +
                  "/profile --headless --convert-to txt:Text paragraphs.rtf >/dev/null 2>&1"),
              0);
    std::istringstream text(readFile(s_dir->file("paragraphs.txt")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("\xEF\xBB\xBF", 0) == 0) {
            line.erase(0, 3);
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    std::vector<std::string> expected;
    for (const Case& c : cases()) {
        for (const auto& [paragraph, alignment] : c.expected) {
            expected.push_back(paragraph);
        }
    }
    expected.push_back(std::string(Story) + " " + Morning + " " + Winter);
    expected.push_back(Winter);
    EXPECT_EQ(lines, expected) << "one line of text per paragraph";
}

// The share of the paragraphs over 40 characters set from the left in the body text's size
// whose last character does not end a sentence (closing quotes and brackets set aside).
double midSentenceShare(const std::vector<RtfParagraph>& paragraphs, int halfPoints) {
    int total = 0;
    int mid = 0;
    for (const RtfParagraph& p : paragraphs) {
        std::string t = p.text;
        while (!t.empty() && (t.back() == ' ' || t.back() == ')' || t.back() == '"')) {
            t.pop_back();
        }
        if (p.halfPoints != halfPoints || t.size() <= 40 || p.alignment == 'c') {
            continue;
        }
        ++total;
        mid += std::string(".!?:;").find(t.back()) == std::string::npos;
    }
    return total ? double(mid) / total : 0;
}

TEST(RtfParagraphsCorpus, TwoColumnPaperPageReadsAsParagraphs) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    TempFolder dir;
    const int h = OpenPDF(corpus("tracemonkey.pdf").c_str(), "");
    ASSERT_GT(h, 0);
    const std::string out = dir.file("tracemonkey.rtf");
    ASSERT_EQ(ExportRTF(h, out.c_str(), 1, 1, nullptr), 1);
    ClosePDF(h);
    const RtfDocument doc = readRtf(readFile(out));
    ASSERT_TRUE(doc.valid);
    const auto& paragraphs = doc.pages[0].paragraphs;

    // The body text is 9-point: its paragraphs end with their sentences (but for the one that
    // goes on on the next page, and a copyright line).
    EXPECT_LE(midSentenceShare(paragraphs, 18), 0.25);
    int body = 0;
    bool acrossColumns = false;
    for (const RtfParagraph& p : paragraphs) {
        body += p.halfPoints == 18 && p.text.size() > 200;
        acrossColumns |= p.text.find("web programming and is used for the application logic") !=
                         std::string::npos;
        EXPECT_EQ(p.text.find("com- pile"), std::string::npos) << "hyphen at a line end";
    }
    EXPECT_GE(body, 5) << "abstract, introduction and the paragraphs of the right column";
    EXPECT_LE(body, 8);
    EXPECT_TRUE(acrossColumns) << "the introduction runs on into the right column";
    const auto heading = std::find_if(paragraphs.begin(), paragraphs.end(),
                                      [](const RtfParagraph& p) { return p.text == "Abstract"; });
    ASSERT_NE(heading, paragraphs.end()) << "the heading stays a paragraph of its own";
    EXPECT_TRUE(heading->allBold);
    EXPECT_EQ(paragraphs.front().alignment, 'c') << "the title is centred";
}

TEST(RtfParagraphsCorpus, JapaneseLinesJoinWithoutSpaces) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    TempFolder dir;
    const int h = OpenPDF(corpus("issue16063.pdf").c_str(), "");
    ASSERT_GT(h, 0);
    const std::string out = dir.file("ja.rtf");
    ASSERT_EQ(ExportRTF(h, out.c_str(), 1, 1, nullptr), 1);
    ClosePDF(h);
    const RtfDocument doc = readRtf(readFile(out));
    ASSERT_TRUE(doc.valid);
    std::vector<std::string> texts;
    for (const RtfParagraph& p : doc.pages[0].paragraphs) {
        texts.push_back(p.text);
    }
    // "デュプ" ends a printed line and "レックス" starts the next: one word.
    const auto joined = std::find_if(texts.begin(), texts.end(), [](const std::string& t) {
        return t.find("デュプレックス") != std::string::npos;
    });
    EXPECT_NE(joined, texts.end()) << "the lines of a paragraph joined without a space";
    EXPECT_NE(std::find(texts.begin(), texts.end(), "電線関係"), texts.end())
        << "a heading line stays a paragraph of its own";
}

TEST(RtfFontClasses, FamilyNamesGiveTheClass) {
    using pdftox::FontClass;
    struct NameCase {
        const char* name;
        bool serifFlag;
        FontClass cls;
    };
    for (const NameCase& c :
         {NameCase{"ABCDEF+CenturyGothic-Bold", true, FontClass::Swiss},
          NameCase{"ArialMT", true, FontClass::Swiss}, NameCase{"Calibri", true, FontClass::Swiss},
          NameCase{"Courier", true, FontClass::Modern},
          NameCase{"Monospace821BT-Roman", true, FontClass::Modern},
          NameCase{"P22Typewriter", true, FontClass::Modern},
          NameCase{"LetterGothic", false, FontClass::Modern},
          NameCase{"Times-Roman", false, FontClass::Roman},
          NameCase{"ACaslon-Regular", false, FontClass::Roman},
          NameCase{"Cambria-Bold", false, FontClass::Roman},
          NameCase{"Palatino-Roman", false, FontClass::Roman},
          NameCase{"HGPGothicE", true, FontClass::Swiss},
          NameCase{"KozMinPr6N-Regular", false, FontClass::Roman},
          NameCase{"AdobePiStd", true, FontClass::Tech},
          NameCase{"UnknownFace", false, FontClass::Swiss}}) {
        EXPECT_EQ(pdftox::describeFontName(c.name, c.serifFlag, false).face.cls, c.cls) << c.name;
    }
}

} // namespace
