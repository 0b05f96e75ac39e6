#pragma once

#include <QList>
#include <QString>

namespace platform {

/// One running process of the host's process list.
struct ProcessEntry {
    qint64 pid = 0;
    QString exeName; ///< executable file name without folder
    uint uid = 0;    ///< owner
};

/// The running processes (zombies left out). The executable name comes from the process's
/// executable link when it can be read, otherwise from its first argument or kernel name.
QList<ProcessEntry> ListProcesses();

/// True when some running process has the executable file name `name`, compared whole and
/// without regard to case: "PDFTOTEXT" matches pdftotext, "pdftote" does not.
bool IsProcessRunning(const QString& name);

/// Ends every process of the current user (this process excepted) whose executable file name
/// equals `name` ignoring case: "pro" ends Pro and PRO, never pro.bak. Failures are ignored.
void EndProcessByName(const QString& name);

/// Ends every process of the current user (this process excepted) that runs the executable
/// file at `exePath` itself, whatever it is called and however it was reached (its
/// /proc/PID/exe is that file); a program of the same name elsewhere is left alone.
void EndProgram(const QString& exePath);

} // namespace platform
