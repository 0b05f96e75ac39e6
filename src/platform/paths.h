#pragma once

#include "conventions.h"

#include <QFileInfoList>
#include <QString>
#include <QStringList>

namespace platform {

/// The text up to and including its last character that is neither NUL nor a space;
/// empty when there is none.
QString StripTrailingNulls(const QString& text);

/// The characters after the last separator of `path` (the whole text when it has none).
/// Only the conventions' separator splits: under the Windows conventions "/" is an ordinary
/// character.
QString GetFileNameFromPath(const QString& path, const Conventions& conv);

/// The file name of `path` up to, not including, its first dot: C:\in\report.v2.pdf gives
/// "report", ".hidden" and a path ending in the separator give empty text.
QString FileBaseName(const QString& path, const Conventions& conv);

/// Whether `a` and `b` name one existing file, under whichever names (links, "..", hard links).
bool SameFile(const QString& a, const QString& b);

/// Sorts folder entries as file managers show them: natural order ignoring case ("scan2" before
/// "scan10", "b" before "C"), names equal in that order by their characters.
void SortNaturally(QFileInfoList& entries);

/// Appends every PDF file of the folder tree to `found`: the folder's own matches in natural
/// order (SortNaturally), then each subfolder in the same order, depth-first. A name matches when
/// its last three characters are "pdf" in any case (so "notapdf" matches too). Hidden and read-only
/// folders are searched; a folder reached twice through links is searched once. Pending events are
/// handled after every entry, so the window stays alive on large trees. A missing folder adds
/// nothing.
void SearchPdfFiles(const QString& folder, QStringList& found, const Conventions& conv);

/// As SearchPdfFiles for image files: names ending in bmp, jpg, gif, png, tif, tiff or jpeg.
void SearchImageFiles(const QString& folder, QStringList& found, const Conventions& conv);

/// The name tests of the two searches.
bool isPdfName(const QString& name);
bool isImageName(const QString& name);

/// Deletes `folder` with everything in it, read-only and hidden entries included. Links are
/// removed, never followed. Entries that cannot be deleted stay; nothing is reported, and a
/// missing folder is no error.
void DeleteFolderTree(const QString& folder);

} // namespace platform
