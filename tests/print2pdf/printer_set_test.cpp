// The default-printer switch of each Windows family, on a spooler that plays that family.
#include "print2pdf/printer_set.h"

#include "fake_spooler.h"

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace print2pdf;
using platform::Spooler;
using testing_support::FakeSpooler;

namespace {

// The settings-changed broadcast to every top-level window, 500 ms each.
const QStringList iniChange{"ffff", "1a", "0", "0", "0", "500"};

FakeSpooler windows9x() {
    FakeSpooler spooler;
    spooler.platformId = Spooler::PlatformWin32Windows;
    spooler.majorVersion = 4;
    spooler.addPrinter("Office");
    spooler.addPrinter("vxPDF");
    spooler.defaultPrinter = "Office";
    return spooler;
}

FakeSpooler windowsNt4(const QString& vxPdfPorts) {
    FakeSpooler spooler;
    spooler.platformId = Spooler::PlatformWin32Nt;
    spooler.majorVersion = 4;
    spooler.addPrinter("Office");
    spooler.addPrinter("vxPDF");
    spooler.defaultPrinter = "Office";
    spooler.profile["Windows"]["device"] = "Office,winspool,LPT1:";
    if (!vxPdfPorts.isNull()) {
        spooler.profile["PrinterPorts"]["vxPDF"] = vxPdfPorts;
    }
    return spooler;
}

TEST(SetDefaultPrinter, ChoosesTheMethodByPlatformAndVersion) {
    struct Case {
        quint32 platformId;
        quint32 major;
        QString firstCallAfterVersion; ///< empty: nothing after reading the version
    };
    const Case cases[] = {
        {Spooler::PlatformWin32Windows, 4, "OpenPrinterA"},
        {Spooler::PlatformWin32Nt, 4, "GetProfileStringA"},
        {Spooler::PlatformWin32Nt, 5, "SetDefaultPrinterA"},
        {Spooler::PlatformWin32Nt, 10, "SetDefaultPrinterA"},
        {0, 10, ""}, // Win32s
        {3, 10, ""}, // Windows CE
    };
    for (const Case& c : cases) {
        FakeSpooler spooler = windowsNt4("winspool,Ne00:,15,45");
        spooler.platformId = c.platformId;
        spooler.majorVersion = c.major;
        SetDefaultPrinter(spooler, "vxPDF");
        const QStringList called = spooler.functionsCalled();
        ASSERT_FALSE(called.isEmpty());
        EXPECT_EQ(called.front(), "GetVersionExA");
        EXPECT_EQ(spooler.callsTo("GetVersionExA").front(), QStringList{"148"});
        if (c.firstCallAfterVersion.isEmpty()) {
            EXPECT_EQ(called.size(), 1) << "platform " << c.platformId << " has no method";
            EXPECT_EQ(spooler.defaultPrinter, "Office");
        } else {
            ASSERT_GE(called.size(), 2);
            EXPECT_EQ(called[1], c.firstCallAfterVersion) << "platform " << c.platformId;
            if (c.firstCallAfterVersion == "SetDefaultPrinterA") {
                EXPECT_EQ(called.size(), 2) << "from version 5 on, SetDefaultPrinterA alone";
            }
            EXPECT_EQ(spooler.defaultPrinter, "vxPDF") << "platform " << c.platformId;
        }
    }

    FakeSpooler unreadable = windows9x();
    unreadable.versionFails = true;
    SetDefaultPrinter(unreadable, "vxPDF");
    EXPECT_EQ(unreadable.functionsCalled(), QStringList{"GetVersionExA"});
}

TEST(SetDefaultPrinter9x, SetsTheDefaultBitOfTheRecordAndTellsTheWindows) {
    FakeSpooler spooler = windows9x();
    const QByteArray before = spooler.printers["vxPDF"];
    SetDefaultPrinter9x(spooler, "vxPDF");

    EXPECT_EQ(spooler.functionsCalled(),
              (QStringList{"OpenPrinterA", "GetPrinterA", "GetPrinterA", "SetPrinterA",
                           "SendMessageTimeoutA", "ClosePrinter"}));
    const auto reads = spooler.callsTo("GetPrinterA");
    EXPECT_EQ(reads[0], (QStringList{"vxPDF", "2", "null"})) << "first asked for the size";
    EXPECT_EQ(reads[1], (QStringList{"vxPDF", "2", "84"})) << "then read with that size";
    EXPECT_EQ(spooler.callsTo("SetPrinterA").front(), (QStringList{"vxPDF", "2", "0"}));
    EXPECT_EQ(spooler.callsTo("SendMessageTimeoutA").front(), iniChange);
    EXPECT_EQ(spooler.callsTo("ClosePrinter").front(), QStringList{"vxPDF"});

    // The written record is the one read, with bit 4 added to the word at offset 52.
    ASSERT_EQ(spooler.writtenRecords.size(), 1u);
    QByteArray expected = before;
    expected[52] = char(Spooler::PrinterAttributeLocal | Spooler::PrinterAttributeDefault);
    EXPECT_EQ(spooler.writtenRecords.front().toHex(), expected.toHex());
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
}

TEST(SetDefaultPrinter9x, StopsAtEachFailureAndAlwaysClosesAnOpenPrinter) {
    // No such printer: no handle, nothing else.
    FakeSpooler missing = windows9x();
    SetDefaultPrinter9x(missing, "Nowhere");
    EXPECT_EQ(missing.functionsCalled(), QStringList{"OpenPrinterA"});

    // The size query fails with another error than "buffer too small": no read, no write.
    FakeSpooler otherError = windows9x();
    otherError.sizeQueryError = Spooler::ErrorInvalidParameter;
    SetDefaultPrinter9x(otherError, "vxPDF");
    EXPECT_EQ(otherError.functionsCalled(),
              (QStringList{"OpenPrinterA", "GetPrinterA", "ClosePrinter"}));

    // The read fails: nothing written.
    FakeSpooler unreadable = windows9x();
    unreadable.recordReadFails = true;
    SetDefaultPrinter9x(unreadable, "vxPDF");
    EXPECT_EQ(unreadable.functionsCalled(),
              (QStringList{"OpenPrinterA", "GetPrinterA", "GetPrinterA", "ClosePrinter"}));

    // The write fails: no broadcast.
    FakeSpooler unwritable = windows9x();
    unwritable.recordWriteFails = true;
    SetDefaultPrinter9x(unwritable, "vxPDF");
    EXPECT_EQ(
        unwritable.functionsCalled(),
        (QStringList{"OpenPrinterA", "GetPrinterA", "GetPrinterA", "SetPrinterA", "ClosePrinter"}));
    EXPECT_EQ(unwritable.defaultPrinter, "Office");
}

TEST(SetDefaultPrinterNT, Nt4WritesTheDeviceEntryFromThePrinterPorts) {
    FakeSpooler spooler = windowsNt4("winspool,Ne00:,15,45");
    SetDefaultPrinterNT(spooler, 4, "vxPDF");

    EXPECT_EQ(spooler.functionsCalled(),
              (QStringList{"GetProfileStringA", "WriteProfileStringA", "SendMessageTimeoutA"}));
    EXPECT_EQ(spooler.callsTo("GetProfileStringA").front(),
              (QStringList{"PrinterPorts", "vxPDF", "", "1024"}));
    EXPECT_EQ(spooler.callsTo("WriteProfileStringA").front(),
              (QStringList{"Windows", "device", "vxPDF,winspool,Ne00:"}));
    EXPECT_EQ(spooler.callsTo("SendMessageTimeoutA").front(), iniChange);
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
}

TEST(SetDefaultPrinterNT, Nt4LeavesTheProfileAloneWithoutDriverAndPort) {
    // No second comma, no comma at all, no entry (length 0), an empty entry.
    for (const QString& ports :
         {QString("winspool,Ne00:"), QString("winspool"), QString(), QString("")}) {
        FakeSpooler spooler = windowsNt4(ports);
        SetDefaultPrinterNT(spooler, 4, "vxPDF");
        EXPECT_EQ(spooler.functionsCalled(), QStringList{"GetProfileStringA"})
            << ports.toStdString();
        EXPECT_EQ(spooler.profile["Windows"]["device"], "Office,winspool,LPT1:");
        EXPECT_EQ(spooler.defaultPrinter, "Office");
    }
}

} // namespace
