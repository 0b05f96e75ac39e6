// What the shell's "print" verb runs for each kind of file, decided by the file's type.
#include "platform/shell_print.h"

#include "pdf_fixture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

using platform::PrintCommand;
using platform::ShellPrintCommand;

namespace platform {
void PrintTo(const PrintCommand& command, std::ostream* os) {
    *os << command.program.toStdString();
    for (const QString& argument : command.arguments) {
        *os << " [" << argument.toStdString() << "]";
    }
}
} // namespace platform

namespace {

class ShellPrintCommandTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    static std::optional<PrintCommand> lp(const QString& path) {
        return PrintCommand{"lp", {path}};
    }
    static std::optional<PrintCommand> soffice(const QString& path) {
        return PrintCommand{"soffice", {"--headless", "-p", path}};
    }

    QTemporaryDir dir;
};

TEST_F(ShellPrintCommandTest, PdfPostScriptTextAndImagesGoToLp) {
    const QString pdf = dir.filePath("a.pdf");
    ASSERT_TRUE(testing_support::writeFixturePdf(pdf.toStdString(), {{}}));
    const QString png = dir.filePath("picture.png");
    const QString jpeg = dir.filePath("photo.jpg");
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(png));
    ASSERT_TRUE(image.save(jpeg));

    QFile pdfFile(pdf);
    ASSERT_TRUE(pdfFile.open(QIODevice::ReadOnly));
    // The type is the content's when the name says nothing.
    const QString unnamedPdf = write("scan", pdfFile.readAll());

    for (const QString& path :
         {pdf, write("page.ps", "%!PS-Adobe-3.0\nshowpage\n"), write("notes.txt", "Hello\n"),
          write("README", "plain words, no extension\n"), write("table.csv", "a,b\n1,2\n"),
          write("main.cpp", "int main() {}\n"), png, jpeg, unnamedPdf}) {
        EXPECT_EQ(ShellPrintCommand(path), lp(path)) << path.toStdString();
    }
}

TEST_F(ShellPrintCommandTest, NamesReachLpUnchangedAndAbsolute) {
    const QString name = QString::fromUtf8("Rapport d'été \"final\" – Übersicht 名前.txt");
    const QString path = write(name, "text\n");
    EXPECT_EQ(ShellPrintCommand(path), lp(path));

    // A relative name becomes the absolute path; one starting with '-' is no option for lp.
    const QString dash = write("-n 5.txt", "text\n");
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const auto relative = ShellPrintCommand("-n 5.txt");
    QDir::setCurrent(oldCurrent);
    EXPECT_EQ(relative, lp(dash));
}

TEST_F(ShellPrintCommandTest, OfficeDocumentsGoToLibreOfficeWhenItCanPrintThem) {
    const QString rtf = "{\\rtf1\\ansi Hello}";
    struct Case {
        QString path;
        const char* module;
    };
    const Case cases[] = {
        {write("letter.rtf", rtf.toLatin1()), "swlo"},
        {write("old.doc", rtf.toLatin1()), "swlo"}, // an RTF named .doc
        {write("report.docx", "PK\3\4"), "swlo"},
        {write("report.odt", "PK\3\4"), "swlo"},
        {write("sheet.xlsx", "PK\3\4"), "sclo"},
        {write("sheet.xls", "x"), "sclo"},
        {write("sheet.ods", "PK\3\4"), "sclo"},
        {write("slides.pptx", "PK\3\4"), "sdlo"},
        {write("slides.ppt", "x"), "sdlo"},
    };
    for (const Case& c : cases) {
        const bool can = platform::LibreOfficeCanPrint(QString::fromLatin1(c.module));
        EXPECT_EQ(ShellPrintCommand(c.path), can ? soffice(c.path) : std::nullopt)
            << c.path.toStdString() << (can ? " (LibreOffice prints it)" : " (no LibreOffice)");
    }
}

TEST_F(ShellPrintCommandTest, OtherFilesHaveNoPrintAction) {
    QByteArray binary(256, '\0');
    for (int i = 0; i < binary.size(); ++i) {
        binary[i] = char(i);
    }
    for (const QString& path : {write("data.bin", binary), write("archive.zip", "PK\3\4\x14\0\0\0"),
                                write("drawing.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"),
                                write("data.xml", "<?xml version=\"1.0\"?><a>text</a>"),
                                dir.filePath("missing.pdf"), dir.path(), QString()}) {
        EXPECT_EQ(ShellPrintCommand(path), std::nullopt) << path.toStdString();
    }

    bool called = false;
    EXPECT_FALSE(platform::ShellPrint(dir.filePath("missing.pdf"), [&] { called = true; }));
    EXPECT_FALSE(called);
}

} // namespace
