// Text recognition: which pages are read with Tesseract, how well their words come through in
// the Word and HTML exports, and that pages with text of their own never change.
#include "engine_test_support.h"
#include "rtf_reader.h"
#include "tool_status.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>

using namespace engine_tests;
using testing_support::FixturePage;
using testing_support::textLine;
using testing_support::writeFixturePdf;

namespace {

const std::string app = LUMADOC_APP_DIR;

const std::vector<std::string> passage = {
    "Recognition reads the words of a page that carries",
    "no text of its own, such as a scanned contract or",
    "a letter printed and scanned again by an office.",
    "The words come back in the order a person reads",
    "them, with their lines joined into paragraphs, so",
    "that a word processor can edit them as usual.",
    "Numbers such as 1984 and 2025 survive the trip,",
    "and so do names like Ottawa, Lisbon and Nairobi.",
};

// A page of the passage: a bold heading and eight lines of Times.
FixturePage passagePage() {
    FixturePage page;
    page.content = textLine("F2", 18, 72, 720, "Quarterly Report");
    for (size_t i = 0; i < passage.size(); ++i) {
        page.content += textLine("F3", 13, 72, 680 - 18 * double(i), passage[i]);
    }
    return page;
}

std::map<std::string, int> wordsOf(const std::string& text) {
    std::map<std::string, int> words;
    std::string word;
    for (const char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += char(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            ++words[word];
            word.clear();
        }
    }
    return words;
}

// The share of the reference's words (counted with repeats, in any order) that `got` holds.
double recall(const std::string& reference, const std::string& got) {
    const std::map<std::string, int> want = wordsOf(reference);
    std::map<std::string, int> have = wordsOf(got);
    int found = 0;
    int total = 0;
    for (const auto& [word, count] : want) {
        found += std::min(count, have[word]);
        total += count;
    }
    return total ? double(found) / total : 0;
}

std::string allPassage() {
    std::string text = "Quarterly Report\n";
    for (const std::string& line : passage) {
        text += line + "\n";
    }
    return text;
}

std::string rtfText(const std::string& path) {
    std::string text;
    for (const auto& page : testing_support::readRtf(readFile(path)).pages) {
        text += page.text + "\n";
    }
    return text;
}

// The text of the HTML page's spans, and whether every span is transparent.
std::string htmlText(const std::string& html, bool* allTransparent) {
    std::map<std::string, bool> transparent;
    const std::regex style(R"(\.(s\d+)\{[^}]*\})");
    for (auto m = std::sregex_iterator(html.begin(), html.end(), style);
         m != std::sregex_iterator(); ++m) {
        transparent[(*m)[1]] = m->str().find("color:transparent") != std::string::npos;
    }
    const std::regex span(R"re(<span class="(s\d+)"[^>]*>([^<]*)</span>)re");
    std::string text;
    *allTransparent = true;
    for (auto m = std::sregex_iterator(html.begin(), html.end(), span); m != std::sregex_iterator();
         ++m) {
        text += (*m)[2].str() + "\n";
        *allTransparent = *allTransparent && transparent[(*m)[1]];
    }
    return text;
}

class Recognition : public ::testing::Test {
protected:
    void SetUp() override {
        source = dir.file("typed.pdf");
        ASSERT_TRUE(writeFixturePdf(source, {passagePage()}));
        // The same page with its letters as outlines, as some printers and converters make it.
        outlined = dir.file("out lined.pdf");
        ASSERT_EQ(
            run("gs -q -sDEVICE=pdfwrite -dNoOutputFonts -o " + q(outlined) + " " + q(source)), 0);
        // And as a scan: the page drawn at 200 dpi and put back as one picture.
        ASSERT_EQ(mkdir(dir.file("drawn").c_str(), 0700), 0);
        const int h = OpenPDF(source.c_str(), "");
        ASSERT_GT(h, 0);
        ASSERT_EQ(ExportIMG(h, dir.file("drawn").c_str(), "", PDFTOX_PNG, 200, 24, 1, 1, nullptr),
                  1);
        ClosePDF(h);
        scan = dir.file("scan.pdf");
        ASSERT_EQ(run("img2pdf " + q(dir.file("drawn/page-0001.png")) + " -o " + q(scan)), 0);
    }

    // Exports `pdf` as RTF with recognition on or off; gives the file's bytes.
    std::string exportRtf(const std::string& pdf, bool recognition, const std::string& name) {
        SetTextRecognition(recognition ? 1 : 0);
        const int h = OpenPDF(pdf.c_str(), "");
        EXPECT_GT(h, 0);
        EXPECT_EQ(ExportRTF(h, dir.file(name).c_str(), 1, 1, nullptr), 1);
        ClosePDF(h);
        SetTextRecognition(1);
        return readFile(dir.file(name));
    }

    TempFolder dir;
    std::string source, outlined, scan;
};

TEST_F(Recognition, PagesWithoutTextAreReadAndTheirWordsFlowIntoWord) {
    const std::string off = exportRtf(outlined, false, "off.rtf");
    EXPECT_LT(recall(allPassage(), rtfText(dir.file("off.rtf"))), 0.1) << "the outlines hold text";

    exportRtf(outlined, true, "outlined.rtf");
    EXPECT_GE(recall(allPassage(), rtfText(dir.file("outlined.rtf"))), 0.97)
        << rtfText(dir.file("outlined.rtf"));

    // A scan of text: its words replace the picture of them.
    const std::string scanned = exportRtf(scan, true, "scan.rtf");
    EXPECT_GE(recall(allPassage(), rtfText(dir.file("scan.rtf"))), 0.97)
        << rtfText(dir.file("scan.rtf"));
    EXPECT_EQ(testing_support::readRtf(scanned).pages.at(0).pictures, 0);
    // Its lines make paragraphs as the typed page's lines do.
    EXPECT_EQ(testing_support::readRtf(scanned).pages.at(0).paragraphs.size(),
              testing_support::readRtf(exportRtf(source, true, "typed.rtf"))
                  .pages.at(0)
                  .paragraphs.size())
        << rtfText(dir.file("scan.rtf"));
}

TEST_F(Recognition, PagesWithTextOfTheirOwnNeverChange) {
    // Real text; real text beside a small logo; a blank page; a photograph without words.
    FixturePage logo = passagePage();
    logo.pictures.push_back(testing_support::checkerPicture("Im1", 40, 40));
    logo.content += "q 60 0 0 60 480 700 cm /Im1 Do Q";
    FixturePage blank;
    FixturePage photo;
    photo.pictures.push_back(testing_support::checkerPicture("Im1", 300, 400));
    photo.content = "q 540 0 0 720 36 36 cm /Im1 Do Q";
    const std::string mixed = dir.file("mixed.pdf");
    ASSERT_TRUE(writeFixturePdf(mixed, {passagePage(), logo, blank, photo}));
    for (int page = 1; page <= 4; ++page) {
        std::string outputs[2];
        for (const int on : {0, 1}) {
            SetTextRecognition(on);
            const int h = OpenPDF(mixed.c_str(), "");
            ASSERT_GT(h, 0);
            const std::string out = dir.file("mixed" + std::to_string(on) + ".rtf");
            EXPECT_EQ(ExportRTF(h, out.c_str(), page, page, nullptr), 1);
            ClosePDF(h);
            outputs[on] = readFile(out);
        }
        EXPECT_EQ(outputs[0], outputs[1]) << "page " << page;
    }
    SetTextRecognition(1);
}

TEST_F(Recognition, HtmlGetsInvisibleWordsWhereThePageShowsThem) {
    ASSERT_EQ(mkdir(dir.file("html").c_str(), 0700), 0);
    const std::string html = dir.file("html/page.html");
    const ToolResult r =
        runTool(app + "/data/pdf2htm -f 1 " + q(outlined) + " " + q(html), dir.file("e"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string page = readFile(html);
    bool transparent = false;
    const std::string text = htmlText(page, &transparent);
    EXPECT_GE(recall(allPassage(), text), 0.97) << text;
    EXPECT_TRUE(transparent) << "recognised words lie over the page's own picture of them";
    EXPECT_NE(page.find("<img class=\"bg\""), std::string::npos);

    // Each line's first word stands where the typed page's own text puts it.
    const auto firstWordsOf = [](const std::string& file) {
        const std::regex place(R"re(style="left:([\d.]+)pt;top:([\d.]+)pt"[^>]*>(\w+))re");
        std::map<std::string, std::pair<double, double>> words;
        for (auto m = std::sregex_iterator(file.begin(), file.end(), place);
             m != std::sregex_iterator(); ++m) {
            words.emplace((*m)[3], std::make_pair(std::stod((*m)[1]), std::stod((*m)[2])));
        }
        return words;
    };
    ASSERT_EQ(
        runTool(app + "/data/pdf2htm -f 1 " + q(source) + " " + q(dir.file("html/typed.html")),
                dir.file("e"))
            .status,
        0);
    const auto typed = firstWordsOf(readFile(dir.file("html/typed.html")));
    const auto read = firstWordsOf(page);
    for (const char* word : {"Quarterly", "Recognition", "Numbers"}) {
        ASSERT_TRUE(typed.count(word) && read.count(word)) << word;
        EXPECT_NEAR(read.at(word).first, typed.at(word).first, 3) << word;
        EXPECT_NEAR(read.at(word).second, typed.at(word).second, 4) << word;
    }

    // Switched off through the environment, the page is as it would be without recognition.
    const ToolResult off = runTool("env LUMADOC_OCR=0 " + app + "/data/pdf2htm -f 1 " +
                                       q(outlined) + " " + q(dir.file("html/off.html")),
                                   dir.file("e"));
    ASSERT_EQ(off.status, 0) << off.errors;
    EXPECT_LT(recall(allPassage(), htmlText(readFile(dir.file("html/off.html")), &transparent)),
              0.1);
}

TEST_F(Recognition, FailureOrTimeLeavesThePageWithWhatItHad) {
    ASSERT_EQ(mkdir(dir.file("html").c_str(), 0700), 0);
    const std::string plain = dir.file("html/plain.html");
    ASSERT_EQ(runTool("env LUMADOC_OCR=0 " + app + "/data/pdf2htm -f 1 " + q(scan) + " " + q(plain),
                      dir.file("e"))
                  .status,
              0);
    // Tesseract without its language data cannot start: the page is converted without words.
    const std::string failed = dir.file("html/failed.html");
    const ToolResult noData = runTool("env TESSDATA_PREFIX=" + q(dir.file("none")) + " " + app +
                                          "/data/pdf2htm -f 1 " + q(scan) + " " + q(failed),
                                      dir.file("e"));
    EXPECT_EQ(noData.status, 0) << noData.errors;
    EXPECT_EQ(std::regex_replace(readFile(failed), std::regex("failed"), "plain"), readFile(plain));

    // A page whose recognition outlasts the page's time is cut short, and the run goes on.
    const ToolResult late =
        runTool("env LUMADOC_PAGE_BUDGET_MS=200 " + app + "/data/pdf2htm -f 1 " + q(scan) + " " +
                    q(dir.file("html/late.html")),
                dir.file("e"));
    EXPECT_EQ(late.status, TOOL_CUT_SHORT) << late.errors;
    EXPECT_NE(late.errors.find("page 1 is too complex"), std::string::npos) << late.errors;
}

} // namespace
