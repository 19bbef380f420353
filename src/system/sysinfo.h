#pragma once

// Small system services: the operating system's name, special folders, the
// companion viewer's path, two-digit numbers, aspect fitting, free disk space,
// and the one time stamp of the run that every file name uses.

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace kad {

// PRETTY_NAME of os-release + " - kernel " + the kernel release, for example
// "Debian GNU/Linux 12 (bookworm) - kernel 6.1.0-18-amd64".
QString OperatingSystemName();
// The same from given pieces: `osRelease` is the text of an os-release file,
// `kernelRelease` the kernel's release string. "Unknown" stands for a missing
// PRETTY_NAME.
QString OperatingSystemName(const QString& osRelease, const QString& kernelRelease);

// The user's documents, pictures and videos folders (QStandardPaths). An
// unknown pictures or videos folder falls back to the documents folder, an
// unknown documents folder to the home folder. No trailing "/".
QString PersonalFolder();
QString PicturesFolder();
QString VideoFolder();

// "Exename" of \Software\Tavrel\Ferrovue (the key is created when missing);
// empty when unknown.
QString FerrovuePath();

// Last two characters of "00" followed by n: 5 -> "05", 2026 -> "26".
QString TwoDigits(int n);

// Largest rectangle of the mode's ratio inside (width, height): mode 1 is
// 4:3, mode 2 is 16:9, any other mode leaves the size as it is.
void FitAspect(int& width, int& height, int mode);

// Free bytes of the file system holding `path` (or its nearest existing
// parent) that an ordinary user may write; 0 when unknown.
std::uint64_t FreeDiskSpace(const QString& path);
// Mount point of the file system holding `path` (or its nearest existing
// parent), the name under which the free space is shown; empty when unknown.
QString FileSystemName(const QString& path);

// The local date and time at which the preferences were applied at start-up.
// Every file name of the run (videos, images, log) carries it. Read before it
// was set, it is fixed to the current time, so that it never changes later.
QDateTime StartupTime();
void SetStartupTime(const QDateTime& when);
// DDMMYY_HHNNSS of `when`: 13:48:05 on 5 December 2026 -> "051226_134805".
QString DateTimeStamp(const QDateTime& when);

} // namespace kad
