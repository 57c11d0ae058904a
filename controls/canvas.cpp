#include "canvas.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ab {

QImage NewBitmap(int width, int height) {
  QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

void TCanvas::HLine(int x0, int x1, int y, QRgb c) {
  if (y < 0 || y >= image_.height()) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, image_.width());
  if (x0 >= x1) return;
  QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
  std::fill(row + x0, row + x1, c);
}

void TCanvas::FillRect(const TRect& r) {
  const QRgb c = ToQRgb(ColorToRGB(BrushColor));
  for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, image_.height()); ++y) HLine(r.Left, r.Right, y, c);
}

void TCanvas::Rectangle(int l, int t, int r, int b) {
  if (r <= l || b <= t) return;
  if (BrushStyle == TBrushStyle::bsSolid) FillRect({l + 1, t + 1, r - 1, b - 1});
  const QRgb c = ToQRgb(ColorToRGB(PenColor));
  HLine(l, r, t, c);
  HLine(l, r, b - 1, c);
  for (int y = t; y < b; ++y) {
    Plot(l, y, c);
    Plot(r - 1, y, c);
  }
}

void TCanvas::LineTo(int x1, int y1) {
  // Bresenham from the current point, every pixel but the last.
  const QRgb c = ToQRgb(ColorToRGB(PenColor));
  int x = pen_pos_.x(), y = pen_pos_.y();
  const int dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
  const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
  int err = dx + dy;
  while (x != x1 || y != y1) {
    Plot(x, y, c);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  pen_pos_ = {x1, y1};
}

void TCanvas::Polyline(const std::vector<QPoint>& points) {
  if (points.empty()) return;
  MoveTo(points[0].x(), points[0].y());
  for (size_t i = 1; i < points.size(); ++i) LineTo(points[i].x(), points[i].y());
}

void TCanvas::SetPixel(int x, int y, TColor color) { Plot(x, y, ToQRgb(ColorToRGB(color))); }

uint32_t TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return 0;
  return FromQRgb(reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x]);
}

namespace {

void PrepareShape(QPainter& p, const TCanvas& c) {
  p.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(QColor(ToQRgb(ColorToRGB(c.PenColor))));
  pen.setWidth(0);  // one pixel
  p.setPen(pen);
  if (c.BrushStyle == TBrushStyle::bsSolid)
    p.setBrush(QColor(ToQRgb(ColorToRGB(c.BrushColor))));
  else
    p.setBrush(Qt::NoBrush);
}

double AngleOf(double cx, double cy, int x, int y) {
  return std::atan2(-(y - cy), x - cx) * 180.0 / M_PI;
}

}  // namespace

void TCanvas::Ellipse(int l, int t, int r, int b) {
  if (r - l < 1 || b - t < 1 || image_.isNull()) return;
  QPainter p(&image_);
  PrepareShape(p, *this);
  p.drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
}

void TCanvas::Pie(int l, int t, int r, int b, int x3, int y3, int x4, int y4) {
  if (r - l < 1 || b - t < 1 || image_.isNull()) return;
  const double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
  const double a3 = AngleOf(cx, cy, x3, y3), a4 = AngleOf(cx, cy, x4, y4);
  double span = std::fmod(a4 - a3 + 720.0, 360.0);
  if (span < 1e-9) span = 360.0;  // coinciding radials: the whole ellipse
  QPainter p(&image_);
  PrepareShape(p, *this);
  p.drawPie(QRect(l, t, r - l - 1, b - t - 1), static_cast<int>(std::lround(a3 * 16)),
            static_cast<int>(std::lround(span * 16)));
}

int TCanvas::TextWidth(const std::string& text) const {
  return QFontMetrics(Font).horizontalAdvance(QString::fromUtf8(text.c_str()));
}

int TCanvas::TextHeight(const std::string&) const { return QFontMetrics(Font).height(); }

void TCanvas::DrawText(const TRect* clip, int x, int y, const std::string& text) {
  if (image_.isNull() || text.empty()) return;
  QPainter p(&image_);
  QFont f = Font;
  f.setStyleStrategy(QFont::NoAntialias);
  p.setFont(f);
  p.setPen(QColor(ToQRgb(ColorToRGB(FontColor))));
  if (clip) p.setClipRect(QRect(clip->Left, clip->Top, clip->Width(), clip->Height()));
  const QString s = QString::fromUtf8(text.c_str());
  if (BrushStyle == TBrushStyle::bsSolid)
    p.fillRect(QRect(x, y, TextWidth(text), TextHeight(text)), QColor(ToQRgb(ColorToRGB(BrushColor))));
  p.drawText(x, y + QFontMetrics(f).ascent(), s);
}

void TCanvas::TextOut(int x, int y, const std::string& text) { DrawText(nullptr, x, y, text); }

void TCanvas::TextRect(const TRect& clip, int x, int y, const std::string& text) { DrawText(&clip, x, y, text); }

void TCanvas::CopyRect(const TRect& dest, const QImage& src, const TRect& src_rect) {
  const int w = std::min(dest.Width(), src_rect.Width()), h = std::min(dest.Height(), src_rect.Height());
  for (int j = 0; j < h; ++j) {
    const int dy = dest.Top + j, sy = src_rect.Top + j;
    if (dy < 0 || dy >= image_.height()) continue;
    QRgb* drow = reinterpret_cast<QRgb*>(image_.scanLine(dy));
    const QRgb* srow = sy >= 0 && sy < src.height() ? reinterpret_cast<const QRgb*>(src.constScanLine(sy)) : nullptr;
    for (int i = 0; i < w; ++i) {
      const int dx = dest.Left + i, sx = src_rect.Left + i;
      if (dx < 0 || dx >= image_.width()) continue;
      const QRgb s = srow && sx >= 0 && sx < src.width() ? srow[sx] : qRgb(0, 0, 0);
      switch (CopyMode) {
        case TCopyMode::cmSrcCopy: drow[dx] = s | 0xFF000000u; break;
        case TCopyMode::cmBlackness: drow[dx] = qRgb(0, 0, 0); break;
        case TCopyMode::cmSrcInvert: drow[dx] = ((drow[dx] ^ s) & 0x00FFFFFFu) | 0xFF000000u; break;
      }
    }
  }
}

void TCanvas::DrawTransparent(int x, int y, const QImage& bitmap, uint32_t transparent) {
  const QRgb key = ToQRgb(transparent) & 0x00FFFFFFu;
  const QImage src = bitmap.format() == QImage::Format_RGB32 ? bitmap : bitmap.convertToFormat(QImage::Format_RGB32);
  for (int j = 0; j < src.height(); ++j) {
    const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(j));
    for (int i = 0; i < src.width(); ++i)
      if ((row[i] & 0x00FFFFFFu) != key) Plot(x + i, y + j, row[i] | 0xFF000000u);
  }
}

}  // namespace ab
