#include "button_drawing.h"

#include <cmath>

namespace ab {

TColor ColorStep(TColor a, TColor b, int n, int i) {
  const uint32_t ra = ColorToRGB(a), rb = ColorToRGB(b);
  if (ra == rb) return a;
  if (n == 0) n = 1;
  auto channel = [&](uint8_t ca, uint8_t cb) {
    const long step = std::lrintl(static_cast<long double>(cb - ca) / n * i);
    return static_cast<uint32_t>(ca + step) & 0xFF;
  };
  return static_cast<TColor>(
      RGB(channel(RedOf(ra), RedOf(rb)), channel(GreenOf(ra), GreenOf(rb)), channel(BlueOf(ra), BlueOf(rb))));
}

void AnchoredTextOut(TCanvas& canvas, int x, int y, int anchor, const std::string& text) {
  const int w = canvas.TextWidth(text), h = canvas.TextHeight(text);
  static constexpr int kHorizontal[9] = {0, 1, 2, 0, 1, 2, 0, 1, 2};  // 0 left, 1 centre, 2 right
  static constexpr int kVertical[9] = {0, 0, 0, 1, 1, 1, 2, 2, 2};
  if (anchor < 0 || anchor > 8) {
    canvas.TextOut(0, 0, text);
    return;
  }
  const int left = kHorizontal[anchor] == 0 ? x : kHorizontal[anchor] == 1 ? x - w / 2 : x - w;
  const int top = kVertical[anchor] == 0 ? y : kVertical[anchor] == 1 ? y - h / 2 : y - h;
  canvas.TextOut(left, top, text);
}

void TextOut3D(TCanvas& canvas, int x, int y, bool engraved, int anchor, const std::string& text, TColor highlight,
               TColor shadow, TColor color) {
  if (engraved) {
    canvas.FontColor = highlight;
    AnchoredTextOut(canvas, x + 1, y + 1, anchor, text);
    canvas.FontColor = shadow;
    AnchoredTextOut(canvas, x - 1, y - 1, anchor, text);
  }
  canvas.FontColor = color;
  AnchoredTextOut(canvas, x, y, anchor, text);
}

void DrawFocusFrame(TCanvas& canvas, const TRect& rc) {
  if (rc.Empty()) return;
  auto dot = [&canvas](int x, int y) {
    if ((x + y) % 2 != 0) return;
    const uint32_t under = canvas.Pixel(x, y);
    const int light = RedOf(under) * 299 + GreenOf(under) * 587 + BlueOf(under) * 114;  // per mille
    canvas.SetPixel(x, y, light >= 128 * 1000 ? clBlack : clWhite);
  };
  for (int x = rc.Left; x < rc.Right; ++x) {
    dot(x, rc.Top);
    if (rc.Bottom - 1 > rc.Top) dot(x, rc.Bottom - 1);
  }
  for (int y = rc.Top + 1; y < rc.Bottom - 1; ++y) {
    dot(rc.Left, y);
    if (rc.Right - 1 > rc.Left) dot(rc.Right - 1, y);
  }
}

void TAbBtnBevel::AssignTo(TAbPersistent& dest) const {
  auto* d = dynamic_cast<TAbBtnBevel*>(&dest);
  if (!d) AssignError(dest);
  d->shadow_from_ = shadow_from_;
  d->shadow_to_ = shadow_to_;
  d->highlight_from_ = highlight_from_;
  d->highlight_to_ = highlight_to_;
  d->width_ = width_;
  d->Changed();
}

void TAbBtnBevel::Draw(TCanvas& canvas, TRect& rc, TColor color, bool fill, bool raised) const {
  if (fill) {
    canvas.PenColor = color;
    canvas.BrushColor = color;
    canvas.BrushStyle = TBrushStyle::bsSolid;
    canvas.Rectangle(rc.Left, rc.Top, rc.Right, rc.Bottom);
  }
  const int n = width_;
  for (int i = 1; i <= n; ++i) {
    const TColor top =
        raised ? ColorStep(highlight_from_, highlight_to_, n, i) : ColorStep(shadow_to_, shadow_from_, n, i);
    const TColor bottom =
        raised ? ColorStep(shadow_from_, shadow_to_, n, i) : ColorStep(highlight_to_, highlight_from_, n, i);
    if (rc.Right > rc.Left && rc.Bottom > rc.Top) {
      // Top and left edges (the top-right and bottom-left corners belong to the bottom colour).
      for (int x = rc.Left; x < rc.Right - 1; ++x) canvas.SetPixel(x, rc.Top, top);
      for (int y = rc.Top; y < rc.Bottom - 1; ++y) canvas.SetPixel(rc.Left, y, top);
      for (int y = rc.Top; y < rc.Bottom; ++y) canvas.SetPixel(rc.Right - 1, y, bottom);
      for (int x = rc.Left; x < rc.Right; ++x) canvas.SetPixel(x, rc.Bottom - 1, bottom);
    }
    rc = rc.Inflated(-1);
  }
}

void TAbGradSettings::AssignTo(TAbPersistent& dest) const {
  auto* d = dynamic_cast<TAbGradSettings*>(&dest);
  if (!d) AssignError(dest);
  d->SetColorFrom(from_);
  d->SetColorTo(to_);
  d->SetVisible(visible_);
  d->SetStyle(style_);
  d->Changed();
}

}  // namespace ab
