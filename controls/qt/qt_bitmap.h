// The core's bitmaps, fonts and system colours as Qt sees them.
#pragma once

#include <QFont>
#include <QImage>

#include "bitmap.h"
#include "text_painter.h"

namespace ab::qt {

// A 32-bit RGB image over the bitmap's own pixels (no copy): painting on it
// paints the bitmap. It is valid while the bitmap keeps its size.
QImage WrapBitmap(TBitmap& bitmap);
// The same for reading only (drawing the bitmap).
QImage WrapBitmap(const TBitmap& bitmap);
// A copy of `image` in the bitmap's format (converted to 32-bit RGB first).
TBitmap BitmapFromImage(const QImage& image);

// The font's family, size and weight; and the Qt font of a description: the
// application's font with what the description sets.
TFont FontFromQt(const QFont& font);
QFont QtFont(const TFont& font);

// Makes the application's current palette the core's source of system
// colours (button face, shadow, highlight, window frame ...); the others, and
// all of them without an application, come from the core's table.
void UseApplicationPalette();

}  // namespace ab::qt
