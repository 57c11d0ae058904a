#include "canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace ab {

void TCanvas::HLine(int x0, int x1, int y, uint32_t c) {
  if (y < 0 || y >= bitmap_.Height()) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, bitmap_.Width());
  if (x0 >= x1) return;
  uint32_t* row = bitmap_.Row(y);
  std::fill(row + x0, row + x1, c);
}

void TCanvas::FillRect(const TRect& r) {
  const uint32_t c = ToPixel(ColorToRGB(BrushColor));
  for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, bitmap_.Height()); ++y) HLine(r.Left, r.Right, y, c);
}

void TCanvas::Rectangle(int l, int t, int r, int b) {
  if (r <= l || b <= t) return;
  if (BrushStyle == TBrushStyle::bsSolid) FillRect({l + 1, t + 1, r - 1, b - 1});
  const uint32_t c = ToPixel(ColorToRGB(PenColor));
  HLine(l, r, t, c);
  HLine(l, r, b - 1, c);
  for (int y = t; y < b; ++y) {
    Plot(l, y, c);
    Plot(r - 1, y, c);
  }
}

void TCanvas::LineTo(int x1, int y1) {
  // Bresenham from the current point, every pixel but the last.
  const uint32_t c = ToPixel(ColorToRGB(PenColor));
  int x = pen_pos_.X, y = pen_pos_.Y;
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

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  MoveTo(points[0].X, points[0].Y);
  for (size_t i = 1; i < points.size(); ++i) LineTo(points[i].X, points[i].Y);
}

void TCanvas::SetPixel(int x, int y, TColor color) { Plot(x, y, ToPixel(ColorToRGB(color))); }

uint32_t TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height()) return 0;
  return FromPixel(bitmap_.At(x, y));
}

namespace {

// The rows of an ellipse filling the box of w x h pixels whose left column is
// l: for its row k the first and last column (first > last when the row has
// none). The curve has the semi-axes of half the box, its
// centre in the middle of the box's pixels, and each row ends at the pixel
// nearest to it (halves toward the centre); the top half is mirrored, so the
// figure is symmetric and never leaves its box.
std::vector<std::pair<int, int>> EllipseRows(int l, int w, int h) {
  std::vector<std::pair<int, int>> rows(static_cast<size_t>(h));
  const double a = w / 2.0, half_h = h / 2.0, mid_x = (w - 1) / 2.0, mid_y = (h - 1) / 2.0;
  for (int k = 0; k < (h + 1) / 2; ++k) {
    const double dy = (k - mid_y) / half_h;
    const double hx = a * std::sqrt(std::max(0.0, 1 - dy * dy));
    const int first = std::max(0, static_cast<int>(std::floor(mid_x - hx + 0.5)));
    rows[static_cast<size_t>(k)] = rows[static_cast<size_t>(h - 1 - k)] = {l + first, l + (w - 1) - first};
  }
  return rows;
}

}  // namespace

void TCanvas::Ellipse(int l, int t, int r, int b) {
  if (r - l < 1 || b - t < 1 || bitmap_.Empty()) return;
  const std::vector<std::pair<int, int>> rows = EllipseRows(l, r - l, b - t);
  const uint32_t brush = ToPixel(ColorToRGB(BrushColor)), pen = ToPixel(ColorToRGB(PenColor));
  const int h = b - t;
  for (int k = 0; k < h; ++k) {
    const auto [first, last] = rows[static_cast<size_t>(k)];
    if (first > last) continue;
    if (BrushStyle == TBrushStyle::bsSolid) HLine(first, last + 1, t + k, brush);
    // The outline: the row's ends, and what the rows above and below leave open.
    Plot(first, t + k, pen);
    Plot(last, t + k, pen);
    for (const int n : {k - 1, k + 1}) {
      if (n < 0 || n >= h || rows[static_cast<size_t>(n)].first > rows[static_cast<size_t>(n)].second) {
        HLine(first, last + 1, t + k, pen);
        continue;
      }
      HLine(first, std::min(last + 1, rows[static_cast<size_t>(n)].first), t + k, pen);
      HLine(std::max(first, rows[static_cast<size_t>(n)].second + 1), last + 1, t + k, pen);
    }
  }
}

void TCanvas::Pie(int l, int t, int r, int b, int x3, int y3, int x4, int y4) {
  if (r - l < 1 || b - t < 1 || bitmap_.Empty()) return;
  const int w = r - l, h = b - t;
  const std::vector<std::pair<int, int>> rows = EllipseRows(l, r - l, b - t);
  // Counter-clockwise on the screen from the radial through (x3, y3) to the
  // one through (x4, y4), both from the centre of the box; y grows upward here.
  const double cx = l + (w - 1) / 2.0, cy = t + (h - 1) / 2.0;
  const double ax = x3 - cx, ay = cy - y3, bx = x4 - cx, by = cy - y4;
  auto cross = [](double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; };
  const double turn = cross(ax, ay, bx, by);
  const bool whole = std::abs(turn) < 1e-9 && ax * bx + ay * by > 0;  // coinciding radials
  auto in_sector = [&](int x, int y) {
    if (whole) return true;
    const double px = x - cx, py = cy - y;
    const bool after_first = cross(ax, ay, px, py) >= 0, before_second = cross(px, py, bx, by) >= 0;
    return turn >= 0 ? after_first && before_second : after_first || before_second;
  };
  std::vector<uint8_t> inside(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  auto at = [&](int x, int y) -> uint8_t& { return inside[static_cast<size_t>(y - t) * w + static_cast<size_t>(x - l)]; };
  for (int k = 0; k < h; ++k)
    for (int x = rows[static_cast<size_t>(k)].first; x <= rows[static_cast<size_t>(k)].second; ++x)
      at(x, t + k) = in_sector(x, t + k) ? 1 : 0;
  auto filled = [&](int x, int y) { return x >= l && x < r && y >= t && y < b && at(x, y) != 0; };
  const uint32_t brush = ToPixel(ColorToRGB(BrushColor)), pen = ToPixel(ColorToRGB(PenColor));
  for (int y = t; y < b; ++y)
    for (int x = l; x < r; ++x) {
      if (!filled(x, y)) continue;
      // The outline: every pixel of the slice next to one outside it.
      const bool edge = !filled(x - 1, y) || !filled(x + 1, y) || !filled(x, y - 1) || !filled(x, y + 1);
      if (edge)
        Plot(x, y, pen);
      else if (BrushStyle == TBrushStyle::bsSolid)
        Plot(x, y, brush);
    }
}

int TCanvas::TextWidth(const std::string& text) const { return text_ ? text_->TextWidth(Font, text) : 0; }

int TCanvas::TextHeight(const std::string& text) const { return text_ ? text_->TextHeight(Font, text) : 0; }

void TCanvas::DrawText(const TRect* clip, int x, int y, const std::string& text) {
  if (bitmap_.Empty() || text.empty() || !text_) return;
  if (BrushStyle == TBrushStyle::bsSolid) {
    TRect box{x, y, x + TextWidth(text), y + TextHeight(text)};
    if (clip)
      box = {std::max(box.Left, clip->Left), std::max(box.Top, clip->Top), std::min(box.Right, clip->Right),
             std::min(box.Bottom, clip->Bottom)};
    FillRect(box);
  }
  text_->DrawText(bitmap_, clip, x, y, Font, ColorToRGB(FontColor), text);
}

void TCanvas::TextOut(int x, int y, const std::string& text) { DrawText(nullptr, x, y, text); }

void TCanvas::TextRect(const TRect& clip, int x, int y, const std::string& text) { DrawText(&clip, x, y, text); }

void TCanvas::CopyRect(const TRect& dest, const TBitmap& src, const TRect& src_rect) {
  const int w = std::min(dest.Width(), src_rect.Width()), h = std::min(dest.Height(), src_rect.Height());
  for (int j = 0; j < h; ++j) {
    const int dy = dest.Top + j, sy = src_rect.Top + j;
    if (dy < 0 || dy >= bitmap_.Height()) continue;
    uint32_t* drow = bitmap_.Row(dy);
    const uint32_t* srow = sy >= 0 && sy < src.Height() ? src.Row(sy) : nullptr;
    for (int i = 0; i < w; ++i) {
      const int dx = dest.Left + i, sx = src_rect.Left + i;
      if (dx < 0 || dx >= bitmap_.Width()) continue;
      const uint32_t s = srow && sx >= 0 && sx < src.Width() ? srow[sx] : kBlackPixel;
      switch (CopyMode) {
        case TCopyMode::cmSrcCopy: drow[dx] = s | 0xFF000000u; break;
        case TCopyMode::cmBlackness: drow[dx] = kBlackPixel; break;
        case TCopyMode::cmSrcInvert: drow[dx] = ((drow[dx] ^ s) & 0x00FFFFFFu) | 0xFF000000u; break;
      }
    }
  }
}

void TCanvas::DrawTransparent(int x, int y, const TBitmap& bitmap, uint32_t transparent) {
  const uint32_t key = ToPixel(transparent) & 0x00FFFFFFu;
  for (int j = 0; j < bitmap.Height(); ++j) {
    const uint32_t* row = bitmap.Row(j);
    for (int i = 0; i < bitmap.Width(); ++i)
      if ((row[i] & 0x00FFFFFFu) != key) Plot(x + i, y + j, row[i] | 0xFF000000u);
  }
}

}  // namespace ab
