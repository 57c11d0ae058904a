// The painted controls as Win32 child windows: each owns a core control, is
// its host (repaints, size, visibility, the mouse capture, what lies under
// it, the GDI text painter, the sibling two-state controls), passes the
// mouse (and, for one that takes the focus, the keys and the focus) to it
// and shows its bitmap through a DIB section in one copy.
#pragma once

#include <vector>

#include "control_host.h"
#include "gauge.h"
#include "switch_button.h"

struct HWND__;

namespace ab::win32 {

using Hwnd = HWND__*;

class PaintedControlWindow : public TControlHost {
 public:
  PaintedControlWindow() = default;
  ~PaintedControlWindow() override;
  PaintedControlWindow(const PaintedControlWindow&) = delete;
  PaintedControlWindow& operator=(const PaintedControlWindow&) = delete;

  // Makes the child window of `parent` at (x, y), w x h, with the control id
  // `id`; a tab stop when the control takes the focus.
  bool Create(Hwnd parent, int x, int y, int w, int h, int id);
  Hwnd Handle() const { return hwnd_; }

  // TControlHost
  void Repaint() override;
  void Invalidate() override;
  TSize Size() const override;
  bool Visible() const override;
  bool MouseCaptured() const override;
  TBitmap Background() override;
  TTextPainter* TextPainter() override;
  std::vector<TAbBinGControl*> Siblings() override;

  // The window procedure's work; public for the procedure only.
  long long WindowProc(unsigned msg, unsigned long long wparam, long long lparam);

 protected:
  // The control's picture at the window's size.
  virtual const TBitmap& Picture() = 0;
  virtual void Mouse(unsigned msg, int x, int y, bool inside) { (void)msg, (void)x, (void)y, (void)inside; }
  virtual void MouseEntered() {}
  virtual void MouseLeft() {}
  virtual void Shown() {}
  // The control takes the keyboard focus (Tab, a left press): the focus and
  // the keys (virtual-key codes; a held key's repeats come as more key-downs)
  // go to it.
  virtual bool TakesFocus() const { return false; }
  virtual void FocusChanged(bool focused) { (void)focused; }
  virtual void Key(unsigned msg, unsigned virtual_key) { (void)msg, (void)virtual_key; }
  // The two-state control of this window, for its siblings' groups (none by default).
  virtual TAbBinGControl* TwoState() { return nullptr; }

 private:
  void Paint();

  Hwnd hwnd_ = nullptr;
  void* dib_ = nullptr;  // HBITMAP of the last picture's size
  void* bits_ = nullptr;
  int dib_width_ = 0, dib_height_ = 0;
  bool tracking_ = false;  // a leave notice is asked for
  bool pressing_ = false;  // a press holds the mouse
};

class SwitchButtonWindow final : public PaintedControlWindow {
 public:
  SwitchButtonWindow() : button_(this) {}
  TAbColBitBtn& Button() { return button_; }
  void EnabledChanged(bool enabled) override;

 protected:
  const TBitmap& Picture() override { return button_.Paint(); }
  void Mouse(unsigned msg, int x, int y, bool inside) override;
  void MouseEntered() override { button_.MouseEnter(); }
  void MouseLeft() override { button_.MouseLeave(); }
  void Shown() override { button_.BecameVisible(); }
  bool TakesFocus() const override { return true; }
  void FocusChanged(bool focused) override { button_.SetFocused(focused); }
  void Key(unsigned msg, unsigned virtual_key) override;
  TAbBinGControl* TwoState() override { return &button_; }

 private:
  TAbColBitBtn button_;
};

class GaugeWindow final : public PaintedControlWindow {
 public:
  GaugeWindow() : gauge_(this) {}
  TGauge& Gauge() { return gauge_; }

 protected:
  const TBitmap& Picture() override {
    gauge_.Paint(picture_);
    return picture_;
  }

 private:
  TGauge gauge_;
  TBitmap picture_;
};

// The core's mouse button of a Win32 mouse message.
TMouseButton MouseButtonOf(unsigned msg);
// The core's key of a virtual-key code.
TKey KeyOf(unsigned virtual_key);

}  // namespace ab::win32
