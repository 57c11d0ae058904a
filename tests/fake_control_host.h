// A host for the painted controls without a toolkit: a settable size,
// visibility and mouse capture, a plain background, counted repaints, and a
// text painter whose glyphs are solid boxes of a fixed size.
#pragma once

#include <string>
#include <vector>

#include "bitmap.h"
#include "canvas.h"
#include "control_host.h"
#include "text_painter.h"

namespace ab::test {

// Each character (UTF-8 code point) is a cell of kCellW x kCellH pixels whose
// top-left kBoxW x kBoxH pixels are painted; bold cells are one pixel wider.
class FakeTextPainter : public TTextPainter {
 public:
  static constexpr int kCellW = 6, kCellH = 10, kBoxW = 5, kBoxH = 8;

  static int CodePoints(const std::string& text) {
    int n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
  }
  static int CellWidth(const TFont& font) { return kCellW + (font.Bold ? 1 : 0); }
  int TextWidth(const TFont& font, const std::string& text) override { return CodePoints(text) * CellWidth(font); }
  int TextHeight(const TFont&, const std::string&) override { return kCellH; }
  void DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                const std::string& text) override {
    ++draws;
    last_font = font;
    const int n = CodePoints(text);
    for (int k = 0; k < n; ++k)
      for (int j = 0; j < kBoxH; ++j)
        for (int i = 0; i < kBoxW; ++i) {
          const int px = x + k * CellWidth(font) + i, py = y + j;
          if (clip && (px < clip->Left || px >= clip->Right || py < clip->Top || py >= clip->Bottom)) continue;
          if (bitmap.Contains(px, py)) bitmap.Set(px, py, ToPixel(rgb));
        }
  }
  int draws = 0;
  TFont last_font;
};

class FakeHost : public TControlHost {
 public:
  explicit FakeHost(TSize size = {345, 33}) : size(size) {}
  void Repaint() override { ++repaints; }
  void Invalidate() override { ++invalidations; }
  TSize Size() const override { return size; }
  bool Visible() const override { return visible; }
  bool MouseCaptured() const override { return captured; }
  TBitmap Background() override {
    ++captures;
    TBitmap under(size.Width, size.Height);
    under.Fill(ToPixel(background_rgb));
    return under;
  }
  TTextPainter* TextPainter() override { return text; }
  std::vector<TAbBinGControl*> Siblings() override { return siblings; }
  void EnabledChanged(bool enabled) override { enabled_changes.push_back(enabled); }

  TSize size;
  bool visible = true;
  bool captured = false;
  uint32_t background_rgb = 0;
  TTextPainter* text = nullptr;
  std::vector<TAbBinGControl*> siblings;
  int repaints = 0, invalidations = 0, captures = 0;
  std::vector<bool> enabled_changes;
};

inline uint32_t At(const TBitmap& image, int x, int y) { return FromPixel(image.At(x, y)); }

}  // namespace ab::test
