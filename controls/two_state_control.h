// TAbBinGControl: the state of a two-state control: Checked, the shared
// status bits of a group, the input modes and the flash registration. The
// toolkit passes the mouse, the keys and the focus in through the entry
// points below; the control reaches its surroundings through its host.
#pragma once

#include <cstdint>
#include <functional>

#include "control_host.h"
#include "flash_timer.h"

namespace ab {

enum TMode : uint8_t { mButton, mSwitch, mIndicator, mRadioButton };

class TAbBinGControl;
using TControlEvent = std::function<void(TAbBinGControl* sender)>;

class TAbBinGControl : public TFlashControl {
 public:
  // The host stays for the control's lifetime; without one the control has no
  // size, siblings or repaints.
  explicit TAbBinGControl(TControlHost* host);
  ~TAbBinGControl() override;
  TAbBinGControl(const TAbBinGControl&) = delete;
  TAbBinGControl& operator=(const TAbBinGControl&) = delete;

  TControlHost* Host() const { return host_; }
  int Width() const { return host_ ? host_->Size().Width : 0; }
  int Height() const { return host_ ? host_->Size().Height : 0; }

  bool Checked() const { return checked_; }
  void SetChecked(bool value);
  int32_t StatusInt() const { return status_int_; }
  void SetStatusInt(int32_t value);
  int32_t StatusBit() const { return status_bit_; }
  void SetStatusBit(int32_t value);
  int32_t GroupIndex() const { return group_index_; }
  void SetGroupIndex(int32_t value);
  TMode Mode() const { return mode_; }
  void SetMode(TMode value);
  bool Flashing() const { return flashing_; }
  void SetFlashing(bool value);
  TFlashFreq Frequency() const { return frequency_; }
  void SetFrequency(TFlashFreq value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  bool Pressed() const { return pressed_; }
  bool FlashPhase() const { return flash_phase_; }
  bool Hot() const { return hot_; }

  // Takes the StatusInt of the first member of this control's group among
  // the owner's children (possibly itself).
  void SyncFromGroup();

  // The mouse, at (x, y) in the control's pixels; a disabled control takes
  // none of it. The second press of a double click comes as MouseDoubleClick;
  // `inside` tells whether a release is over the control.
  void MouseDown(TMouseButton button, int x, int y);
  void MouseDoubleClick(TMouseButton button, int x, int y);
  void MouseUp(TMouseButton button, int x, int y, bool inside);
  void MouseMove(int x, int y);
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}

  // The keyboard, while the control has the focus. Space or Enter presses the
  // control as the left mouse button does, and its release is the release
  // over the control (a click). One press at a time: a key held down (the
  // toolkit's auto-repeat) or the other key while it is held presses nothing
  // more, and neither key presses while the mouse holds the control; the
  // release of another key than the one that pressed is no release. Other
  // keys do nothing. A disabled control takes none of it.
  void KeyDown(TKey key);
  void KeyUp(TKey key);
  // The control took the keyboard focus, or lost it. Losing it (or being
  // disabled) while a key holds the control ends that press with no click.
  void SetFocused(bool value);
  bool Focused() const { return focused_; }
  // A key holds the control pressed.
  bool KeyHeld() const { return held_key_ != TKey::kOther; }

  TControlEvent OnStatusChanged, OnStatusIntChanged, OnClick, OnDblClick, OnMouseDown, OnMouseUp, OnMouseMove;
  // A key press began, and its end (released, or cut short by the focus
  // leaving): the keyboard's counterparts of OnMouseDown and OnMouseUp.
  TControlEvent OnKeyDown, OnKeyUp;
  // The control took the focus (OnEnter) or lost it (OnExit).
  TControlEvent OnEnter, OnExit;

  void FlashMessage(uint32_t msg, uint32_t wparam, int32_t lparam) override;

 protected:
  virtual void InvalidateButton() {}
  virtual void RedrawState() {}
  virtual void GroupIndexChanged() {}
  virtual void StatusIntChanged() {}
  virtual void SetFlashPhase(bool phase) { flash_phase_ = phase; }

  void Raise(const TControlEvent& event) {
    if (event) event(this);
  }
  void UpdateFlashRegistration();
  void Press();
  // The end of a left press (by the mouse or a key): no longer pressed; a push
  // button is unchecked again.
  void Release();
  // Ends a key press; `click` when it was released over the control.
  void EndKeyPress(bool click);

  bool checked_ = false;
  int32_t status_int_ = 0;
  int32_t status_bit_ = 0;
  int32_t group_index_ = 0;
  TMode mode_ = mIndicator;
  bool flashing_ = false;
  TFlashFreq frequency_ = ff1Hz;
  bool enabled_ = true;
  bool pressed_ = false;
  bool flash_phase_ = false;
  bool hot_ = false;
  bool click_armed_ = false;  // a left press whose release over the control is a click
  bool focused_ = false;
  TKey held_key_ = TKey::kOther;  // the key whose press holds the control (kOther: none)

 private:
  TControlHost* host_;
};

}  // namespace ab
