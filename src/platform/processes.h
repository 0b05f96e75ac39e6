#pragma once

#include "process.h"

#include <QString>
#include <QStringList>

namespace platform {

/// How a program started detached shows its first window. Our own programs honour it through
/// the environment variable "LUMADOC_START_WINDOW" (see ShowAsStarted), the way a Windows
/// program picks up the show command its starter chose.
enum class StartWindow {
    Normal,          ///< a normal, activated window
    MinimizedFocused ///< minimized, yet the active window
};

/// Starting, waiting for and ending outside programs, behind one interface so that the work
/// that drives them (the conversion run, printing) can be given another implementation in
/// tests. system() is the real one: StartHidden, WaitForProcessEnd, EndProcessByName and a
/// detached start.
class Processes {
public:
    virtual ~Processes() = default;

    /// Starts a command line hidden (split by the Windows rules) with `options` (environment,
    /// standard input); the pid, or -1 when the program cannot be started.
    virtual qint64 startHidden(const QString& commandLine, const StartOptions& options = {}) = 0;
    /// Waits for `pid` with the event loop running; its exit status, 128 + signal, or -1.
    virtual int waitForEnd(qint64 pid) = 0;
    /// Ends every process of the user whose executable file name is `exeName`, ignoring case.
    virtual void endByName(const QString& exeName) = 0;
    /// Ends every process of the user that runs the executable file at `exePath` itself.
    virtual void endProgram(const QString& exePath) = 0;
    /// Starts `program` without arguments, detached, its first window shown as `window` says.
    virtual bool startDetached(const QString& program, StartWindow window) = 0;

    /// The host's processes.
    static Processes& system();
};

/// Processes that do what system() does; derive from it to change one part (a terminal that
/// ends no windows of another program, a test that records).
class ForwardingProcesses : public Processes {
public:
    qint64 startHidden(const QString& commandLine, const StartOptions& options = {}) override {
        return system().startHidden(commandLine, options);
    }
    int waitForEnd(qint64 pid) override { return system().waitForEnd(pid); }
    void endByName(const QString& exeName) override { system().endByName(exeName); }
    void endProgram(const QString& exePath) override { system().endProgram(exePath); }
    bool startDetached(const QString& program, StartWindow window) override {
        return system().startDetached(program, window);
    }
};

} // namespace platform
