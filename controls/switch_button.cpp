#include "switch_button.h"

#include <algorithm>
#include <cmath>

namespace ab {

TAbColBitBtn::TAbColBitBtn(TControlHost* host) : TAbBinGControl(host) {
  grad_.SetColorFrom(15790320);
  grad_.SetColorTo(6908265);
  grad_.SetVisible(true);
  bevel_.SetWidth(4);
  font_.Bold = true;
  SetMode(mButton);
}

void TAbColBitBtn::Loaded() {
  grad_.OnChange = [this](TAbPersistent*) { InvalidateButton(); };
  bevel_.OnChange = [this](TAbPersistent*) { InvalidateButton(); };
}

void TAbColBitBtn::SetGlyph(const TBitmap& glyph) {
  glyph_ = glyph;
  if (glyph_.Height() <= 0)
    num_glyph_ = 1;
  else
    glyph_transparent_ = FromPixel(glyph_.At(0, glyph_.Height() - 1));
  RedrawState();
}

void TAbColBitBtn::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  InvalidateButton();
}

void TAbColBitBtn::InvalidateButton() {
  needs_capture_ = true;
  if (Host()) Host()->Invalidate();
}

void TAbColBitBtn::LookFlags(bool& glyph_on, bool& text_on, bool& btn_col_on, bool& text_col_on) const {
  auto look = [this](int fo, int co) {
    if ((flash_options_ >> fo & 1) && checked_ && flashing_) return flash_phase_;
    return (checked_options_ >> co & 1) && checked_;
  };
  glyph_on = look(foGlyph, coGlyph);
  text_on = look(foText, coText);
  text_col_on = look(foTextCol, coTextCol);
  btn_col_on = look(foBtnCol, coBtnCol);
}

void TAbColBitBtn::RedrawState() {
  if (!Host() || !Host()->Visible()) return;
  bool g, t, b, tc;
  LookFlags(g, t, b, tc);
  shown_ = ComposeButton(g, t, b, tc);
  Host()->Repaint();  // one copy of the finished picture
}

void TAbColBitBtn::SetFlashPhase(bool phase) {
  flash_phase_ = phase;
  RedrawState();
}

TBitmap TAbColBitBtn::ComposeButton(bool glyph_on, bool text_on, bool btn_col_on, bool text_col_on) {
  ++compose_count_;
  const int gw_total = glyph_.Empty() ? 0 : glyph_.Width();
  const int GW = gw_total / num_glyph_, GH = glyph_.Empty() ? 0 : glyph_.Height();
  TBitmap work = background_;
  TCanvas c(work, Host() ? Host()->TextPainter() : nullptr);
  TRect R{0, 0, Width(), Height()};

  int dx = offset_x_, dy = offset_y_;
  if (pressed_ || (checked_ && (checked_options_ >> coBevel & 1))) {
    dx += offset_down_;
    dy += offset_down_;
  }
  const TColor face = !enabled_ ? color_disabled_ : btn_col_on ? color_on_ : color_off_;
  const bool plain_face = !(transparent_ || grad_.Visible());
  const bool bevel_shown = (beveled_ && !flat_) || (hot_ && flat_);
  if (bevel_shown) {
    const bool raised = (checked_options_ >> coBevel & 1) ? !(checked_ || pressed_) : !pressed_;
    bevel_.Draw(c, R, face, plain_face, raised);
  } else if (plain_face) {
    c.BrushColor = face;
    c.FillRect(R);
  }

  c.Font = font_;
  c.BrushStyle = TBrushStyle::bsClear;
  const int TW = std::max(c.TextWidth(text_on_), c.TextWidth(text_off_));
  const int TH = static_cast<int>(std::lrintl(c.TextHeight(text_on_) * 0.85L));
  const int Sp = GW >= 1 && TW >= 1 ? spacing_ : 0;
  int BW, BH;
  if (pos_glyph_ == pLeft || pos_glyph_ == pRight) {
    BH = std::max(GH, TH);
    BW = GW + Sp + TW;
  } else {
    BH = GH + Sp + TH;
    BW = std::max(GW, TW);
  }
  const int X = pos_h_ == phLeft    ? R.Left + BW / 2
                : pos_h_ == phRight ? R.Right - BW / 2
                                    : R.Left + (R.Right - R.Left) / 2;
  const int Y = pos_v_ == pvTop      ? R.Top + BH / 2
                : pos_v_ == pvBottom ? R.Bottom - BH / 2
                                     : R.Top + (R.Bottom - R.Top) / 2;
  int GX, GY, TX, TY, anchor;
  switch (pos_glyph_) {
    case pLeft:
      GX = X - BW / 2;
      GY = Y - GH / 2;
      TX = GX + Sp + GW;
      TY = Y;
      anchor = 3;
      break;
    case pRight:
      GX = X + BW / 2 - GW;
      GY = Y - GH / 2;
      TX = GX - Sp;
      TY = Y;
      anchor = 5;
      break;
    case pTop:
      GX = X - GW / 2;
      GY = Y - BH / 2;
      TX = X;
      TY = GY + GH + Sp;
      anchor = 1;
      break;
    default:
      GX = X - GW / 2;
      GY = Y + BH / 2 - GH;
      TX = X;
      TY = GY - Sp;
      anchor = 7;
      break;
  }
  GX += dx;
  TX += dx;
  GY += dy;
  TY += dy;

  const TColor text_colour = !enabled_ ? text_col_disabled_ : text_col_on ? text_col_on_ : text_col_off_;
  const std::string& caption = text_on ? text_on_ : !text_off_.empty() ? text_off_ : text_on_;
  TextOut3D(c, TX, TY, text_3d_, anchor, caption, bevel_.HighlightColTo(), bevel_.ShadowColTo(), text_colour);

  if (GW > 0) {
    const int index = num_glyph_ <= 1 ? 0 : !enabled_ ? 1 : (glyph_on && num_glyph_ >= 3) ? 2 : 0;
    const TBitmap cell = glyph_.Copy(GW * index, 0, GW, GH);
    c.DrawTransparent(GX, GY, cell, glyph_transparent_);
  }
  // The keyboard's focus: a dotted frame a pixel inside the bevel.
  if (focused_ && enabled_) DrawFocusFrame(c, R.Inflated(-1));
  return work;
}

void TAbColBitBtn::FillFace() {
  if (transparent_ || !grad_.Visible()) return;
  TCanvas c(background_);
  const int n = bevel_.Width();
  FillGradient(c, TRect{0, 0, Width(), Height()}.Inflated(-n), grad_.ColorFrom(), grad_.ColorTo(), grad_.Style());
}

TBitmap TAbColBitBtn::PaintOver(const TBitmap& under) {
  background_ = under.Copy(0, 0, Width(), Height());
  FillFace();
  bool g, t, b, tc;
  LookFlags(g, t, b, tc);
  return ComposeButton(g, t, b, tc);
}

const TBitmap& TAbColBitBtn::Paint() {
  const TSize size{Width(), Height()};
  if (needs_capture_ || TSize{shown_.Width(), shown_.Height()} != size) {
    needs_capture_ = false;
    shown_ = PaintOver(Host() ? Host()->Background() : NewBitmap(size.Width, size.Height));
  }
  return shown_;
}

void TAbColBitBtn::MouseEnter() {
  if (flat_ && !hot_ && enabled_ && !(Host() && Host()->MouseCaptured())) {
    hot_ = true;
    RedrawState();
  }
}

void TAbColBitBtn::MouseLeave() {
  if (flat_ && hot_ && enabled_) {
    hot_ = false;
    RedrawState();
  }
}

}  // namespace ab
