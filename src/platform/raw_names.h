#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace platform {

/// A path Qt can open for `raw`, a path in the file system's own bytes. Qt reads file names as
/// UTF-8 and loses the bytes that are not, so a name such as "caf\xE9.pdf" (Latin-1) would be
/// missing. Such a file is reached through a link in this process's work folder, named with
/// the name's bytes read as Latin-1 ("café.pdf"), which is also what its outputs are called.
/// Valid UTF-8 comes back decoded, unchanged.
QString ReachablePath(const QByteArray& raw);

/// The local file a dropped URL names, reachable as ReachablePath makes it.
QString ReachableLocalFile(const QUrl& url);

/// The path to show for `path`: the original location, its name read as Latin-1, where `path`
/// is a link that ReachablePath made; otherwise `path` itself.
QString ShownPath(const QString& path);

} // namespace platform
