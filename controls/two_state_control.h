// TAbBinGControl: the state of a two-state control: Checked, the shared
// status bits of a group, the input modes and the flash registration. The
// toolkit passes the mouse in through the entry points below; the control
// reaches its surroundings through its host.
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

  TControlEvent OnStatusChanged, OnStatusIntChanged, OnClick, OnDblClick, OnMouseDown, OnMouseUp, OnMouseMove;

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

 private:
  TControlHost* host_;
};

}  // namespace ab
