#pragma once

#include <QChar>
#include <QString>

namespace platform {

/// The path and program-name conventions that every pure builder of the project takes.
/// `windows()` reproduces the Windows-era strings exactly (backslash, ".exe", "c:\tmp");
/// `host()` is what the running program uses on this system.
struct Conventions {
    QChar separator;
    QString exeSuffix;
    QString tmpFolder;    ///< work folder of conversions and assemblies, no trailing separator
    QString jpgTmpFolder; ///< work folder of the image assembly's page files

    static Conventions windows();
    /// The host's conventions. The two work folders are the process's private folders
    /// (see WorkFolders); asking for them creates them on first use.
    static Conventions host();

    /// `folder` + separator + `name`, without doubling a separator that `folder` already ends in.
    QString join(const QString& folder, const QString& name) const;
    /// `name` + the executable suffix ("pro" gives "pro.exe" under the Windows conventions).
    QString exe(const QString& name) const { return name + exeSuffix; }
};

} // namespace platform
