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

// The whole W x H picture in one colour, outline and all.
void Flood(TCanvas& c, int W, int H, TColor color) {
  PenAndBrush(c, color);
  c.Rectangle(0, 0, W, H);
}

// One of `n` steps across `side`, times `k`, kept as a float as the steps are.
float StepAcross(int side, int n, long double k) {
  return static_cast<float>(static_cast<long double>(side) / n * k);
}

// `i` steps of `step`, to the nearest pixel.
int Reach(int i, float step) { return static_cast<int>(RoundEven(i * static_cast<long double>(step))); }

// Figures nested about a centre, the outermost first so that each inner one
// paints over it: figure i reaches i steps of (sx, sy) out and has colour C(i).
template <typename Figure>
void Nest(TCanvas& c, const Steps& s, int outermost, int innermost, float sx, float sy, Figure figure) {
  for (int i = outermost; i >= innermost; --i) {
    PenAndBrush(c, s.C(i));
    figure(Reach(i, sx), Reach(i, sy));
  }
}

// gsHorizontal1, gsVertical1: bands of one colour each, one per step of the
// largest channel difference D but at least a pixel wide.
void DrawBands(TCanvas& c, int W, int H, Steps& s, int D, bool horizontal) {
  const int L = horizontal ? H : W;
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
}

// gsHorizontal2/3, gsVertical2/3: lines outward from a centre line, the
// middle (style 2) or a third of the way across (style 3), where lines before
// the edge are left out.
void DrawLinesFromCentre(TCanvas& c, int W, int H, Steps& s, TColor from, bool horizontal, bool third) {
  const int L = horizontal ? H : W;
  int N = third ? static_cast<int>(RoundEven(L * 0.67L)) : L / 2;
  if (N == 0) N = 1;
  const int centre = third ? L / 3 : N;
  s.SetCount(N);
  auto line_at = [&](int k) { horizontal ? Line(c, 0, k, W, k) : Line(c, k, 0, k, H); };
  Pen(c, from);
  line_at(centre);
  for (int i = 1; i <= N; ++i) {
    Pen(c, s.C(i));
    line_at(centre + i);
    if (centre - i >= 0) line_at(centre - i);
  }
}

// gsElliptic1/2/3: ellipses on the end colour, one per step of D; style 1
// reaches the edges, 2 and 3 beyond them, and 3 is centred up and to the left.
void DrawEllipses(TCanvas& c, int W, int H, Steps& s, int D, TColor to, TGradientStyle style) {
  int cx = W / 2, cy = H / 2;
  if (style == gsElliptic3) {
    cx = cx - W / 4 + 1;
    cy = cy - H / 4 + 1;
  }
  const long double k = style == gsElliptic1 ? 0.5L : style == gsElliptic2 ? 0.695L : 0.82L;
  s.SetCount(D);
  Flood(c, W, H, to);
  Nest(c, s, D, 1, StepAcross(W, D, k), StepAcross(H, D, k),
       [&](int rx, int ry) { c.Ellipse(cx - rx, cy - ry, cx + rx, cy + ry); });
}

// gsRectangle: rectangles about the centre, one per step of D, down to the
// single pixel in the start colour.
void DrawRectangles(TCanvas& c, int W, int H, Steps& s, int D) {
  const int cx = W / 2, cy = H / 2;
  s.SetCount(D);
  Nest(c, s, D, 0, StepAcross(W, D, 0.5L), StepAcross(H, D, 0.5L),
       [&](int rx, int ry) { c.Rectangle(cx - rx, cy - ry, cx + rx + 1, cy + ry + 1); });
}

// gsDiamond1/2: diamond outlines on the end colour, at least one per step of
// D; style 1 reaches the edges' middles, style 2 the corners.
void DrawDiamonds(TCanvas& c, int W, int H, Steps& s, int D, TColor from, TColor to, TGradientStyle style) {
  const int M = std::max(W, H);
  const int N = style == gsDiamond1 ? std::max(M / 2, D) : std::max(M, D);
  const long double k = style == gsDiamond1 ? 0.5L : 1;
  const int cx = W / 2, cy = H / 2;
  s.SetCount(N);
  Flood(c, W, H, to);
  Nest(c, s, N, 1, StepAcross(W, N, k), StepAcross(H, N, k), [&](int rx, int ry) {
    c.Polyline({{cx, cy - ry}, {cx + rx, cy}, {cx, cy + ry}, {cx - rx, cy}, {cx, cy - ry}});
  });
  c.SetPixel(cx, cy, from);
}

// gsTopLeft, gsTopRight: diagonal lines from the named corner and from the one
// opposite it, meeting in the middle colour.
void DrawCorners(TCanvas& c, int W, int H, Steps& s, bool top_left) {
  const int M = std::max(W, H);
  const float sx = StepAcross(W, M, 1), sy = StepAcross(H, M, 1);
  const int N = M == 0 ? 1 : M;
  s.SetCount(N);
  for (int i = 0; i <= N; ++i) {
    const int a = Reach(i, sx), b = Reach(i, sy);
    const long double half = i / 2.0L;
    Pen(c, s.C(half));
    if (top_left)
      Line(c, 0, b, a, -1);
    else
      Line(c, W, b, W - a, -1);
    Pen(c, s.C(N - half));
    if (top_left)
      Line(c, W, H - b, W - a, H);
    else
      Line(c, 0, H - b, a, H);
  }
}

// Paints `style` from `from` to `to` (both $00BBGGRR, not equal) over the whole
// W x H canvas.
void DrawStyle(TCanvas& c, int W, int H, uint32_t from, uint32_t to, TGradientStyle style) {
  Steps s{RedOf(from), GreenOf(from), BlueOf(from), RedOf(to) - RedOf(from), GreenOf(to) - GreenOf(from),
          BlueOf(to) - BlueOf(from)};
  uint8_t D8 = static_cast<uint8_t>(std::max({std::abs(s.dR), std::abs(s.dG), std::abs(s.dB)}));
  const int D = D8 == 0 ? 1 : D8;
  const TColor cfrom = static_cast<TColor>(from), cto = static_cast<TColor>(to);
  const bool horizontal = style == gsHorizontal1 || style == gsHorizontal2 || style == gsHorizontal3;

  switch (style) {
    case gsHorizontal1:
    case gsVertical1:
      return DrawBands(c, W, H, s, D, horizontal);
    case gsHorizontal2:
    case gsVertical2:
    case gsHorizontal3:
    case gsVertical3:
      return DrawLinesFromCentre(c, W, H, s, cfrom, horizontal, style == gsHorizontal3 || style == gsVertical3);
    case gsElliptic1:
    case gsElliptic2:
    case gsElliptic3:
      return DrawEllipses(c, W, H, s, D, cto, style);
    case gsRectangle:
      return DrawRectangles(c, W, H, s, D);
    case gsDiamond1:
    case gsDiamond2:
      return DrawDiamonds(c, W, H, s, D, cfrom, cto, style);
    case gsTopLeft:
    case gsTopRight:
      return DrawCorners(c, W, H, s, style == gsTopLeft);
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
    Flood(c, W, H, static_cast<TColor>(from));
  } else {
    DrawStyle(c, W, H, from, to, style);
  }
  const TCopyMode mode = canvas.CopyMode;
  canvas.CopyMode = TCopyMode::cmSrcCopy;
  canvas.CopyRect(rect, bitmap, {0, 0, W, H});
  canvas.CopyMode = mode;
}

}  // namespace ab
