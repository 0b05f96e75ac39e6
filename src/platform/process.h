#pragma once

#include <QString>
#include <QStringList>

namespace platform {

/// Where a started program's standard streams go: a file descriptor of the caller (kept
/// open by the caller), or /dev/null when -1.
struct StandardStreams {
    int input = -1;
    int output = -1;
    int error = -1;
};

/// Starts `args[0]` with the remaining arguments, without a shell and without a window of
/// its own. A program name without a `/` is looked up in PATH. Returns the process id, or
/// -1 with `*errorCode` set to the errno of the failure (program missing, not executable).
/// `extraEnvironment` ("NAME=value" entries) is added to the caller's environment.
qint64 StartProgram(const QStringList& args, const StandardStreams& streams = {},
                    int* errorCode = nullptr, const QStringList& extraEnvironment = {});

/// What a program started hidden gets besides its command line.
struct StartOptions {
    QStringList environment; ///< "NAME=value" entries added to the caller's environment
    /// Given on its standard input, which then ends (a password kept out of the process list,
    /// where other users could read it); empty: the input is /dev/null.
    QByteArray input;
};

/// StartProgram of a command line split by the Windows rules (SplitCommandLine), its
/// streams bound to /dev/null (its input to `options.input`): the host's form of starting a
/// command line hidden.
qint64 StartHidden(const QString& commandLine, int* errorCode = nullptr,
                   const StartOptions& options = {});

/// Waits until the process `pid` no longer exists, handling every pending event of the
/// calling thread meanwhile (the window stays alive) without using a processor while idle.
/// There is no time limit. Returns the exit status when `pid` is a child of this process,
/// 128 + signal when a signal ended it, and -1 otherwise.
int WaitForProcessEnd(qint64 pid);

/// Reaps the child `pid` once it exits, without waiting for it now, so a child that is left
/// running does not stay behind as a zombie.
void ReapWhenDone(qint64 pid);

} // namespace platform
