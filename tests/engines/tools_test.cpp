// The outside programs: the pdftk-compatible tool, pdf2htm, pdf2swf and the Text command lines
// with poppler's pdftotext, each run as the conversions run them and checked with independent
// readers.
#include "engine_test_support.h"

#include "page_pipeline.h"
#include "tool_status.h"

#include "platform/command_line.h"
#include "platform/process.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <zlib.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace engine_tests;
using testing_support::FixturePage;
using testing_support::textLine;
using testing_support::writeFixturePdf;

namespace {

const std::string app = LUMADOC_APP_DIR;

int pageCount(const std::string& pdf) {
    QPDF doc;
    doc.processFile(pdf.c_str());
    return int(QPDFPageDocumentHelper(doc).getAllPages().size());
}

std::string pageText(const std::string& pdf, int page) {
    return output("pdftotext -q -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" +
                  pdf + "' -");
}

FixturePage markedPage(const std::string& marker) {
    FixturePage p;
    p.content = textLine("F1", 24, 72, 700, marker);
    return p;
}

class PdftkTool : public ::testing::Test {
protected:
    void SetUp() override {
        a = dir.file("first é.pdf");
        b = dir.file("second.pdf");
        ASSERT_TRUE(writeFixturePdf(
            a, {markedPage("AlphaOne"), markedPage("AlphaTwo"), markedPage("AlphaThree")}));
        ASSERT_TRUE(writeFixturePdf(b, {markedPage("BetaOne"), markedPage("BetaTwo")}));
    }
    std::string encrypt(const std::string& user, const std::string& how) {
        const std::string out = dir.file("locked " + how + ".pdf");
        EXPECT_EQ(run("qpdf --allow-weak-crypto --encrypt '" + user + "' 'the owner' " + how +
                      " -- '" + a + "' '" + out + "'"),
                  0);
        return out;
    }
    ToolResult tool(const std::string& tail, const char* which = "/data/pdftk") {
        return runTool(app + which + " " + tail, dir.file("stderr.txt"));
    }

    TempFolder dir;
    std::string a;
    std::string b;
};

TEST_F(PdftkTool, DecryptsWithUserOrOwnerPassword) {
    for (const std::string how : {"256", "128 --use-aes=n"}) {
        const std::string locked = encrypt("pa\"ss word\\", how);
        for (const std::string password : {"pa\"ss word\\", "the owner"}) {
            const std::string out = dir.file("open copy ü.pdf");
            std::remove(out.c_str());
            const ToolResult r =
                tool(q(locked) + " input_pw " + q(password) + " output " + q(out) + " dont_ask");
            ASSERT_EQ(r.status, 0) << r.errors;
            QPDF doc;
            doc.processFile(out.c_str());
            EXPECT_FALSE(doc.isEncrypted()) << how;
            EXPECT_EQ(pageCount(out), 3);
            EXPECT_NE(pageText(out, 2).find("AlphaTwo"), std::string::npos);
        }
        const std::string out = dir.file("never.pdf");
        const ToolResult wrong =
            tool(q(locked) + " input_pw " + q("nope") + " output " + q(out) + " dont_ask");
        EXPECT_EQ(wrong.status, 1);
        EXPECT_EQ(std::count(wrong.errors.begin(), wrong.errors.end(), '\n'), 1) << wrong.errors;
        EXPECT_FALSE(std::ifstream(out).good()) << "a failed run leaves no output";
    }
    EXPECT_TRUE(listFolder(dir.path()).size() > 0);
    for (const std::string& name : listFolder(dir.path())) {
        EXPECT_EQ(name.find(".part-"), std::string::npos) << "no temporary file is left: " << name;
    }
}

// Passwords that are words of the grammar, and a password read from the input ("PROMPT"),
// which keeps it out of the process list.
TEST_F(PdftkTool, KeywordPasswordsAndPasswordsOnTheInput) {
    for (const std::string how : {"256", "128 --use-aes=n", "40"}) {
        for (const std::string password : {"output", "cat", "PROMPT", "naïve ✓"}) {
            const std::string locked = encrypt(password, how);
            const std::string out = dir.file("open.pdf");
            std::remove(out.c_str());
            // On the command line "PROMPT" asks for the input, as in pdftk.
            if (password != "PROMPT") {
                const ToolResult r = tool(q(locked) + " input_pw " + q(password) + " output " +
                                          q(out) + " dont_ask");
                EXPECT_EQ(r.status, 0) << how << " " << password << ": " << r.errors;
                std::remove(out.c_str());
            }
            EXPECT_EQ(run("printf '%s\\n' " + q(password) + " | " + q(app + "/pdftk") + " " +
                          q(locked) + " input_pw PROMPT output " + q(out) + " dont_ask"),
                      0)
                << how << " " << password;
            EXPECT_EQ(pageCount(out), 3);
        }
    }
}

TEST_F(PdftkTool, JoinsAllPagesInOrder) {
    const std::string out = dir.file("joined.pdf");
    const ToolResult r = tool(q(a) + " " + q(b) + " cat output " + q(out) + " dont_ask", "/pdftk");
    ASSERT_EQ(r.status, 0) << r.errors;
    ASSERT_EQ(pageCount(out), 5);
    const char* order[] = {"AlphaOne", "AlphaTwo", "AlphaThree", "BetaOne", "BetaTwo"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(pageText(out, i + 1).find(order[i]), std::string::npos) << "page " << i + 1;
    }
    // The assembly's pattern: the running file joined with the next page, into the next name.
    const std::string next = dir.file("tmp2.pdf");
    ASSERT_EQ(tool(q(out) + " " + q(b) + " cat output " + q(next) + " dont_ask", "/pdftk").status,
              0);
    EXPECT_EQ(pageCount(next), 7);
}

TEST_F(PdftkTool, UpdatesDocumentInformationAndDropsStaleMetadata) {
    // An input with XMP metadata that would contradict the new information.
    const std::string withXmp = dir.file("xmp.pdf");
    {
        QPDF doc;
        doc.processFile(a.c_str());
        QPDFObjectHandle xmp =
            QPDFObjectHandle::newStream(&doc, "<x:xmpmeta><dc:title>Old</dc:title></x:xmpmeta>");
        doc.getRoot().replaceKey("/Metadata", xmp);
        QPDFWriter w(doc, withXmp.c_str());
        w.write();
    }
    const std::string info = dir.file("info.txt");
    std::ofstream(info, std::ios::binary)
        << "InfoKey: Title\r\nInfoValue: Mon Album « été » 名前\r\n"
        << "InfoKey: Author\r\nInfoValue: A, \"quoted\" author\r\n"
        << "InfoKey: CreationDate\r\nInfoValue: D:20090601140509-06'00\r\n"
        << "InfoKey: ModDate\r\nInfoValue: typed by hand\r\n"
        << "InfoKey: Subject\r\nInfoValue: \r\n"
        << "InfoKey: Keywords\r\nInfoValue: caf\xe9 &#8364;\r\n"
        << "InfoKey: Creator\r\nInfoValue: Lumadoc\r\n"
        << "InfoKey: Producer\r\nInfoValue: Lumadoc\r\n";
    const std::string out = dir.file("tmpx.pdf");
    const ToolResult r =
        tool(q(withXmp) + " update_info " + q(info) + " output " + q(out) + " dont_ask", "/pdftk");
    ASSERT_EQ(r.status, 0) << r.errors;

    QPDF doc;
    doc.processFile(out.c_str());
    QPDFObjectHandle dict = doc.getTrailer().getKey("/Info");
    ASSERT_TRUE(dict.isDictionary());
    EXPECT_EQ(dict.getKey("/Title").getUTF8Value(), "Mon Album « été » 名前");
    EXPECT_EQ(dict.getKey("/Author").getUTF8Value(), "A, \"quoted\" author");
    EXPECT_EQ(dict.getKey("/CreationDate").getUTF8Value(), "D:20090601140509-06'00");
    EXPECT_EQ(dict.getKey("/ModDate").getUTF8Value(), "typed by hand");
    EXPECT_FALSE(dict.hasKey("/Subject")) << "an empty value removes the key";
    EXPECT_EQ(dict.getKey("/Keywords").getUTF8Value(), "café €")
        << "Windows-1252 bytes and pdftk's entities";
    EXPECT_EQ(dict.getKey("/Producer").getUTF8Value(), "Lumadoc");
    EXPECT_FALSE(doc.getRoot().hasKey("/Metadata"));
    EXPECT_EQ(pageCount(out), 3);
}

TEST_F(PdftkTool, RefusesWhatItDoesNotUnderstand) {
    const std::string out = dir.file("out.pdf");
    for (const std::string& tail : {std::string(""), q(a), q(a) + " cat 1-2 output " + q(out),
                                    "A=" + q(a) + " cat output " + q(out), q(a) + " output",
                                    q(a) + " " + q(b) + " update_info x output " + q(out),
                                    q(a) + " output " + q(out) + " owner_pw x",
                                    q(dir.file("missing.pdf")) + " output " + q(out),
                                    q(a) + " output " + q(dir.file("no/such/folder/out.pdf"))}) {
        const ToolResult r = tool(tail);
        EXPECT_NE(r.status, 0) << tail;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1)
            << tail << ": " << r.errors;
    }
    EXPECT_FALSE(std::ifstream(out).good());
}

// The input is a FIFO: the tool blocks on it where its work starts, until the test has read its
// process list entry and hands it the document. By then the password must be masked.
TEST(PdftkPassword, LeavesTheProcessListEarly) {
    TempFolder dir;
    const std::string plain = dir.file("plain.pdf");
    ASSERT_TRUE(writeFixturePdf(plain, {markedPage("Hidden")}));
    const std::string locked = dir.file("locked.pdf");
    ASSERT_EQ(run("qpdf --encrypt 'Secret-Word' owner 256 -- '" + plain + "' '" + locked + "'"), 0);
    const std::string fifo = dir.file("in.pdf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = dir.file("out.pdf");
    const qint64 pid = platform::StartHidden(
        QString::fromStdString(app + "/data/pdftk " + q(fifo) +
                               " input_pw \"Secret-Word\" output " + q(out) + " dont_ask"));
    ASSERT_GT(pid, 0);

    // Opening for writing succeeds once the tool has opened the FIFO to read the document.
    int fd = -1;
    bool toolEnded = false;
    while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && errno == ENXIO) {
        siginfo_t info{};
        toolEnded =
            waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
        if (toolEnded) {
            break;
        }
        std::this_thread::yield();
    }
    ASSERT_FALSE(toolEnded) << "the tool ended without reading its input";
    ASSERT_GE(fd, 0) << std::strerror(errno);

    // The process list as another user would read it: the arguments separated by NULs.
    using namespace std::string_literals;
    std::string seen;
    {
        std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        seen.assign(std::istreambuf_iterator<char>(cmdline), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(seen.find("input_pw\0xxxxxxxxxxx\0output"s), std::string::npos)
        << "the password is masked in place: " << seen;
    EXPECT_EQ(seen.find("Secret-Word"), std::string::npos);

    fcntl(fd, F_SETFL, 0);
    const std::string bytes = readFile(locked);
    // A tool that stops reading must fail the test, not end it with SIGPIPE.
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            break;
        }
        written += size_t(n);
    }
    ::close(fd);
    std::signal(SIGPIPE, oldPipe);
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(platform::WaitForProcessEnd(pid), 0);
    EXPECT_NE(pageText(out, 1).find("Hidden"), std::string::npos) << "decrypted as usual";
}

// ---- pdf2htm -----------------------------------------------------------------------------

std::string stripTags(const std::string& html) {
    const size_t start = html.find("<body>");
    std::string body = start == std::string::npos ? html : html.substr(start);
    body = std::regex_replace(body, std::regex("<script>[\\s\\S]*?</script>"), "");
    body = std::regex_replace(body, std::regex("<[^>]*>"), "");
    for (const auto& [entity, c] : {std::pair<const char*, const char*>{"&lt;", "<"},
                                    {"&gt;", ">"},
                                    {"&quot;", "\""},
                                    {"&amp;", "&"}}) {
        body = std::regex_replace(body, std::regex(entity), c);
    }
    return body;
}

std::string pageDiv(const std::string& html, int page) {
    const size_t start = html.find("<div class=\"page\" id=\"p" + std::to_string(page) + "\"");
    if (start == std::string::npos) {
        return {};
    }
    return html.substr(start, html.find("</div>", start) - start);
}

TEST(Pdf2htm, TextStylesAndPlacesOfTheWords) {
    TempFolder dir;
    const std::string pdf = dir.file("in put é.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, styledPages()));
    const std::string folder = dir.file("in put");
    run("mkdir -p '" + folder + "'");
    const std::string html = folder + "/in put.html";
    const ToolResult r =
        runTool(app + "/data/pdf2htm  -f 1 " + q(pdf) + " " + q(html) + " ", dir.file("err"));
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(r.errors.empty());
    const std::string page = readFile(html);
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);

    const std::string first = pageDiv(page, 1);
    EXPECT_NE(first.find("style=\"width:612pt;height:792pt\""), std::string::npos);
    EXPECT_NE(pageDiv(page, 2).find("style=\"width:792pt;height:612pt\""), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        first, m,
        std::regex(
            "class=\"s(\\d+)\" style=\"left:([\\d.]+)pt;top:([\\d.]+)pt\"[^>]*>Heading Bold<")));
    EXPECT_NEAR(std::stod(m[2]), 72, 0.5);
    const std::regex rule("\\.s" + m[1].str() + "\\{([^}]*)\\}");
    std::smatch css;
    ASSERT_TRUE(std::regex_search(page, css, rule));
    // A browser puts the baseline of a line of height 1 below its top by half of what the
    // font's ascent and descent leave of the line, and the ascent. The heading is set in the
    // web font of the font the page is drawn with (MuPDF's own Helvetica).
    const std::string declarations = css[1].str();
    std::smatch family;
    ASSERT_TRUE(std::regex_search(declarations, family, std::regex("font-family:'(lf\\d+)'")));
    const std::string webFont = readFile(folder + "/in put-" + family[1].str() + ".ttf");
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(webFont.data()),
                                 FT_Long(webFont.size()), 0, &face),
              0);
    const double em = face->units_per_EM;
    const double below = (1 + face->ascender / em + face->descender / em) / 2;
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    EXPECT_NEAR(std::stod(m[3]), 792 - 700 - below * 20, 0.05)
        << "the top of the line, from the baseline at 700";
    EXPECT_NE(css[1].str().find("font-weight:bold"), std::string::npos);
    EXPECT_NE(css[1].str().find("font-size:20pt"), std::string::npos);
    EXPECT_NE(css[1].str().find("sans-serif"), std::string::npos);

    const std::string text = stripTags(page);
    for (const char* words : {"Italic words here", "Café naïve façade € 5", "Red warning",
                              "Second page text", "Rotated page words"}) {
        EXPECT_NE(text.find(words), std::string::npos) << words;
    }
    EXPECT_NE(page.find("color:#ff0000"), std::string::npos);
    // The picture lies in the page's background image, beside the HTML file.
    ASSERT_NE(first.find("<img class=\"bg\" src=\"in put-1.png\""), std::string::npos);
    const Decoded bg = decodePng(folder + "/in put-1.png");
    ASSERT_TRUE(bg.ok);
    EXPECT_EQ(bg.width, 1224);
}

// A TrueType font embedded in the PDF comes with the HTML as a web font whose characters lead to
// the glyphs the page shows, also where the PDF's own character map names other characters (an
// "A" whose character is given as "!", as in charts of some word processors).
TEST(Pdf2htm, EmbeddedTrueTypeFontsBecomeWebFonts) {
    TempFolder dir;
    const std::string ttf = readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    ASSERT_FALSE(ttf.empty()) << "needs fonts-dejavu-core";
    const std::string content = "BT /F1 24 Tf 72 700 Td (Hello AAA) Tj ET";
    const std::string toUnicode =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Odd def "
        "1 begincodespacerange <00> <FF> endcodespacerange 1 beginbfchar <41> <0021> endbfchar "
        "endcmap CMapName currentdict /CMap defineresource pop end end";
    const std::string pdf = dir.file("embedded.pdf");
    std::ofstream(pdf, std::ios::binary) << testing_support::assemblePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources "
         "<< /Font << /F1 5 0 R >> >> >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+DejaVuSans /Encoding "
         "/WinAnsiEncoding /FontDescriptor 6 0 R /ToUnicode 8 0 R >>",
         "<< /Type /FontDescriptor /FontName /ABCDEF+DejaVuSans /Flags 32 /FontBBox [-1021 -463 "
         "1793 1232] /ItalicAngle 0 /Ascent 928 /Descent -236 /CapHeight 729 /StemV 80 "
         "/FontFile2 7 0 R >>",
         "<< /Length " + std::to_string(ttf.size()) + " >>\nstream\n" + ttf + "\nendstream",
         "<< /Length " + std::to_string(toUnicode.size()) + " >>\nstream\n" + toUnicode +
             "\nendstream"},
        "/Root 1 0 R");
    ASSERT_EQ(mkdir(dir.file("web").c_str(), 0700), 0);
    const std::string html = dir.file("web/embedded.html");
    const ToolResult r =
        runTool(app + "/data/pdf2htm -f 1 " + q(pdf) + " " + q(html), dir.file("e"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string page = readFile(html);
    EXPECT_NE(page.find(">Hello !!!<"), std::string::npos) << page;
    EXPECT_NE(page.find("@font-face{font-family:'lf1';src:url('embedded-lf1.ttf') "
                        "format('truetype')}"),
              std::string::npos);
    EXPECT_TRUE(std::regex_search(page, std::regex(R"(\.s\d+\{font-family:'lf1',)")));

    // Read back with FreeType: each character shown leads to the glyph the page draws for it.
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face original = nullptr;
    FT_Face web = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(ttf.data()),
                                 FT_Long(ttf.size()), 0, &original),
              0);
    const std::string webBytes = readFile(dir.file("web/embedded-lf1.ttf"));
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(webBytes.data()),
                                 FT_Long(webBytes.size()), 0, &web),
              0);
    EXPECT_STREQ(web->family_name, "lf1");
    for (const char c : std::string("Helo")) {
        EXPECT_EQ(FT_Get_Char_Index(web, FT_ULong(c)), FT_Get_Char_Index(original, FT_ULong(c)))
            << c;
    }
    EXPECT_EQ(FT_Get_Char_Index(web, '!'), FT_Get_Char_Index(original, 'A'));
    EXPECT_EQ(FT_Get_Char_Index(web, 'Z'), 0u) << "characters the page does not show are left out";
    FT_Done_Face(web);
    FT_Done_Face(original);

    // Bare CFF fonts (the tax form's Type 1C fonts) are wrapped as OpenType fonts whose
    // characters lead to glyphs with their widths.
    if (haveCorpus()) {
        const std::string form = dir.file("web/form.html");
        ASSERT_EQ(runTool(app + "/data/pdf2htm -f 2 -l 2 " + q(corpus("prefilled_f1040.pdf")) +
                              " " + q(form),
                          dir.file("e"))
                      .status,
                  0);
        int cff = 0;
        int mapped = 0;
        for (const std::string& name : listFolder(dir.file("web"))) {
            const std::string bytes = readFile(dir.file("web/" + name));
            if (name.rfind("form-lf", 0) != 0 || bytes.compare(0, 4, "OTTO") != 0) {
                continue;
            }
            ++cff;
            FT_Face face = nullptr;
            ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(bytes.data()),
                                         FT_Long(bytes.size()), 0, &face),
                      0)
                << name;
            FT_UInt glyph = 0;
            const FT_ULong shown = FT_Get_First_Char(face, &glyph);
            if (glyph != 0) {
                ++mapped;
                EXPECT_EQ(FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE), 0) << name << " " << shown;
                EXPECT_GT(face->glyph->metrics.horiAdvance, 0) << name << " " << shown;
            }
            FT_Done_Face(face);
        }
        // The body text's fonts; FreeType does not map the few symbols of the CID-keyed ones.
        EXPECT_GE(cff, 6);
        EXPECT_GE(mapped, 4);
    }
    FT_Done_FreeType(library);
}

// A Type 1 font, which browsers do not load, becomes a TrueType web font of its outlines: the
// glyphs keep their widths, their contours and their extents. URW Gothic stands in for the
// Century Gothic that such documents name.
TEST(Pdf2htm, Type1FontsBecomeTrueTypeWebFonts) {
    TempFolder dir;
    const std::string type1 = readFile("/usr/share/fonts/type1/urw-base35/URWGothic-Book.t1");
    ASSERT_FALSE(type1.empty()) << "needs fonts-urw-base35";
    const std::string content = "BT /F1 24 Tf 72 700 Td (Gothic Qa&8) Tj ET";
    const std::string pdf = dir.file("type1.pdf");
    std::ofstream(pdf, std::ios::binary) << testing_support::assemblePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources "
         "<< /Font << /F1 5 0 R >> >> >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /Font /Subtype /Type1 /BaseFont /CenturyGothic /Encoding /WinAnsiEncoding "
         "/FontDescriptor 6 0 R >>",
         "<< /Type /FontDescriptor /FontName /CenturyGothic /Flags 32 /FontBBox [-200 -300 1200 "
         "1000] /ItalicAngle 0 /Ascent 740 /Descent -200 /CapHeight 740 /StemV 80 /FontFile 7 0 "
         "R >>",
         "<< /Length " + std::to_string(type1.size()) + " /Length1 " +
             std::to_string(type1.size()) + " /Length2 0 /Length3 0 >>\nstream\n" + type1 +
             "\nendstream"},
        "/Root 1 0 R");
    const std::string html = dir.file("type1.html");
    const ToolResult r = runTool(app + "/data/pdf2htm " + q(pdf) + " " + q(html), dir.file("e"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string page = readFile(html);
    EXPECT_NE(page.find("src:url('type1-lf1.ttf') format('truetype')"), std::string::npos) << page;
    EXPECT_NE(page.find(">Gothic Qa&amp;8<"), std::string::npos);

    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face original = nullptr;
    FT_Face web = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(type1.data()),
                                 FT_Long(type1.size()), 0, &original),
              0);
    const std::string webBytes = readFile(dir.file("type1-lf1.ttf"));
    ASSERT_EQ(webBytes.compare(0, 4, std::string("\0\1\0\0", 4)), 0) << "TrueType outlines";
    ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(webBytes.data()),
                                 FT_Long(webBytes.size()), 0, &web),
              0);
    for (const char c : std::string("GothicQa&8")) {
        const FT_UInt mine = FT_Get_Char_Index(web, FT_ULong(c));
        ASSERT_NE(mine, 0u) << c;
        ASSERT_EQ(
            FT_Load_Glyph(original, FT_Get_Char_Index(original, FT_ULong(c)), FT_LOAD_NO_SCALE), 0);
        const FT_Glyph_Metrics expected = original->glyph->metrics;
        const short contours = original->glyph->outline.n_contours;
        ASSERT_EQ(FT_Load_Glyph(web, mine, FT_LOAD_NO_SCALE), 0) << c;
        const FT_Glyph_Metrics got = web->glyph->metrics;
        EXPECT_EQ(got.horiAdvance, expected.horiAdvance) << c;
        EXPECT_EQ(web->glyph->outline.n_contours, contours) << c;
        // The curves become quadratic ones within a font unit of the cubic ones.
        EXPECT_NEAR(got.horiBearingX, expected.horiBearingX, 2) << c;
        EXPECT_NEAR(got.horiBearingY, expected.horiBearingY, 2) << c;
        EXPECT_NEAR(got.width, expected.width, 3) << c;
        EXPECT_NEAR(got.height, expected.height, 3) << c;
    }
    EXPECT_EQ(FT_Get_Char_Index(web, 'Z'), 0u) << "characters the page does not show are left out";
    FT_Done_Face(web);
    FT_Done_Face(original);
    FT_Done_FreeType(library);
}

// Glyphs that a browser cannot show as the page does (dingbats, a Type 3 font's pictures, a
// character of private use) are drawn into the background; real text stays text, and a
// dingbat's character stays as invisible text, found by a search.
TEST(Pdf2htm, GlyphsWithoutLettersAreDrawnIntoTheBackground) {
    TempFolder dir;
    const std::string content = "BT /F1 12 Tf 20 150 Td (Plain words) Tj ET\n"
                                "BT /F2 24 Tf 20 100 Td (kkk) Tj ET\n"
                                "BT /F3 24 Tf 200 100 Td (ab) Tj ET\n"
                                "0 0 0 rg 20 40 300 0.1 re f\n"
                                "0 0 0 rg 380 20 0.3 0.3 re f\n";
    const std::string square = "1000 0 0 0 1000 1000 d1 0 0 1000 1000 re f";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 200] /Contents 4 0 R /Resources "
        "<< /Font << /F1 5 0 R /F2 6 0 R /F3 7 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>",
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 "
        "0] /CharProcs << /sq 8 0 R >> /Encoding << /Type /Encoding /Differences [97 /sq /sq] "
        ">> /FirstChar 97 /LastChar 98 /Widths [1000 1000] /Resources << >> /ToUnicode 9 0 R >>",
        "<< /Length " + std::to_string(square.size()) + " >>\nstream\n" + square + "\nendstream",
        // a: U+E000 (private use, nothing to write), b: "x" (a real letter, kept invisibly)
        "<< /Length 96 >>\nstream\n"
        "/CIDInit /ProcSet findresource begin 2 beginbfchar <61> <E000> <62> <0078> endbfchar end"
        "                \nendstream"};
    const std::string pdf = dir.file("glyphs.pdf");
    std::ofstream(pdf, std::ios::binary) << testing_support::assemblePdf(objects, "/Root 1 0 R");
    const std::string html = dir.file("glyphs.html");
    const ToolResult r = runTool(app + "/data/pdf2htm " + q(pdf) + " " + q(html), dir.file("err"));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string page = readFile(html);
    const std::string text = stripTags(page);
    EXPECT_NE(text.find("Plain words"), std::string::npos);
    EXPECT_EQ(text.find("kkk"), std::string::npos) << "dingbat codes are not letters";
    EXPECT_EQ(text.find("\xee\x80\x80"), std::string::npos) << "private use is not written";
    EXPECT_NE(text.find("x"), std::string::npos) << "the Type 3 glyph's letter stays findable";
    EXPECT_NE(page.find("color:transparent"), std::string::npos);

    // The background (twice the page's size in points) holds the dingbats, the squares and the
    // rule, but not the plain words, which stay text.
    const Decoded bg = decodePng(dir.file("glyphs-1.png"));
    ASSERT_TRUE(bg.ok);
    ASSERT_EQ(bg.width, 800);
    const auto darkIn = [&bg](int x0, int y0, int x1, int y1) {
        int dark = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const size_t at = (size_t(y) * size_t(bg.width) + size_t(x)) * 3;
                dark += bg.rgb[at] < 128 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(darkIn(40, 152, 160, 200), 200) << "the dingbats";
    EXPECT_GT(darkIn(400, 152, 496, 200), 2000) << "the Type 3 squares";
    EXPECT_EQ(darkIn(40, 70, 200, 100), 0) << "the plain words are text only";
    // A rule a tenth of a point thin, as forms draw them, is a line and not a faint smear.
    EXPECT_GT(darkIn(40, 316, 640, 324), 550) << "the thin rule";
    EXPECT_EQ(darkIn(756, 356, 766, 366), 0) << "a speck is no rule";
}

// Pages are worked on several threads and delivered in order. A page that cannot be read
// arrives empty and the run goes on; a page whose output cannot be written (a full disk) ends
// the run with that error, so that no tool reports a page it lost as done.
TEST(PageRuns, APageThatCannotBeWrittenFailsTheRun) {
    TempFolder dir;
    const std::string pdf = dir.file("pages.pdf");
    ASSERT_TRUE(
        testing_support::writeFixturePdf(pdf, std::vector<testing_support::FixturePage>(8)));
    std::vector<int> delivered;
    const auto work = [](fz_context*, fz_document*, int page) {
        if (page == 2) {
            throw std::runtime_error("a damaged page");
        }
        if (page == 5) {
            throw pdftox::WriteError("cannot write page 5", ENOSPC);
        }
        return page;
    };
    const auto deliver = [&](int page, std::optional<int>&& result) {
        delivered.push_back(result ? *result : -page);
        return true;
    };
    EXPECT_THROW(pdftox::runPages<int>({pdf, ""}, 1, 8, work, deliver), pdftox::WriteError);
    EXPECT_EQ(delivered, (std::vector<int>{1, -2, 3, 4}));
    delivered.clear();
    EXPECT_TRUE(pdftox::runPages<int>({pdf, ""}, 6, 8, work, deliver));
    EXPECT_EQ(delivered, (std::vector<int>{6, 7, 8}));
}

// None of the converting tools writes its output over its input, named as it is or through a
// link; each says so on one line, with the status of a command-line mistake.
TEST(Tools, NeverWriteOverTheirInput) {
    TempFolder dir;
    const std::string pdf = dir.file("in put.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, styledPages()));
    const std::string original = readFile(pdf);
    ASSERT_EQ(symlink(pdf.c_str(), dir.file("link.swf").c_str()), 0);
    for (const std::string& line :
         {"data/pdf2htm -f 1 " + q(pdf) + " " + q(pdf), "data/pdf2swf " + q(pdf) + " -o " + q(pdf),
          "data/pdf2swf " + q(pdf) + " -o " + q(dir.file("link.swf")),
          "pdftotext " + q(pdf) + " " + q(pdf)}) {
        const ToolResult r = runTool(app + "/" + line, dir.file("e"));
        EXPECT_EQ(r.status, TOOL_USAGE) << line;
        EXPECT_NE(r.errors.find("the output would be written over the input\n"), std::string::npos)
            << r.errors;
        EXPECT_EQ(readFile(pdf), original) << line;
    }
}

TEST(Pdf2htm, PageRangeErrorsAndCorpusText) {
    TempFolder dir;
    const std::string pdf = dir.file("styled.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, styledPages()));
    const std::string html = dir.file("two.html");
    ASSERT_EQ(
        runTool(app + "/data/pdf2htm  -f 2 -l 2 " + q(pdf) + " " + q(html) + " ", dir.file("e"))
            .status,
        0);
    const std::string two = readFile(html);
    EXPECT_TRUE(pageDiv(two, 1).empty());
    EXPECT_FALSE(pageDiv(two, 2).empty());
    EXPECT_TRUE(pageDiv(two, 3).empty());

    for (const std::string& bad :
         {"-f 1 " + q(dir.file("missing.pdf")) + " " + q(dir.file("x.html")),
          "-f 1 " + q(pdf) + " " + q(dir.file("no/folder/x.html")),
          "-f 9 " + q(pdf) + " " + q(dir.file("x.html")), "-f abc " + q(pdf) + " x.html",
          "-f 1 " + q(pdf)}) {
        const ToolResult r = runTool(app + "/data/pdf2htm " + bad, dir.file("e"));
        EXPECT_NE(r.status, 0) << bad;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << bad << ": " << r.errors;
    }
    EXPECT_FALSE(std::ifstream(dir.file("x.html")).good());

    if (!haveCorpus()) {
        return;
    }
    const std::string out = dir.file("tm.html");
    ASSERT_EQ(
        runTool(app + "/data/pdf2htm -f 1 -l 3 " + q(corpus("tracemonkey.pdf")) + " " + q(out),
                dir.file("e"))
            .status,
        0);
    const std::string tm = readFile(out);
    for (int p = 1; p <= 3; ++p) {
        const std::string reference = pageText(corpus("tracemonkey.pdf"), p);
        const std::string ours = stripTags(pageDiv(tm, p));
        size_t found = 0;
        size_t total = 0;
        std::istringstream words(reference);
        std::string word;
        while (words >> word) {
            ++total;
            found += ours.find(word) != std::string::npos;
        }
        EXPECT_GT(double(found) / double(total), 0.9) << "page " << p;
    }
    const std::string review = dir.file("review.html");
    // Its pages from the third on would be read by recognition, which is tested on its own.
    ASSERT_EQ(runTool("env LUMADOC_OCR=0 " + app + "/data/pdf2htm -f 1 " +
                          q(corpus("TAMReview.pdf")) + " " + q(review),
                      dir.file("e"))
                  .status,
              0);
    EXPECT_NE(readFile(review).find("<a href=\"http"), std::string::npos) << "links stay links";
}

// ---- pdf2swf -----------------------------------------------------------------------------

struct SwfInfo {
    bool ok = false;
    char signature = 0;
    int version = 0;
    int width = 0, height = 0; // twips
    int frameRate = 0;         // 8.8
    int frameCount = 0;
    int bitmaps = 0, showFrames = 0, buttons = 0, actions = 0;
    int jpegs = 0;
    std::vector<std::string> shapes; // each DefineShape3's records, without its id
    /// A glyph of a DefineText(2), where the stage shows it: its origin and em size in twips.
    struct Glyph {
        int font = 0, index = 0;
        double x = 0, y = 0, height = 0;
        uint32_t rgba = 0;
    };
    std::vector<std::vector<Glyph>> texts; ///< each text's glyphs, in order
    int textsPlaced = 0;
    std::map<int, int> fontGlyphs; ///< glyphs by font id
    int brokenGlyphs = 0;          ///< glyph outlines that do not decode, or lie far off the em
    bool undefinedGlyph = false;   ///< a text names a font not defined before it, or no glyph of it
    /// Each colour-mapped bitmap: its pixels decoded (one colour table index a pixel) and its
    /// colour table (RGB), or empty when the bitmap is damaged.
    struct Mapped {
        int width = 0, height = 0;
        std::string table;
        std::vector<uint8_t> pixels;
    };
    std::vector<Mapped> mapped;
};

SwfInfo::Mapped decodeMapped(const std::string& tag) {
    SwfInfo::Mapped m;
    if (tag.size() < 8 || uint8_t(tag[2]) != 3) {
        return m;
    }
    const int width = uint8_t(tag[3]) | uint8_t(tag[4]) << 8;
    const int height = uint8_t(tag[5]) | uint8_t(tag[6]) << 8;
    const int colors = uint8_t(tag[7]) + 1;
    const size_t rowBytes = (size_t(width) + 3) & ~size_t(3);
    std::vector<uint8_t> raw(size_t(colors) * 3 + rowBytes * size_t(height));
    uLongf size = uLongf(raw.size());
    if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(tag.data() + 8),
                   uLong(tag.size() - 8)) != Z_OK ||
        size != raw.size()) {
        return m;
    }
    m.width = width;
    m.height = height;
    m.table.assign(raw.begin(), raw.begin() + colors * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + size_t(colors) * 3 + rowBytes * size_t(y);
        m.pixels.insert(m.pixels.end(), row, row + width);
    }
    return m;
}

/// Bit fields of a tag, most significant bit first.
struct TagBits {
    const std::string& d;
    size_t bit = 0;
    uint32_t u(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            const size_t at = bit / 8;
            v = (v << 1) | (at < d.size() ? (uint8_t(d[at]) >> (7 - bit % 8)) & 1u : 0u);
        }
        return v;
    }
    int32_t s(int n) {
        const uint32_t v = u(n);
        return n > 0 && (v & (1u << (n - 1))) ? int32_t(v | ~((1u << n) - 1)) : int32_t(v);
    }
    void align() { bit = (bit + 7) / 8 * 8; }
    size_t byte() const { return bit / 8; }
    int u8() { return int(u(8)); }
    int u16() { return u8() | u8() << 8; }
};

/// A glyph's SHAPE within [from, to) of a DefineFont2: true when its records decode, end where
/// the next glyph begins and stay near the em square.
bool glyphDecodes(const std::string& tag, size_t from, size_t to) {
    const std::string shape = tag.substr(from, to - from);
    TagBits b{shape};
    const int fillBits = int(b.u(4));
    const int lineBits = int(b.u(4));
    int32_t x = 0, y = 0;
    while (b.byte() < shape.size()) {
        if (b.u(1) == 0) {
            const uint32_t flags = b.u(5);
            if (flags == 0) {
                b.align();
                return b.byte() == shape.size();
            }
            if (flags & 0x10) {
                return false; // fonts have no styles of their own
            }
            if (flags & 1) {
                const int n = int(b.u(5));
                x = b.s(n);
                y = b.s(n);
            }
            b.u(((flags & 2) ? fillBits : 0) + ((flags & 4) ? fillBits : 0) +
                ((flags & 8) ? lineBits : 0));
        } else if (b.u(1) == 1) {
            const int n = int(b.u(4)) + 2;
            if (b.u(1) == 1) {
                x += b.s(n);
                y += b.s(n);
            } else if (b.u(1) == 1) {
                y += b.s(n);
            } else {
                x += b.s(n);
            }
        } else {
            const int n = int(b.u(4)) + 2;
            x += b.s(n);
            y += b.s(n);
            x += b.s(n);
            y += b.s(n);
        }
        if (std::abs(x) > 3 * 1024 || std::abs(y) > 3 * 1024) {
            return false;
        }
    }
    return false;
}

void parseFont(const std::string& tag, SwfInfo& info) {
    TagBits b{tag};
    const int id = b.u16();
    const int flags = b.u8();
    b.u8(); // language
    b.bit += size_t(b.u8()) * 8;
    const int count = b.u16();
    const size_t table = b.byte();
    const bool wide = flags & 0x08;
    std::vector<size_t> offsets;
    for (int i = 0; i <= count; ++i) {
        offsets.push_back(wide ? size_t(b.u16()) | size_t(b.u16()) << 16 : size_t(b.u16()));
    }
    for (int i = 0; i < count; ++i) {
        const size_t from = table + offsets[size_t(i)], to = table + offsets[size_t(i) + 1];
        if (to > tag.size() || from >= to || !glyphDecodes(tag, from, to)) {
            ++info.brokenGlyphs;
        }
    }
    info.fontGlyphs[id] = count;
}

void parseText(const std::string& tag, bool alpha, SwfInfo& info) {
    TagBits b{tag};
    b.u16(); // id
    const int rectBits = int(b.u(5));
    b.u(4 * rectBits);
    b.align();
    double sx = 1, sy = 1;
    if (b.u(1)) {
        const int n = int(b.u(5));
        sx = b.s(n) / 65536.0;
        sy = b.s(n) / 65536.0;
    }
    if (b.u(1)) {
        const int n = int(b.u(5));
        b.u(2 * n);
    }
    const int n = int(b.u(5));
    const double tx = b.s(n), ty = b.s(n);
    b.align();
    const int glyphBits = b.u8();
    const int advanceBits = b.u8();
    std::vector<SwfInfo::Glyph> glyphs;
    int font = -1, height = 0;
    int32_t x = 0, y = 0;
    uint32_t rgba = 0;
    while (b.byte() < tag.size()) {
        const int flags = b.u8();
        if (flags == 0) {
            break;
        }
        if (flags & 0x08) {
            font = b.u16();
        }
        if (flags & 0x04) {
            rgba = uint32_t(b.u8()) << 24 | uint32_t(b.u8()) << 16 | uint32_t(b.u8()) << 8 |
                   (alpha ? uint32_t(b.u8()) : 0xFFu);
        }
        if (flags & 0x01) {
            x = int16_t(b.u16());
        }
        if (flags & 0x02) {
            y = int16_t(b.u16());
        }
        if (flags & 0x08) {
            height = b.u16();
        }
        const int count = b.u8();
        for (int i = 0; i < count; ++i) {
            SwfInfo::Glyph g;
            g.font = font;
            g.index = int(b.u(glyphBits));
            g.x = tx + sx * x;
            g.y = ty + sy * y;
            g.height = sy * height;
            g.rgba = rgba;
            const auto known = info.fontGlyphs.find(font);
            if (known == info.fontGlyphs.end() || g.index >= known->second) {
                info.undefinedGlyph = true;
            }
            glyphs.push_back(g);
            x += b.s(advanceBits);
        }
        b.align();
    }
    info.texts.push_back(glyphs);
}

SwfInfo parseSwf(const std::string& path) {
    SwfInfo info;
    std::string data = readFile(path);
    if (data.size() < 8) {
        return info;
    }
    info.signature = data[0];
    info.version = uint8_t(data[3]);
    const uint32_t length = uint8_t(data[4]) | (uint8_t(data[5]) << 8) | (uint8_t(data[6]) << 16) |
                            (uint32_t(uint8_t(data[7])) << 24);
    std::string body;
    if (data[0] == 'C') {
        body.resize(length - 8);
        uLongf size = uLongf(body.size());
        if (uncompress(reinterpret_cast<Bytef*>(body.data()), &size,
                       reinterpret_cast<const Bytef*>(data.data() + 8),
                       uLong(data.size() - 8)) != Z_OK ||
            size != body.size()) {
            return info;
        }
    } else if (data[0] == 'F' && data.size() == length) {
        body = data.substr(8);
    } else {
        return info;
    }
    auto bits = [&body](size_t& bitPos, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bitPos) {
            v = (v << 1) | ((uint8_t(body[bitPos / 8]) >> (7 - bitPos % 8)) & 1u);
        }
        return v;
    };
    size_t bitPos = 0;
    const int nbits = int(bits(bitPos, 5));
    auto sbits = [&](int n) {
        const uint32_t v = bits(bitPos, n);
        return int32_t(v & (1u << (n - 1)) ? v | ~((1u << n) - 1) : v);
    };
    const int xmin = sbits(nbits), xmax = sbits(nbits), ymin = sbits(nbits), ymax = sbits(nbits);
    info.width = xmax - xmin;
    info.height = ymax - ymin;
    size_t pos = (bitPos + 7) / 8;
    info.frameRate = uint8_t(body[pos]) | (uint8_t(body[pos + 1]) << 8);
    info.frameCount = uint8_t(body[pos + 2]) | (uint8_t(body[pos + 3]) << 8);
    pos += 4;
    std::set<int> textIds;
    while (pos + 2 <= body.size()) {
        const int header = uint8_t(body[pos]) | (uint8_t(body[pos + 1]) << 8);
        pos += 2;
        const int code = header >> 6;
        size_t len = header & 0x3F;
        if (len == 0x3F) {
            len = uint8_t(body[pos]) | (uint8_t(body[pos + 1]) << 8) |
                  (uint8_t(body[pos + 2]) << 16) | (size_t(uint8_t(body[pos + 3])) << 24);
            pos += 4;
        }
        if (pos + len > body.size()) {
            return info;
        }
        info.bitmaps += code == 20 || code == 21;
        info.jpegs += code == 21;
        if (code == 20) {
            info.mapped.push_back(decodeMapped(body.substr(pos, len)));
        }
        info.showFrames += code == 1;
        info.buttons += code == 34;
        info.actions += code == 12;
        if (code == 32 && len > 2) {
            info.shapes.push_back(body.substr(pos + 2, len - 2));
        }
        if (code == 48) {
            parseFont(body.substr(pos, len), info);
        }
        if ((code == 11 || code == 33) && len > 2) {
            parseText(body.substr(pos, len), code == 33, info);
            textIds.insert(uint8_t(body[pos]) | uint8_t(body[pos + 1]) << 8);
        }
        if (code == 26 && len >= 5 && (uint8_t(body[pos]) & 0x02)) {
            info.textsPlaced +=
                int(textIds.count(int(uint8_t(body[pos + 3]) | uint8_t(body[pos + 4]) << 8)));
        }
        pos += len;
        if (code == 0) {
            info.ok = pos == body.size();
            break;
        }
    }
    return info;
}

TEST(Pdf2swf, FramesRatesStageAndViewer) {
    TempFolder dir;
    const std::string pdf = dir.file("slides é.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, styledPages()));
    const std::string plain = dir.file("plain.swf");
    ASSERT_EQ(runTool(app + "/data/pdf2swf -s framerate=0.5 -q " + q(pdf) + " -o " + q(plain) + " ",
                      dir.file("e"))
                  .status,
              0);
    SwfInfo info = parseSwf(plain);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.signature, 'F');
    EXPECT_EQ(info.frameCount, 3);
    EXPECT_EQ(info.frameRate, 0x0080);
    EXPECT_EQ(info.width, 612 * 20);
    EXPECT_EQ(info.height, 792 * 20);
    // Letters become the movie's text; a picture holds what else a page shows. The first page:
    // its photo in the picture, exact in its three colours (the paper and the checks), and
    // no letter there; the landscape page: text alone, no picture; the rotated page: its
    // turned words stay in a grey picture of 16 shades.
    EXPECT_EQ(info.bitmaps, 2);
    EXPECT_EQ(info.jpegs, 0);
    ASSERT_EQ(info.mapped.size(), 2u);
    const SwfInfo::Mapped& photo = info.mapped[0];
    EXPECT_EQ(photo.width * photo.height, 1224 * 1584) << "twice the page's size in points";
    EXPECT_EQ(photo.table.size(), 3u * 3);
    for (size_t i = 0; i + 2 < photo.table.size(); i += 3) {
        const int g = uint8_t(photo.table[i + 1]), b = uint8_t(photo.table[i + 2]);
        EXPECT_FALSE(g < 0x60 && b < 0x60) << "no black or red letters in the picture";
    }
    const SwfInfo::Mapped& turned = info.mapped[1];
    ASSERT_EQ(turned.table.size(), 16u * 3) << "16 shades";
    EXPECT_EQ(turned.pixels.size(), size_t(turned.width) * size_t(turned.height));
    EXPECT_GT(std::count(turned.pixels.begin(), turned.pixels.end(), uint8_t(0)), 100)
        << "the letters";

    ASSERT_EQ(info.texts.size(), 2u);
    EXPECT_EQ(info.textsPlaced, 2);
    EXPECT_EQ(info.brokenGlyphs, 0);
    EXPECT_FALSE(info.undefinedGlyph);
    // Every letter but the spaces, "Heading Bold" first at its place and size: 72 pt from the
    // left, its baseline 92 pt from the top, 20 pt high.
    const std::vector<SwfInfo::Glyph>& first = info.texts[0];
    EXPECT_EQ(first.size(), 89u);
    ASSERT_FALSE(first.empty());
    EXPECT_NEAR(first[0].x, 72 * 20, 10);
    EXPECT_NEAR(first[0].y, 92 * 20, 10);
    EXPECT_NEAR(first[0].height, 20 * 20, 10);
    EXPECT_EQ(std::count_if(first.begin(), first.end(),
                            [](const SwfInfo::Glyph& g) { return g.rgba == 0xFF0000FFu; }),
              10)
        << "\"Red warning\" in red";
    // The landscape page fits the stage as its picture would: scaled by 612/792 and centred.
    const double fit = 612.0 / 792;
    const std::vector<SwfInfo::Glyph>& second = info.texts[1];
    ASSERT_EQ(second.size(), 14u);
    EXPECT_NEAR(second[0].x, 72 * fit * 20, 10);
    EXPECT_NEAR(second[0].y, ((792 - 612 * fit) / 2 + (612 - 500) * fit) * 20, 10);
    EXPECT_NEAR(second[0].height, 14 * fit * 20, 10);
    for (size_t i = 1; i < second.size(); ++i) {
        EXPECT_GT(second[i].x, second[i - 1].x) << "one line, left to right";
        EXPECT_EQ(second[i].y, second[0].y);
    }
    EXPECT_EQ(info.showFrames, 3);
    EXPECT_EQ(info.buttons, 0);
    EXPECT_TRUE(readFile(dir.file("e")).empty()) << "nothing printed under -q";

    const std::string viewer = dir.file("viewer.swf");
    ASSERT_EQ(runTool(app + "/data/pdf2swf -s simpleviewer -s framerate=12.25 -q -z -p 2-3 " +
                          q(pdf) + " -o " + q(viewer) + " ",
                      dir.file("e"))
                  .status,
              0);
    info = parseSwf(viewer);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.signature, 'C');
    EXPECT_GE(info.version, 6);
    EXPECT_EQ(info.frameCount, 2);
    EXPECT_EQ(info.frameRate, 12 * 256 + 64);
    EXPECT_EQ(info.width, 792 * 20) << "the stage takes the first page of the range";
    EXPECT_EQ(info.bitmaps, 1) << "the rotated page's picture";
    EXPECT_EQ(info.texts.size(), 1u);
    EXPECT_EQ(info.buttons, 3);
    EXPECT_EQ(info.actions, 2) << "stop on the first and on the last page";
    // The backdrop and the back, play and next pictures: four shapes, no two alike.
    ASSERT_EQ(info.shapes.size(), 4u);
    EXPECT_EQ(std::set<std::string>(info.shapes.begin(), info.shapes.end()).size(), 4u);

    for (const std::string& bad :
         {"-s framerate=0 " + q(pdf) + " -o " + q(dir.file("x.swf")),
          "-s framerate=fast " + q(pdf) + " -o " + q(dir.file("x.swf")),
          "-p 5-9 " + q(pdf) + " -o " + q(dir.file("x.swf")),
          q(dir.file("missing.pdf")) + " -o " + q(dir.file("x.swf")), q(pdf)}) {
        const ToolResult r = runTool(app + "/data/pdf2swf -q " + bad, dir.file("e"));
        EXPECT_NE(r.status, 0) << bad;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << bad << ": " << r.errors;
    }
    EXPECT_FALSE(std::ifstream(dir.file("x.swf")).good());
}

// Only plain upright filled text is the movie's text: what the movie's text could not show as
// the page does stays in the picture.
TEST(Pdf2swf, TextThatOnlyThePictureShowsStaysInIt) {
    TempFolder dir;
    const std::string pdf = dir.file("kinds.pdf");
    FixturePage page;
    page.content = textLine("F1", 24, 72, 700, "Plain") +
                   // turned, slanted and stroked
                   "BT /F1 24 Tf 0 1 -1 0 400 300 Tm (Turned) Tj ET\n"
                   "BT /F1 24 Tf 1 0 0.4 1 72 600 Tm (Slanted) Tj ET\n"
                   "BT /F1 24 Tf 1 Tr 72 550 Td (Outlined) Tj 0 Tr ET\n"
                   // under a triangular clip that cuts it
                   "q 72 490 m 200 490 l 136 530 l h W n\n" +
                   textLine("F1", 24, 72, 500, "Cut") + "Q\n" +
                   // half covered by a grey box drawn after it
                   textLine("F1", 24, 72, 400, "Under") + "0.5 g 72 395 40 30 re f 0 g\n" +
                   // inside a rectangle that clips nothing of it: still text
                   "q 60 280 300 60 re W n\n" + textLine("F1", 24, 72, 300, "Boxed") + "Q\n" +
                   // squeezed to half its width: still text, in a text of its own
                   "BT /F1 24 Tf 50 Tz 72 200 Td (Narrow) Tj 100 Tz ET\n";
    ASSERT_TRUE(writeFixturePdf(pdf, {page}));
    const std::string swf = dir.file("kinds.swf");
    ASSERT_EQ(runTool(app + "/data/pdf2swf -q " + q(pdf) + " -o " + q(swf), dir.file("e")).status,
              0);
    const SwfInfo info = parseSwf(swf);
    ASSERT_TRUE(info.ok);
    ASSERT_EQ(info.texts.size(), 2u);
    // "Plain", the end of "Under" that the box leaves alone, and "Boxed".
    const std::vector<SwfInfo::Glyph>& glyphs = info.texts[0];
    ASSERT_EQ(glyphs.size(), 12u);
    EXPECT_NEAR(glyphs[0].y, 92 * 20, 10);
    EXPECT_NEAR(glyphs[5].y, 392 * 20, 10);
    EXPECT_GT(glyphs[5].x, 112 * 20) << "right of the box";
    EXPECT_NEAR(glyphs[7].y, 492 * 20, 10);
    // "Narrow" where its squeezed advances put it: N a r r o (Helvetica's 722, 556, 333, 333,
    // 556 thousandths of the em) at 12 pt before the w.
    const std::vector<SwfInfo::Glyph>& narrow = info.texts[1];
    ASSERT_EQ(narrow.size(), 6u);
    EXPECT_NEAR(narrow[0].x, 72 * 20, 10);
    EXPECT_NEAR(narrow[5].x, (72 + 12 * 2.5) * 20, 10);
    EXPECT_NEAR(narrow[0].y, 592 * 20, 10);
    EXPECT_NEAR(narrow[0].height, 24 * 20, 10);
    ASSERT_EQ(info.mapped.size(), 1u);
    const SwfInfo::Mapped& picture = info.mapped[0];
    // The turned, slanted, outlined, cut and covered words and the box: well over the ink of
    // one word.
    const auto dark = std::count_if(picture.pixels.begin(), picture.pixels.end(),
                                    [](uint8_t shade) { return shade < 8; });
    EXPECT_GT(dark, 6000);
    // Where the words left as text lie (left of the turned one), the picture holds no ink.
    auto inkIn = [&](int top, int bottom, int right) { // points from the top left corner
        long n = 0;
        for (int y = 2 * top; y < 2 * bottom; ++y) {
            for (int x = 0; x < 2 * right; ++x) {
                n += picture.pixels[size_t(y) * size_t(picture.width) + size_t(x)] < 15;
            }
        }
        return n;
    };
    EXPECT_EQ(inkIn(70, 96, 300), 0) << "\"Plain\"";
    EXPECT_EQ(inkIn(470, 496, 300), 0) << "\"Boxed\"";
    EXPECT_GT(inkIn(370, 400, 300), 500) << "\"Under\" and its box";
}

// Each glyph is defined once for the whole movie, before the first frame that shows it; a later
// page adds only the glyphs it uses first.
TEST(Pdf2swf, GlyphsAreDefinedOnceBeforeTheirFirstUse) {
    TempFolder dir;
    const std::string pdf = dir.file("shared.pdf");
    FixturePage one, two;
    one.content = textLine("F1", 12, 72, 700, "abc cab");
    two.content = textLine("F1", 12, 72, 700, "dab") + textLine("F3", 12, 72, 680, "abc");
    ASSERT_TRUE(writeFixturePdf(pdf, {one, two}));
    const std::string swf = dir.file("shared.swf");
    ASSERT_EQ(
        runTool(app + "/data/pdf2swf -z -q " + q(pdf) + " -o " + q(swf), dir.file("e")).status, 0);
    const SwfInfo info = parseSwf(swf);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.signature, 'C');
    EXPECT_EQ(info.frameCount, 2);
    EXPECT_EQ(info.bitmaps, 0) << "pages of nothing but text need no picture";
    EXPECT_EQ(info.brokenGlyphs, 0);
    EXPECT_FALSE(info.undefinedGlyph);
    std::vector<int> counts;
    for (const auto& [id, count] : info.fontGlyphs) {
        counts.push_back(count);
    }
    // Helvetica's a, b, c; then its d; then Times' a, b, c.
    EXPECT_EQ(counts, (std::vector<int>{3, 1, 3}));
    ASSERT_EQ(info.texts.size(), 2u);
    ASSERT_EQ(info.texts[0].size(), 6u);
    ASSERT_EQ(info.texts[1].size(), 6u);
    // The a of both pages is one glyph; the same letters in Times are others.
    EXPECT_EQ(info.texts[0][0].font, info.texts[1][1].font);
    EXPECT_EQ(info.texts[0][0].index, info.texts[1][1].index);
    EXPECT_NE(info.texts[1][0].font, info.texts[1][1].font) << "d came with the second page";
    EXPECT_NE(info.texts[1][3].font, info.texts[1][1].font) << "Times is a font of its own";
}

// ---- pdftotext ---------------------------------------------------------------------------

TEST(Pdftotext, TheTextCommandLinesWork) {
    TempFolder dir;
    const std::string pdf = dir.file("book é.pdf");
    ASSERT_TRUE(writeFixturePdf(
        pdf, {markedPage("PageOne"), markedPage("PageTwo"), markedPage("PageThree")}));
    const std::string out = dir.file("book é.txt");
    // Options after the file names, with the trailing space that the command lines carry.
    ASSERT_EQ(runTool(app + "/pdftotext " + q(pdf) + " " + q(out) + " -f 1 ", dir.file("e")).status,
              0);
    std::string text = readFile(out);
    EXPECT_NE(text.find("PageThree"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 3) << "page breaks by default";

    ASSERT_EQ(
        runTool(app + "/pdftotext " + q(pdf) + " " + q(out) + " -f 2 -l 2 -nopgbrk ", dir.file("e"))
            .status,
        0);
    text = readFile(out);
    EXPECT_EQ(text.find("PageOne"), std::string::npos);
    EXPECT_NE(text.find("PageTwo"), std::string::npos);
    EXPECT_EQ(text.find("PageThree"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 0);
}

} // namespace
