#pragma once

// File names for captures cut at each new recording of a tape: numbered
// names that never land on an existing file, and the rename of a file to the
// date and time its first frame was recorded. Plain C++ over POSIX calls.

#include "media/dv/recording_watch.h"

#include <functional>
#include <optional>
#include <string>

namespace kad::dv {

// The name with the number at the end of its stem one higher
// ("Video_3.avi" -> "Video_4.avi"); a stem without a number gets "_2".
std::string nextNumberedName(const std::string& path);
// path itself when no file of that name exists, else the first free name
// of nextNumberedName's sequence. Empty when a thousand in a row are taken.
std::string freeNumberedName(const std::string& path);

// The file a new recording goes into: `given` when not empty, else the
// number after `lastNumbered`; passed over to the next free number when
// taken. Empty when none is free.
std::string splitTarget(const std::string& given, const std::string& lastNumbered);

// Calls open(name) with `first`, then with the next free numbered names after
// it while open fails with EEXIST (a file made under that name since it was
// chosen). The name opened, or empty with errno set.
std::string openUnderFreeName(const std::string& first,
                              const std::function<bool(const std::string&)>& open);

// "<root>_YYYY.MM.DD_HH-MM-SS" followed by the extension of `from`.
std::string dateName(const std::string& root, const std::string& from,
                     const RecordingDateTime& when);

// Renames the file `from` to dateName(root, from, when), or to the same name
// with "_2", "_3"... before the extension when that one is taken. Never
// replaces a file, also on file systems without RENAME_NOREPLACE (a hard link
// then the old name's removal). The new path, or nothing with errno set.
std::optional<std::string> renameByRecordingDate(const std::string& from, const std::string& root,
                                                 const RecordingDateTime& when);

} // namespace kad::dv
