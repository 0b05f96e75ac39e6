#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace platform {
namespace {

void pumpEvents() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

// Every entry of `folder`, hidden and system ones included, in the order the system lists them.
QFileInfoList listFolder(const QString& folder) {
    QFileInfoList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        entries.append(it.fileInfo());
    }
    return entries;
}

using NameTest = bool (*)(const QString&);

void searchFolder(const QString& folder, QStringList& found, const Conventions& conv, NameTest test,
                  QSet<QString>& visited) {
    // A link may lead back up the tree; each real folder is searched once.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical)) {
        return;
    }
    visited.insert(canonical);

    QStringList subfolders;
    const QFileInfoList entries = listFolder(folder);
    for (const QFileInfo& entry : entries) {
        const QString name = StripTrailingNulls(entry.fileName());
        const QString full = conv.join(folder, name);
        if (entry.isDir()) {
            subfolders.append(full);
        } else if (test(name)) {
            found.append(full);
        }
        pumpEvents();
    }
    for (const QString& sub : subfolders) {
        searchFolder(sub, found, conv, test, visited);
    }
}

void search(const QString& folder, QStringList& found, const Conventions& conv, NameTest test) {
    QSet<QString> visited;
    searchFolder(folder, found, conv, test, visited);
}

} // namespace

QString StripTrailingNulls(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == QChar(0) || text[end - 1] == QChar(' '))) {
        --end;
    }
    return text.left(end);
}

QString GetFileNameFromPath(const QString& path, const Conventions& conv) {
    return path.mid(path.lastIndexOf(conv.separator) + 1);
}

QString FileBaseName(const QString& path, const Conventions& conv) {
    const QString name = GetFileNameFromPath(path, conv);
    const qsizetype dot = name.indexOf(QChar('.'));
    return dot < 0 ? name : name.left(dot);
}

bool isPdfName(const QString& name) {
    return name.right(3).compare(u"pdf", Qt::CaseInsensitive) == 0;
}

bool isImageName(const QString& name) {
    static const char16_t* const three[] = {u"bmp", u"jpg", u"gif", u"png", u"tif"};
    const QString last3 = name.right(3);
    for (const char16_t* ending : three) {
        if (last3.compare(QStringView(ending), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    const QString last4 = name.right(4);
    return last4.compare(u"tiff", Qt::CaseInsensitive) == 0 ||
           last4.compare(u"jpeg", Qt::CaseInsensitive) == 0;
}

void SearchPdfFiles(const QString& folder, QStringList& found, const Conventions& conv) {
    search(folder, found, conv, isPdfName);
}

void SearchImageFiles(const QString& folder, QStringList& found, const Conventions& conv) {
    search(folder, found, conv, isImageName);
}

void DeleteFolderTree(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isSymLink() || !info.isDir()) {
        return;
    }
    // Entries of a read-only folder cannot be removed until the folder is writable again.
    QFile::setPermissions(folder, QFile::permissions(folder) | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadOwner);
    const QFileInfoList entries = listFolder(folder);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            DeleteFolderTree(entry.filePath());
        } else {
            QFile::remove(entry.filePath());
        }
        pumpEvents();
    }
    QDir().rmdir(folder);
}

} // namespace platform
