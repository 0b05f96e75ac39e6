#include "raw_names.h"

#include "work_folders.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QStringDecoder>

#include <climits>
#include <unistd.h>

namespace platform {
namespace {

QMutex g_mutex;

// Link made → the original path as shown.
QHash<QString, QString>& shown() {
    static QHash<QString, QString> links;
    return links;
}

bool validUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoding is lazy: it happens when the result becomes a string.
    const QString decoded = decoder.decode(bytes);
    return !decoder.hasError();
}

// Each part of the path read as UTF-8 where it is valid and as Latin-1 where it is not.
QString readable(const QByteArray& raw) {
    QStringList parts;
    for (const QByteArray& part : raw.split('/')) {
        parts << (validUtf8(part) ? QString::fromUtf8(part) : QString::fromLatin1(part));
    }
    return parts.join(QLatin1Char('/'));
}

} // namespace

QString ReachablePath(const QByteArray& raw) {
    if (validUtf8(raw)) {
        return QString::fromUtf8(raw);
    }
    QByteArray absolute = raw;
    if (!absolute.startsWith('/')) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) {
            absolute = QByteArray(cwd) + '/' + raw;
        }
    }
    while (absolute.size() > 1 && absolute.endsWith('/')) {
        absolute.chop(1);
    }
    const QString base = WorkFolders::base();
    if (base.isEmpty()) {
        return readable(absolute);
    }
    const QString name = readable(absolute.mid(absolute.lastIndexOf('/') + 1));
    QMutexLocker lock(&g_mutex);
    // One folder per link, so two originals with the same readable name keep their names.
    const QString folder = base + QStringLiteral("/names/") + QString::number(shown().size() + 1);
    QDir().mkpath(folder);
    const QString link = folder + QLatin1Char('/') + name;
    if (::symlink(absolute.constData(), QFile::encodeName(link).constData()) != 0) {
        return readable(absolute);
    }
    shown().insert(link, readable(absolute));
    return link;
}

QString ReachableLocalFile(const QUrl& url) {
    if (!url.isLocalFile()) {
        return {};
    }
    // The path's bytes as the URL carries them, before Qt decodes them as UTF-8.
    const QByteArray raw = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return url.host().isEmpty() && !raw.isEmpty() ? ReachablePath(raw) : url.toLocalFile();
}

QString ShownPath(const QString& path) {
    QMutexLocker lock(&g_mutex);
    return shown().value(path, path);
}

} // namespace platform
