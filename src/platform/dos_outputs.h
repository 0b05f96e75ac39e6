#pragma once

#include <QObject>
#include <QString>

namespace platform {

/// The executable file name of the outside program that a run is waiting for (a bare name
/// such as "pdftotext"). Set by whoever starts the tool; DOSOutputs keeps reading while a
/// process of this name runs.
inline QString RunningToolExe;

/// Runs one command line as a hidden child, hands its standard output and error to the owner
/// in blocks of at most 1024 bytes while it runs, and returns the whole text at the end. The
/// window stays alive: every pass of the read loop handles pending events and then waits
/// 50 ms with clsWaitableTimer.
class DOSOutputs : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QString CommandLine() const { return m_commandLine; }
    void setCommandLine(const QString& DOSCommand) { m_commandLine = DOSCommand; }

    /// The output of the most recent run that started a process.
    QString Outputs() const { return m_outputs; }

    /// Runs `CommandLine` (when not empty it replaces the stored command line first).
    /// Returns the complete output, or empty text when no process could be started, after
    /// showing "Command Line empty", "CreatePipe failed. Error: " + code, or "File or command
    /// not found" with the critical icon. The loop reads while a process named
    /// RunningToolExe runs; what is still waiting in the pipe when it ends is read too.
    QString ExecuteCommand(const QString& CommandLine = QString());

signals:
    /// One block of output, in order; the blocks joined equal Outputs().
    void ReceiveOutputs(const QString& CommandOutputs);
    /// Raised once at the end of every run that started a process.
    void CommandOver();

private:
    QString m_commandLine;
    QString m_outputs;
};

} // namespace platform
