#pragma once

#include "platform/spooler.h"

#include <QString>

namespace print2pdf {

/// The time each window is given to take note of changed settings, in milliseconds.
inline constexpr quint32 IniChangeTimeoutMs = 500;

/// Makes the printer `name` the default, by the method of the system's family: the Windows
/// 95/98/Me method for platform id 1, the NT method for platform id 2, nothing for others.
/// A failure changes nothing and is not reported.
void SetDefaultPrinter(platform::Spooler& spooler, const QString& name);

/// The Windows 95/98/Me method: sets the default attribute in the printer's level-2 record and
/// writes the record back; tells the windows when that succeeded.
void SetDefaultPrinter9x(platform::Spooler& spooler, const QString& name);

/// The NT method: SetDefaultPrinterA from version 5 (Windows 2000) on; before that the "device"
/// entry of the "Windows" profile section, made from the printer's "PrinterPorts" entry, and a
/// word to the windows.
void SetDefaultPrinterNT(platform::Spooler& spooler, quint32 majorVersion, const QString& name);

/// Tells every top-level window that the system settings changed, waiting at most `timeoutMs`
/// for each.
void BroadcastIniChange(platform::Spooler& spooler, quint32 timeoutMs);

} // namespace print2pdf
