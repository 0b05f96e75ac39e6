#pragma once

#include <QString>

namespace platform {

/// The two private work folders of this process (the "tmp" and "jpgtmp" folders of the
/// conversion run and the image assembly). They live in a folder of mode 0700 under the
/// user's temporary folder, unique to the process, so no other process can plant files or
/// links in them and two programs never share them. The base folder is made on the first
/// call and removed with everything in it when the program ends.
class WorkFolders {
public:
    /// The "tmp" folder (created when missing; an assembly may have deleted it).
    static QString tmp();
    /// The "jpgtmp" folder (created when missing).
    static QString jpgTmp();
    /// The private base folder holding both; empty when it could not be made.
    static QString base();
    /// Removes the base folder now (also done at program exit).
    static void removeAll();
    /// Removes the base folders of this user's processes that have ended without removing
    /// theirs (killed, crashed): each base folder holds a file that its process keeps locked,
    /// so a folder whose lock can be taken is no one's. Anything else is left alone: other
    /// users' folders, folders without the lock file, links.
    static void removeStale();
};

} // namespace platform
