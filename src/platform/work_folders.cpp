#include "work_folders.h"

#include <QDir>
#include <QMutex>
#include <QTemporaryDir>

#include <memory>

namespace platform {
namespace {

QMutex g_mutex;

std::unique_ptr<QTemporaryDir>& holder() {
    // Destroyed at exit, which removes the folder tree.
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
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
}

} // namespace platform
