// RTF export: text per page against an independent extractor, character formatting, pictures,
// page breaks, escapes, progress and bad input.
#include "engine_test_support.h"
#include "rtf_reader.h"
#include "rtf_writer.h"
#include "symbol_fonts.h"
#include "text_model.h"
#include "utf8.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <map>
#include <regex>

using namespace engine_tests;
using testing_support::readRtf;
using testing_support::RtfDocument;
using testing_support::RtfRun;

namespace {

int g_calls = 0;
int g_lastDone = 0;
int countProgress(int, int, int done) {
    ++g_calls;
    EXPECT_GT(done, g_lastDone);
    g_lastDone = done;
    return 1;
}

/// The share of the reference's visible characters (blanks, hyphens and dot leaders aside:
/// the export turns a row of dots into a tab filled with dots) that the candidate holds too,
/// counted as multisets: order and line breaks do not matter.
double characterRecall(const std::string& referenceText, const std::string& candidate) {
    const std::string reference =
        std::regex_replace(referenceText, std::regex(R"((\.\s*){4,})"), std::string());
    std::map<char32_t, int> have;
    for (const char32_t c : pdftox::decodeUtf8(candidate)) {
        ++have[c];
    }
    int total = 0;
    int found = 0;
    for (const char32_t c : pdftox::decodeUtf8(reference)) {
        if (c <= U' ' || c == U'-' || c == 0xAD || c == 0x2010 || c == 0xC) {
            continue;
        }
        ++total;
        if (have[c] > 0) {
            --have[c];
            ++found;
        }
    }
    return total == 0 ? 1.0 : double(found) / total;
}

const RtfRun* findRun(const testing_support::RtfPage& page, const std::string& text) {
    for (const RtfRun& run : page.runs) {
        if (run.text.find(text) != std::string::npos) {
            return &run;
        }
    }
    return nullptr;
}

class RtfExport : public ::testing::Test {
protected:
    void SetUp() override {
        pdf = dir.file("styled.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(pdf, styledPages(), "Styled fixture"));
        handle = OpenPDF(pdf.c_str(), "");
        ASSERT_GT(handle, 0);
        g_calls = 0;
        g_lastDone = 0;
    }
    void TearDown() override { ClosePDF(handle); }

    TempFolder dir;
    std::string pdf;
    int handle = 0;
};

TEST_F(RtfExport, TextStylesPicturesAndPagesSurvive) {
    const std::string out = dir.file("letter é.rtf");
    EXPECT_EQ(ExportRTF(handle, out.c_str(), 1, 3, countProgress), 3);
    EXPECT_EQ(g_calls, 3);
    EXPECT_EQ(g_lastDone, 3);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"letter é.rtf", "styled.pdf"}));

    const std::string raw = readFile(out);
    const RtfDocument doc = readRtf(raw);
    ASSERT_TRUE(doc.valid);
    ASSERT_EQ(doc.pages.size(), 3u);

    const auto& page = doc.pages[0];
    const RtfRun* heading = findRun(page, "Heading Bold");
    ASSERT_NE(heading, nullptr);
    EXPECT_TRUE(heading->bold);
    EXPECT_FALSE(heading->italic);
    EXPECT_EQ(heading->halfPoints, 40);
    EXPECT_EQ(heading->font, "Arial");

    const RtfRun* italic = findRun(page, "Italic words here");
    ASSERT_NE(italic, nullptr);
    EXPECT_TRUE(italic->italic);
    EXPECT_FALSE(italic->bold);
    EXPECT_EQ(italic->halfPoints, 24);
    EXPECT_EQ(italic->font, "Times New Roman");

    const RtfRun* plain = findRun(page, "Plain body text in Times.");
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->bold || plain->italic);

    EXPECT_NE(findRun(page, "Café naïve façade € 5"), nullptr) << "non-ASCII letters intact";
    EXPECT_NE(raw.find("\\u233?"), std::string::npos) << "written as \\u escapes";
    EXPECT_NE(raw.find("\\u8364?"), std::string::npos);

    const RtfRun* red = findRun(page, "Red warning");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->red, 255);
    EXPECT_EQ(red->green, 0);
    EXPECT_EQ(red->blue, 0);

    EXPECT_EQ(page.pictures, 1);
    const size_t before = page.text.find("Red warning");
    const size_t picture = page.text.find("[picture]");
    const size_t after = page.text.find("After the picture");
    EXPECT_LT(before, picture);
    EXPECT_LT(picture, after) << "the picture stands where it is in the flow";

    EXPECT_NE(doc.pages[1].text.find("Second page text"), std::string::npos);
    EXPECT_NE(doc.pages[2].text.find("Rotated page words"), std::string::npos);
    EXPECT_NE(raw.find("\\pgwsxn15840\\pghsxn12240"), std::string::npos)
        << "landscape page keeps its shape";
    EXPECT_NE(raw.find("{\\title Styled fixture}"), std::string::npos);
}

TEST_F(RtfExport, RangesProgressAndFailures) {
    const std::string out = dir.file("range.doc");
    EXPECT_EQ(ExportRTF(handle, out.c_str(), 0, 2, countProgress), 2);
    EXPECT_EQ(g_lastDone, 3) << "page 0 counts as done";
    RtfDocument doc = readRtf(readFile(out));
    ASSERT_TRUE(doc.valid);
    ASSERT_EQ(doc.pages.size(), 2u);
    EXPECT_EQ(doc.pages[1].text.find("Rotated"), std::string::npos);

    EXPECT_EQ(ExportRTF(handle, out.c_str(), 3, 1, nullptr), 0);
    doc = readRtf(readFile(out));
    EXPECT_TRUE(doc.valid) << "an empty range still gives a document a word processor opens";

    EXPECT_EQ(ExportRTF(handle, dir.file("missing/x.rtf").c_str(), 1, 3, nullptr),
              PDFTOX_WRITE_FAILED);
    EXPECT_EQ(ExportRTF(handle, "", 1, 3, nullptr), PDFTOX_BAD_ARGUMENT);
    EXPECT_EQ(ExportRTF(-4, out.c_str(), 1, 3, nullptr), PDFTOX_BAD_HANDLE);
}

// Which fonts' codes are read as Wingdings or Symbol pictures, and which are left alone.
TEST(RtfText, SymbolFontCodesByTheFontsName) {
    using pdftox::SymbolFamily;
    const auto mapped = [](const char* font, char32_t c, bool latinCodesAreOwn = false) {
        return pdftox::symbolCharacter(pdftox::symbolFamilyOf(font), c, latinCodesAreOwn);
    };
    EXPECT_EQ(mapped("ABCDEF+Wingdings-Regular", U'l'), U'\u25CF');
    EXPECT_EQ(mapped("Wingdings", 0xF0FC), U'\u2714') << "the private-use codes";
    EXPECT_EQ(mapped("Wingdings", U' '), U' ');
    EXPECT_EQ(mapped("Wingdings2", U'P'), U'P') << "another font's pictures";
    EXPECT_EQ(mapped("Wingdings-3", U'P'), U'P');
    EXPECT_EQ(mapped("SymbolMT", U'a'), U'\u03B1');
    EXPECT_EQ(mapped("Symbol", 0xF0E5), U'\u2211');
    EXPECT_EQ(mapped("Symbol", U'\u00D7'), U'\u00D7') << "already Unicode: ×";
    EXPECT_EQ(mapped("Symbol", U'\u00B3', true), U'\u2265')
        << "a font read through a wrong encoding: its ³ is its ≥";
    EXPECT_EQ(mapped("Symbol", U'\u03B1'), U'\u03B1');
    EXPECT_EQ(mapped("Symbol", U'3'), U'3');
    for (const char* other : std::initializer_list<const char*>{
             "Symbola", "OpenSymbol", "SymbolNeu", "Arial", "", nullptr}) {
        EXPECT_EQ(pdftox::symbolFamilyOf(other), SymbolFamily::None) << (other ? other : "none");
    }
}

TEST(RtfText, EscapesAndFontNames) {
    using pdftox::RtfWriter;
    EXPECT_EQ(RtfWriter::escapeText(U"a\\b{c}d"), "a\\\\b\\{c\\}d");
    EXPECT_EQ(RtfWriter::escapeText(U"é\u00a0\t"), "\\u233?\\~\\tab ");
    EXPECT_EQ(RtfWriter::escapeText(U"日"), "\\u26085?");
    EXPECT_EQ(RtfWriter::escapeText(U"\uFFFF"), "\\u-1?");
    EXPECT_EQ(RtfWriter::escapeText(U"\U0001F600"), "\\u-10179?\\u-8704?");

    struct Case {
        const char* name;
        const char* family;
        bool bold;
        bool italic;
    };
    for (const Case& c :
         {Case{"ABCDEF+TimesNewRomanPS-BoldItalicMT", "Times New Roman", true, true},
          Case{"Helvetica-Oblique", "Arial", false, true}, Case{"ArialMT", "Arial", false, false},
          Case{"CMBX10", "Times New Roman", true, false},
          Case{"CMTI10", "Times New Roman", false, true},
          Case{"Courier-Bold", "Courier New", true, false},
          Case{"MinionPro-Regular", "Minion Pro", false, false},
          Case{"QWERTY+KozMinPro-Regular", "Koz Min Pro", false, false}}) {
        const pdftox::FontNameInfo info = pdftox::describeFontName(c.name, true, false);
        EXPECT_EQ(info.face.family, c.family) << c.name;
        EXPECT_EQ(info.bold, c.bold) << c.name;
        EXPECT_EQ(info.italic, c.italic) << c.name;
    }
}

TEST(RtfCorpus, TextOfEachPageMatchesAnIndependentExtractor) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    TempFolder dir;
    struct Case {
        const char* file;
        int first;
        int last;
        int figurePage = 0; // a page whose diagram, labels and all, becomes one picture
    };
    // tracemonkey's page 2 holds Figure 2, a diagram of some thirty labels: they are drawn in
    // its picture, about 6 % of the page's characters.
    for (const Case& c : {Case{"tracemonkey.pdf", 1, 4, 2}, Case{"TAMReview.pdf", 1, 1},
                          Case{"issue16063.pdf", 1, 1}, Case{"javauninstall-7r.pdf", 1, 1},
                          Case{"prefilled_f1040.pdf", 1, 1}}) {
        const int h = OpenPDF(corpus(c.file).c_str(), "");
        ASSERT_GT(h, 0) << c.file;
        const std::string out = dir.file(std::string(c.file) + ".rtf");
        EXPECT_EQ(ExportRTF(h, out.c_str(), c.first, c.last, nullptr), c.last - c.first + 1);
        ClosePDF(h);
        const RtfDocument doc = readRtf(readFile(out));
        ASSERT_TRUE(doc.valid) << c.file;
        ASSERT_EQ(doc.pages.size(), size_t(c.last - c.first + 1)) << c.file;
        for (int p = c.first; p <= c.last; ++p) {
            const std::string reference =
                output("pdftotext -q -enc UTF-8 -f " + std::to_string(p) + " -l " +
                       std::to_string(p) + " '" + corpus(c.file) + "' -");
            const double recall = characterRecall(reference, doc.pages[size_t(p - c.first)].text);
            EXPECT_GT(recall, p == c.figurePage ? 0.92 : 0.97) << c.file << " page " << p;
        }
    }
}

// Exports the first `pages` pages of `pdf` as `name` (an RTF file under any extension) in
// `dir`, and has LibreOffice convert it there `to` another format ("txt:Text", "pdf").
bool throughLibreOffice(const TempFolder& dir, const std::string& pdf, int pages,
                        const std::string& name, const std::string& to) {
    const int h = OpenPDF(pdf.c_str(), "");
    const int written = ExportRTF(h, dir.file(name).c_str(), 1, pages, nullptr);
    ClosePDF(h);
    return written == pages &&
           run("cd '" + dir.path() + "' && soffice -env:UserInstallation=file://" + dir.path() +
               "/profile --headless --convert-to " + to + " '" + name + "' >/dev/null 2>&1") == 0;
}

TEST(RtfCorpus, WordProcessorReadsTheOutput) {
    if (run("command -v soffice >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "LibreOffice is not installed";
    }
    TempFolder dir;
    const std::string pdf = dir.file("styled.pdf");
    ASSERT_TRUE(testing_support::writeFixturePdf(pdf, styledPages()));
    ASSERT_TRUE(throughLibreOffice(dir, pdf, 3, "styled.doc", "txt:Text"));
    const std::string text = readFile(dir.file("styled.txt"));
    for (const char* words :
         {"Heading Bold", "Café naïve façade € 5", "After the picture", "Rotated page words"}) {
        EXPECT_NE(text.find(words), std::string::npos) << words;
    }
}

// What the export made of a PDF written for a test: the RTF as written and as read back.
struct Exported {
    std::string raw;
    RtfDocument doc;
};

// Exports the `pages` pages of `pdf` to RTF and reads the RTF back; the test fails when the
// export or the reading does.
Exported exportWhole(const TempFolder& dir, const std::string& pdf, int pages) {
    Exported out;
    const int handle = OpenPDF(pdf.c_str(), "");
    EXPECT_GT(handle, 0) << pdf;
    const std::string rtf = dir.file("export.rtf");
    EXPECT_EQ(ExportRTF(handle, rtf.c_str(), 1, pages, nullptr), pages) << pdf;
    ClosePDF(handle);
    out.raw = readFile(rtf);
    out.doc = readRtf(out.raw);
    EXPECT_TRUE(out.doc.valid) << pdf;
    EXPECT_EQ(out.doc.pages.size(), size_t(pages)) << pdf;
    return out;
}

// Writes `pages` as a fixture PDF and exports it with exportWhole.
Exported exportFixture(const TempFolder& dir,
                       const std::vector<testing_support::FixturePage>& pages) {
    const std::string pdf = dir.file("fixture.pdf");
    EXPECT_TRUE(testing_support::writeFixturePdf(pdf, pages));
    return exportWhole(dir, pdf, int(pages.size()));
}

// Accents set as glyphs of their own over a letter, as TeX sets them, and a raised exponent.
TEST(RtfTypesetting, AccentsComposeAndExponentsAreRaised) {
    TempFolder dir;
    testing_support::FixturePage page;
    using testing_support::textLine;
    // Helvetica: "caf" is 16.008 pt wide at 12 pt, "e" 6.672 pt; the acute (4 pt) is centred
    // over the "e" and drawn before it, the pen moving back for the letter.
    page.content = textLine("F1", 12, 72, 700, "caf") + textLine("F1", 12, 89.34, 700, "\xB4") +
                   textLine("F1", 12, 88.008, 700, "e au lait") +
                   textLine("F1", 12, 72, 680, "na") + textLine("F1", 12, 84.68, 680, "\xA8") +
                   textLine("F1", 12, 85.344, 680, "ive") + textLine("F1", 12, 72, 660, "E = mc") +
                   textLine("F1", 8, 109.68, 665, "2") + textLine("F1", 12, 114.2, 660, " holds");
    const Exported exported = exportFixture(dir, {page});

    const std::string& raw = exported.raw;
    const RtfDocument& doc = exported.doc;
    ASSERT_EQ(doc.pages.size(), 1u);
    const std::string& text = doc.pages[0].text;
    EXPECT_NE(text.find("café au lait"), std::string::npos) << text;
    EXPECT_NE(text.find("naïve"), std::string::npos) << text;
    EXPECT_EQ(text.find("\xC2\xB4"), std::string::npos) << "no acute left on its own: " << text;
    EXPECT_EQ(text.find("\xC2\xA8"), std::string::npos) << "no diaeresis left on its own";
    // The exponent is its own raised run, at the line's size (a word processor shrinks it).
    EXPECT_NE(raw.find("\\fs24\\super 2}"), std::string::npos) << raw;
    EXPECT_NE(text.find("mc2 holds"), std::string::npos) << text;
}

TEST(RtfTypesetting, DotLeadersBecomeOneTabFilledWithDots) {
    TempFolder dir;
    testing_support::FixturePage page;
    using testing_support::textLine;
    page.content =
        textLine("F1", 12, 72, 700, "Wages, salaries, tips . . . . . . . . . . . 1,234") +
        textLine("F1", 12, 72, 680, "Interest..................................  56") +
        textLine("F1", 12, 72, 640, "..........................................") +
        textLine("F1", 12, 72, 600, "Wait... and see.");
    const Exported exported = exportFixture(dir, {page});

    const std::string& raw = exported.raw;
    EXPECT_NE(raw.find("Wages, salaries, tips\\tab 1,234"), std::string::npos) << raw;
    EXPECT_NE(raw.find("Interest\\tab 56"), std::string::npos) << raw;
    EXPECT_NE(raw.find("\\tqr\\tldot\\tx"), std::string::npos);
    EXPECT_EQ(raw.find("...."), std::string::npos) << "no paragraph of dots: " << raw;
    EXPECT_NE(raw.find("Wait... and see."), std::string::npos) << "an ellipsis stays";
}

// A page whose only text is a label, and a filled-in form field beside it whose value and tick
// are drawn by the field's appearance, as form fillers save them.
void writeFilledForm(const std::string& path) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 612 792] /Resources << /Font << >> >> >>"));
    page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
    page.replaceKey("/Contents", pdf.newStream("BT /F1 12 Tf 72 700 Td (Your first name:) Tj ET"));
    QPDFObjectHandle appearance = pdf.newStream("/Tx BMC BT /F1 12 Tf 2 5 Td (foobar) Tj ET EMC");
    appearance.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Form /BBox [0 0 150 20] /Resources << /Font << >> >> >>"));
    appearance.getDict().getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
    QPDFObjectHandle field = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (foobar) /F 4 "
        "/Rect [180 695 330 715] /AP << >> >>"));
    field.getKey("/AP").replaceKey("/N", appearance);
    page.replaceKey("/Annots", QPDFObjectHandle::newArray({field}));
    QPDFObjectHandle acroForm = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< >>"));
    acroForm.replaceKey("/Fields", QPDFObjectHandle::newArray({field}));
    pdf.getRoot().replaceKey("/AcroForm", acroForm);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(pdf, path.c_str());
    writer.write();
}

TEST(RtfTypesetting, FilledFormFieldsShowTheirValues) {
    TempFolder dir;
    const std::string pdf = dir.file("form.pdf");
    writeFilledForm(pdf);
    const Exported exported = exportWhole(dir, pdf, 1);
    const RtfDocument& doc = exported.doc;
    ASSERT_EQ(doc.pages.size(), 1u);
    EXPECT_NE(doc.pages[0].text.find("Your first name:"), std::string::npos);
    EXPECT_NE(doc.pages[0].text.find("foobar"), std::string::npos) << doc.pages[0].text;
}

// Bullets and arrows in Wingdings and Greek in a Symbol font, neither embedded nor mapped to
// Unicode by the PDF, as office programs write them.
TEST(RtfTypesetting, SymbolFontsGiveTheirOwnCharacters) {
    TempFolder dir;
    const std::string path = dir.file("symbols.pdf");
    {
        QPDF pdf;
        pdf.emptyPDF();
        const auto font = [&](const char* name) {
            QPDFObjectHandle descriptor = pdf.makeIndirectObject(QPDFObjectHandle::parse(
                std::string("<< /Type /FontDescriptor /FontName /") + name +
                " /Flags 4 /FontBBox [0 -200 1000 900] /ItalicAngle 0 /Ascent 900 /Descent -200 "
                "/CapHeight 700 /StemV 80 >>"));
            QPDFObjectHandle f = pdf.makeIndirectObject(QPDFObjectHandle::parse(
                std::string("<< /Type /Font /Subtype /TrueType /BaseFont /") + name +
                " /FirstChar 32 /LastChar 255 >>"));
            f.replaceKey("/FontDescriptor", descriptor);
            return f;
        };
        QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 612 792] /Resources << /Font << >> >> >>"));
        QPDFObjectHandle fonts = page.getKey("/Resources").getKey("/Font");
        fonts.replaceKey("/W", font("Wingdings-Regular"));
        fonts.replaceKey("/S", font("SymbolMT"));
        fonts.replaceKey("/W2", font("Wingdings2"));
        page.replaceKey("/Contents", pdf.newStream("BT /W 12 Tf 72 700 Td (l n v) Tj ET "
                                                   "BT /S 12 Tf 72 670 Td (abg = 3) Tj ET "
                                                   "BT /W2 12 Tf 72 640 Td (P) Tj ET"));
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
        QPDFWriter writer(pdf, path.c_str());
        writer.write();
    }
    const Exported exported = exportWhole(dir, path, 1);
    ASSERT_EQ(exported.doc.pages.size(), 1u);
    const std::string& text = exported.doc.pages[0].text;
    EXPECT_NE(text.find("\u25CF \u25A0 \u2756"), std::string::npos) << text;   // ● ■ ❖
    EXPECT_NE(text.find("\u03B1\u03B2\u03B3 = 3"), std::string::npos) << text; // αβγ = 3
    EXPECT_NE(text.find("P"), std::string::npos) << "Wingdings 2 has codes of its own: " << text;
    EXPECT_NE(exported.raw.find("Segoe UI Symbol"), std::string::npos);
}

TEST(RtfTypesetting, PicturesStandWhereThePageShowsThemWhateverTheDrawingOrder) {
    TempFolder dir;
    testing_support::FixturePage page;
    using testing_support::textLine;
    // The text first, the picture last in the content, though it stands between the lines.
    page.content = textLine("F3", 12, 72, 700, "Above the figure.") +
                   textLine("F3", 12, 72, 300, "Below the figure.") +
                   "q 200 0 0 200 72 400 cm /Im1 Do Q\n";
    page.pictures.push_back(testing_support::checkerPicture("Im1", 16, 16));
    // And a picture drawn first that stands at the foot of the page.
    testing_support::FixturePage second;
    second.content =
        "q 100 0 0 100 72 80 cm /Im1 Do Q\n" + textLine("F3", 12, 72, 700, "Text at the top.");
    second.pictures.push_back(testing_support::checkerPicture("Im1", 16, 16));
    const Exported exported = exportFixture(dir, {page, second});
    const RtfDocument& doc = exported.doc;
    ASSERT_EQ(doc.pages.size(), 2u);
    const std::string& one = doc.pages[0].text;
    EXPECT_LT(one.find("Above the figure."), one.find("[picture]")) << one;
    EXPECT_LT(one.find("[picture]"), one.find("Below the figure.")) << one;
    const std::string& two = doc.pages[1].text;
    EXPECT_LT(two.find("Text at the top."), two.find("[picture]")) << two;
}

TEST(RtfTypesetting, ADrawingWithItsLabelsBecomesOnePictureAndTextStaysText) {
    TempFolder dir;
    testing_support::FixturePage page;
    using testing_support::textLine;
    // A diagram: two boxes joined by an arrow, a label in each box; an ellipse alone below it;
    // and a ruled box around a paragraph of text, which stays text.
    page.content =
        textLine("F3", 12, 72, 740, "The diagram below shows the flow.") +
        "0 0 1 RG 2 w 100 560 120 60 re S 300 560 120 60 re S "
        "220 590 m 300 590 l S 290 595 m 300 590 l 290 585 l S\n" +
        textLine("F1", 10, 120, 585, "Parser") + textLine("F1", 10, 320, 585, "Emitter") +
        "1 0 0 rg 200 400 m 200 455 255 500 310 500 c 365 500 420 455 420 400 c "
        "420 345 365 300 310 300 c 255 300 200 345 200 400 c f\n" +
        textLine("F3", 12, 72, 260, "Between the drawings.") + "0 G 1 w 70 90 470 120 re S\n";
    for (int i = 0; i < 6; ++i) {
        page.content += textLine("F3", 12, 80, 190 - 16 * i,
                                 "A boxed paragraph of text that a reader wants to edit, line " +
                                     std::to_string(i + 1) + ".");
    }
    const Exported exported = exportFixture(dir, {page});
    const RtfDocument& doc = exported.doc;
    ASSERT_EQ(doc.pages.size(), 1u);
    const std::string& text = doc.pages[0].text;
    EXPECT_EQ(doc.pages[0].pictures, 2) << text;
    EXPECT_EQ(text.find("Parser"), std::string::npos) << "the labels are in the picture";
    const size_t intro = text.find("The diagram below");
    const size_t first = text.find("[picture]");
    const size_t second = text.find("[picture]", first + 1);
    const size_t between = text.find("Between the drawings.");
    EXPECT_LT(intro, first) << text;
    EXPECT_LT(first, second) << text;
    EXPECT_LT(second, between) << text;
    EXPECT_NE(text.find("line 6."), std::string::npos) << "the boxed text stays text";
    EXPECT_LT(between, text.find("A boxed paragraph")) << text;
}

// A page set in two columns flows in two columns, its lines as far apart as printed; a page
// of one column stays one column.
TEST(RtfTypesetting, TwoColumnPagesKeepTheirColumnsAndLeading) {
    TempFolder dir;
    using testing_support::textLine;
    testing_support::FixturePage twoColumns;
    for (int column = 0; column < 2; ++column) {
        for (int i = 0; i < 40; ++i) {
            twoColumns.content += textLine("F3", 10, column == 0 ? 54 : 324, 740 - 12 * i,
                                           "Words of a column line, number " + std::to_string(i) +
                                               " and some more to fill.");
        }
    }
    testing_support::FixturePage oneColumn;
    for (int i = 0; i < 40; ++i) {
        oneColumn.content += textLine("F3", 10, 54, 740 - 12 * i,
                                      "One long line across the whole page, with words enough to "
                                      "reach the far side, number " +
                                          std::to_string(i) + ".");
    }
    // A paper's first page: its title across the top, above the two columns.
    testing_support::FixturePage headed = twoColumns;
    headed.content = textLine("F3", 18, 150, 770, "A Title Set Across Both Columns Above Them") +
                     twoColumns.content;
    const Exported exported = exportFixture(dir, {twoColumns, oneColumn, headed});
    const std::string& raw = exported.raw;
    const size_t second = raw.find("\\sect\\sectd");
    ASSERT_NE(second, std::string::npos);
    const std::string first = raw.substr(0, second);
    const size_t third = raw.find("\\sect\\sectd\\sbkpage", second + 1);
    ASSERT_NE(third, std::string::npos);
    const std::string rest = raw.substr(second, third - second);
    const std::string last = raw.substr(third);
    EXPECT_EQ(first.find("\\sbknone"), std::string::npos);
    const size_t title = last.find("A Title Set Across");
    const size_t columns = last.find("\\sect\\sectd\\sbknone");
    ASSERT_NE(columns, std::string::npos) << last;
    EXPECT_LT(title, columns);
    EXPECT_EQ(last.substr(0, columns).find("\\cols2"), std::string::npos) << "the title's width";
    EXPECT_NE(last.find("\\cols2", columns), std::string::npos);
    EXPECT_LT(columns, last.find("number 0 "));
    std::smatch gap;
    ASSERT_TRUE(std::regex_search(first, gap, std::regex("\\\\cols2\\\\colsx(\\d+)"))) << first;
    // The columns' text ends near 54 + 235 = 289 pt and starts again at 324 pt.
    EXPECT_NEAR(std::stoi(gap[1]), (324 - 289) * 20, 200);
    EXPECT_EQ(rest.find("\\cols2"), std::string::npos);
    EXPECT_EQ(raw.find("\\trowd"), std::string::npos) << "columns of text are not a table";
    EXPECT_NE(first.find("\\sl-240\\slmult0"), std::string::npos) << "12 pt from line to line";
    EXPECT_NE(exported.doc.pages[0].text.find("number 39"), std::string::npos);
}

// A table of benchmarks whose head runs over two lines, a note in one row between two
// columns and an empty cell, above a numbered list whose marks stand apart from the items' text
// as a column would.
testing_support::FixturePage tablePage() {
    using testing_support::textLine;
    testing_support::FixturePage page;
    const std::vector<std::vector<std::string>> rows = {
        {"Benchmark", "Time", "Speedup over"}, {"", "", "the interpreter"},
        {"crypto-md5", "12 ms", "2.5"},        {"string-tagcloud", "187 ms", "0.9"},
        {"3d-morph", "31 ms", "4.1"},          {"richards", "", "1.2"}};
    const int columns[] = {72, 250, 400};
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < 3; ++c) {
            if (!rows[r][c].empty()) {
                page.content += textLine("F1", 10, columns[c], 700 - 12 * int(r), rows[r][c]);
            }
        }
    }
    page.content += textLine("F1", 10, 330, 700 - 12 * 3, "n.a.");
    for (int i = 1; i <= 3; ++i) {
        page.content += textLine("F1", 10, 72, 560 - 12 * i, std::to_string(i) + ".");
        page.content += textLine("F1", 10, 100, 560 - 12 * i,
                                 "An item of a numbered list, which is no table at all.");
    }
    return page;
}

TEST(RtfTypesetting, ATableWhoseCellsLineUpBecomesATable) {
    TempFolder dir;
    const testing_support::FixturePage page = tablePage();
    const Exported exported = exportFixture(dir, {page});
    const std::string& raw = exported.raw;

    std::vector<std::string> definitions;
    const std::regex definition("\\\\trowd[^\\n]*");
    for (auto it = std::sregex_iterator(raw.begin(), raw.end(), definition);
         it != std::sregex_iterator(); ++it) {
        definitions.push_back(it->str());
    }
    ASSERT_EQ(definitions.size(), 5u) << "the head's two lines are one row: " << raw;
    std::smatch edges;
    ASSERT_TRUE(std::regex_search(definitions[0], edges,
                                  std::regex("trleft(-?\\d+)\\\\cellx(\\d+)\\\\cellx(\\d+)"
                                             "\\\\cellx(\\d+)$")))
        << definitions[0];
    // Measured from the margin (36 pt): the columns start at 72, 250 and 400 pt.
    EXPECT_NEAR(std::stoi(edges[1]), (72 - 36) * 20, 60);
    EXPECT_GT(std::stoi(edges[2]), (150 - 36) * 20); // in the gap after "string-tagcloud"
    EXPECT_LT(std::stoi(edges[2]), (250 - 36) * 20);
    EXPECT_GT(std::stoi(edges[3]), (290 - 36) * 20);
    EXPECT_LT(std::stoi(edges[3]), (400 - 36) * 20);
    EXPECT_NE(raw.find("Speedup over the interpreter}\\cell"), std::string::npos) << raw;
    EXPECT_NE(raw.find("string-tagcloud}\\cell"), std::string::npos);
    EXPECT_NE(raw.find("187 ms\\tab n.a.}\\cell"), std::string::npos) << raw;
    // An empty cell in the smallest size, so that its row is no taller than its text.
    EXPECT_NE(raw.find("richards}\\cell\n\\pard\\plain\\intbl\\fs2\\cell"), std::string::npos);
    EXPECT_EQ(raw.find("\\intbl{\\f0\\fs20 An item"), std::string::npos) << "lists stay lists";
    EXPECT_NE(exported.doc.pages[0].text.find("An item of a numbered list"), std::string::npos);
}

// Running text set in narrow columns side by side, or beside a sidebar, lines up row by row
// as a table would; its lines go on with their sentences from row to row, and it stays text.
// So does a list of references, whose labels stand apart like a column.
TEST(RtfTypesetting, RunningTextSideBySideIsNoTable) {
    TempFolder dir;
    using testing_support::textLine;
    const std::string prose =
        "the quick brown fox jumps over the lazy dog while the farmer watches from the old "
        "wooden gate and wonders whether the rain will come before the harvest is done or "
        "whether the dry weather will hold for another week of work in the fields ";
    // Lines of about `chars` characters, cut between words, from the prose over and over.
    const auto linesOf = [&](size_t chars, int count) {
        std::vector<std::string> lines;
        std::string text;
        while (text.size() < chars * size_t(count) + chars) {
            text += prose;
        }
        size_t at = 0;
        for (int i = 0; i < count; ++i) {
            size_t end = std::min(text.size(), at + chars);
            end = text.rfind(' ', end);
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return lines;
    };
    testing_support::FixturePage columns;
    for (int column = 0; column < 3; ++column) {
        const auto lines = linesOf(32, 50);
        for (int i = 0; i < 50; ++i) {
            columns.content += textLine("F3", 9, 40 + 185 * column, 750 - 11 * i,
                                        lines[size_t(column * 7 + i) % lines.size()]);
        }
    }
    testing_support::FixturePage sidebar;
    const auto main = linesOf(75, 40);
    const auto side = linesOf(26, 40);
    for (int i = 0; i < 40; ++i) {
        sidebar.content += textLine("F3", 10, 40, 750 - 13 * i, main[size_t(i)]);
        sidebar.content += textLine("F3", 10, 430, 750 - 13 * i, side[size_t(i)]);
    }
    // A list of references, their labels standing apart from the entries.
    testing_support::FixturePage references;
    for (int i = 0; i < 12; ++i) {
        references.content +=
            textLine("F3", 10, 40, 750 - 13 * i, "[" + std::to_string(i + 1) + "]") +
            textLine("F3", 10, 70, 750 - 13 * i, "A. Author. A paper about tracing, 2009.");
    }
    const Exported exported = exportFixture(dir, {columns, sidebar, references});
    EXPECT_EQ(exported.raw.find("\\trowd"), std::string::npos) << exported.raw.substr(0, 3000);
    EXPECT_NE(exported.doc.pages[0].text.find("the quick brown fox"), std::string::npos);
}

// LibreOffice sets the table's rows with their cells side by side, and a page whose title
// stands across its two columns on one page.
TEST(RtfCorpus, WordProcessorLaysOutTablesAndColumns) {
    if (run("command -v soffice >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "LibreOffice is not installed";
    }
    TempFolder dir;
    using testing_support::textLine;
    testing_support::FixturePage headed;
    headed.content = textLine("F3", 18, 150, 770, "A Title Set Across Both Columns Above Them");
    for (int column = 0; column < 2; ++column) {
        for (int i = 0; i < 40; ++i) {
            headed.content += textLine("F3", 10, column == 0 ? 54 : 324, 730 - 12 * i,
                                       "Words of a column line, number " + std::to_string(i) +
                                           " and some more to fill.");
        }
    }
    const std::string pdf = dir.file("laid out.pdf");
    ASSERT_TRUE(testing_support::writeFixturePdf(pdf, {tablePage(), headed}));
    ASSERT_TRUE(throughLibreOffice(dir, pdf, 2, "laid.rtf", "pdf"));
    ASSERT_EQ(
        run("pdftotext -layout '" + dir.file("laid.pdf") + "' '" + dir.file("laid.txt") + "'"), 0);
    const std::string text = readFile(dir.file("laid.txt"));
    EXPECT_TRUE(std::regex_search(text, std::regex("string-tagcloud +187 ms +n\\.a\\. +0\\.9")))
        << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("crypto-md5 +12 ms +2\\.5"))) << text;
    // Two pages, as in the PDF: the title and both columns share the second.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 2) << text;
    const size_t second = text.find('\f');
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(text.find("A Title Set Across", second), std::string::npos);
    EXPECT_NE(text.find("number 39", second), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex("number 0 and some more to fill\\. +Words of")))
        << "the columns side by side";
}

// A chart: many short labels beside bars on a white ground that covers a whole column. It
// becomes one picture; the column's paragraph below it stays text.
TEST(RtfTypesetting, AChartWithManyShortLabelsBecomesOnePicture) {
    TempFolder dir;
    using testing_support::textLine;
    testing_support::FixturePage page;
    page.content = "1 1 1 rg 306 0 306 792 re f 0 0 0 rg\n";
    for (int i = 0; i < 30; ++i) {
        const int y = 740 - 12 * i;
        page.content += textLine("F1", 6, 320, y, "benchmark-name-" + std::to_string(10 + i));
        page.content += "0 0 1 rg 400 " + std::to_string(y) + " " + std::to_string(20 + 5 * i) +
                        " 9 re f 0 0 0 rg\n";
    }
    page.content += "0 G 0.5 w 398 380 m 398 750 l S 312 370 290 385 re S\n";
    for (int i = 0; i < 6; ++i) {
        page.content += textLine("F3", 10, 320, 300 - 12 * i,
                                 "A paragraph under the chart that the reader edits, line " +
                                     std::to_string(i + 1) + ".");
    }
    for (int i = 0; i < 30; ++i) {
        page.content +=
            textLine("F3", 10, 54, 740 - 12 * i,
                     "The left column's text goes on here, line " + std::to_string(i + 1) + ".");
    }
    const Exported exported = exportFixture(dir, {page});
    const std::string& text = exported.doc.pages[0].text;
    EXPECT_EQ(exported.doc.pages[0].pictures, 1) << text;
    EXPECT_EQ(text.find("benchmark-name"), std::string::npos) << "the labels are in the picture";
    EXPECT_NE(text.find("edits, line 6."), std::string::npos) << text;
    EXPECT_NE(text.find("goes on here, line 30."), std::string::npos) << text;
}

// A typeface that is rarely installed is named by the common family of its class, so that a
// word processor does not fall back to one of its own choice; common families keep their name.
// The RTF that the writer makes of one page.
std::string written(const TempFolder& dir, const pdftox::PageModel& page) {
    pdftox::RtfWriter writer;
    writer.addPage(page);
    const std::string path = dir.file("page.rtf");
    writer.finish(path);
    return readFile(path);
}

TEST(RtfText, RareTypefacesAreNamedByACommonFamily) {
    TempFolder dir;
    pdftox::PageModel page;
    pdftox::Paragraph para;
    for (const char* name :
         {"ABCDEF+ACaslon-Regular", "Calibri-Bold", "GillSans-Light", "ZapfDingbats"}) {
        pdftox::Run run;
        run.face = pdftox::describeFontName(name, false, false).face;
        run.text.push_back(U'x');
        para.runs.push_back(run);
    }
    page.items.emplace_back(para);
    const std::string raw = written(dir, page);
    const std::string table = raw.substr(0, raw.find("{\\colortbl"));
    EXPECT_NE(table.find("\\froman\\fcharset0\\fprq2 Times New Roman;"), std::string::npos)
        << table;
    EXPECT_EQ(table.find("Caslon"), std::string::npos) << table;
    EXPECT_NE(table.find("\\fswiss\\fcharset0\\fprq2 Calibri{\\*\\falt Arial};"), std::string::npos)
        << table;
    EXPECT_NE(table.find("\\fswiss\\fcharset0\\fprq2 Arial;"), std::string::npos) << table;
    EXPECT_NE(table.find("Segoe UI Symbol"), std::string::npos) << "dingbats come as Unicode";
}

// A table near the right edge of its page moves left to fit between the margins, its edges
// from left to right; a table that ends the page is followed by a paragraph, where the page's
// break goes.
TEST(RtfText, TablesStayBetweenTheMarginsAndEndWithAParagraph) {
    TempFolder dir;
    pdftox::PageModel page; // US Letter with margins of 720 twips: 10 800 twips of text
    pdftox::Table table;
    table.leftTwips = 11000;
    table.cellRightTwips = {11500, 11500, 12100};
    pdftox::Paragraph cell;
    pdftox::Run run;
    run.text = U"7";
    cell.runs.push_back(run);
    table.rows.push_back({{{cell}, {}, {cell}}});
    page.items.emplace_back(table);
    const std::string raw = written(dir, page);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        raw, m, std::regex(R"(\\trleft(-?\d+)\\cellx(\d+)\\cellx(\d+)\\cellx(\d+)\n)")))
        << raw;
    const int left = std::stoi(m[1]);
    EXPECT_GE(left, -40);
    EXPECT_LT(left, std::stoi(m[2]));
    EXPECT_LT(std::stoi(m[2]), std::stoi(m[3]));
    EXPECT_LT(std::stoi(m[3]), std::stoi(m[4]));
    EXPECT_LE(std::stoi(m[4]), 10800);
    EXPECT_NE(raw.find("\\row\n\\pard\\plain\\fs2\\par"), std::string::npos) << raw;
    EXPECT_TRUE(readRtf(raw).valid);
}

// A form: a ruled grid over most of the page with many short labels, its title drawn after
// its footnotes. The labels stay text, and the title comes first.
TEST(RtfTypesetting, AFormKeepsItsLabelsAsTextAndItsTitleFirst) {
    TempFolder dir;
    using testing_support::textLine;
    testing_support::FixturePage page;
    page.content = "0 G 0.5 w 50 150 512 520 re S\n";
    for (int row = 0; row < 26; ++row) {
        const int y = 650 - 20 * row;
        page.content +=
            "50 " + std::to_string(y - 6) + " m 562 " + std::to_string(y - 6) + " l S\n";
        page.content += textLine("F1", 9, 56, y, std::to_string(row + 1) + " label of row");
        page.content += textLine("F1", 9, 320, y, "amount " + std::to_string(row + 1));
    }
    page.content += textLine("F3", 8, 56, 120, "1) A footnote under the form.");
    page.content += textLine("F2", 16, 150, 720, "Certificate of Salary 2019");
    const Exported exported = exportFixture(dir, {page});
    const std::string& text = exported.doc.pages[0].text;
    EXPECT_EQ(exported.doc.pages[0].pictures, 0) << "the form is not a picture: " << text;
    EXPECT_NE(text.find("26 label of row"), std::string::npos) << text;
    const size_t title = text.find("Certificate of Salary 2019");
    EXPECT_LT(title, text.find("1 label of row")) << text;
    EXPECT_LT(title, text.find("1) A footnote")) << text;
}

} // namespace
