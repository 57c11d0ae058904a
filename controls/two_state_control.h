// TAbBinGControl: the state of a two-state control: Checked, the shared
// status bits of a group, the input modes and the flash registration.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>

#include "flash_timer.h"

namespace ab {

enum TMode : uint8_t { mButton, mSwitch, mIndicator, mRadioButton };

class TAbBinGControl;
using TControlEvent = std::function<void(TAbBinGControl* sender)>;

class TAbBinGControl : public QWidget, public TFlashControl {
 public:
  // The owner is the parent: a window-owning container.
  explicit TAbBinGControl(QWidget* owner);
  ~TAbBinGControl() override;

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

  TControlEvent OnStatusChanged, OnStatusIntChanged, OnClick, OnDblClick, OnMouseDown, OnMouseUp, OnMouseMove;

  void FlashMessage(uint32_t msg, uint32_t wparam, int32_t lparam) override;

 protected:
  virtual void InvalidateButton() {}
  virtual void RedrawState() {}
  virtual void GroupIndexChanged() {}
  virtual void StatusIntChanged() {}
  virtual void SetFlashPhase(bool phase) { flash_phase_ = phase; }

  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

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
};

// A left press and release at (5, 5) of `control`, as the mouse would give them.
void PressAndRelease(QWidget* control);

}  // namespace ab
