#include "processes.h"

#include "process.h"
#include "process_list.h"

#include <QProcess>

namespace platform {
namespace {

const QString StartWindowVariable = QStringLiteral("LUMADOC_START_WINDOW");

class SystemProcesses final : public Processes {
public:
    qint64 startHidden(const QString& commandLine, const StartOptions& options = {}) override {
        return StartHidden(commandLine, nullptr, options);
    }
    int waitForEnd(qint64 pid) override { return WaitForProcessEnd(pid); }
    void endByName(const QString& exeName) override { EndProcessByName(exeName); }
    void endProgram(const QString& exePath) override { EndProgram(exePath); }
    bool startDetached(const QString& program, StartWindow window) override {
        QProcess process;
        process.setProgram(program);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (window == StartWindow::MinimizedFocused) {
            environment.insert(StartWindowVariable, QStringLiteral("minimized"));
        } else {
            environment.remove(StartWindowVariable);
        }
        process.setProcessEnvironment(environment);
        return process.startDetached();
    }
};

} // namespace

Processes& Processes::system() {
    static SystemProcesses processes;
    return processes;
}

} // namespace platform
