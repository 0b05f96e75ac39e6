// The settings rows and the queue as item models, and the job that the terminal builds.
#include "convert/conversion_job.h"
#include "convert/conversion_queue.h"
#include "convert/conversion_settings.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace convert;
using enum convert::OutputFormat;

namespace {

using Tester = QAbstractItemModelTester;

TEST(SettingsModel, ShowsTheRowsAndCorrectsEditsAsTypingDoes) {
    ConversionSettings s;
    Tester tester(&s, Tester::FailureReportingMode::Fatal);
    s.selectFormat(Flash);
    ASSERT_EQ(s.rowCount(QModelIndex()), 5);
    EXPECT_EQ(s.headerData(0, Qt::Horizontal).toString(), "Option");
    EXPECT_EQ(s.headerData(1, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(s.data(s.index(3, 0)).toString(), "FPS");
    EXPECT_FALSE(s.flags(s.index(3, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(s.flags(s.index(3, 1)) & Qt::ItemIsEditable);

    QSignalSpy changed(&s, &QAbstractItemModel::dataChanged);
    const QModelIndex fps = s.index(Row::Fps - 1, ConversionSettings::ValueColumn);
    EXPECT_TRUE(s.setData(fps, "2.5"));
    EXPECT_EQ(s.value(Row::Fps), "0.5");
    EXPECT_TRUE(s.setData(fps, "7"));
    EXPECT_EQ(s.data(fps).toString(), "7");
    EXPECT_EQ(changed.count(), 1) << "2.5 corrected to the value it had changes nothing";

    const QModelIndex last = s.index(Row::LastPage - 1, ConversionSettings::ValueColumn);
    s.setData(last, "3a");
    EXPECT_EQ(s.value(Row::LastPage), AllPages);

    // Chooser rows take YES or NO; they say so to the view through the editor role.
    const QModelIndex play = s.index(Row::PlayButton - 1, ConversionSettings::ValueColumn);
    EXPECT_EQ(s.data(play, ConversionSettings::EditorRole).toInt(),
              int(ConversionSettings::Editor::YesNo));
    EXPECT_EQ(s.data(last, ConversionSettings::EditorRole).toInt(),
              int(ConversionSettings::Editor::Text));
    s.setData(play, Yes);
    EXPECT_EQ(s.value(Row::PlayButton), Yes);
    EXPECT_FALSE(s.setData(s.index(0, 0), "Renamed")) << "labels are not editable";

    QSignalSpy reset(&s, &QAbstractItemModel::modelReset);
    s.selectFormat(Text);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(s.value(Row::PageBreaks), Yes);
    s.cmbOF_Click(-1);
    EXPECT_EQ(reset.count(), 1) << "no selection leaves the rows";
    EXPECT_EQ(s.rowCount(), 3);
}

TEST(QueueModel, KeepsPathsAndFormatCellsParallelAndEntriesByIdentity) {
    ConversionQueue q;
    Tester tester(&q, Tester::FailureReportingMode::Fatal);
    EXPECT_EQ(q.headerData(0, Qt::Horizontal).toString(), "FileName");
    EXPECT_EQ(q.headerData(1, Qt::Horizontal).toString(), "Format");
    q.append("/in/a.pdf");
    q.append("/in/a.pdf");
    q.append("/scans/March");
    q.append(" /in/notes.txt ");
    EXPECT_EQ(q.formats(), (QStringList{"PDF", "PDF", "RCH", "TXT"}));
    EXPECT_EQ(q.data(q.index(3, 0)).toString(), " /in/notes.txt ") << "the path as received";
    EXPECT_EQ(q.data(q.index(2, 1)).toString(), "RCH");

    const quint64 head = q.head().id;
    const quint64 second = q.at(1).id;
    EXPECT_NE(head, second) << "duplicates are distinct entries";
    q.removeAt(0); // removed by hand while the run works on it
    EXPECT_FALSE(q.removeId(head)) << "the run then removes nothing else";
    EXPECT_EQ(q.count(), 3);
    EXPECT_EQ(q.indexOfId(second), 0);
    EXPECT_TRUE(q.removeId(second));
    EXPECT_EQ(q.paths(), (QStringList{"/scans/March", " /in/notes.txt "}));

    q.appendSearchResults({"/f/A.PDF", "/f/b.pdf", "/f/c.Pdf", "/f/d.txt", "/f/notapdf"});
    EXPECT_EQ(q.count(), 6);
    q.clear();
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.head().id, 0u);
    q.append("/x.pdf");
    EXPECT_GT(q.head().id, second) << "ids are never reused";
}

struct JobCase {
    const char* name;
    QStringList args;
    std::function<void(const ConversionSettings&, const ConversionJob&)> check;
};

class JobArguments : public ::testing::TestWithParam<JobCase> {};

TEST_P(JobArguments, BecomeTheRowsTheWindowWouldHave) {
    const JobCase& c = GetParam();
    const ParsedConvertCommand parsed = parseConvertArguments(c.args);
    ASSERT_EQ(parsed.kind, ParsedConvertCommand::Kind::Run) << parsed.error.toStdString();
    ConversionSettings rows;
    EXPECT_TRUE(parsed.job.apply(rows).isEmpty());
    c.check(rows, parsed.job);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, JobArguments,
    ::testing::Values(JobCase{"TextWithoutBreaks",
                              {"a.pdf", "--to", "txt", "--page-breaks=no", "--first", "2", "b dir"},
                              [](const ConversionSettings& s, const ConversionJob& j) {
                                  EXPECT_EQ(s.formatIndex(), 2);
                                  EXPECT_EQ(s.value(Row::FirstPage), "2");
                                  EXPECT_EQ(s.value(Row::LastPage), AllPages);
                                  EXPECT_EQ(s.value(Row::PageBreaks), No);
                                  EXPECT_EQ(j.inputs, (QStringList{"a.pdf", "b dir"}));
                              }},
                      JobCase{"FlashWithEverySetting",
                              {"--to=SWF", "--fps", "0.5", "--compress=off", "--play-button",
                               "--last=4", "-o", "out", "--password", "-x", "a.pdf"},
                              [](const ConversionSettings& s, const ConversionJob& j) {
                                  EXPECT_EQ(s.rows().size(), 5);
                                  EXPECT_EQ(s.value(Row::Flash6Compression), No);
                                  EXPECT_EQ(s.value(Row::Fps), "0.5");
                                  EXPECT_EQ(s.value(Row::PlayButton), Yes);
                                  EXPECT_EQ(s.value(Row::LastPage), "4");
                                  EXPECT_EQ(j.outputFolder, "out");
                                  EXPECT_EQ(j.password, "-x")
                                      << "the value after --password is the password";
                              }},
                      JobCase{"ImagesByAlias",
                              {"--to", "jpeg", "a.pdf"},
                              [](const ConversionSettings& s, const ConversionJob& j) {
                                  EXPECT_EQ(j.format, Jpeg);
                                  EXPECT_EQ(s.rows().size(), 2);
                                  EXPECT_FALSE(j.textRecognition);
                              }},
                      JobCase{"WordWithoutRecognition",
                              {"--to", "doc", "--ocr=no", "a.pdf"},
                              [](const ConversionSettings&, const ConversionJob& j) {
                                  EXPECT_EQ(j.textRecognition, false);
                              }},
                      JobCase{"RtfWithRecognitionSaidTwice",
                              {"--ocr=off", "--to", "rtf", "--ocr=yes", "a.pdf"},
                              [](const ConversionSettings&, const ConversionJob& j) {
                                  EXPECT_EQ(j.textRecognition, true) << "the last one counts";
                              }},
                      JobCase{"HtmlWithBareRecognition",
                              {"--to", "html", "--ocr", "a.pdf"},
                              [](const ConversionSettings&, const ConversionJob& j) {
                                  EXPECT_EQ(j.textRecognition, true);
                                  EXPECT_EQ(j.inputs, QStringList{"a.pdf"});
                              }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(JobArguments, RefuseWhatTheRowsWouldChangeOrNotUse) {
    struct Bad {
        QStringList args;
        const char* error;
    };
    for (const Bad& b : {
             Bad{{"--to", "swf", "--fps", "2.5", "a.pdf"}, "--fps takes whole frames"},
             Bad{{"--to", "swf", "--fps", "11", "a.pdf"}, "--fps takes whole frames"},
             Bad{{"--to", "swf", "--fps", "0", "a.pdf"}, "--fps needs a number above 0"},
             Bad{{"--to", "txt", "--fps", "2", "a.pdf"}, "--page-breaks is for txt; --fps"},
             Bad{{"--to", "png", "--page-breaks", "a.pdf"}, "--page-breaks is for txt"},
             Bad{{"--to", "pdf", "a.pdf"}, "--to needs one of doc, rtf, txt"},
             Bad{{"--to", "txt", "--first", "x", "a.pdf"}, "--first needs a page number"},
             Bad{{"--to", "txt"}, "no PDF file given"},
             Bad{{"a.pdf"}, "say the output format"},
             Bad{{"--to", "txt", "--bogus", "a.pdf"}, "unknown option --bogus"},
             Bad{{"--to", "swf", "--compress=maybe", "a.pdf"}, "--compress takes yes or no"},
             Bad{{"--to", "doc", "--ocr=maybe", "a.pdf"}, "--ocr takes yes or no"},
             Bad{{"--to", "txt", "--ocr", "a.pdf"}, "--ocr is for doc, rtf and html"},
             Bad{{"--to", "png", "--ocr=no", "a.pdf"}, "--ocr is for doc, rtf and html"},
             Bad{{"--to", "swf", "--ocr=yes", "a.pdf"}, "--ocr is for doc, rtf and html"},
         }) {
        const ParsedConvertCommand parsed = parseConvertArguments(b.args);
        EXPECT_EQ(parsed.kind, ParsedConvertCommand::Kind::UsageError)
            << b.args.join(' ').toStdString();
        EXPECT_TRUE(parsed.error.startsWith(b.error)) << "error: " << parsed.error.toStdString();
    }
    EXPECT_EQ(parseConvertArguments({"--to", "txt", "--help"}).kind,
              ParsedConvertCommand::Kind::Help);
    EXPECT_TRUE(convertUsage("/home/u/out")
                    .contains("doc, rtf, txt, jpg, bmp, gif, png, tif, "
                              "html, swf"));
    EXPECT_TRUE(convertUsage("/home/u/out").contains("\n  --ocr[=yes|no] "));
}

} // namespace
