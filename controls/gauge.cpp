#include "gauge.h"

#include <cmath>

namespace ab {

int PercentOf(int64_t x, int64_t range) { return range == 0 ? 0 : static_cast<int>(x * 100 / range); }

int ScaleByPercent(int percent, int length) {
  return static_cast<int>(std::truncl(percent * 0.01L * length));
}

void TBltBitmap::MakeLike(const TBitmap& tmpl) {
  Image = NewBitmap(tmpl.Width(), tmpl.Height());
  Image.Fill(ToPixel(ColorToRGB(clWindowFrame)));
}

namespace {

// Every pixel black (a black-fill raster copy).
void ClearImage(TBitmap& image) {
  TCanvas c(image);
  c.CopyMode = TCopyMode::cmBlackness;
  c.CopyRect({0, 0, image.Width(), image.Height()}, image, {0, 0, image.Width(), image.Height()});
}

void XorInto(TBitmap& image, const TBitmap& overlay) {
  TCanvas c(image);
  c.CopyMode = TCopyMode::cmSrcInvert;
  c.CopyRect({0, 0, image.Width(), image.Height()}, overlay, {0, 0, overlay.Width(), overlay.Height()});
}

int RoundEven(long double v) { return static_cast<int>(std::lrintl(v)); }

}  // namespace

void TGauge::SetMinValue(int v) {
  if (v == min_) return;
  if (v > max_ && !loading_)
    throw EInvalidOperation("Value must be between -2147483647 and " + std::to_string(static_cast<int64_t>(max_) - 1));
  min_ = v;
  if (progress_ < v) progress_ = v;
  Repaint();
}

void TGauge::SetMaxValue(int v) {
  if (v == max_) return;
  if (v < min_ && !loading_)
    throw EInvalidOperation("Value must be between " + std::to_string(static_cast<int64_t>(min_) + 1) +
                            " and 2147483647");
  max_ = v;
  if (progress_ > v) progress_ = v;
  Repaint();
}

void TGauge::SetProgress(int v) {
  const int old_percent = Percent();
  if (v < min_)
    v = min_;
  else if (v > max_)
    v = max_;
  if (v == progress_) return;
  progress_ = v;
  if (Percent() != old_percent) Repaint();
}

void TGauge::Repaint() {
  ++repaints_;
  if (host_) host_->Repaint();
}

void TGauge::SetFont(const TFont& v) {
  if (v == font_) return;
  font_ = v;
  if (host_) host_->Invalidate();
}

TRect TGauge::GaugeRect() const {
  TRect r{0, 0, Width(), Height()};
  return border_ == bsSingle ? r.Inflated(-1) : r;
}

void TGauge::Paint(TBitmap& image) const {
  image = NewBitmap(Width(), Height());
  ClearImage(image);
  const TRect r = GaugeRect();
  TBltBitmap overlay;
  overlay.MakeLike(image);
  ClearImage(overlay.Image);
  {
    TCanvas c(overlay.Image);
    switch (kind_) {
      case gkText:
        c.BrushColor = back_;
        c.FillRect(r);
        break;
      case gkHorizontalBar:
      case gkVerticalBar:
        DrawBar(c, r);
        break;
      case gkPie:
        DrawPie(c, r);
        break;
      case gkNeedle:
        DrawNeedle(c, r);
        break;
    }
  }
  XorInto(image, overlay.Image);
  if (show_text_) DrawPercentText(image, r);
}

void TGauge::DrawBar(TCanvas& c, const TRect& r) const {
  const int W = r.Right - r.Left + 1, H = r.Bottom - r.Top + 1;
  c.BrushColor = back_;
  c.FillRect(r);
  c.PenColor = fore_;
  c.BrushColor = fore_;
  if (kind_ == gkHorizontalBar) {
    int fill = ScaleByPercent(Percent(), W);
    if (fill > W) fill = W;
    if (fill > 0) c.FillRect({r.Left, r.Top, fill, H});
  } else {
    int fill = ScaleByPercent(Percent(), H);
    if (fill >= H) fill = H - 1;
    c.FillRect({r.Left, H - fill, W, H});
  }
}

void TGauge::PrepareDial(TCanvas& c, const TRect& r, int& W, int& H) const {
  W = r.Right - r.Left;
  H = r.Bottom - r.Top;
  if (border_ == bsSingle) {
    ++W;
    ++H;
  }
  c.BrushColor = color_;
  c.FillRect(r);
  c.BrushColor = back_;
  c.PenColor = fore_;
}

void TGauge::DrawPie(TCanvas& c, const TRect& r) const {
  int W, H;
  PrepareDial(c, r, W, H);
  c.Ellipse(r.Left, r.Top, W, H);
  if (Percent() > 0) {
    c.BrushColor = fore_;
    const int mx = W / 2, my = H / 2;
    const double angle = static_cast<double>(3.14159265358979323846264338327950288L * (Percent() / 50.0L + 0.5L));
    c.Pie(r.Left, r.Top, W, H, RoundEven(mx * (1 - std::cos(static_cast<long double>(angle)))),
          RoundEven(my * (1 - std::sin(static_cast<long double>(angle)))), mx, 0);
  }
}

void TGauge::DrawNeedle(TCanvas& c, const TRect& r) const {
  const int X = r.Left, Y = r.Top;
  int W, H;
  PrepareDial(c, r, W, H);
  c.Pie(X, Y, W, 2 * H - 1, X + W, r.Bottom - 1, X, r.Bottom - 1);
  c.MoveTo(X, r.Bottom);
  c.LineTo(X + W, r.Bottom);
  if (Percent() > 0) {
    const int mx = Width() / 2;
    const double angle = static_cast<double>(3.14159265358979323846264338327950288L * Percent() / 100.0L);
    c.MoveTo(mx, r.Bottom - 1);
    c.LineTo(RoundEven(mx * (1 - std::cos(static_cast<long double>(angle)))),
             RoundEven((r.Bottom - 1) * (1 - std::sin(static_cast<long double>(angle)))));
  }
}

void TGauge::DrawPercentText(TBitmap& image, const TRect& r) const {
  TBltBitmap overlay;
  overlay.MakeLike(image);
  ClearImage(overlay.Image);
  const std::string text = std::to_string(Percent()) + "%";
  TCanvas c(overlay.Image, host_ ? host_->TextPainter() : nullptr);
  c.BrushStyle = TBrushStyle::bsClear;
  c.Font = font_;
  c.FontColor = clWhite;
  const int x = (r.Right - r.Left + 1 - c.TextWidth(text)) / 2;
  const int y = (r.Bottom - r.Top + 1 - c.TextHeight(text)) / 2;
  c.TextRect(r, x, y, text);
  XorInto(image, overlay.Image);
}

}  // namespace ab
