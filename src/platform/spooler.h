#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstring>

namespace platform {

/// The print spooler, profile and version operations of Windows that switching the default
/// printer needs, with the shape of their Windows originals (two-step length queries, a
/// last-error code, level-2 printer records as bytes) in Qt types. Names and values are 8-bit
/// texts of the host's code page (UTF-8 here). host() is the host's print system; tests give the
/// printer switch a fake that plays a Windows 95 or NT 4 spooler. Not thread-safe: the user
/// interface thread uses it.
class Spooler {
public:
    /// An open printer; 0 is none.
    using Handle = quintptr;

    /// The version record of GetVersionExA (OSVERSIONINFOA, 148 bytes on Windows).
    struct OsVersionInfo {
        quint32 osVersionInfoSize = 148; ///< set by the caller; another size fails
        quint32 majorVersion = 0;
        quint32 minorVersion = 0;
        quint32 buildNumber = 0;
        quint32 platformId = 0;
        QByteArray csdVersion; ///< service pack text
    };

    // Codes of GetLastError.
    static constexpr quint32 ErrorFileNotFound = 2; ///< GetDefaultPrinterA: there is no default
    static constexpr quint32 ErrorInvalidHandle = 6;
    static constexpr quint32 ErrorNotSupported = 50;
    static constexpr quint32 ErrorInvalidParameter = 87;
    static constexpr quint32 ErrorInsufficientBuffer = 122;
    static constexpr quint32 ErrorInvalidLevel = 124;
    static constexpr quint32 ErrorInvalidPrinterName = 1801;

    // Platform ids of the version record.
    static constexpr quint32 PlatformWin32Windows = 1; ///< Windows 95, 98 and Me
    static constexpr quint32 PlatformWin32Nt = 2;      ///< Windows NT, 2000 and later

    // The level-2 printer record (PRINTER_INFO_2) as a 32-bit program sees it.
    static constexpr quint32 PrinterInfo2Size = 84;
    static constexpr int PrinterInfo2AttributesOffset = 52;
    static constexpr int PrinterInfo2PriorityOffset = 56;
    static constexpr int PrinterInfo2StatusOffset = 72;
    static constexpr quint32 PrinterAttributeDefault = 0x4;
    static constexpr quint32 PrinterAttributeShared = 0x8;
    static constexpr quint32 PrinterAttributeNetwork = 0x10;
    static constexpr quint32 PrinterAttributeLocal = 0x40;
    static constexpr quint32 PrinterStatusPaused = 0x1;

    // SendMessageTimeoutA: all top-level windows, the settings-changed message, no flags.
    static constexpr quintptr BroadcastWindow = 0xffff;
    static constexpr quint32 WmWinIniChange = 0x001a;
    static constexpr quint32 SmtoNormal = 0;

    virtual ~Spooler() = default;

    /// The default printer's name, NUL-terminated, into `buffer`, which holds `*size`
    /// characters. Without a buffer (null) or when it is too small: false, last error 122 and
    /// `*size` set to the length needed, NUL included. On success `*size` is that length too.
    /// Without a default printer: false, last error 2, `*size` 0.
    virtual bool GetDefaultPrinterA(QByteArray* buffer, quint32* size) = 0;
    /// Makes `printer` the default printer.
    virtual bool SetDefaultPrinterA(const QString& printer) = 0;

    /// Opens the printer named `printerName` (no defaults given); `*printer` is 0 on failure.
    virtual bool OpenPrinterA(const QString& printerName, Handle* printer) = 0;
    virtual bool ClosePrinter(Handle printer) = 0;
    /// The printer's record of `level` into `buffer`, whose size is the buffer's size (none when
    /// null). A buffer that is missing or too small: false, last error 122 and `*needed` set to
    /// the bytes needed.
    virtual bool GetPrinterA(Handle printer, quint32 level, QByteArray* buffer,
                             quint32* needed) = 0;
    /// Writes the printer's record of `level`; `command` 0 writes the record alone.
    virtual bool SetPrinterA(Handle printer, quint32 level, const QByteArray& record,
                             quint32 command) = 0;

    /// The error code of the last failed call.
    virtual quint32 GetLastError() const = 0;

    /// The value of `key` in `section` of the user's profile, or `defaultValue`, into
    /// `*returned` as a NUL-terminated text of at most `size` characters (cut to size - 1);
    /// `*returned` is made `size` bytes long. Returns the characters copied, NUL not counted.
    virtual quint32 GetProfileStringA(const QString& section, const QString& key,
                                      const QString& defaultValue, QByteArray* returned,
                                      quint32 size) = 0;
    virtual bool WriteProfileStringA(const QString& section, const QString& key,
                                     const QString& value) = 0;

    /// The system's version record; fails when `info->osVersionInfoSize` is not 148.
    virtual bool GetVersionExA(OsVersionInfo* info) = 0;

    /// Sends `message` to `window` (BroadcastWindow: every top-level window), waiting at most
    /// `timeoutMs` for each; nonzero when it was sent in time.
    virtual quintptr SendMessageTimeoutA(quintptr window, quint32 message, quintptr wParam,
                                         qintptr lParam, quint32 flags, quint32 timeoutMs,
                                         quintptr* result) = 0;

    /// The host's print system: CUPS. The default printer is the user's CUPS default (what
    /// `lpoptions -d` sets); the system reports itself as the NT family, version 10. See
    /// spooler.cpp for what each operation does on CUPS.
    static Spooler& host();

protected:
    /// What GetDefaultPrinterA hands back for `name`: true when it fitted into `buffer` with
    /// its NUL; `*size` becomes the length needed either way. False means error 122.
    static bool StoreName(const QByteArray& name, QByteArray* buffer, quint32* size) {
        const quint32 needed = quint32(name.size()) + 1;
        const quint32 capacity = buffer ? std::min(*size, quint32(buffer->size())) : 0;
        *size = needed;
        if (capacity < needed) {
            return false;
        }
        std::memcpy(buffer->data(), name.constData(), size_t(name.size()));
        (*buffer)[name.size()] = '\0';
        return true;
    }
    /// What GetProfileStringA hands back: `value` cut to `size` - 1 characters, the rest of the
    /// `size` characters NUL; the number of characters copied.
    static quint32 StoreProfileValue(const QByteArray& value, QByteArray* returned, quint32 size) {
        if (!returned || size == 0) {
            return 0;
        }
        returned->fill('\0', qsizetype(size));
        const quint32 copied = std::min(quint32(value.size()), size - 1);
        std::memcpy(returned->data(), value.constData(), copied);
        return copied;
    }
};

} // namespace platform
