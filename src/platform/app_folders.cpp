#include "app_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {
namespace {

QString& overrideFolder() {
    static QString folder;
    return folder;
}

bool appFolderWritable() {
    return QFileInfo(AppFolder()).isWritable();
}

} // namespace

QString AppFolder() {
    if (!overrideFolder().isEmpty()) {
        return overrideFolder();
    }
    return QCoreApplication::applicationDirPath();
}

void SetAppFolder(const QString& folder) {
    QString clean = folder;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/'))) {
        clean.chop(1);
    }
    overrideFolder() = clean;
}

QString SettingsFolder() {
    if (appFolderWritable()) {
        return AppFolder();
    }
    const QString folder = QDir::homePath() + QStringLiteral("/.config/lumadoc");
    QDir().mkpath(folder);
    return folder;
}

QString DefaultOutputFolder() {
    if (appFolderWritable()) {
        return AppFolder() + QStringLiteral("/output");
    }
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) {
        docs = QDir::homePath();
    }
    return docs + QStringLiteral("/Lumadoc");
}

} // namespace platform
