#include "spooler.h"

#include <QHash>
#include <QtEndian>

#include <cups/cups.h>

// The host's spooler on CUPS. Every operation is one or two of libcups' local calls (the
// scheduler on this machine and the user's lpoptions file); nothing runs beside them.
//
// - GetDefaultPrinterA: the user's CUPS default, as `lpstat -d` and `lp` see it: LPDEST or
//   PRINTER when set, else the "Default" of ~/.cups/lpoptions (root's too), else the
//   scheduler's default.
// - SetDefaultPrinterA: writes that choice to ~/.cups/lpoptions, the file `lpoptions -d`
//   writes, keeping the options stored there. Naming the printer that is the default anyway
//   without a choice of the user's (the scheduler's default), or an empty name, drops the
//   user's choice instead, so a switch and its undoing leave the file as it was. LPDEST and
//   PRINTER still win over the file, as they do for every CUPS program.
// - OpenPrinterA / ClosePrinter: a handle for a queue that exists; other names fail with
//   error 1801.
// - GetPrinterA / SetPrinterA, level 2: a record of the 32-bit PRINTER_INFO_2's 84 bytes whose
//   text pointers are 0; it holds the attributes (default, shared, local or network), the
//   priority 1 and the paused status of a stopped queue. Writing it with the default attribute
//   makes the queue the default; nothing else of the record is written to CUPS.
// - GetProfileStringA: "PrinterPorts" gives "winspool,PORT,15,45" for each queue, "devices"
//   "winspool,PORT", and "Windows"/"device" "NAME,winspool,PORT" for the default, PORT being
//   the queue's device URI (a comma in it written %2C). Any other entry gives the default value.
// - WriteProfileStringA: "Windows"/"device" = "NAME,..." makes NAME the default; there is no
//   other profile to write to, so other entries fail with error 50.
// - GetVersionExA: the NT family (platform id 2), version 10.0.
// - SendMessageTimeoutA: does nothing and succeeds: no window here listens for the settings
//   message, and CUPS programs read the default afresh for each job.

namespace platform {
namespace {

QByteArray fullName(const cups_dest_t& dest) {
    QByteArray name(dest.name);
    if (dest.instance) {
        name += '/';
        name += dest.instance;
    }
    return name;
}

/// The user's destinations as libcups lists them: the scheduler's queues with the user's
/// lpoptions and LPDEST/PRINTER applied.
class Destinations {
public:
    Destinations() { m_count = cupsGetDests2(CUPS_HTTP_DEFAULT, &m_dests); }
    ~Destinations() { cupsFreeDests(m_count, m_dests); }
    Destinations(const Destinations&) = delete;
    Destinations& operator=(const Destinations&) = delete;

    /// "queue" or "queue/instance", case ignored as CUPS does; null when there is none.
    cups_dest_t* find(const QByteArray& name) const {
        if (name.isEmpty()) {
            return nullptr;
        }
        const qsizetype slash = name.indexOf('/');
        const QByteArray queue = slash < 0 ? name : name.left(slash);
        const QByteArray instance = slash < 0 ? QByteArray() : name.mid(slash + 1);
        return cupsGetDest(queue.constData(), slash < 0 ? nullptr : instance.constData(), m_count,
                           m_dests);
    }
    cups_dest_t* defaultDestination() const {
        return cupsGetDest(nullptr, nullptr, m_count, m_dests);
    }
    cups_dest_t* begin() const { return m_dests; }
    cups_dest_t* end() const { return m_dests + m_count; }
    int count() const { return m_count; }
    cups_dest_t* data() const { return m_dests; }

private:
    cups_dest_t* m_dests = nullptr;
    int m_count = 0;
};

QByteArray option(const cups_dest_t& dest, const char* name) {
    return QByteArray(cupsGetOption(name, dest.num_options, dest.options));
}

/// The queue's "port" for the profile entries: its device URI, which holds no comma.
QByteArray port(const cups_dest_t& dest) {
    return option(dest, "device-uri").replace(",", "%2C");
}

class CupsSpooler final : public Spooler {
public:
    bool GetDefaultPrinterA(QByteArray* buffer, quint32* size) override {
        if (!size) {
            return fail(ErrorInvalidParameter);
        }
        const Destinations dests;
        const cups_dest_t* dest = dests.defaultDestination();
        if (!dest) {
            *size = 0;
            return fail(ErrorFileNotFound);
        }
        return StoreName(fullName(*dest), buffer, size) || fail(ErrorInsufficientBuffer);
    }

    bool SetDefaultPrinterA(const QString& printer) override {
        Destinations dests;
        cups_dest_t* target = nullptr;
        if (!printer.isEmpty()) {
            target = dests.find(printer.toLocal8Bit());
            if (!target) {
                return fail(ErrorInvalidPrinterName);
            }
        }
        // The default without a choice of the user's: LPDEST or PRINTER, else the scheduler's.
        const char* fallback = cupsGetDefault2(CUPS_HTTP_DEFAULT);
        if (target && !target->instance && fallback && qstricmp(target->name, fallback) == 0) {
            target = nullptr;
        }
        for (cups_dest_t& dest : dests) {
            dest.is_default = &dest == target;
        }
        if (cupsSetDests2(CUPS_HTTP_DEFAULT, dests.count(), dests.data()) != 0) {
            return fail(ErrorNotSupported);
        }
        return true;
    }

    bool OpenPrinterA(const QString& printerName, Handle* printer) override {
        if (!printer) {
            return fail(ErrorInvalidParameter);
        }
        *printer = 0;
        const Destinations dests;
        const cups_dest_t* dest = dests.find(printerName.toLocal8Bit());
        if (!dest) {
            return fail(ErrorInvalidPrinterName);
        }
        *printer = ++m_lastHandle;
        m_open.insert(*printer, fullName(*dest));
        return true;
    }

    bool ClosePrinter(Handle printer) override {
        return m_open.remove(printer) ? true : fail(ErrorInvalidHandle);
    }

    bool GetPrinterA(Handle printer, quint32 level, QByteArray* buffer, quint32* needed) override {
        if (!m_open.contains(printer)) {
            return fail(ErrorInvalidHandle);
        }
        if (level != 2) {
            return fail(ErrorInvalidLevel);
        }
        if (!needed) {
            return fail(ErrorInvalidParameter);
        }
        *needed = PrinterInfo2Size;
        if (!buffer || quint32(buffer->size()) < PrinterInfo2Size) {
            return fail(ErrorInsufficientBuffer);
        }
        const Destinations dests;
        const cups_dest_t* dest = dests.find(m_open.value(printer));
        if (!dest) {
            return fail(ErrorInvalidPrinterName);
        }
        const cups_dest_t* byDefault = dests.defaultDestination();
        quint32 attributes = 0;
        if (byDefault && fullName(*byDefault) == fullName(*dest)) {
            attributes |= PrinterAttributeDefault;
        }
        if (option(*dest, "printer-is-shared") == "true") {
            attributes |= PrinterAttributeShared;
        }
        const uint type = option(*dest, "printer-type").toUInt();
        attributes |=
            (type & CUPS_PRINTER_REMOTE) ? PrinterAttributeNetwork : PrinterAttributeLocal;
        const quint32 status =
            option(*dest, "printer-state").toInt() == IPP_PSTATE_STOPPED ? PrinterStatusPaused : 0;

        char* record = buffer->data();
        std::memset(record, 0, PrinterInfo2Size);
        qToLittleEndian<quint32>(attributes, record + PrinterInfo2AttributesOffset);
        qToLittleEndian<quint32>(1, record + PrinterInfo2PriorityOffset);
        qToLittleEndian<quint32>(status, record + PrinterInfo2StatusOffset);
        return true;
    }

    bool SetPrinterA(Handle printer, quint32 level, const QByteArray& record,
                     quint32 command) override {
        if (!m_open.contains(printer)) {
            return fail(ErrorInvalidHandle);
        }
        if (level != 2) {
            return fail(ErrorInvalidLevel);
        }
        if (command != 0) {
            return fail(ErrorNotSupported);
        }
        if (quint32(record.size()) < PrinterInfo2Size) {
            return fail(ErrorInvalidParameter);
        }
        const auto attributes =
            qFromLittleEndian<quint32>(record.constData() + PrinterInfo2AttributesOffset);
        if (attributes & PrinterAttributeDefault) {
            return SetDefaultPrinterA(QString::fromLocal8Bit(m_open.value(printer)));
        }
        return true;
    }

    quint32 GetLastError() const override { return m_lastError; }

    quint32 GetProfileStringA(const QString& section, const QString& key,
                              const QString& defaultValue, QByteArray* returned,
                              quint32 size) override {
        QByteArray value = defaultValue.toLocal8Bit();
        const Destinations dests;
        if (section.compare(QLatin1String("PrinterPorts"), Qt::CaseInsensitive) == 0) {
            if (const cups_dest_t* dest = dests.find(key.toLocal8Bit())) {
                value = "winspool," + port(*dest) + ",15,45";
            }
        } else if (section.compare(QLatin1String("devices"), Qt::CaseInsensitive) == 0) {
            if (const cups_dest_t* dest = dests.find(key.toLocal8Bit())) {
                value = "winspool," + port(*dest);
            }
        } else if (section.compare(QLatin1String("Windows"), Qt::CaseInsensitive) == 0 &&
                   key.compare(QLatin1String("device"), Qt::CaseInsensitive) == 0) {
            if (const cups_dest_t* dest = dests.defaultDestination()) {
                value = fullName(*dest) + ",winspool," + port(*dest);
            }
        }
        return StoreProfileValue(value, returned, size);
    }

    bool WriteProfileStringA(const QString& section, const QString& key,
                             const QString& value) override {
        if (section.compare(QLatin1String("Windows"), Qt::CaseInsensitive) != 0 ||
            key.compare(QLatin1String("device"), Qt::CaseInsensitive) != 0) {
            return fail(ErrorNotSupported);
        }
        const QString name = value.section(QLatin1Char(','), 0, 0).trimmed();
        if (name.isEmpty()) {
            return fail(ErrorInvalidParameter);
        }
        return SetDefaultPrinterA(name);
    }

    bool GetVersionExA(OsVersionInfo* info) override {
        if (!info || info->osVersionInfoSize != 148) {
            return fail(ErrorInsufficientBuffer);
        }
        info->majorVersion = 10;
        info->minorVersion = 0;
        info->buildNumber = 0;
        info->platformId = PlatformWin32Nt;
        info->csdVersion.clear();
        return true;
    }

    quintptr SendMessageTimeoutA(quintptr, quint32, quintptr, qintptr, quint32, quint32,
                                 quintptr* result) override {
        if (result) {
            *result = 0;
        }
        return 1;
    }

private:
    bool fail(quint32 error) {
        m_lastError = error;
        return false;
    }

    QHash<Handle, QByteArray> m_open;
    Handle m_lastHandle = 0;
    quint32 m_lastError = 0;
};

} // namespace

Spooler& Spooler::host() {
    static CupsSpooler spooler;
    return spooler;
}

} // namespace platform
