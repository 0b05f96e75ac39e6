#include "platform/command_line.h"
#include "platform/paths.h"

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

struct PathCase {
    const char* name; ///< of the test case
    const char* path;
    const char* fileName;
    const char* baseName;
};

class WindowsPaths : public ::testing::TestWithParam<PathCase> {};
class HostPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(WindowsPaths, NameAndBaseName) {
    const auto conv = Conventions::windows();
    const PathCase& c = GetParam();
    EXPECT_EQ(GetFileNameFromPath(QString::fromUtf8(c.path), conv), QString::fromUtf8(c.fileName));
    EXPECT_EQ(FileBaseName(QString::fromUtf8(c.path), conv), QString::fromUtf8(c.baseName));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WindowsPaths,
    ::testing::Values(PathCase{"DottedName", "C:\\in\\report.v2.pdf", "report.v2.pdf", "report"},
                      PathCase{"TwoDots", "C:\\in\\report.final.pdf", "report.final.pdf", "report"},
                      PathCase{"NoDot", "C:\\in\\readme", "readme", "readme"},
                      PathCase{"NoFolder", "a.b.c.pdf", "a.b.c.pdf", "a"},
                      PathCase{"LeadingDot", ".hidden", ".hidden", ""},
                      PathCase{"TrailingSeparator", "C:\\in\\", "", ""},
                      PathCase{"Empty", "", "", ""},
                      // Only the backslash separates under these conventions.
                      PathCase{"ForwardSlashIsNoSeparator", "C:\\in/sub\\x/y.pdf", "x/y.pdf",
                               "x/y"},
                      PathCase{"NonAscii", "C:\\Dokumente\\Überblick 2024.pdf",
                               "Überblick 2024.pdf", "Überblick 2024"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(HostPaths, NameAndBaseName) {
    const Conventions conv{QChar('/'), QString(), QString(), QString()};
    const PathCase& c = GetParam();
    EXPECT_EQ(GetFileNameFromPath(QString::fromUtf8(c.path), conv), QString::fromUtf8(c.fileName));
    EXPECT_EQ(FileBaseName(QString::fromUtf8(c.path), conv), QString::fromUtf8(c.baseName));
}

INSTANTIATE_TEST_SUITE_P(Examples, HostPaths,
                         ::testing::Values(PathCase{"DottedName", "/home/u/in/report.v2.pdf",
                                                    "report.v2.pdf", "report"},
                                           PathCase{"LeadingDot", "/home/u/.hidden", ".hidden", ""},
                                           PathCase{"TrailingSeparator", "/home/u/in/", "", ""},
                                           PathCase{"BackslashIsNoSeparator", "/in/back\\slash.pdf",
                                                    "back\\slash.pdf", "back\\slash"},
                                           PathCase{"NonAsciiAndQuotes", "/in/名前 \"q\".pdf",
                                                    "名前 \"q\".pdf", "名前 \"q\""}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(PathHelpers, StripTrailingNulls) {
    EXPECT_EQ(StripTrailingNulls(QString("name.pdf") + QChar(0) + QChar(0) + "  "), "name.pdf");
    EXPECT_EQ(StripTrailingNulls(QString(3, QChar(0))), "");
    EXPECT_EQ(StripTrailingNulls(" a b "), " a b");
    EXPECT_EQ(StripTrailingNulls(""), "");
}

TEST(PathHelpers, NameTestsLookAtTheEndingOnly) {
    for (const char* yes : {"a.pdf", "Scan.PDF", "notapdf", "x.Pdf"}) {
        EXPECT_TRUE(isPdfName(yes)) << yes;
    }
    for (const char* no : {"a.pdf.bak", "pdf.txt", "df", ""}) {
        EXPECT_FALSE(isPdfName(no)) << no;
    }
    for (const char* yes : {"a.bmp", "scan.Jpeg", "b.JPG", "c.gif", "d.png", "e.tif", "f.TIFF"}) {
        EXPECT_TRUE(isImageName(yes)) << yes;
    }
    for (const char* no : {"a.pdf", "a.jpe", "tiff.txt", "a.webp"}) {
        EXPECT_FALSE(isImageName(no)) << no;
    }
}

TEST(PathHelpers, JoinDoesNotDoubleTheSeparator) {
    const auto win = Conventions::windows();
    EXPECT_EQ(win.join("C:\\out", "a.rtf"), "C:\\out\\a.rtf");
    EXPECT_EQ(win.join("C:\\out\\", "a.rtf"), "C:\\out\\a.rtf");
    EXPECT_EQ(win.exe("pro"), "pro.exe");
    EXPECT_EQ(win.tmpFolder, "c:\\tmp");
    EXPECT_EQ(win.jpgTmpFolder, "c:\\jpgtmp");
}

// ---- Command lines -------------------------------------------------------------------

TEST(CommandLine, PlainTextIsQuotedAsIs) {
    EXPECT_EQ(QuoteArg("secret"), "\"secret\"");
    EXPECT_EQ(QuoteArg("C:\\in\\a b.pdf"), "\"C:\\in\\a b.pdf\"");
    EXPECT_EQ(QuoteArg(""), "\"\"");
    EXPECT_EQ(QuoteArg("pa\"ss"), "\"pa\\\"ss\"");
    EXPECT_EQ(QuoteArg("C:\\dir\\"), "\"C:\\dir\\\\\"");
}

struct SplitCase {
    const char* name; ///< of the test case
    const char* line;
    std::vector<const char*> args;
};

class SplitExamples : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitExamples, FollowTheWindowsRules) {
    const SplitCase& c = GetParam();
    QStringList expected;
    for (const char* a : c.args) {
        expected << QString::fromUtf8(a);
    }
    EXPECT_EQ(SplitCommandLine(QString::fromUtf8(c.line)), expected) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SplitExamples,
    ::testing::Values(
        SplitCase{"QuotedBlanks", "p \"a b c\" d e", {"p", "a b c", "d", "e"}},
        SplitCase{"EscapedQuote", "p \"ab\\\"c\" \"\\\\\" d", {"p", "ab\"c", "\\", "d"}},
        SplitCase{
            "BackslashesBeforeLetters", "p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
        SplitCase{"OddBackslashesBeforeQuote", "p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        SplitCase{
            "EvenBackslashesBeforeQuote", "p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
        SplitCase{"DoubledQuote", "p \"a\"\"b\"", {"p", "a\"b"}},
        SplitCase{"BlanksAndTabs", "  p\t x  ", {"p", "x"}},
        SplitCase{"EmptyArgument", "p \"\" x", {"p", "", "x"}},
        // The program keeps its backslashes; quotes only group it.
        SplitCase{
            "QuotedProgram", "\"C:\\Program Files\\x.exe\" -q", {"C:\\Program Files\\x.exe", "-q"}},
        SplitCase{
            "QuoteInProgram", "\"/opt/my \\\"app\\\"/pro\" -q", {"/opt/my \"app\"/pro", "-q"}},
        SplitCase{"DecryptionLine",
                  "C:\\App\\data\\pdftk.exe c:\\tmp\\tmp2.pdf input_pw \"pw\" output "
                  "c:\\tmp\\tmp.pdf dont_ask",
                  {"C:\\App\\data\\pdftk.exe", "c:\\tmp\\tmp2.pdf", "input_pw", "pw", "output",
                   "c:\\tmp\\tmp.pdf", "dont_ask"}},
        SplitCase{"Empty", "", {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(CommandLine, QuotedTextsComeBackUnchanged) {
    const std::u16string alphabet =
        u"ab \t\"\\\\\"xyz éüß名前✓'$&|;<>*?()[]{}%!^~`#=,.:-_/0123456789";
    std::mt19937 random(12345);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int round = 0; round < 3000; ++round) {
        // Programs as the command lines write them: plain, or quoted when they need it.
        const QString prog =
            round % 3 == 0 ? QStringLiteral("/opt/my \"app\" \\x/prog") : QStringLiteral("prog");
        QStringList args{prog};
        QString line = QuoteIfNeeded(prog);
        const int count = 1 + round % 4;
        for (int i = 0; i < count; ++i) {
            QString text;
            const int n = length(random);
            for (int k = 0; k < n; ++k) {
                text += QChar(alphabet[pick(random)]);
            }
            if (round % 5 == 0) {
                text += QStringLiteral("\\\\"); // trailing backslashes
            }
            args << text;
            line += QChar(' ') + QuoteArg(text);
        }
        ASSERT_EQ(SplitCommandLine(line), args) << line.toStdString();
    }
}

} // namespace
