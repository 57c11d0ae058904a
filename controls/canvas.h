// A drawing surface over a 32-bit RGB QImage that keeps the classic rules:
// rectangles exclude their right column and bottom row, a line excludes its
// end point, copies are plain, black fill or exclusive-or, and bitmaps can be
// drawn with a transparent colour. Lines and rectangle outlines are set pixel
// by pixel; ellipses, pies and text go through QPainter without antialiasing.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>

#include <string>
#include <vector>

#include "tcolor.h"

namespace ab {

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  TRect Inflated(int d) const { return {Left - d, Top - d, Right + d, Bottom + d}; }
};

enum class TCopyMode { cmSrcCopy, cmBlackness, cmSrcInvert };
enum class TBrushStyle { bsSolid, bsClear };

// A new image of the given size in the surface's format (black).
QImage NewBitmap(int width, int height);

class TCanvas {
 public:
  explicit TCanvas(QImage& image) : image_(image) {}

  QImage& Image() { return image_; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }

  TColor PenColor = clBlack;
  int PenWidth = 1;
  TColor BrushColor = clWhite;
  TBrushStyle BrushStyle = TBrushStyle::bsSolid;
  QFont Font;
  TColor FontColor = clBlack;
  TCopyMode CopyMode = TCopyMode::cmSrcCopy;

  void FillRect(const TRect& r);                   // brush only
  void Rectangle(int l, int t, int r, int b);      // pen outline, brush inside
  void Ellipse(int l, int t, int r, int b);
  // Counter-clockwise from the radial through (x3, y3) to the one through (x4, y4).
  void Pie(int l, int t, int r, int b, int x3, int y3, int x4, int y4);
  void MoveTo(int x, int y) { pen_pos_ = {x, y}; }
  void LineTo(int x, int y);                       // the end point is not drawn
  void Polyline(const std::vector<QPoint>& points);
  void SetPixel(int x, int y, TColor color);
  uint32_t Pixel(int x, int y) const;              // $00BBGGRR

  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  // Text with its top-left corner at (x, y), in FontColor, no background.
  void TextOut(int x, int y, const std::string& text);
  void TextRect(const TRect& clip, int x, int y, const std::string& text);

  // Copies `src_rect` of `src` onto `dest` of this surface with CopyMode.
  void CopyRect(const TRect& dest, const QImage& src, const TRect& src_rect);
  // Draws `bitmap` at (x, y), leaving pixels of the colour `transparent` undrawn.
  void DrawTransparent(int x, int y, const QImage& bitmap, uint32_t transparent);

 private:
  void Plot(int x, int y, QRgb c) {
    if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height())
      reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = c;
  }
  void HLine(int x0, int x1, int y, QRgb c);  // x0..x1-1
  void DrawText(const TRect* clip, int x, int y, const std::string& text);

  QImage& image_;
  QPoint pen_pos_;
};

inline QRgb ToQRgb(uint32_t rgb) { return qRgb(RedOf(rgb), GreenOf(rgb), BlueOf(rgb)); }
inline uint32_t FromQRgb(QRgb c) { return RGB(qRed(c), qGreen(c), qBlue(c)); }

}  // namespace ab
