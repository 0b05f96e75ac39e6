// lumadoc-cli convert: exit statuses and the line per file.
#include "pdf_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <unistd.h>

#include "qt_printers.h"
#include <gtest/gtest.h>

namespace {

const QString cli = QStringLiteral(LUMADOC_APP_DIR "/lumadoc-cli");

struct Outcome {
    int status;
    QString out;
    QString err;
};

Outcome convert(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.setProgram(cli);
    p.setArguments(QStringList{"convert"} + args);
    if (input.isEmpty()) {
        p.setStandardInputFile(QProcess::nullDevice());
    }
    p.start();
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        pdf = dir.path() + "/report v2.final.pdf";
        testing_support::FixturePage page;
        page.content = testing_support::textLine("F1", 20, 72, 700, "Hello terminal");
        ASSERT_TRUE(testing_support::writeFixturePdf(pdf.toStdString(), {page, page}));
        out = dir.path() + "/out";
    }
    QTemporaryDir dir;
    QString pdf, out;
};

TEST_F(Cli, ConvertsAndSaysWhatItWrote) {
    const Outcome r = convert({"--to", "txt", "-o", out, "--page-breaks=no", pdf});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, pdf + ": wrote " + out + "/report v2.txt\n");
    QFile f(out + "/report v2.txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Hello terminal"));

    const Outcome images = convert({"--to", "png", "--first", "2", "-o", out, pdf});
    EXPECT_EQ(images.status, 0);
    EXPECT_EQ(QDir(out + "/report v2").entryList(QDir::Files), QStringList{"page-0002.png"});
}

TEST_F(Cli, FailuresGiveStatusOne) {
    const QString missing = dir.path() + "/missing.pdf";
    const Outcome r = convert({"--to", "rtf", "-o", out, pdf, missing});
    EXPECT_EQ(r.status, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("wrote " + out + "/report v2.rtf"));
    EXPECT_EQ(lines[1], missing + ": skipped: it does not exist");

    // "--" ends the options; a line break in a name does not split the file's line.
    const QString odd = dir.path() + "/-two\nlines.pdf";
    ASSERT_TRUE(QFile::copy(pdf, odd));
    const Outcome named = convert({"--to", "txt", "-o", out, "--", odd});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
    EXPECT_EQ(named.out.count('\n'), 1) << named.out.toStdString();
    EXPECT_TRUE(named.out.contains("-two\\nlines.pdf: wrote ")) << named.out.toStdString();

    const QString locked = dir.path() + "/locked.pdf";
    ASSERT_EQ(QProcess::execute("qpdf", {"--encrypt", "pw", "owner", "256", "--", pdf, locked}), 0);
    const Outcome noPassword = convert({"--to", "doc", "-o", out, locked});
    EXPECT_EQ(noPassword.status, 1);
    EXPECT_TRUE(noPassword.out.contains("skipped: it is protected"))
        << noPassword.out.toStdString();
    const Outcome wrong = convert({"--to", "doc", "-o", out, "--password", "nope", locked});
    EXPECT_EQ(wrong.status, 1);
    const Outcome right =
        convert({"--to", "swf", "-o", out, "--password", "pw", "--play-button", locked});
    EXPECT_EQ(right.status, 0) << right.out.toStdString() << right.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(out + "/locked.swf"));

    // Passwords that other users cannot read from the process list: from a file, from the
    // standard input.
    const QString file = dir.path() + "/password.txt";
    QFile pw(file);
    ASSERT_TRUE(pw.open(QIODevice::WriteOnly));
    pw.write("pw\r\nsecond line\n");
    pw.close();
    EXPECT_EQ(convert({"--to", "txt", "-o", out, "--password-file", file, locked}).status, 0);
    EXPECT_EQ(convert({"--to", "png", "-o", out, "--password", "-", locked}, "pw\n").status, 0);
    const Outcome missingFile =
        convert({"--to", "txt", "-o", out, "--password-file", dir.path() + "/none", locked});
    EXPECT_EQ(missingFile.status, 2);
    EXPECT_TRUE(missingFile.err.contains("cannot read the password"))
        << missingFile.err.toStdString();
}

// Each skip or failure says why, and names that Qt cannot hold or command lines must quote work.
TEST_F(Cli, MessagesSayWhyAndOddNamesWork) {
    const QString empty = dir.path() + "/empty.pdf";
    QFile e(empty);
    ASSERT_TRUE(e.open(QIODevice::WriteOnly));
    e.write(QByteArray::fromStdString(testing_support::assemblePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"},
        "/Root 1 0 R")));
    e.close();
    EXPECT_EQ(convert({"--to", "doc", "-o", out, empty}).out,
              empty + ": skipped: it has no pages\n");
    EXPECT_TRUE(convert({"--to", "html", "-o", out, empty}).out.endsWith("it has no pages\n"));

    // A 251-byte name fits with ".pdf" but not in its HTML folder with ".html": said so, and no
    // empty folder stays. Three bytes shorter, the pictures' names are cut to fit.
    const QString longest = dir.path() + "/" + QString(251, 'n') + ".pdf";
    ASSERT_TRUE(QFile::copy(pdf, longest));
    const Outcome tooLong = convert({"--to", "html", "-o", out, longest});
    EXPECT_TRUE(tooLong.out.endsWith("failed: the output's name is too long for the file system\n"))
        << tooLong.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out + "/" + QString(251, 'n')));
    const QString shorter = dir.path() + "/" + QString(124, QChar(0xE9)) + ".pdf"; // 248 bytes
    ASSERT_TRUE(QFile::copy(pdf, shorter));
    EXPECT_EQ(convert({"--to", "html", "-o", out, shorter}).status, 0);

    // A Latin-1 name, which is not UTF-8: opened, its outputs named as the name was meant.
    const std::string latin1 = dir.path().toStdString() + "/caf\xE9 menu.pdf";
    ASSERT_EQ(::link(pdf.toUtf8().constData(), latin1.c_str()), 0);
    QProcess shell;
    shell.start("/bin/sh", {"-c",
                            "exec \"$0\" convert --to txt -o \"$1\" \"$2\"/\"$(printf "
                            "'caf\\351 menu.pdf')\"",
                            cli, out, dir.path()});
    shell.waitForFinished(60000);
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const QString line = QString::fromUtf8(shell.readAllStandardOutput());
    EXPECT_EQ(line, dir.path() + "/café menu.pdf: wrote " + out + "/café menu.txt\n");

    // An application folder whose path holds a quote: its command-line tools still start, also
    // the decryption. Hard links make the copy cheap.
    const QString quoted = QStringLiteral(LUMADOC_APP_DIR "/../app \"quoted\"");
    QDir(quoted).removeRecursively();
    ASSERT_EQ(QProcess::execute("cp", {"-al", LUMADOC_APP_DIR, quoted}), 0);
    const QString locked = dir.path() + "/locked.pdf";
    ASSERT_EQ(QProcess::execute("qpdf", {"--encrypt", "pw", "owner", "256", "--", pdf, locked}), 0);
    for (const char* format : {"txt", "html", "swf"}) {
        QProcess p;
        p.start(quoted + "/lumadoc-cli",
                {"convert", "--to", format, "-o", out + "/q", "--password", "pw", pdf, locked});
        p.waitForFinished(120000);
        EXPECT_EQ(p.exitCode(), 0) << format << p.readAllStandardOutput().toStdString();
    }
    QDir(quoted).removeRecursively();
}

TEST_F(Cli, HelpAndFolders) {
    QProcess help;
    help.start(cli, {"--help"});
    help.waitForFinished();
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().startsWith("usage: lumadoc-cli convert"));

    // A folder among the arguments: its PDF files in the order a file manager shows them.
    const QString folder = dir.path() + "/scans";
    QDir().mkpath(folder + "/Sub");
    for (const char* name : {"scan10.pdf", "Scan2.pdf", "scan1.pdf", "Sub/inner.pdf"}) {
        QFile::copy(pdf, folder + "/" + name);
    }
    const Outcome r = convert({"--to", "txt", "-o", out, folder});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    QStringList order;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
        order << line.section(": ", 0, 0).mid(folder.size() + 1);
    }
    EXPECT_EQ(order, (QStringList{"scan1.pdf", "Scan2.pdf", "scan10.pdf", "Sub/inner.pdf"}));
}

TEST_F(Cli, ATerminationRequestStopsAfterThePagesInHandAndLeavesOnlyWholeImages) {
    const QString book = QStringLiteral(LUMADOC_CORPUS "/freeculture.pdf");
    if (!QFileInfo::exists(book)) {
        GTEST_SKIP() << "needs the corpus";
    }
    for (const int signal : {SIGTERM, SIGKILL}) {
        const QString folder = out + QString::number(signal);
        QProcess p;
        p.start(cli, {"convert", "--to", "png", "-o", folder, book});
        ASSERT_TRUE(p.waitForStarted());
        // Wait for the first images, then end it in the middle of the export.
        for (int i = 0; i < 200 && QDir(folder + "/freeculture").isEmpty(); ++i) {
            QThread::msleep(20);
        }
        QThread::msleep(200);
        ::kill(pid_t(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        if (signal == SIGTERM) {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 128 + SIGTERM);
            EXPECT_TRUE(p.readAllStandardOutput().contains("failed: the export was stopped"));
        }
        const QFileInfoList left =
            QDir(folder + "/freeculture").entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_FALSE(left.isEmpty());
        EXPECT_LT(left.size(), 352) << "stopped before the end";
        for (const QFileInfo& file : left) {
            EXPECT_TRUE(file.fileName().startsWith("page-")) << file.fileName().toStdString();
            QFile f(file.filePath());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_TRUE(f.readAll().endsWith(QByteArray("IEND\xae\x42\x60\x82", 8)))
                << file.fileName().toStdString() << " is not a whole PNG file";
        }
    }
}

// The --ocr flag alone decides what the HTML tool is told, whatever LUMADOC_OCR the terminal
// has: a copy of lumadoc-cli runs beside a stand-in pdf2htm that writes its LUMADOC_OCR as the
// HTML file.
TEST_F(Cli, TheOcrFlagAloneDecidesWhatTheHtmlToolIsTold) {
    const QString app = dir.path() + "/app";
    ASSERT_TRUE(QDir().mkpath(app + "/data"));
    ASSERT_TRUE(QFile::copy(cli, app + "/lumadoc-cli"));
    ASSERT_TRUE(QFile::link(QFileInfo(LUMADOC_APP_DIR "/libpdftox.so").absoluteFilePath(),
                            app + "/libpdftox.so"));
    QFile tool(app + "/data/pdf2htm");
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\nfor last; do :; done\nprintf %s \"${LUMADOC_OCR-unset}\" > \"$last\"\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    struct Case {
        QStringList flag;
        const char* told;
    };
    for (const Case& c : {Case{{}, "1"}, Case{{"--ocr=no"}, "0"}, Case{{"--ocr"}, "1"},
                          Case{{"--ocr=off", "--ocr=yes"}, "1"}}) {
        QProcess p;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LUMADOC_OCR", "0");
        p.setProcessEnvironment(environment);
        p.start(app + "/lumadoc-cli",
                QStringList{"convert", "--to", "html", "-o", out} + c.flag + QStringList{pdf});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        QFile html(out + "/report v2/report v2.html");
        ASSERT_TRUE(html.open(QIODevice::ReadOnly)) << c.flag.join(' ').toStdString();
        EXPECT_EQ(html.readAll(), c.told) << c.flag.join(' ').toStdString();
    }
}

TEST_F(Cli, UsageErrorsGiveStatusTwo) {
    for (const QStringList& args :
         {QStringList{}, QStringList{pdf}, QStringList{"--to", "pdf", pdf},
          QStringList{"--to", "txt"}, QStringList{"--to", "txt", "--first", "x", pdf},
          QStringList{"--to", "txt", "--fps", "2", pdf},
          QStringList{"--to", "swf", "--fps", "11", pdf},
          QStringList{"--to", "txt", "--bogus", pdf},
          QStringList{"--to", "swf", "--compress=maybe", pdf},
          QStringList{"--to", "doc", "--ocr=maybe", pdf},
          QStringList{"--to", "txt", "--ocr", pdf}}) {
        const Outcome r = convert(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

} // namespace
