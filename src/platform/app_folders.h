#pragma once

#include <QString>

namespace platform {

/// The folder that holds the program, without a trailing separator. Programs, the sound file
/// and, when writable, the settings files are found relative to it.
QString AppFolder();

/// Makes AppFolder() answer `folder` (tools and tests that do not run from the application
/// folder); empty text restores the program's own folder.
void SetAppFolder(const QString& folder);

/// Where "setup.ini", "options.ini" and the saved document information live: AppFolder()
/// when it is writable (portable use, the build tree), otherwise the per-user configuration
/// folder, created on demand.
QString SettingsFolder();

/// The output folder used when the user names none: AppFolder() + "/output" when AppFolder()
/// is writable, otherwise a "Lumadoc" folder in the user's documents.
QString DefaultOutputFolder();

} // namespace platform
