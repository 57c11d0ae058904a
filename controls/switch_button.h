// TAbColBitBtn: the two-state button's appearance: a bevelled face (plain or
// gradient), on and off captions in their colours (engraved), a glyph strip,
// and flashing of these while checked, and the keyboard focus's dotted frame
// inside the bevel while focused. A full paint captures what lies under
// the button once (from the host); every state change composes from that
// capture off screen and has the host show the result with one copy.
#pragma once

#include <memory>
#include <string>

#include "button_drawing.h"
#include "two_state_control.h"

namespace ab {

enum TFlashOption : uint8_t { foGlyph, foText, foTextCol, foBtnCol };
enum TCheckedOption : uint8_t { coGlyph, coText, coTextCol, coBtnCol, coBevel };
enum TPosH : uint8_t { phLeft, phRight, phCenter };
enum TPosV : uint8_t { pvTop, pvBottom, pvCenter };
enum TPos : uint8_t { pLeft, pRight, pTop, pBottom };
using TFlashOptions = uint8_t;    // bit n for option n
using TCheckedOptions = uint8_t;  // bit n for option n

class TAbColBitBtn : public TAbBinGControl {
 public:
  // The size starts at 65 x 33 (the host's to keep); the caption font is bold.
  explicit TAbColBitBtn(TControlHost* host);
  static constexpr TSize kDefaultSize{65, 33};

  TPosH PosHorizontal() const { return pos_h_; }
  void SetPosHorizontal(TPosH v) { SetRedraw(pos_h_, v); }
  TPosV PosVertical() const { return pos_v_; }
  void SetPosVertical(TPosV v) { SetRedraw(pos_v_, v); }
  TPos PosGlyph() const { return pos_glyph_; }
  void SetPosGlyph(TPos v) { SetRedraw(pos_glyph_, v); }
  TAbGradSettings& GradBtnFace() { return grad_; }
  TAbBtnBevel& ButtonBevel() { return bevel_; }
  TFlashOptions FlashOptions() const { return flash_options_; }
  void SetFlashOptions(TFlashOptions v) { flash_options_ = v; }
  TCheckedOptions CheckedOptions() const { return checked_options_; }
  void SetCheckedOptions(TCheckedOptions v) {
    checked_options_ = v;
    RedrawState();
  }
  TColor ColorOff() const { return color_off_; }
  void SetColorOff(TColor v) { SetRedraw(color_off_, v); }
  TColor ColorDisabled() const { return color_disabled_; }
  void SetColorDisabled(TColor v) { SetRedraw(color_disabled_, v); }
  TColor ColorOn() const { return color_on_; }
  void SetColorOn(TColor v) { SetRedraw(color_on_, v); }
  int OffsetX() const { return offset_x_; }
  void SetOffsetX(int v) { SetRedraw(offset_x_, v); }
  int OffsetY() const { return offset_y_; }
  void SetOffsetY(int v) { SetRedraw(offset_y_, v); }
  int OffsetDown() const { return offset_down_; }
  void SetOffsetDown(int v) { SetRedraw(offset_down_, v); }
  const TBitmap& Glyph() const { return glyph_; }
  void SetGlyph(const TBitmap& glyph);
  int NumGlyph() const { return num_glyph_; }
  void SetNumGlyph(int v) {
    if (v > 0) SetRedraw(num_glyph_, v);
  }
  bool Beveled() const { return beveled_; }
  void SetBeveled(bool v) { SetRedraw(beveled_, v); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool Flat() const { return flat_; }
  void SetFlat(bool v) { SetRedraw(flat_, v); }
  int Spacing() const { return spacing_; }
  void SetSpacing(int v) { SetRedraw(spacing_, v); }
  const std::string& TextOff() const { return text_off_; }
  void SetTextOff(const std::string& v) { SetRedraw(text_off_, v); }
  const std::string& TextOn() const { return text_on_; }
  void SetTextOn(const std::string& v) { SetRedraw(text_on_, v); }
  TColor TextColOn() const { return text_col_on_; }
  void SetTextColOn(TColor v) { SetRedraw(text_col_on_, v); }
  TColor TextColOff() const { return text_col_off_; }
  void SetTextColOff(TColor v) { SetRedraw(text_col_off_, v); }
  TColor TextColDisabled() const { return text_col_disabled_; }
  void SetTextColDisabled(TColor v) { SetRedraw(text_col_disabled_, v); }
  bool Text3D() const { return text_3d_; }
  void SetText3D(bool v) { SetRedraw(text_3d_, v); }
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& v) { SetRedraw(font_, v); }

  // After the stored layout: face and bevel changes repaint the button.
  void Loaded();

  // The paint entry point: the picture to show, made from a new capture of
  // the host's background after an invalidation or a change of size.
  const TBitmap& Paint();
  // The host shows the button: the next paint captures the background again.
  void BecameVisible() { InvalidateButton(); }
  // The pointer comes over the button or leaves it: a flat button's hot look.
  void MouseEnter() override;
  void MouseLeave() override;

  // The captured background (empty until the first full paint).
  const TBitmap& Background() const { return background_; }
  // Paint's steps from a given capture: take `under` (the pixels beneath the
  // button), fill the face, compose. Returns the finished picture.
  TBitmap PaintOver(const TBitmap& under);
  // Composes the button from the background with the given look flags.
  TBitmap ComposeButton(bool glyph_on, bool text_on, bool btn_col_on, bool text_col_on);
  // The four look flags (glyph, text, button colour, text colour) for the current state.
  void LookFlags(bool& glyph_on, bool& text_on, bool& btn_col_on, bool& text_col_on) const;
  int ComposeCount() const { return compose_count_; }

 protected:
  void InvalidateButton() override;
  void RedrawState() override;
  void SetFlashPhase(bool phase) override;

 private:
  template <typename T>
  void SetRedraw(T& field, const T& v) {
    if (field == v) return;
    field = v;
    RedrawState();
  }
  void FillFace();

  TPosH pos_h_ = phCenter;
  TPosV pos_v_ = pvCenter;
  TPos pos_glyph_ = pLeft;
  TAbGradSettings grad_;
  TAbBtnBevel bevel_;
  TFlashOptions flash_options_ = 0x0F;
  TCheckedOptions checked_options_ = 0x1F;
  TColor color_off_ = clBtnFace, color_disabled_ = 10526880, color_on_ = clBtnFace;
  int offset_x_ = 0, offset_y_ = 0, offset_down_ = 1;
  TBitmap glyph_;
  uint32_t glyph_transparent_ = 0;
  int num_glyph_ = 1;
  bool beveled_ = true, transparent_ = false, flat_ = false;
  int spacing_ = 4;
  std::string text_off_, text_on_;
  TColor text_col_on_ = clLime, text_col_off_ = clBlack, text_col_disabled_ = clBtnShadow;
  bool text_3d_ = true;
  TFont font_;

  TBitmap background_;
  TBitmap shown_;  // the last composition, what Paint gives
  bool needs_capture_ = true;
  int compose_count_ = 0;
};

}  // namespace ab
