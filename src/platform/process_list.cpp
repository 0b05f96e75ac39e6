#include "process_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString baseName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QByteArray readSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.read(4096);
}

} // namespace

QList<ProcessEntry> ListProcesses() {
    QList<ProcessEntry> list;
    const QStringList names =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (!ok) {
            continue;
        }
        const QString dir = QStringLiteral("/proc/") + name;

        // Field 3 of stat is the state; the name in field 2 may hold blanks and parentheses.
        const QByteArray stat = readSmallFile(dir + QStringLiteral("/stat"));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || close + 2 >= stat.size()) {
            continue;
        }
        if (stat[close + 2] == 'Z' || stat[close + 2] == 'X') {
            continue;
        }

        ProcessEntry entry;
        entry.pid = pid;
        struct stat st {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0) {
            entry.uid = st.st_uid;
        }
        QString exe = QFile::symLinkTarget(dir + QStringLiteral("/exe"));
        if (exe.endsWith(QStringLiteral(" (deleted)"))) {
            exe.chop(10);
        }
        if (exe.isEmpty()) {
            const QByteArray cmdline = readSmallFile(dir + QStringLiteral("/cmdline"));
            exe = QFile::decodeName(cmdline.left(cmdline.indexOf('\0')));
        }
        if (exe.isEmpty()) {
            const qsizetype open = stat.indexOf('(');
            exe = QFile::decodeName(stat.mid(open + 1, close - open - 1));
        }
        entry.exeName = baseName(exe);
        list.append(entry);
    }
    return list;
}

bool IsProcessRunning(const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    const QList<ProcessEntry> processes = ListProcesses();
    for (const ProcessEntry& p : processes) {
        if (p.exeName.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void EndProgram(const QString& exePath) {
    struct stat target {};
    if (exePath.isEmpty() || ::stat(QFile::encodeName(exePath).constData(), &target) != 0) {
        return;
    }
    const uint me = getuid();
    const qint64 self = getpid();
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.uid != me || p.pid == self) {
            continue;
        }
        struct stat running {};
        const QByteArray exe = "/proc/" + QByteArray::number(p.pid) + "/exe";
        if (::stat(exe.constData(), &running) == 0 && running.st_dev == target.st_dev &&
            running.st_ino == target.st_ino) {
            kill(pid_t(p.pid), SIGKILL);
        }
    }
}

void EndProcessByName(const QString& name) {
    if (name.isEmpty()) {
        return;
    }
    const uint me = getuid();
    const qint64 self = getpid();
    const QList<ProcessEntry> processes = ListProcesses();
    for (const ProcessEntry& p : processes) {
        if (p.uid == me && p.pid != self && p.exeName.compare(name, Qt::CaseInsensitive) == 0) {
            kill(pid_t(p.pid), SIGKILL);
        }
    }
}

} // namespace platform
