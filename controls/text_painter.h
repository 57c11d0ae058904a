// Text for the controls: a font description and the painter that measures
// and draws with it. The toolkit supplies the painter (fonts are the
// platform's); the controls only place the text.
#pragma once

#include <cstdint>
#include <string>

#include "bitmap.h"

// <windows.h> names a function DrawText by a macro: the painter's method is not it.
#ifdef DrawText
#undef DrawText
#endif

namespace ab {

// A font: the family, its size in points (when above 0) or else in pixels,
// and the weight. An empty family is the platform's default one.
struct TFont {
  std::string Family;
  double PointSize = 0;
  int PixelSize = 0;
  bool Bold = false;
  bool operator==(const TFont&) const = default;
};

class TTextPainter {
 public:
  virtual ~TTextPainter() = default;
  // The advance of `text` (UTF-8) and the height of a line, in pixels.
  virtual int TextWidth(const TFont& font, const std::string& text) = 0;
  virtual int TextHeight(const TFont& font, const std::string& text) = 0;
  // Draws `text` with its top-left corner at (x, y) in the colour `rgb`
  // ($00BBGGRR), without antialiasing or background, clipped to `clip` when
  // given (always to the bitmap).
  virtual void DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                        const std::string& text) = 0;
};

}  // namespace ab
