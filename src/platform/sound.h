#pragma once

#include <QString>

namespace platform {

/// Plays the WAV file `path` and returns when it is over, handling the calling thread's events
/// meanwhile. A missing file, a file that is not a WAV sound or a machine without an audio
/// device plays nothing and returns at once.
void PlaySoundAndWait(const QString& path);

} // namespace platform
