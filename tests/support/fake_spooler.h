#pragma once

// A spooler that plays a Windows 95/98/Me or NT system for the printer switch: printers with
// their level-2 records, the profile (win.ini) sections and the default printer, held in
// memory. Every call is recorded with its arguments, and a few faults can be turned on.
#include "platform/spooler.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace testing_support {

class FakeSpooler final : public platform::Spooler {
public:
    struct Call {
        QString function;
        QStringList arguments;
    };

    // What GetVersionExA reports.
    quint32 platformId = PlatformWin32Nt;
    quint32 majorVersion = 10;
    bool versionFails = false;

    /// The default printer's name; empty: none.
    QString defaultPrinter;
    /// A default that wins over defaultPrinter when read, as LPDEST does on CUPS: writes still
    /// go to defaultPrinter.
    QString overridingDefault;
    /// Each printer's level-2 record.
    QMap<QString, QByteArray> printers;
    /// section -> key -> value.
    QMap<QString, QMap<QString, QString>> profile;

    // Faults.
    quint32 sizeQueryError = ErrorInsufficientBuffer; ///< GetPrinterA asked without a buffer
    bool recordReadFails = false;                     ///< GetPrinterA with a buffer
    bool recordWriteFails = false;                    ///< SetPrinterA

    std::vector<Call> calls;
    /// The records SetPrinterA was given, in order.
    std::vector<QByteArray> writtenRecords;

    /// Adds a printer whose record (84 bytes, zero apart from a byte pattern in the text
    /// pointers) holds `attributes` at offset 52.
    void addPrinter(const QString& name, quint32 attributes = PrinterAttributeLocal) {
        QByteArray record(PrinterInfo2Size, '\0');
        for (int i = 0; i < PrinterInfo2AttributesOffset; ++i) {
            record[i] = char(0xa0 + i);
        }
        qToLittleEndian<quint32>(attributes, record.data() + PrinterInfo2AttributesOffset);
        printers.insert(name, record);
    }
    quint32 attributesOf(const QString& name) const {
        return qFromLittleEndian<quint32>(printers.value(name).constData() +
                                          PrinterInfo2AttributesOffset);
    }

    /// The argument lists of the calls of `function`, in order.
    std::vector<QStringList> callsTo(const QString& function) const {
        std::vector<QStringList> found;
        for (const Call& call : calls) {
            if (call.function == function) {
                found.push_back(call.arguments);
            }
        }
        return found;
    }
    /// The functions called, in order.
    QStringList functionsCalled() const {
        QStringList names;
        for (const Call& call : calls) {
            names << call.function;
        }
        return names;
    }

    bool GetDefaultPrinterA(QByteArray* buffer, quint32* size) override {
        record("GetDefaultPrinterA", {buffer ? "buffer" : "null", QString::number(*size)});
        const QString reported = overridingDefault.isEmpty() ? defaultPrinter : overridingDefault;
        if (reported.isEmpty()) {
            *size = 0;
            return fail(ErrorFileNotFound);
        }
        return StoreName(reported.toLocal8Bit(), buffer, size) || fail(ErrorInsufficientBuffer);
    }

    bool SetDefaultPrinterA(const QString& printer) override {
        record("SetDefaultPrinterA", {printer});
        if (!printer.isEmpty() && !printers.contains(printer)) {
            return fail(ErrorInvalidPrinterName);
        }
        makeDefault(printer);
        return true;
    }

    bool OpenPrinterA(const QString& printerName, Handle* printer) override {
        record("OpenPrinterA", {printerName});
        *printer = 0;
        if (!printers.contains(printerName)) {
            return fail(ErrorInvalidPrinterName);
        }
        *printer = ++m_lastHandle;
        m_open.insert(*printer, printerName);
        return true;
    }

    bool ClosePrinter(Handle printer) override {
        record("ClosePrinter", {nameOf(printer)});
        return m_open.remove(printer) ? true : fail(ErrorInvalidHandle);
    }

    bool GetPrinterA(Handle printer, quint32 level, QByteArray* buffer, quint32* needed) override {
        record("GetPrinterA", {nameOf(printer), QString::number(level),
                               buffer ? QString::number(buffer->size()) : QString("null")});
        if (!m_open.contains(printer)) {
            return fail(ErrorInvalidHandle);
        }
        if (level != 2) {
            return fail(ErrorInvalidLevel);
        }
        const QByteArray& stored = printers[m_open.value(printer)];
        *needed = quint32(stored.size());
        if (!buffer || buffer->size() < stored.size()) {
            return fail(sizeQueryError);
        }
        if (recordReadFails) {
            return fail(ErrorInvalidParameter);
        }
        std::memcpy(buffer->data(), stored.constData(), size_t(stored.size()));
        return true;
    }

    bool SetPrinterA(Handle printer, quint32 level, const QByteArray& rec,
                     quint32 command) override {
        record("SetPrinterA", {nameOf(printer), QString::number(level), QString::number(command)});
        writtenRecords.push_back(rec);
        if (!m_open.contains(printer)) {
            return fail(ErrorInvalidHandle);
        }
        if (recordWriteFails) {
            return fail(ErrorInvalidParameter);
        }
        const QString name = m_open.value(printer);
        printers[name] = rec;
        // The 9x spooler makes the printer whose record says so the default.
        if (qFromLittleEndian<quint32>(rec.constData() + PrinterInfo2AttributesOffset) &
            PrinterAttributeDefault) {
            makeDefault(name);
        }
        return true;
    }

    quint32 GetLastError() const override { return m_lastError; }

    quint32 GetProfileStringA(const QString& section, const QString& key,
                              const QString& defaultValue, QByteArray* returned,
                              quint32 size) override {
        record("GetProfileStringA", {section, key, defaultValue, QString::number(size)});
        const QByteArray value = profile.value(section).value(key, defaultValue).toLocal8Bit();
        return StoreProfileValue(value, returned, size);
    }

    bool WriteProfileStringA(const QString& section, const QString& key,
                             const QString& value) override {
        record("WriteProfileStringA", {section, key, value});
        profile[section][key] = value;
        // On NT 4 the "device" entry is the default printer.
        if (section == "Windows" && key == "device") {
            makeDefault(value.section(',', 0, 0));
        }
        return true;
    }

    bool GetVersionExA(OsVersionInfo* info) override {
        record("GetVersionExA", {QString::number(info->osVersionInfoSize)});
        if (versionFails || info->osVersionInfoSize != 148) {
            return fail(ErrorInsufficientBuffer);
        }
        info->platformId = platformId;
        info->majorVersion = majorVersion;
        return true;
    }

    quintptr SendMessageTimeoutA(quintptr window, quint32 message, quintptr wParam, qintptr lParam,
                                 quint32 flags, quint32 timeoutMs, quintptr* result) override {
        record("SendMessageTimeoutA",
               {QString::number(window, 16), QString::number(message, 16), QString::number(wParam),
                QString::number(lParam), QString::number(flags), QString::number(timeoutMs)});
        if (result) {
            *result = 0;
        }
        return 1;
    }

private:
    void record(const char* function, QStringList arguments) {
        calls.push_back({QString::fromLatin1(function), std::move(arguments)});
    }
    bool fail(quint32 error) {
        m_lastError = error;
        return false;
    }
    QString nameOf(Handle printer) const { return m_open.value(printer, QStringLiteral("?")); }
    void makeDefault(const QString& name) {
        defaultPrinter = name;
        for (auto it = printers.begin(); it != printers.end(); ++it) {
            char* word = it.value().data() + PrinterInfo2AttributesOffset;
            quint32 attributes = qFromLittleEndian<quint32>(word) & ~PrinterAttributeDefault;
            if (it.key() == name) {
                attributes |= PrinterAttributeDefault;
            }
            qToLittleEndian<quint32>(attributes, word);
        }
    }

    QMap<Handle, QString> m_open;
    Handle m_lastHandle = 0;
    quint32 m_lastError = 0;
};

} // namespace testing_support
