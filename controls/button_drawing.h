// Drawing helpers and settings objects of the switch button: colour steps,
// anchored and engraved text, the bevel and the gradient-face settings.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "canvas.h"
#include "convert_error.h"
#include "gradient.h"
#include "tcolor.h"

namespace ab {

// A + round((B - A) / n x i) per channel (extended precision, halves to even,
// kept in 8 bits); A itself, unresolved, when both resolve to the same RGB.
TColor ColorStep(TColor a, TColor b, int n, int i);

// Text with the anchor 0..8 (top-left, top-centre, top-right, middle-left,
// centre, middle-right, bottom-left, bottom-centre, bottom-right) at (x, y);
// any other anchor draws at (0, 0).
void AnchoredTextOut(TCanvas& canvas, int x, int y, int anchor, const std::string& text);

// Engraved: highlight at (x+1, y+1), shadow at (x-1, y-1), then the text colour at (x, y).
void TextOut3D(TCanvas& canvas, int x, int y, bool engraved, int anchor, const std::string& text, TColor highlight,
               TColor shadow, TColor color);

// The keyboard focus's dotted frame along the edge of `rc` (its right column
// and bottom row excluded): every other pixel, black where the picture under
// it is light and white where it is dark, so that it shows on any face.
void DrawFocusFrame(TCanvas& canvas, const TRect& rc);

using base::EConvertError;

// A settings object that tells its owner of every change.
class TAbPersistent {
 public:
  virtual ~TAbPersistent() = default;
  virtual const char* ClassName() const = 0;
  std::function<void(TAbPersistent* sender)> OnChange;
  virtual void Changed() { ChangedBy(this); }
  virtual void ChangedBy(TAbPersistent* sender) {
    if (OnChange) OnChange(sender);
  }

 protected:
  [[noreturn]] void AssignError(const TAbPersistent& dest) const {
    throw EConvertError(std::string("Cannot assign a ") + ClassName() + " to a " + dest.ClassName());
  }
  // The setters' rule: an unchanged value is ignored, a new one stored and announced.
  template <typename T>
  void Set(T& field, T v) {
    if (field == v) return;
    field = v;
    Changed();
  }
};

class TAbBtnBevel : public TAbPersistent {
 public:
  const char* ClassName() const override { return "TAbBtnBevel"; }
  TColor ShadowColFrom() const { return shadow_from_; }
  TColor ShadowColTo() const { return shadow_to_; }
  TColor HighlightColFrom() const { return highlight_from_; }
  TColor HighlightColTo() const { return highlight_to_; }
  int Width() const { return width_; }
  void SetShadowColFrom(TColor v) { Set(shadow_from_, v); }
  void SetShadowColTo(TColor v) { Set(shadow_to_, v); }
  void SetHighlightColFrom(TColor v) { Set(highlight_from_, v); }
  void SetHighlightColTo(TColor v) { Set(highlight_to_, v); }
  void SetWidth(int v) {
    if (v >= 0) Set(width_, v);
  }
  // Copies this bevel into `dest` (one notification there); another kind of
  // destination is refused.
  void AssignTo(TAbPersistent& dest) const;

  // Fills `rc` (when `fill`) and draws Width rings from the outside in;
  // `rc` ends up inside the rings.
  void Draw(TCanvas& canvas, TRect& rc, TColor color, bool fill, bool raised) const;

 private:
  TColor shadow_from_ = clBlack;
  TColor shadow_to_ = clBtnShadow;
  TColor highlight_from_ = 13816530;
  TColor highlight_to_ = clBtnHighlight;
  int width_ = 2;
};

class TAbGradSettings : public TAbPersistent {
 public:
  const char* ClassName() const override { return "TAbGradSettings"; }
  TColor ColorFrom() const { return from_; }
  TColor ColorTo() const { return to_; }
  bool Visible() const { return visible_; }
  TGradientStyle Style() const { return style_; }
  void SetColorFrom(TColor v) { Set(from_, v); }
  void SetColorTo(TColor v) { Set(to_, v); }
  void SetVisible(bool v) { Set(visible_, v); }
  void SetStyle(TGradientStyle v) { Set(style_, v); }
  // Sets the destination's four properties through its setters, then one more Changed.
  void AssignTo(TAbPersistent& dest) const;

 private:
  TColor from_ = 14869218;
  TColor to_ = 9408399;
  bool visible_ = false;
  TGradientStyle style_ = gsHorizontal1;
};

}  // namespace ab
