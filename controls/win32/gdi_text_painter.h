// The controls' text through GDI: measured and drawn with the platform's
// fonts, without antialiasing, onto the bitmap's pixels (a 32-bit top-down
// DIB has the bitmap's layout).
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "text_painter.h"

#ifdef DrawText  // <windows.h>'s macro, if included before
#undef DrawText
#endif

namespace ab::win32 {

class GdiTextPainter : public TTextPainter {
 public:
  GdiTextPainter();
  ~GdiTextPainter() override;
  GdiTextPainter(const GdiTextPainter&) = delete;
  GdiTextPainter& operator=(const GdiTextPainter&) = delete;

  int TextWidth(const TFont& font, const std::string& text) override;
  int TextHeight(const TFont& font, const std::string& text) override;
  void DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                const std::string& text) override;

 private:
  void* FontFor(const TFont& font);  // an HFONT, made once per description

  void* dc_;  // a memory DC for measuring
  std::map<std::tuple<std::string, double, int, bool>, void*> fonts_;
};

// The one painter the control windows share.
GdiTextPainter& TextPainter();

// The core's system colours from the system's scheme (GetSysColor).
void UseSystemColors();

// A 32-bit top-down DIB section of width x height, the layout of a TBitmap:
// the HBITMAP, with its pixels in `bits`; null when the system gives none.
void* CreatePictureSection(int width, int height, void** bits);

}  // namespace ab::win32
