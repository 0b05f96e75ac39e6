// The command lines of the text, HTML and Flash converters and of the decryption, character for
// character under the Windows conventions.
#include "convert/command_lines.h"
#include "platform/command_line.h"

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace convert;

namespace {

const platform::Conventions win = platform::Conventions::windows();

RowValues rows(std::initializer_list<const char*> values) {
    RowValues r;
    int i = 1;
    for (const char* v : values) {
        r.row[i++] = QString::fromUtf8(v);
    }
    return r;
}

struct Example {
    const char* name;
    ToolCommand command;
    const char* expected;
    const char* exe;
};

class Examples : public ::testing::TestWithParam<Example> {};

TEST_P(Examples, Verbatim) {
    EXPECT_EQ(GetParam().command.commandLine, QString::fromUtf8(GetParam().expected));
    EXPECT_EQ(GetParam().command.exeName, QString::fromUtf8(GetParam().exe));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Examples,
    ::testing::Values(
        Example{"TextDefaults",
                TextCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book",
                                rows({"1", "ALL PAGES", "YES"})),
                "C:\\App\\pdftotext.exe \"C:\\in\\book.pdf\" \"C:\\out\\book.txt\" -f 1 ",
                "pdftotext.exe"},
        Example{
            "TextRangeWithoutBreaks",
            TextCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book",
                            rows({"0", "4", "NO"})),
            "C:\\App\\pdftotext.exe \"C:\\in\\book.pdf\" \"C:\\out\\book.txt\" -f 0 -l 4 -nopgbrk ",
            "pdftotext.exe"},
        Example{"HtmlRange",
                HtmlCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book", "book",
                                rows({"2", "5"})),
                "C:\\App\\data\\pdf2htm.exe  -f 2 -l 5 \"C:\\in\\book.pdf\" "
                "\"C:\\out\\book\\book.html\" ",
                "pdf2htm.exe"},
        Example{
            "HtmlAllPagesDottedName",
            HtmlCommandLine(win, "C:\\App", "C:\\in\\my.report.pdf", "C:\\out\\my", "my",
                            rows({"1", "ALL PAGES"})),
            "C:\\App\\data\\pdf2htm.exe  -f 1 \"C:\\in\\my.report.pdf\" \"C:\\out\\my\\my.html\" ",
            "pdf2htm.exe"},
        Example{"FlashDefaults",
                FlashCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book",
                                 rows({"1", "ALL PAGES", "YES", "0.5", "NO"})),
                "C:\\App\\data\\pdf2swf.exe -s framerate=0.5 -q -z \"C:\\in\\book.pdf\" -o "
                "\"C:\\out\\book.swf\" ",
                "pdf2swf.exe"},
        Example{"FlashViewerUncompressedRange",
                FlashCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book",
                                 rows({"1", "3", "NO", "0.5", "YES"})),
                "C:\\App\\data\\pdf2swf.exe -s simpleviewer -s framerate=0.5 -q -p 1-3 "
                "\"C:\\in\\book.pdf\" -o "
                "\"C:\\out\\book.swf\" ",
                "pdf2swf.exe"},
        Example{"FlashCompressedRange",
                FlashCommandLine(win, "C:\\App", "c:\\tmp\\tmp.pdf", "C:\\out\\book",
                                 rows({"2", "9", "YES", "10", "NO"})),
                "C:\\App\\data\\pdf2swf.exe -s framerate=10 -q -z -p 2-9 \"c:\\tmp\\tmp.pdf\" -o "
                "\"C:\\out\\book.swf\" ",
                "pdf2swf.exe"},
        Example{"FlashAllPagesIgnoresFirst",
                FlashCommandLine(win, "C:\\App", "C:\\in\\book.pdf", "C:\\out\\book",
                                 rows({"7", "ALL PAGES", "NO", "2", "NO"})),
                "C:\\App\\data\\pdf2swf.exe -s framerate=2 -q \"C:\\in\\book.pdf\" -o "
                "\"C:\\out\\book.swf\" ",
                "pdf2swf.exe"},
        Example{"Decryption", DecryptionCommandLine(win, "C:\\App", "secret"),
                "C:\\App\\data\\pdftk.exe c:\\tmp\\tmp2.pdf input_pw \"secret\" output "
                "c:\\tmp\\tmp.pdf dont_ask",
                "pdftk.exe"},
        // A program folder with a blank is quoted, so that the line still names the program.
        Example{"ProgramFolderWithBlank",
                TextCommandLine(win, "C:\\Program Files\\App", "C:\\in\\a b.pdf", "C:\\out\\a",
                                rows({"1", "ALL PAGES", "YES"})),
                "\"C:\\Program Files\\App\\pdftotext.exe\" \"C:\\in\\a b.pdf\" \"C:\\out\\a.txt\" "
                "-f 1 ",
                "pdftotext.exe"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DecryptionLine, AnyPasswordReachesTheToolUnchanged) {
    for (const QString& password :
         {QString("pa\"ss"), QString("\"\""), QString("end\\"), QString("a \\\" b"),
          QString("  spaced  "), QString("naïve ✓"), QString("\\\\\"")}) {
        const QStringList args =
            platform::SplitCommandLine(DecryptionCommandLine(win, "C:\\App", password).commandLine);
        ASSERT_EQ(args.size(), 7) << password.toStdString();
        EXPECT_EQ(args[0], "C:\\App\\data\\pdftk.exe");
        EXPECT_EQ(args[3], password);
        EXPECT_EQ(args[5], "c:\\tmp\\tmp.pdf");
    }
}

TEST(HostLines, PathsWithBlanksAndQuotesSplitBack) {
    const platform::Conventions host{QChar('/'), QString(), "/tmp/work dir/tmp",
                                     "/tmp/work dir/jpgtmp"};
    const QString source = "/home/me/My \"Best\" Files/naïve.pdf";
    const QStringList text = platform::SplitCommandLine(
        TextCommandLine(host, "/opt/Luma Doc", source, "/home/me/out/naïve",
                        rows({"1", "ALL PAGES", "NO"}))
            .commandLine);
    EXPECT_EQ(text, (QStringList{"/opt/Luma Doc/pdftotext", source, "/home/me/out/naïve.txt", "-f",
                                 "1", "-nopgbrk"}));
    const QStringList decrypt =
        platform::SplitCommandLine(DecryptionCommandLine(host, "/opt/app", "pw").commandLine);
    EXPECT_EQ(decrypt, (QStringList{"/opt/app/data/pdftk", "/tmp/work dir/tmp/tmp2.pdf", "input_pw",
                                    "pw", "output", "/tmp/work dir/tmp/tmp.pdf", "dont_ask"}));
}

} // namespace
