#pragma once

// Small stateless system services: special folders, the companion viewer's
// path, two-digit numbers, aspect fitting, free disk space.

#include <QString>

#include <cstdint>

namespace kad {

QString OperatingSystemName();

// The user's documents, pictures and videos folders (QStandardPaths), each
// falling back as the design says; the text is returned without a trailing "/".
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
// parent); 0 when unknown.
std::uint64_t FreeDiskSpace(const QString& path);

} // namespace kad
