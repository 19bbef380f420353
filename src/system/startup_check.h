#pragma once

// The check of the media platform at program start: below the oldest
// GStreamer Kadrillo supports, the user is warned and asked whether to go on.

#include <QString>

#include <functional>

#include "system/dialogs.h"

namespace kad {

inline constexpr unsigned kOldestMediaPlatformMajor = 1;
inline constexpr unsigned kOldestMediaPlatformMinor = 20;

bool MediaPlatformSupported(unsigned major, unsigned minor);

// The warning for an older media platform whose version reads `versionText`.
QString MediaPlatformWarning(const QString& versionText);

// Asks through `askYesNo` (a warning with Yes and No) when the version is
// too old; true when the program may go on: the version is supported or the
// answer was Yes.
bool ConfirmMediaPlatform(unsigned major, unsigned minor, const QString& versionText,
                          const std::function<DialogAnswer(const QString&)>& askYesNo);

} // namespace kad
