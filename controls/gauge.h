// TGauge: a windowless progress gauge (bar, pie, needle or text) with the
// whole percentage drawn over the picture by exclusive-or. It repaints only
// when the whole percentage changes. Its size, repaints and text painter are
// its host's.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "canvas.h"
#include "control_host.h"
#include "tcolor.h"

namespace ab {

enum TGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle : uint8_t { bsNone, bsSingle };

class EInvalidOperation : public std::runtime_error {
 public:
  explicit EInvalidOperation(const std::string& m) : std::runtime_error(m) {}
};

// X x 100 / Range truncated toward zero; 0 for an empty range.
int PercentOf(int64_t x, int64_t range);
// trunc(P x 0.01 x Length) in extended precision (5 % of 20 is 0).
int ScaleByPercent(int percent, int length);

// A bitmap that can take a template's size, filled with the window-frame colour.
class TBltBitmap {
 public:
  void MakeLike(const TBitmap& tmpl);
  TBitmap Image;
};

class TGauge {
 public:
  // The size starts at 100 x 100 (the host's to keep). Without a host the
  // gauge has no size and no text.
  explicit TGauge(TControlHost* host = nullptr) : host_(host) {}
  static constexpr TSize kDefaultSize{100, 100};

  TControlHost* Host() const { return host_; }
  int Width() const { return host_ ? host_->Size().Width : 0; }
  int Height() const { return host_ ? host_->Size().Height : 0; }

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }
  TGaugeKind Kind() const { return kind_; }
  bool ShowText() const { return show_text_; }
  TBorderStyle BorderStyle() const { return border_; }
  TColor ForeColor() const { return fore_; }
  TColor BackColor() const { return back_; }
  TColor Color() const { return color_; }
  int Percent() const { return PercentOf(static_cast<int64_t>(progress_) - min_, static_cast<int64_t>(max_) - min_); }

  void SetMinValue(int v);
  void SetMaxValue(int v);
  void SetProgress(int v);
  void SetKind(TGaugeKind v) { SetAndRepaint(kind_, v); }
  void SetShowText(bool v) { SetAndRepaint(show_text_, v); }
  void SetBorderStyle(TBorderStyle v) { SetAndRepaint(border_, v); }
  void SetForeColor(TColor v) { SetAndRepaint(fore_, v); }
  void SetBackColor(TColor v) { SetAndRepaint(back_, v); }
  void SetColor(TColor v) { SetAndRepaint(color_, v); }
  // The percentage's font (the owner's); a change is painted at the host's next chance.
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& v);

  // The stored layout is being read: the range checks are skipped.
  void BeginLoading() { loading_ = true; }
  void Loaded() { loading_ = false; }

  // The paint entry point: draws the whole control into `image` (resized to the control).
  void Paint(TBitmap& image) const;
  TBitmap Paint() const {
    TBitmap image;
    Paint(image);
    return image;
  }
  // How many immediate repaints the setters asked for.
  int RepaintCount() const { return repaints_; }

 private:
  template <typename T>
  void SetAndRepaint(T& field, T v) {
    if (field == v) return;
    field = v;
    Repaint();
  }
  void Repaint();
  TRect GaugeRect() const;
  void DrawBar(TCanvas& c, const TRect& r) const;
  // The dial pictures' size (GaugeRect's, one more each with a border), the
  // control's colour around them, and their brush and pen.
  void PrepareDial(TCanvas& c, const TRect& r, int& W, int& H) const;
  void DrawPie(TCanvas& c, const TRect& r) const;
  void DrawNeedle(TCanvas& c, const TRect& r) const;
  void DrawPercentText(TBitmap& image, const TRect& r) const;

  int min_ = 0, max_ = 100, progress_ = 0;
  TGaugeKind kind_ = gkHorizontalBar;
  bool show_text_ = true;
  TBorderStyle border_ = bsSingle;
  TColor fore_ = clBlack, back_ = clWhite, color_ = clBtnFace;
  TFont font_;
  bool loading_ = false;
  int repaints_ = 0;
  TControlHost* host_;
};

}  // namespace ab
