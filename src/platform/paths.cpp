#include "paths.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

#include <algorithm>

namespace platform {
namespace {

void pumpEvents() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

// Every entry of `folder`, hidden and system ones included, in the order a file manager shows
// them: natural order ignoring case (scan2 before scan10), since the system lists a folder in
// the order of its hash table.
QFileInfoList listFolder(const QString& folder) {
    QFileInfoList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        entries.append(it.fileInfo());
    }
    SortNaturally(entries);
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

namespace {

bool isAsciiDigit(QChar c) {
    return c >= QChar('0') && c <= QChar('9');
}

// Natural order: runs of digits compare by their value, the text between them by the collator.
// Done by hand, since QCollator's numeric mode does nothing in the C locale.
int naturalCompare(QStringView a, QStringView b, const QCollator& collator) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = isAsciiDigit(a[i]);
        if (digits != isAsciiDigit(b[j])) {
            return digits ? -1 : 1; // numbers before words, as file managers show them
        }
        qsizetype ei = i;
        qsizetype ej = j;
        while (ei < a.size() && isAsciiDigit(a[ei]) == digits) {
            ++ei;
        }
        while (ej < b.size() && isAsciiDigit(b[ej]) == digits) {
            ++ej;
        }
        QStringView x = a.sliced(i, ei - i);
        QStringView y = b.sliced(j, ej - j);
        int order = 0;
        if (digits) {
            while (x.size() > 1 && x.front() == QChar('0')) {
                x = x.sliced(1);
            }
            while (y.size() > 1 && y.front() == QChar('0')) {
                y = y.sliced(1);
            }
            order = x.size() != y.size() ? (x.size() < y.size() ? -1 : 1) : x.compare(y);
        } else {
            order = collator.compare(x, y);
        }
        if (order != 0) {
            return order;
        }
        i = ei;
        j = ej;
    }
    return (i < a.size()) - (j < b.size());
}

} // namespace

void SortNaturally(QFileInfoList& entries) {
    // The C locale would sort by code point, putting "émile" after "Zeta": the neutral order of
    // Unicode's collation keeps accented letters beside their base letters.
    const QLocale locale = QLocale().language() == QLocale::C
                               ? QLocale(QLocale::English, QLocale::UnitedStates)
                               : QLocale();
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        const QString x = a.fileName();
        const QString y = b.fileName();
        const int order = naturalCompare(x, y, collator);
        // Names that differ only in case or leading zeros still get one fixed order.
        return order != 0 ? order < 0 : x < y;
    });
}

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

bool SameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
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
