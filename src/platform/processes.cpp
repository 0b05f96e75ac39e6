#include "processes.h"

#include "process.h"
#include "process_list.h"

#include <QProcess>

namespace platform {
namespace {

class SystemProcesses final : public Processes {
public:
    qint64 startHidden(const QString& commandLine) override { return StartHidden(commandLine); }
    int waitForEnd(qint64 pid) override { return WaitForProcessEnd(pid); }
    void endByName(const QString& exeName) override { EndProcessByName(exeName); }
    bool startDetached(const QString& program) override {
        return QProcess::startDetached(program, {});
    }
};

} // namespace

Processes& Processes::system() {
    static SystemProcesses processes;
    return processes;
}

} // namespace platform
