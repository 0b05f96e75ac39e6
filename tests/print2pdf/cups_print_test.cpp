// Printing through the real CUPS: the host spooler's operations on the user's default printer,
// and documents handed to the PDF printer by DocumentPrinter and the shell's "print" verb, read
// back from the PDFs cups-pdf writes. It creates a print queue and changes the default printer,
// so it runs as root; for others it is skipped.
#include "cups_fixture.h"
#include "pdf_fixture.h"

#include "platform/shell_print.h"
#include "platform/spooler.h"
#include "print2pdf/document_printer.h"
#include "print2pdf/printer_set.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <unistd.h>

using namespace print2pdf;
using namespace testing_support;
using platform::Spooler;

namespace {

class RealCups : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "printing through CUPS is tested as root only: the test creates a "
                            "print queue and changes the default printer";
        }
        const QString missing = pdfPrinter.whatIsMissing();
        ASSERT_TRUE(missing.isEmpty())
            << missing.toStdString() << ": run `make printer` as root to set up the PDF printer";
        // Either would override the user's default printer for every CUPS program.
        qunsetenv("LPDEST");
        qunsetenv("PRINTER");
        other.emplace();
        ASSERT_TRUE(other->ready())
            << "could not create the print queue " << other->name().toStdString();
        ASSERT_EQ(lpstatDefault(), other->name());
    }
    void TearDown() override { other.reset(); }

    QString defaultByHostSpooler() {
        quint32 size = 0;
        spooler.GetDefaultPrinterA(nullptr, &size);
        QByteArray buffer(qsizetype(size), '\0');
        spooler.GetDefaultPrinterA(&buffer, &size);
        return QString::fromLocal8Bit(buffer.left(buffer.indexOf('\0')));
    }

    /// Hands `document` to the PDF printer, checks the default during and after the hand-over,
    /// and returns the PDF that came out (empty, with a failure recorded, when none did).
    QString handOver(const QString& document) {
        const int before = CupsPdfPrinter::lastJobId();
        DocumentPrinter printer; // the host's spooler and the shell's "print" verb
        QElapsedTimer clock;
        clock.start();
        printer.PrintDocumentUsingShellExecute(PdfPrinter, document);
        EXPECT_TRUE(printer.isHandingOver());
        EXPECT_EQ(lpstatDefault(), PdfPrinter) << "the default during the hand-over";
        printer.waitForHandOver();
        const qint64 handOverMs = clock.elapsed();
        EXPECT_EQ(lpstatDefault(), other->name()) << "the previous default is given back";

        QString failure;
        const QString pdf = pdfPrinter.waitForPdf(before, &failure);
        EXPECT_FALSE(pdf.isEmpty()) << failure.toStdString();
        std::cout << "[ measured ] " << QFileInfo(document).fileName().toStdString()
                  << ": hand-over " << handOverMs << " ms, PDF after " << clock.elapsed() << " ms"
                  << std::endl;
        return pdf;
    }

    CupsPdfPrinter pdfPrinter;
    std::optional<OtherDefaultQueue> other;
    Spooler& spooler = Spooler::host();
    QTemporaryDir dir;
};

TEST_F(RealCups, HostSpoolerReadsAndSwitchesTheUsersDefault) {
    // Asked without a buffer: the length needed, NUL included; then the name.
    quint32 size = 0;
    EXPECT_FALSE(spooler.GetDefaultPrinterA(nullptr, &size));
    EXPECT_EQ(spooler.GetLastError(), Spooler::ErrorInsufficientBuffer);
    EXPECT_EQ(size, quint32(other->name().size()) + 1);
    QByteArray buffer(qsizetype(size), 'x');
    ASSERT_TRUE(spooler.GetDefaultPrinterA(&buffer, &size));
    EXPECT_EQ(buffer, other->name().toLatin1() + '\0');

    // The switch is the one `lpoptions -d` makes: the same file, seen by `lpstat -d`.
    ASSERT_TRUE(spooler.SetDefaultPrinterA(PdfPrinter));
    EXPECT_EQ(lpstatDefault(), PdfPrinter);
    QFile options(QDir::homePath() + "/.cups/lpoptions");
    ASSERT_TRUE(options.open(QIODevice::ReadOnly));
    EXPECT_TRUE(options.readAll().contains("Default vxPDF"));
    runProgram("lpoptions", {"-d", other->name()});
    EXPECT_EQ(defaultByHostSpooler(), other->name());

    EXPECT_FALSE(spooler.SetDefaultPrinterA("LumadocNoSuchQueue"));
    EXPECT_EQ(spooler.GetLastError(), Spooler::ErrorInvalidPrinterName);
    EXPECT_EQ(lpstatDefault(), other->name());
}

TEST_F(RealCups, HostSpoolerGivesPrinterRecordsProfileEntriesAndTheVersion) {
    Spooler::Handle printer = 0;
    EXPECT_FALSE(spooler.OpenPrinterA("LumadocNoSuchQueue", &printer));
    EXPECT_EQ(printer, 0u);
    EXPECT_EQ(spooler.GetLastError(), Spooler::ErrorInvalidPrinterName);

    ASSERT_TRUE(spooler.OpenPrinterA(PdfPrinter, &printer));
    quint32 needed = 0;
    EXPECT_FALSE(spooler.GetPrinterA(printer, 2, nullptr, &needed));
    EXPECT_EQ(spooler.GetLastError(), Spooler::ErrorInsufficientBuffer);
    EXPECT_EQ(needed, Spooler::PrinterInfo2Size);
    QByteArray record(qsizetype(needed), '\xff');
    ASSERT_TRUE(spooler.GetPrinterA(printer, 2, &record, &needed));
    const auto attributes = [&] { return qFromLittleEndian<quint32>(record.constData() + 52); };
    EXPECT_EQ(attributes(), Spooler::PrinterAttributeLocal) << "local, not shared, not default";

    // The record written back with the default bit makes the queue the default.
    qToLittleEndian<quint32>(attributes() | Spooler::PrinterAttributeDefault, record.data() + 52);
    ASSERT_TRUE(spooler.SetPrinterA(printer, 2, record, 0));
    EXPECT_EQ(lpstatDefault(), PdfPrinter);
    ASSERT_TRUE(spooler.GetPrinterA(printer, 2, &record, &needed));
    EXPECT_TRUE(attributes() & Spooler::PrinterAttributeDefault);
    EXPECT_TRUE(spooler.ClosePrinter(printer));
    EXPECT_FALSE(spooler.ClosePrinter(printer));
    EXPECT_EQ(spooler.GetLastError(), Spooler::ErrorInvalidHandle);

    QByteArray value(1024, '\0');
    const quint32 length = spooler.GetProfileStringA("PrinterPorts", PdfPrinter, "", &value, 1024);
    EXPECT_EQ(value.left(qsizetype(length)), "winspool,cups-pdf:/,15,45");
    EXPECT_EQ(spooler.GetProfileStringA("Windows", "device", "", &value, 1024),
              quint32(qstrlen("vxPDF,winspool,cups-pdf:/")));
    EXPECT_EQ(spooler.GetProfileStringA("PrinterPorts", "LumadocNoSuchQueue", "none", &value, 3),
              2u)
        << "the default value, cut to the buffer";
    EXPECT_EQ(value.left(3), QByteArray("no\0", 3));

    Spooler::OsVersionInfo version;
    ASSERT_TRUE(spooler.GetVersionExA(&version));
    EXPECT_EQ(version.platformId, Spooler::PlatformWin32Nt);
    EXPECT_EQ(version.majorVersion, 10u);
}

TEST_F(RealCups, TheWindows9xAndNt4MethodsSwitchTheCupsDefaultToo) {
    SetDefaultPrinter9x(spooler, PdfPrinter);
    EXPECT_EQ(lpstatDefault(), PdfPrinter) << "through the level-2 record";

    runProgram("lpoptions", {"-d", other->name()});
    SetDefaultPrinterNT(spooler, 4, PdfPrinter);
    EXPECT_EQ(lpstatDefault(), PdfPrinter) << "through the profile's device entry";
}

TEST_F(RealCups, ThePrintVerbReportsTheEndOnceLpHasQueuedTheJob) {
    runProgram("lpoptions", {"-d", PdfPrinter});
    const QString text = dir.filePath("short.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("One line.\n");
    file.close();

    const int before = CupsPdfPrinter::lastJobId();
    int lastJobAtEnd = -1;
    ASSERT_TRUE(platform::ShellPrint(text, [&] { lastJobAtEnd = CupsPdfPrinter::lastJobId(); }));
    EXPECT_EQ(lastJobAtEnd, -1) << "the end is reported from the event loop, not at the start";
    while (lastJobAtEnd < 0) {
        runEventsFor(10);
    }
    EXPECT_GT(lastJobAtEnd, before) << "lp had queued the job when its end was reported";

    QString failure;
    const QString pdf = pdfPrinter.waitForPdf(before, &failure);
    EXPECT_FALSE(pdf.isEmpty()) << failure.toStdString();
    QFile::remove(pdf);
}

TEST_F(RealCups, HandsATextFileToThePdfPrinter) {
    const QString text = dir.filePath("notes.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("The first page of the notes.\n\fThe second page.\n");
    file.close();

    const QString pdf = handOver(text);
    ASSERT_FALSE(pdf.isEmpty());
    // A printed text file comes out in Type 3 fonts whose text does not extract: its pages are
    // counted and looked at instead.
    EXPECT_EQ(pdfPageCount(pdf), 2);
    EXPECT_TRUE(pdfPageHasInk(pdf, 1));
    EXPECT_TRUE(pdfPageHasInk(pdf, 2));
    QFile::remove(pdf);
}

TEST_F(RealCups, HandsAPdfWhoseNameHasBlanksAndAccentsToThePdfPrinter) {
    const QString document = dir.filePath(QString::fromUtf8("Rapport d'été – Übersicht 2.pdf"));
    ASSERT_TRUE(writeFixturePdf(
        document.toStdString(),
        {{612, 792, 0, textLine("F1", 24, 72, 700, "Lumadoc hands this page over"), {}},
         {612, 792, 0, textLine("F3", 24, 72, 700, "and the second one too"), {}}}));

    const QString pdf = handOver(document);
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(pdfPageCount(pdf), 2);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains("Lumadoc hands this page over")) << text.toStdString();
    EXPECT_TRUE(text.contains("and the second one too")) << text.toStdString();
    QFile::remove(pdf);
}

TEST_F(RealCups, HandsAnOfficeDocumentToThePdfPrinterThroughLibreOffice) {
    if (!platform::LibreOfficeCanPrint()) {
        GTEST_SKIP() << "LibreOffice Writer is not installed (libreoffice-writer)";
    }
    const QString document = dir.filePath(QString::fromUtf8("Lettre d'été.rtf"));
    QFile file(document);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\\rtf1\\ansi{\\fonttbl{\\f0 Liberation Serif;}}\\f0\\fs28 "
               "The first page of the letter.\\page The second page.\\par}");
    file.close();

    const QString pdf = handOver(document);
    ASSERT_FALSE(pdf.isEmpty());
    // LibreOffice's pages use fonts without a text mapping: counted and looked at.
    EXPECT_EQ(pdfPageCount(pdf), 2);
    EXPECT_TRUE(pdfPageHasInk(pdf, 1));
    QFile::remove(pdf);
}

} // namespace
