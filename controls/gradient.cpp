#include "gradient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ab {

namespace {

constexpr const char* kNames[kGradientStyleCount] = {
    "gsHorizontal1", "gsHorizontal2", "gsHorizontal3", "gsVertical1", "gsVertical2", "gsVertical3", "gsElliptic1",
    "gsElliptic2",   "gsElliptic3",   "gsRectangle",   "gsDiamond1",  "gsDiamond2",  "gsTopLeft",   "gsTopRight"};

// Nearest integer, halves to the even neighbour, in extended precision.
long RoundEven(long double v) { return std::lrintl(v); }

// The per-call quantities: channels, differences and increments.
struct Steps {
  int r0, g0, b0;
  int dR, dG, dB;
  float fR = 0, fG = 0, fB = 0;

  void SetCount(long double n) {
    fR = static_cast<float>(dR / n);
    fG = static_cast<float>(dG / n);
    fB = static_cast<float>(dB / n);
  }
  // C(t): channel + round(t x increment).
  TColor C(long double t) const {
    return static_cast<TColor>(RGB(static_cast<uint32_t>(r0 + RoundEven(t * fR)),
                                   static_cast<uint32_t>(g0 + RoundEven(t * fG)),
                                   static_cast<uint32_t>(b0 + RoundEven(t * fB))));
  }
  // Ct(i): trunc(channel + i x increment).
  TColor Ct(int i) const {
    auto ch = [i](int c0, float f) {
      return static_cast<uint32_t>(std::clamp<long>(static_cast<long>(std::truncl(c0 + i * static_cast<long double>(f))), 0, 255));
    };
    return static_cast<TColor>(RGB(ch(r0, fR), ch(g0, fG), ch(b0, fB)));
  }
};

void Pen(TCanvas& c, TColor color) { c.PenColor = color; }
void PenAndBrush(TCanvas& c, TColor color) {
  c.PenColor = color;
  c.BrushColor = color;
}
void Line(TCanvas& c, int x0, int y0, int x1, int y1) {
  c.MoveTo(x0, y0);
  c.LineTo(x1, y1);
}

void DrawStyle(TCanvas& c, int W, int H, uint32_t from, uint32_t to, TGradientStyle style) {
  Steps s{RedOf(from), GreenOf(from), BlueOf(from), RedOf(to) - RedOf(from), GreenOf(to) - GreenOf(from),
          BlueOf(to) - BlueOf(from)};
  uint8_t D8 = static_cast<uint8_t>(std::max({std::abs(s.dR), std::abs(s.dG), std::abs(s.dB)}));
  const int D = D8 == 0 ? 1 : D8;
  const TColor cfrom = static_cast<TColor>(from), cto = static_cast<TColor>(to);
  const bool horizontal = style == gsHorizontal1 || style == gsHorizontal2 || style == gsHorizontal3;
  const int L = horizontal ? H : W;

  switch (style) {
    case gsHorizontal1:
    case gsVertical1: {
      int N = std::min(D, L);
      if (N == 0) N = 1;
      const int band = L / N;
      N = L / band;
      if (N == 0) N = 1;
      s.SetCount(N);
      for (int i = 0; i <= N; ++i) {
        c.BrushColor = s.Ct(i);
        if (horizontal)
          c.FillRect({0, i * band, W, i * band + band});
        else
          c.FillRect({i * band, 0, i * band + band, H});
      }
      break;
    }
    case gsHorizontal2:
    case gsVertical2:
    case gsHorizontal3:
    case gsVertical3: {
      // Lines outward from a centre line: the middle (style 2) or a third of
      // the way across (style 3), where lines before the edge are left out.
      const bool third = style == gsHorizontal3 || style == gsVertical3;
      int N = third ? static_cast<int>(RoundEven(L * 0.67L)) : L / 2;
      if (N == 0) N = 1;
      const int centre = third ? L / 3 : N;
      s.SetCount(N);
      auto line_at = [&](int k) { horizontal ? Line(c, 0, k, W, k) : Line(c, k, 0, k, H); };
      Pen(c, cfrom);
      line_at(centre);
      for (int i = 1; i <= N; ++i) {
        Pen(c, s.C(i));
        line_at(centre + i);
        if (centre - i >= 0) line_at(centre - i);
      }
      break;
    }
    case gsElliptic1:
    case gsElliptic2:
    case gsElliptic3: {
      int cx = W / 2, cy = H / 2;
      float sx, sy;
      if (style == gsElliptic1) {
        sx = static_cast<float>(static_cast<long double>(W) / D / 2);
        sy = static_cast<float>(static_cast<long double>(H) / D / 2);
      } else {
        const long double k = style == gsElliptic2 ? 0.695L : 0.82L;
        sx = static_cast<float>(static_cast<long double>(W) / D * k);
        sy = static_cast<float>(static_cast<long double>(H) / D * k);
        if (style == gsElliptic3) {
          cx = cx - W / 4 + 1;
          cy = cy - H / 4 + 1;
        }
      }
      s.SetCount(D);
      PenAndBrush(c, cto);
      c.Rectangle(0, 0, W, H);
      for (int i = D; i >= 1; --i) {
        PenAndBrush(c, s.C(i));
        const int rx = static_cast<int>(RoundEven(i * static_cast<long double>(sx)));
        const int ry = static_cast<int>(RoundEven(i * static_cast<long double>(sy)));
        c.Ellipse(cx - rx, cy - ry, cx + rx, cy + ry);
      }
      break;
    }
    case gsRectangle: {
      const int cx = W / 2, cy = H / 2;
      const float sx = static_cast<float>(static_cast<long double>(W) / D / 2);
      const float sy = static_cast<float>(static_cast<long double>(H) / D / 2);
      s.SetCount(D);
      for (int i = D; i >= 0; --i) {
        PenAndBrush(c, s.C(i));
        const int rx = static_cast<int>(RoundEven(i * static_cast<long double>(sx)));
        const int ry = static_cast<int>(RoundEven(i * static_cast<long double>(sy)));
        c.Rectangle(cx - rx, cy - ry, cx + rx + 1, cy + ry + 1);
      }
      break;
    }
    case gsDiamond1:
    case gsDiamond2: {
      const int M = std::max(W, H);
      int N;
      float sx, sy;
      if (style == gsDiamond1) {
        N = std::max(M / 2, D);
        sx = static_cast<float>(static_cast<long double>(W) / N / 2);
        sy = static_cast<float>(static_cast<long double>(H) / N / 2);
      } else {
        N = std::max(M, D);
        sx = static_cast<float>(static_cast<long double>(W) / N);
        sy = static_cast<float>(static_cast<long double>(H) / N);
      }
      const int cx = W / 2, cy = H / 2;
      s.SetCount(N);
      PenAndBrush(c, cto);
      c.Rectangle(0, 0, W, H);
      for (int i = N; i >= 1; --i) {
        PenAndBrush(c, s.C(i));
        const int rx = static_cast<int>(RoundEven(i * static_cast<long double>(sx)));
        const int ry = static_cast<int>(RoundEven(i * static_cast<long double>(sy)));
        c.Polyline({{cx, cy - ry}, {cx + rx, cy}, {cx, cy + ry}, {cx - rx, cy}, {cx, cy - ry}});
      }
      c.SetPixel(cx, cy, cfrom);
      break;
    }
    case gsTopLeft:
    case gsTopRight: {
      const int M = std::max(W, H);
      const float sx = static_cast<float>(static_cast<long double>(W) / M);
      const float sy = static_cast<float>(static_cast<long double>(H) / M);
      const int N = M == 0 ? 1 : M;
      s.SetCount(N);
      for (int i = 0; i <= N; ++i) {
        const int a = static_cast<int>(RoundEven(i * static_cast<long double>(sx)));
        const int b = static_cast<int>(RoundEven(i * static_cast<long double>(sy)));
        const long double half = i / 2.0L;
        Pen(c, s.C(half));
        if (style == gsTopLeft)
          Line(c, 0, b, a, -1);
        else
          Line(c, W, b, W - a, -1);
        Pen(c, s.C(N - half));
        if (style == gsTopLeft)
          Line(c, W, H - b, W - a, H);
        else
          Line(c, 0, H - b, a, H);
      }
      break;
    }
  }
}

}  // namespace

const char* GradientStyleName(TGradientStyle style) {
  return style < kGradientStyleCount ? kNames[style] : "?";
}

bool GradientStyleFromName(const char* name, TGradientStyle& out) {
  for (int i = 0; i < kGradientStyleCount; ++i)
    if (std::strcmp(name, kNames[i]) == 0) {
      out = static_cast<TGradientStyle>(i);
      return true;
    }
  return false;
}

void FillGradient(TCanvas& canvas, TRect rect, TColor color_from, TColor color_to, TGradientStyle style) {
  const int W = rect.Width(), H = rect.Height();
  if (W <= 0 || H <= 0) return;
  TBitmap bitmap = NewBitmap(W, H);
  TCanvas c(bitmap);
  c.PenWidth = 1;
  c.BrushStyle = TBrushStyle::bsSolid;
  const uint32_t from = ColorToRGB(color_from), to = ColorToRGB(color_to);
  if (from == to) {
    PenAndBrush(c, static_cast<TColor>(from));
    c.Rectangle(0, 0, W, H);
  } else {
    DrawStyle(c, W, H, from, to, style);
  }
  const TCopyMode mode = canvas.CopyMode;
  canvas.CopyMode = TCopyMode::cmSrcCopy;
  canvas.CopyRect(rect, bitmap, {0, 0, W, H});
  canvas.CopyMode = mode;
}

}  // namespace ab
