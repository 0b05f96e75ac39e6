#include "process.h"

#include "command_line.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <string_view>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {
namespace {

int pidfdOpen(pid_t pid) {
    return int(syscall(SYS_pidfd_open, pid, 0));
}

int statusToCode(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

/// Reaps `pid` if it is a child that has ended. Returns true when the process is known to be
/// gone (reaped now, or not a child and no longer present).
bool reapIfEnded(pid_t pid, int* code) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
        *code = statusToCode(status);
        return true;
    }
    if (r < 0 && errno == ECHILD) {
        return kill(pid, 0) != 0 && errno == ESRCH;
    }
    return false;
}

void addStream(posix_spawn_file_actions_t* actions, int fd, int target, int nullFlags) {
    if (fd < 0) {
        posix_spawn_file_actions_addopen(actions, target, "/dev/null", nullFlags, 0);
    } else {
        posix_spawn_file_actions_adddup2(actions, fd, target);
    }
}

} // namespace

qint64 StartProgram(const QStringList& args, const StandardStreams& streams, int* errorCode,
                    const QStringList& extraEnvironment) {
    if (errorCode) {
        *errorCode = 0;
    }
    if (args.isEmpty() || args.front().isEmpty()) {
        if (errorCode) {
            *errorCode = ENOENT;
        }
        return -1;
    }
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(args.size()));
    for (const QString& a : args) {
        encoded.push_back(QFile::encodeName(a));
    }
    std::vector<char*> argv;
    for (QByteArray& a : encoded) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<QByteArray> extra;
    std::vector<char*> envp;
    if (!extraEnvironment.isEmpty()) {
        for (const QString& e : extraEnvironment) {
            extra.push_back(QFile::encodeName(e));
        }
        for (char** e = environ; *e; ++e) {
            const std::string_view entry(*e);
            const bool replaced =
                std::any_of(extra.begin(), extra.end(), [&entry](const QByteArray& x) {
                    const qsizetype eq = x.indexOf('=');
                    return entry.substr(0, entry.find('=')) ==
                           std::string_view(x.data(), size_t(eq));
                });
            if (!replaced) {
                envp.push_back(*e);
            }
        }
        for (QByteArray& e : extra) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
    }
    char** const environment = envp.empty() ? environ : envp.data();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    addStream(&actions, streams.input, STDIN_FILENO, O_RDONLY);
    addStream(&actions, streams.output, STDOUT_FILENO, O_WRONLY);
    addStream(&actions, streams.error, STDERR_FILENO, O_WRONLY);

    // The child starts with default signal handling, whatever the caller set up.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const bool searchPath = !args.front().contains(QLatin1Char('/'));
    const int rc = searchPath
                       ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environment)
                       : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environment);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (errorCode) {
            *errorCode = rc;
        }
        return -1;
    }
    return pid;
}

qint64 StartHidden(const QString& commandLine, int* errorCode, const StartOptions& options) {
    if (options.input.isEmpty()) {
        return StartProgram(SplitCommandLine(commandLine), {}, errorCode, options.environment);
    }
    int pipeEnds[2] = {-1, -1};
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        if (errorCode) {
            *errorCode = errno;
        }
        return -1;
    }
    StandardStreams streams;
    streams.input = pipeEnds[0];
    const qint64 pid =
        StartProgram(SplitCommandLine(commandLine), streams, errorCode, options.environment);
    ::close(pipeEnds[0]);
    // A pipe holds far more than a password: the write does not wait for the program.
    const char* data = options.input.constData();
    qsizetype left = pid > 0 ? options.input.size() : 0;
    while (left > 0) {
        const ssize_t n = ::write(pipeEnds[1], data, size_t(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        data += n;
        left -= n;
    }
    ::close(pipeEnds[1]);
    return pid;
}

int WaitForProcessEnd(qint64 pid) {
    if (pid <= 0) {
        return -1;
    }
    int code = -1;
    if (reapIfEnded(pid_t(pid), &code)) {
        return code;
    }
    const int pidfd = pidfdOpen(pid_t(pid));
    if (pidfd < 0) {
        if (errno == ESRCH) {
            reapIfEnded(pid_t(pid), &code);
            return code;
        }
        // No process descriptors: look again every 50 ms, still handling events.
        while (!reapIfEnded(pid_t(pid), &code)) {
            if (QCoreApplication::instance()) {
                QEventLoop loop;
                QTimer::singleShot(50, &loop, &QEventLoop::quit);
                loop.exec();
            } else {
                usleep(50000);
            }
        }
        return code;
    }

    if (QCoreApplication::instance()) {
        // The descriptor becomes readable when the process ends; the loop sleeps until then
        // or until some event arrives.
        QEventLoop loop;
        QSocketNotifier notifier(pidfd, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
    } else {
        pollfd p{pidfd, POLLIN, 0};
        while (poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    close(pidfd);
    int status = 0;
    if (waitpid(pid_t(pid), &status, 0) == pid_t(pid)) {
        code = statusToCode(status);
    }
    return code;
}

void ReapWhenDone(qint64 pid) {
    int code = 0;
    if (pid <= 0 || reapIfEnded(pid_t(pid), &code)) {
        return;
    }
    const int pidfd = pidfdOpen(pid_t(pid));
    if (pidfd < 0 || !QCoreApplication::instance()) {
        if (pidfd >= 0) {
            close(pidfd);
        }
        return;
    }
    auto* notifier =
        new QSocketNotifier(pidfd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, pid, pidfd] {
        notifier->setEnabled(false);
        waitpid(pid_t(pid), nullptr, WNOHANG);
        close(pidfd);
        notifier->deleteLater();
    });
}

} // namespace platform
