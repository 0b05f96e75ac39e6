// Handing a document to the PDF printer on a spooler that plays Windows, with a print start
// that records what it was given and returns when the test says so.
#include "print2pdf/document_printer.h"

#include "fake_spooler.h"

#include <QCoreApplication>
#include <QTimer>

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace print2pdf;
using platform::Spooler;
using testing_support::FakeSpooler;

namespace {

/// Print programs that are started but end only when the test calls their `returned`.
struct RecordingPrints {
    struct Print {
        QString document;
        QString defaultPrinter; ///< the default printer when the program started
        std::function<void()> returned;
    };
    explicit RecordingPrints(FakeSpooler& s) : spooler(s) {}

    DocumentPrinter::PrintStart start() {
        return [this](const QString& document, std::function<void()> returned) {
            if (!hasPrintAction) {
                return false;
            }
            prints.push_back({document, spooler.defaultPrinter, std::move(returned)});
            return true;
        };
    }

    FakeSpooler& spooler;
    bool hasPrintAction = true;
    std::vector<Print> prints;
};

FakeSpooler withPrinters(quint32 platformId, quint32 major, const QString& defaultPrinter) {
    FakeSpooler spooler;
    spooler.platformId = platformId;
    spooler.majorVersion = major;
    for (const char* name : {"Office", "Other", "vxPDF", "VXPDF"}) {
        spooler.addPrinter(name);
        spooler.profile["PrinterPorts"][name] = QString("winspool,Ne0%1:,15,45").arg(name[0]);
    }
    spooler.defaultPrinter = defaultPrinter;
    spooler.profile["Windows"]["device"] = defaultPrinter + ",winspool,Ne0O:";
    return spooler;
}

struct Handovers {
    explicit Handovers(DocumentPrinter& printer) {
        QObject::connect(&printer, &DocumentPrinter::handedOver, [this] { ++count; });
    }
    int count = 0;
};

TEST(DocumentPrinter, GivesTheDefaultBackOnlyOnceThePrintProgramHasReturned) {
    struct Family {
        const char* name;
        quint32 platformId;
        quint32 major;
    };
    for (const Family& family : {Family{"Windows 98", Spooler::PlatformWin32Windows, 4},
                                 Family{"NT 4", Spooler::PlatformWin32Nt, 4},
                                 Family{"Windows 10", Spooler::PlatformWin32Nt, 10}}) {
        SCOPED_TRACE(family.name);
        FakeSpooler spooler = withPrinters(family.platformId, family.major, "Office");
        RecordingPrints programs(spooler);
        DocumentPrinter printer(spooler, programs.start());
        Handovers handovers(printer);

        printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/letter.doc");

        // The default is read in two steps: its length, then the name into that many characters.
        const auto reads = spooler.callsTo("GetDefaultPrinterA");
        ASSERT_GE(reads.size(), 2u);
        EXPECT_EQ(reads[0], (QStringList{"null", "0"}));
        EXPECT_EQ(reads[1], (QStringList{"buffer", "7"}));

        ASSERT_EQ(programs.prints.size(), 1u);
        EXPECT_EQ(programs.prints[0].document, "/docs/letter.doc");
        EXPECT_EQ(programs.prints[0].defaultPrinter, "vxPDF");
        EXPECT_TRUE(printer.isHandingOver());

        QCoreApplication::processEvents();
        EXPECT_EQ(spooler.defaultPrinter, "vxPDF") << "not given back while the program runs";
        EXPECT_EQ(handovers.count, 0);

        programs.prints[0].returned();
        EXPECT_EQ(spooler.defaultPrinter, "Office");
        EXPECT_FALSE(printer.isHandingOver());
        EXPECT_EQ(handovers.count, 1);
    }
}

TEST(DocumentPrinter, SwitchesOnlyWhenTheNameDiffersExactly) {
    // Already the default: no switch, nothing to give back.
    FakeSpooler same = withPrinters(Spooler::PlatformWin32Nt, 10, "vxPDF");
    RecordingPrints samePrograms(same);
    DocumentPrinter samePrinter(same, samePrograms.start());
    samePrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    ASSERT_EQ(samePrograms.prints.size(), 1u);
    samePrograms.prints[0].returned();
    EXPECT_TRUE(same.callsTo("SetDefaultPrinterA").empty());
    EXPECT_EQ(same.defaultPrinter, "vxPDF");

    // A name that differs in letter case only is another printer.
    FakeSpooler cased = withPrinters(Spooler::PlatformWin32Nt, 10, "VXPDF");
    RecordingPrints casedPrograms(cased);
    DocumentPrinter casedPrinter(cased, casedPrograms.start());
    casedPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    ASSERT_EQ(casedPrograms.prints.size(), 1u);
    EXPECT_EQ(casedPrograms.prints[0].defaultPrinter, "vxPDF");
    casedPrograms.prints[0].returned();
    EXPECT_EQ(cased.callsTo("SetDefaultPrinterA"),
              (std::vector<QStringList>{{"vxPDF"}, {"VXPDF"}}));
}

TEST(DocumentPrinter,
     OverlappingPrintsAllGoToThePdfPrinterAndTheUsersDefaultComesBackAfterTheLast) {
    FakeSpooler spooler = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    RecordingPrints programs(spooler);
    DocumentPrinter printer(spooler, programs.start());
    Handovers handovers(printer);

    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/1.txt");
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/2.pdf");
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/3.png");
    ASSERT_EQ(programs.prints.size(), 3u);
    for (const auto& print : programs.prints) {
        EXPECT_EQ(print.defaultPrinter, "vxPDF") << print.document.toStdString();
    }

    programs.prints[1].returned();
    programs.prints[1].returned(); // a second report of the same end counts once
    programs.prints[0].returned();
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF") << "one print is still pending";
    EXPECT_TRUE(printer.isHandingOver());
    EXPECT_EQ(handovers.count, 0);

    programs.prints[2].returned();
    EXPECT_EQ(spooler.defaultPrinter, "Office") << "the user's default, not vxPDF, comes back";
    EXPECT_EQ(handovers.count, 1);
    EXPECT_EQ(spooler.callsTo("SetDefaultPrinterA"),
              (std::vector<QStringList>{{"vxPDF"}, {"Office"}}));

    // The next print starts afresh; one to another printer meanwhile does not make vxPDF the
    // default to give back.
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/4.txt");
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
    printer.PrintDocumentUsingShellExecute("Other", "/docs/5.txt");
    EXPECT_EQ(programs.prints[4].defaultPrinter, "Other");
    programs.prints[3].returned();
    programs.prints[4].returned();
    EXPECT_EQ(spooler.defaultPrinter, "Office");
}

TEST(DocumentPrinter, ATypeWithoutPrintActionGivesTheDefaultBackAtOnce) {
    FakeSpooler spooler = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    RecordingPrints programs(spooler);
    DocumentPrinter printer(spooler, programs.start());
    Handovers handovers(printer);

    programs.hasPrintAction = false;
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/archive.zip");
    EXPECT_TRUE(programs.prints.empty());
    EXPECT_EQ(spooler.defaultPrinter, "Office");
    EXPECT_FALSE(printer.isHandingOver());
    EXPECT_EQ(handovers.count, 1);

    // While another print is pending the default stays vxPDF for it.
    programs.hasPrintAction = true;
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    programs.hasPrintAction = false;
    printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/archive.zip");
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
    programs.prints[0].returned();
    EXPECT_EQ(spooler.defaultPrinter, "Office");
}

TEST(DocumentPrinter, LeavesTheDefaultAloneWhenItCannotOrNeedNotGiveItBack) {
    // vxPDF not installed: the switch fails, and the document, which would come out on the
    // user's printer, is not handed over.
    FakeSpooler missing = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    missing.printers.remove("vxPDF");
    RecordingPrints missingPrograms(missing);
    DocumentPrinter missingPrinter(missing, missingPrograms.start());
    Handovers handovers(missingPrinter);
    missingPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    EXPECT_TRUE(missingPrograms.prints.empty());
    EXPECT_EQ(missing.defaultPrinter, "Office");
    EXPECT_EQ(handovers.count, 1);

    // A default that wins over the user's (LPDEST) hides vxPDF: nothing is printed, and the
    // switch that was stored all the same is taken back.
    FakeSpooler hidden = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    hidden.overridingDefault = "Office";
    RecordingPrints hiddenPrograms(hidden);
    DocumentPrinter hiddenPrinter(hidden, hiddenPrograms.start());
    hiddenPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    EXPECT_TRUE(hiddenPrograms.prints.empty());
    EXPECT_EQ(hidden.defaultPrinter, "Office");

    // The user picks another default while the print runs: that choice stays.
    FakeSpooler chosen = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    RecordingPrints chosenPrograms(chosen);
    DocumentPrinter chosenPrinter(chosen, chosenPrograms.start());
    chosenPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    chosen.SetDefaultPrinterA("Other");
    chosenPrograms.prints[0].returned();
    EXPECT_EQ(chosen.defaultPrinter, "Other");

    // ...and a print started after that choice gives it back, not the first default.
    chosenPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/b.txt");
    chosenPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/c.txt");
    chosen.SetDefaultPrinterA("Office");
    chosenPrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/d.txt");
    for (size_t i = 1; i < chosenPrograms.prints.size(); ++i) {
        chosenPrograms.prints[i].returned();
    }
    EXPECT_EQ(chosen.defaultPrinter, "Office");

    // No default printer before: none after.
    FakeSpooler none = withPrinters(Spooler::PlatformWin32Nt, 10, "");
    RecordingPrints nonePrograms(none);
    DocumentPrinter nonePrinter(none, nonePrograms.start());
    nonePrinter.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
    ASSERT_EQ(nonePrograms.prints.size(), 1u);
    EXPECT_EQ(nonePrograms.prints[0].defaultPrinter, "vxPDF");
    nonePrograms.prints[0].returned();
    EXPECT_EQ(none.defaultPrinter, "");
}

TEST(DocumentPrinter, WaitingForTheHandOverKeepsEventsFlowing) {
    FakeSpooler spooler = withPrinters(Spooler::PlatformWin32Nt, 10, "Office");
    RecordingPrints programs(spooler);
    {
        DocumentPrinter printer(spooler, programs.start());
        printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/a.txt");
        // The program "ends" from a timer, which only an event loop runs.
        QTimer::singleShot(1, [&] { programs.prints[0].returned(); });
        printer.waitForHandOver();
        EXPECT_EQ(spooler.defaultPrinter, "Office");
        EXPECT_TRUE(printer.waitForHandOver()); // nothing pending: returns at once

        // A print program that does not return: the wait ends at its limit, and the default
        // can be given back all the same; the program's late end changes nothing.
        printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/hangs.txt");
        EXPECT_FALSE(printer.waitForHandOver(5));
        EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
        printer.giveDefaultBackNow();
        EXPECT_FALSE(printer.isHandingOver());
        EXPECT_EQ(spooler.defaultPrinter, "Office");
        programs.prints.back().returned();
        EXPECT_EQ(spooler.defaultPrinter, "Office");

        // Destroyed while a print is pending, it waits for it too.
        printer.PrintDocumentUsingShellExecute("vxPDF", "/docs/b.txt");
        QTimer::singleShot(1, [&] { programs.prints.back().returned(); });
    }
    EXPECT_EQ(spooler.defaultPrinter, "Office");
}

} // namespace
