#include "work_folders.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace platform {
namespace {

QMutex g_mutex;

std::unique_ptr<QTemporaryDir>& holder() {
    // Destroyed at exit, which removes the folder tree.
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

constexpr const char* OwnerFile = "/.owner";

// The lock that says the folder is in use, held until the process ends (the kernel lets go of
// it however the process ends). Not passed on to the programs the process starts.
int g_ownerLock = -1;

void lockAsOwned(const QString& base) {
    // Locked under another name first: a folder's lock file is never seen unlocked while its
    // process lives.
    const QByteArray fresh = QFile::encodeName(base + QLatin1String(OwnerFile) + ".new");
    const QByteArray path = QFile::encodeName(base + QLatin1String(OwnerFile));
    const int fd =
        ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    const std::string pid = std::to_string(getpid()) + "\n"; // for people looking
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ::write(fd, pid.data(), pid.size()) < 0 ||
        ::rename(fresh.constData(), path.constData()) != 0) {
        ::close(fd);
        return;
    }
    g_ownerLock = fd;
}

QString subFolder(const QString& name) {
    const QString b = WorkFolders::base();
    if (b.isEmpty()) {
        return {};
    }
    const QString path = b + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

} // namespace

QString WorkFolders::base() {
    QMutexLocker lock(&g_mutex);
    auto& dir = holder();
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/lumadoc-XXXXXX"));
        if (dir->isValid()) {
            lockAsOwned(dir->path());
        }
    }
    return dir->isValid() ? dir->path() : QString();
}

QString WorkFolders::tmp() {
    return subFolder(QStringLiteral("tmp"));
}

QString WorkFolders::jpgTmp() {
    return subFolder(QStringLiteral("jpgtmp"));
}

void WorkFolders::removeAll() {
    QMutexLocker lock(&g_mutex);
    holder().reset();
    if (g_ownerLock >= 0) {
        ::close(g_ownerLock);
        g_ownerLock = -1;
    }
}

void WorkFolders::removeStale() {
    const QString own = [] {
        QMutexLocker lock(&g_mutex);
        return holder() && holder()->isValid() ? holder()->path() : QString();
    }();
    const QDir temp(QDir::tempPath());
    const QStringList names = temp.entryList({QStringLiteral("lumadoc-??????")},
                                             QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString folder = temp.filePath(name);
        struct stat st {};
        if (folder == own || ::lstat(QFile::encodeName(folder).constData(), &st) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
            continue;
        }
        const QByteArray owner = QFile::encodeName(folder + QLatin1String(OwnerFile));
        const int fd = ::open(owner.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        const bool nobodys = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (nobodys) {
            QDir(folder).removeRecursively();
        }
        ::close(fd);
    }
}

} // namespace platform
