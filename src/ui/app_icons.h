#pragma once

// The window's image list (22 x 22): pictures by index, taken from the
// desktop's icon theme and falling back to Kadrillo's own drawings
// (:/icons/imgNN.png), so that every button and menu entry has one.

#include <QIcon>
#include <QList>

namespace kad {

inline constexpr int kImageSize = 22;
// Kadrillo's own index for the reduce action, which the image list lacks.
inline constexpr int kReduceImage = 37;

// Makes the desktop theme usable where no desktop chose one (a bare X
// server, the offscreen platform): Adwaita is asked when the theme lacks a name.
void PrepareIconTheme();

// The picture for an image-list index; a null icon for an unknown index.
QIcon ImageListIcon(int index);
// Kadrillo's own drawing for the index (what ImageListIcon falls back to).
QIcon BundledIcon(int index);
// Every index the window uses.
QList<int> ImageListIndices();

} // namespace kad
