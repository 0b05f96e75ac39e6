#include "dos_outputs.h"

#include "command_line.h"
#include "process.h"
#include "process_list.h"
#include "prompts.h"
#include "waitable_timer.h"

#include <QCoreApplication>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int BlockSize = 1024;

int bytesWaiting(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

} // namespace

QString DOSOutputs::ExecuteCommand(const QString& CommandLine) {
    if (!CommandLine.isEmpty()) {
        m_commandLine = CommandLine;
    }
    if (m_commandLine.isEmpty()) {
        MsgBox(QStringLiteral("Command Line empty"), MessageIcon::Critical);
        return {};
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        MsgBox(QStringLiteral("CreatePipe failed. Error: ") + QString::number(errno),
               MessageIcon::Critical);
        return {};
    }
    StandardStreams streams;
    streams.output = fds[1];
    streams.error = fds[1];
    const qint64 pid = StartProgram(SplitCommandLine(m_commandLine), streams);
    if (pid < 0) {
        MsgBox(QStringLiteral("File or command not found"), MessageIcon::Critical);
        close(fds[0]);
        close(fds[1]);
        return {};
    }
    // Without the parent's write end the pipe breaks once the child's side is closed.
    bool more = close(fds[1]) == 0;
    const int readEnd = fds[0];
    m_outputs.clear();
    // Stateful: a character split across two blocks is decoded once both halves arrived.
    QStringDecoder decoder(QStringDecoder::System);
    auto receive = [this, &decoder](const QByteArray& bytes) {
        const QString block = decoder.decode(bytes);
        if (!block.isEmpty()) {
            m_outputs += block;
            emit ReceiveOutputs(block);
        }
    };

    char buffer[BlockSize];
    clsWaitableTimer timer;
    do {
        if (bytesWaiting(readEnd) > 0) {
            const ssize_t n = read(readEnd, buffer, BlockSize);
            more = n > 0;
            if (n > 0) {
                receive(QByteArray(buffer, n));
            }
        }
        // A finished child of ours must not linger in the process list as a zombie.
        waitpid(pid_t(pid), nullptr, WNOHANG);
        if (!IsProcessRunning(RunningToolExe)) {
            more = false;
        }
        QCoreApplication::processEvents();
        timer.Wait(50);
    } while (more);

    // What the tool wrote before it ended is still waiting: it belongs to the output.
    while (bytesWaiting(readEnd) > 0) {
        const ssize_t n = read(readEnd, buffer, BlockSize);
        if (n <= 0) {
            break;
        }
        receive(QByteArray(buffer, n));
    }
    close(readEnd);
    ReapWhenDone(pid);
    emit CommandOver();
    return m_outputs;
}

} // namespace platform
