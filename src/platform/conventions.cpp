#include "conventions.h"

#include "work_folders.h"

namespace platform {

Conventions Conventions::windows() {
    return {QChar('\\'), QStringLiteral(".exe"), QStringLiteral("c:\\tmp"),
            QStringLiteral("c:\\jpgtmp")};
}

Conventions Conventions::host() {
    return {QChar('/'), QString(), WorkFolders::tmp(), WorkFolders::jpgTmp()};
}

QString Conventions::join(const QString& folder, const QString& name) const {
    if (folder.endsWith(separator)) {
        return folder + name;
    }
    return folder + separator + name;
}

} // namespace platform
