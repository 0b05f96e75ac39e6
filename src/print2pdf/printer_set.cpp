#include "printer_set.h"

#include <QtEndian>

#include <algorithm>

using platform::Spooler;

namespace print2pdf {

void SetDefaultPrinter(Spooler& spooler, const QString& name) {
    Spooler::OsVersionInfo version;
    if (!spooler.GetVersionExA(&version)) {
        return;
    }
    switch (version.platformId) {
    case Spooler::PlatformWin32Windows:
        SetDefaultPrinter9x(spooler, name);
        break;
    case Spooler::PlatformWin32Nt:
        SetDefaultPrinterNT(spooler, version.majorVersion, name);
        break;
    default:
        break;
    }
}

void SetDefaultPrinter9x(Spooler& spooler, const QString& name) {
    Spooler::Handle printer = 0;
    if (!spooler.OpenPrinterA(name, &printer) || printer == 0) {
        return;
    }
    // Asked without a buffer, the spooler answers "buffer too small" with the size it needs.
    quint32 needed = 0;
    if (!spooler.GetPrinterA(printer, 2, nullptr, &needed) &&
        spooler.GetLastError() == Spooler::ErrorInsufficientBuffer) {
        QByteArray record(qsizetype(needed), '\0');
        quint32 used = 0;
        // A record too short to hold the attribute word is left alone.
        if (spooler.GetPrinterA(printer, 2, &record, &used) &&
            record.size() >= Spooler::PrinterInfo2AttributesOffset + 4) {
            char* word = record.data() + Spooler::PrinterInfo2AttributesOffset;
            qToLittleEndian<quint32>(
                qFromLittleEndian<quint32>(word) | Spooler::PrinterAttributeDefault, word);
            if (spooler.SetPrinterA(printer, 2, record, 0)) {
                BroadcastIniChange(spooler, IniChangeTimeoutMs);
            }
        }
    }
    spooler.ClosePrinter(printer);
}

void SetDefaultPrinterNT(Spooler& spooler, quint32 majorVersion, const QString& name) {
    if (majorVersion >= 5) {
        spooler.SetDefaultPrinterA(name);
        return;
    }
    // "winspool,Ne00:,15,45": the driver and the port are the fields before the second comma.
    constexpr quint32 bufferSize = 1024;
    QByteArray buffer(bufferSize, '\0');
    const quint32 length = spooler.GetProfileStringA(QStringLiteral("PrinterPorts"), name,
                                                     QString(), &buffer, bufferSize);
    if (length == 0) {
        return;
    }
    const QByteArray value = buffer.left(qsizetype(std::min(length, bufferSize - 1)));
    const qsizetype firstComma = value.indexOf(',');
    const qsizetype secondComma = firstComma < 0 ? -1 : value.indexOf(',', firstComma + 1);
    if (secondComma < 0) {
        return;
    }
    spooler.WriteProfileStringA(QStringLiteral("Windows"), QStringLiteral("device"),
                                name + QLatin1Char(',') +
                                    QString::fromLocal8Bit(value.left(secondComma)));
    BroadcastIniChange(spooler, IniChangeTimeoutMs);
}

void BroadcastIniChange(Spooler& spooler, quint32 timeoutMs) {
    quintptr result = 0;
    spooler.SendMessageTimeoutA(Spooler::BroadcastWindow, Spooler::WmWinIniChange, 0, 0,
                                Spooler::SmtoNormal, timeoutMs, &result);
}

} // namespace print2pdf
