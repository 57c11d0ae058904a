// A drawing surface over a TBitmap that keeps the classic rules: rectangles
// exclude their right column and bottom row, a line excludes its end point,
// copies are plain, black fill or exclusive-or, and bitmaps can be drawn with
// a transparent colour. Everything is set pixel by pixel; text goes through
// the text painter the surface is given (none: no text, no size).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap.h"
#include "tcolor.h"
#include "text_painter.h"

namespace ab {

struct TPoint {
  int X = 0, Y = 0;
};

enum class TCopyMode { cmSrcCopy, cmBlackness, cmSrcInvert };
enum class TBrushStyle { bsSolid, bsClear };

class TCanvas {
 public:
  explicit TCanvas(TBitmap& bitmap, TTextPainter* text = nullptr) : bitmap_(bitmap), text_(text) {}

  TBitmap& Bitmap() { return bitmap_; }
  int Width() const { return bitmap_.Width(); }
  int Height() const { return bitmap_.Height(); }
  TTextPainter* TextPainter() const { return text_; }

  TColor PenColor = clBlack;
  int PenWidth = 1;
  TColor BrushColor = clWhite;
  TBrushStyle BrushStyle = TBrushStyle::bsSolid;
  TFont Font;
  TColor FontColor = clBlack;
  TCopyMode CopyMode = TCopyMode::cmSrcCopy;

  void FillRect(const TRect& r);                   // brush only
  void Rectangle(int l, int t, int r, int b);      // pen outline, brush inside
  void Ellipse(int l, int t, int r, int b);
  // Counter-clockwise from the radial through (x3, y3) to the one through (x4, y4).
  void Pie(int l, int t, int r, int b, int x3, int y3, int x4, int y4);
  void MoveTo(int x, int y) { pen_pos_ = {x, y}; }
  void LineTo(int x, int y);                       // the end point is not drawn
  void Polyline(const std::vector<TPoint>& points);
  void SetPixel(int x, int y, TColor color);
  uint32_t Pixel(int x, int y) const;              // $00BBGGRR

  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  // Text with its top-left corner at (x, y), in FontColor, on the brush when it is solid.
  void TextOut(int x, int y, const std::string& text);
  void TextRect(const TRect& clip, int x, int y, const std::string& text);

  // Copies `src_rect` of `src` onto `dest` of this surface with CopyMode.
  void CopyRect(const TRect& dest, const TBitmap& src, const TRect& src_rect);
  // Draws `bitmap` at (x, y), leaving pixels of the colour `transparent` undrawn.
  void DrawTransparent(int x, int y, const TBitmap& bitmap, uint32_t transparent);

 private:
  void Plot(int x, int y, uint32_t c) {
    if (bitmap_.Contains(x, y)) bitmap_.Set(x, y, c);
  }
  void HLine(int x0, int x1, int y, uint32_t c);  // x0..x1-1
  void DrawText(const TRect* clip, int x, int y, const std::string& text);

  TBitmap& bitmap_;
  TTextPainter* text_;
  TPoint pen_pos_;
};

}  // namespace ab
