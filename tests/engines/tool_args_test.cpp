// The command lines of pdf2htm, pdf2swf and pdftk as the programs parse them: the lines the
// conversion run builds, split as they reach the program, and the mistakes each one refuses.
#include "pdftk_tool.h"
#include "tool_args.h"

#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// The arguments after the program name, split by the rules the run quotes them with.
std::vector<std::string> argsOf(const std::string& line) {
    std::vector<std::string> args;
    const QStringList split =
        platform::SplitCommandLine(QStringLiteral("tool ") + QString::fromStdString(line));
    for (qsizetype i = 1; i < split.size(); ++i) {
        args.push_back(split[i].toStdString());
    }
    return args;
}

template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& test) {
    return test.param.name;
}

// A refused command line: what the tool prints about it.
struct Refused {
    const char* name;
    const char* line;
    const char* message; ///< UsageError::what(), empty when the synopsis says it all
    bool synopsis;
};

template <typename Parse> void expectRefused(Parse parse, const Refused& c) {
    try {
        parse(argsOf(c.line));
        ADD_FAILURE() << c.line << ": accepted";
    } catch (const tools::UsageError& e) {
        EXPECT_EQ(std::string(e.what()), c.message) << c.line;
        EXPECT_EQ(e.wantsSynopsis(), c.synopsis) << c.line;
    }
}

// ---- pdf2htm ------------------------------------------------------------------------------

struct HtmlCase {
    const char* name;
    const char* line;
    const char* source;
    const char* output;
    int first;
    int last;
};

class Pdf2htmArgs : public ::testing::TestWithParam<HtmlCase> {};

TEST_P(Pdf2htmArgs, GiveTheFilesAndPages) {
    const HtmlCase& c = GetParam();
    const tools::HtmlCommand cmd = tools::parsePdf2htmArgs(argsOf(c.line));
    EXPECT_EQ(cmd.source, c.source);
    EXPECT_EQ(cmd.output, c.output);
    EXPECT_EQ(cmd.first, c.first);
    EXPECT_EQ(cmd.last, c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Pdf2htmArgs,
    ::testing::Values(
        HtmlCase{"FirstAndLast", "-f 1 -l 3 in.pdf out.html", "in.pdf", "out.html", 1, 3},
        HtmlCase{"AsTheRunQuotesThem", " -f 2 -l 2 \"my in.pdf\" \"out dir/my in.html\" ",
                 "my in.pdf", "out dir/my in.html", 2, 2},
        HtmlCase{"ToTheEnd", " -f 4 in.pdf out.html ", "in.pdf", "out.html", 4, INT_MAX},
        HtmlCase{"QuietAndNoPages", "-q in.pdf out.html", "in.pdf", "out.html", 1, INT_MAX},
        HtmlCase{"OptionsAfterFiles", "in.pdf out.html -l 5 -f 3", "in.pdf", "out.html", 3, 5},
        HtmlCase{"DashIsAFile", "-f 1 - out.html", "-", "out.html", 1, INT_MAX}),
    caseName<HtmlCase>);

class Pdf2htmRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(Pdf2htmRefuses, WithOneMessage) {
    expectRefused(tools::parsePdf2htmArgs, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Pdf2htmRefuses,
    ::testing::Values(Refused{"WordForPage", "-f abc in.pdf out.html",
                              "-f needs a page number, not 'abc'", false},
                      Refused{"TrailingLetters", "-l 3x in.pdf out.html",
                              "-l needs a page number, not '3x'", false},
                      Refused{"BeyondInt", "-f 99999999999 in.pdf out.html",
                              "-f needs a page number, not '99999999999'", false},
                      Refused{"EmptyPage", "-f \"\" in.pdf out.html",
                              "-f needs a page number, not ''", false},
                      Refused{"UnknownOption", "-x in.pdf out.html", "unknown option -x", true},
                      Refused{"PageOptionLast", "in.pdf out.html -f", "unknown option -f", true},
                      Refused{"OneFile", "-f 1 in.pdf", "", true},
                      Refused{"ThreeFiles", "-f 1 in.pdf out.html more.html", "", true},
                      Refused{"Nothing", "", "", true}),
    caseName<Refused>);

// ---- pdf2swf ------------------------------------------------------------------------------

struct SwfCase {
    const char* name;
    const char* line;
    const char* source;
    const char* output;
    double frameRate;
    bool compress;
    bool viewer;
    int first;
    int last;
};

class Pdf2swfArgs : public ::testing::TestWithParam<SwfCase> {};

TEST_P(Pdf2swfArgs, GiveTheFilesAndOptions) {
    const SwfCase& c = GetParam();
    const tools::SwfCommand cmd = tools::parsePdf2swfArgs(argsOf(c.line));
    EXPECT_EQ(cmd.source, c.source);
    EXPECT_EQ(cmd.output, c.output);
    EXPECT_EQ(cmd.options.frameRate, c.frameRate);
    EXPECT_EQ(cmd.options.compress, c.compress);
    EXPECT_EQ(cmd.options.viewer, c.viewer);
    EXPECT_EQ(cmd.options.first, c.first);
    EXPECT_EQ(cmd.options.last, c.last);
}

const int swfAll = tools::SwfOptions().last;

INSTANTIATE_TEST_SUITE_P(
    Lines, Pdf2swfArgs,
    ::testing::Values(
        SwfCase{"Everything", "-s simpleviewer -s framerate=0.5 -q -z -p 1-3 in.pdf -o out.swf",
                "in.pdf", "out.swf", 0.5, true, true, 1, 3},
        SwfCase{"AsTheRunQuotesThem", " -s framerate=12.25 -q \"my in.pdf\" -o \"out/my.swf\" ",
                "my in.pdf", "out/my.swf", 12.25, false, false, 1, swfAll},
        SwfCase{"OnePage", "-p 4 in.pdf -o out.swf", "in.pdf", "out.swf", 0.5, false, false, 4, 4},
        SwfCase{"OutputFirst", "-o out.swf -z in.pdf", "in.pdf", "out.swf", 0.5, true, false, 1,
                swfAll},
        // A zero rate is a number; the conversion refuses it with its own message.
        SwfCase{"ZeroRate", "-s framerate=0 in.pdf -o out.swf", "in.pdf", "out.swf", 0, false,
                false, 1, swfAll}),
    caseName<SwfCase>);

class Pdf2swfRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(Pdf2swfRefuses, WithOneMessage) {
    expectRefused(tools::parsePdf2swfArgs, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Pdf2swfRefuses,
    ::testing::Values(
        Refused{"WordForRate", "-s framerate=fast in.pdf -o out.swf",
                "not a frame rate: framerate=fast", false},
        Refused{"EmptyRate", "-s framerate= in.pdf -o out.swf",
                "not a frame rate: framerate=", false},
        Refused{"UnknownSetting", "-s loop in.pdf -o out.swf", "unknown setting loop", false},
        Refused{"WordInRange", "-p 1-x in.pdf -o out.swf", "not a page range: 1-x", false},
        Refused{"OpenRange", "-p 2- in.pdf -o out.swf", "not a page range: 2-", false},
        Refused{"UnknownOption", "-y in.pdf -o out.swf", "unknown option -y", true},
        Refused{"SettingLast", "in.pdf -o out.swf -s", "unknown option -s", true},
        Refused{"NoOutput", "-q in.pdf", "", true},
        Refused{"OutputWithoutName", "in.pdf -o", "unknown option -o", true},
        Refused{"NoSource", "-o out.swf", "", true},
        Refused{"TwoSources", "in.pdf other.pdf -o out.swf", "", true}),
    caseName<Refused>);

// ---- pdftk --------------------------------------------------------------------------------

struct PdftkCase {
    const char* name;
    const char* line;
    tools::PdftkCommand::Operation operation;
    std::vector<std::string> inputs;
    std::vector<std::string> passwords;
    const char* infoFile;
    const char* output;
};

class PdftkArgs : public ::testing::TestWithParam<PdftkCase> {};

TEST_P(PdftkArgs, GiveTheOperationAndFiles) {
    const PdftkCase& c = GetParam();
    const tools::PdftkCommand cmd = tools::parsePdftkArgs(argsOf(c.line));
    EXPECT_EQ(cmd.operation, c.operation);
    EXPECT_EQ(cmd.inputs, c.inputs);
    EXPECT_EQ(cmd.passwords, c.passwords);
    EXPECT_EQ(cmd.infoFile, c.infoFile);
    EXPECT_EQ(cmd.output, c.output);
}

using Op = tools::PdftkCommand::Operation;

INSTANTIATE_TEST_SUITE_P(
    Lines, PdftkArgs,
    ::testing::Values(
        PdftkCase{"Decrypt",
                  "/tmp/x/tmp2.pdf input_pw \"pass word\" output /tmp/x/tmp.pdf dont_ask",
                  Op::Copy,
                  {"/tmp/x/tmp2.pdf"},
                  {"pass word"},
                  "",
                  "/tmp/x/tmp.pdf"},
        // A password that is a keyword of the grammar is a password all the same.
        PdftkCase{"KeywordPasswords",
                  "in.pdf input_pw output output out.pdf dont_ask",
                  Op::Copy,
                  {"in.pdf"},
                  {"output"},
                  "",
                  "out.pdf"},
        PdftkCase{"KeywordPasswordsForTwo",
                  "a.pdf b.pdf input_pw cat pw2 cat output out.pdf",
                  Op::Cat,
                  {"a.pdf", "b.pdf"},
                  {"cat", "pw2"},
                  "",
                  "out.pdf"},
        PdftkCase{"Join",
                  "a.pdf b.pdf c.pdf cat output out.pdf",
                  Op::Cat,
                  {"a.pdf", "b.pdf", "c.pdf"},
                  {},
                  "",
                  "out.pdf"},
        PdftkCase{"UpdateInfo",
                  "in.pdf update_info info.txt output out.pdf do_ask",
                  Op::UpdateInfo,
                  {"in.pdf"},
                  {},
                  "info.txt",
                  "out.pdf"}),
    caseName<PdftkCase>);

class PdftkRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(PdftkRefuses, WithOneMessage) {
    expectRefused(tools::parsePdftkArgs, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PdftkRefuses,
    ::testing::Values(
        Refused{"NoInput", "output out.pdf", "no input PDF given", false},
        Refused{"Handle", "A=in.pdf cat output out.pdf",
                "input handles (A=in.pdf) are not supported", false},
        Refused{"PageRange", "in.pdf cat 1-2 output out.pdf",
                "page ranges after cat are not supported", false},
        Refused{"NoPassword", "in.pdf input_pw", "input_pw needs a password", false},
        // After input_pw comes a password, whatever it says: here "output", then a stray name.
        Refused{"KeywordPasswordThenStray", "in.pdf input_pw output out.pdf",
                "expected 'output' and a file name", false},
        Refused{"NoOutput", "in.pdf cat", "expected 'output' and a file name", false},
        Refused{"TwoInputsWithoutCat", "a.pdf b.pdf output out.pdf",
                "this operation takes one input PDF", false},
        Refused{"ToStandardOutput", "in.pdf output -", "output must be a file name", false},
        Refused{"Encryption", "in.pdf output out.pdf owner_pw x", "unexpected argument 'owner_pw'",
                false}),
    caseName<Refused>);

} // namespace
