// The controls' text through QPainter: measured with the font's metrics and
// drawn without antialiasing straight onto the bitmap's pixels.
#pragma once

#include "text_painter.h"

namespace ab::qt {

class QtTextPainter : public TTextPainter {
 public:
  int TextWidth(const TFont& font, const std::string& text) override;
  int TextHeight(const TFont& font, const std::string& text) override;
  void DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                const std::string& text) override;
};

// The one painter the widgets share (it keeps no state).
QtTextPainter& TextPainter();

}  // namespace ab::qt
