#include "two_state_control.h"

namespace ab {

namespace {

// One process-wide flag: a group propagation is running.
bool g_propagating = false;

// Sets the flag for a propagation and clears it however the propagation ends
// (a handler that throws must not leave every group unpropagated).
class Propagation {
 public:
  Propagation() { g_propagating = true; }
  ~Propagation() { g_propagating = false; }
  Propagation(const Propagation&) = delete;
  Propagation& operator=(const Propagation&) = delete;
};

}  // namespace

TAbBinGControl::TAbBinGControl(TControlHost* host) : host_(host) {}

TAbBinGControl::~TAbBinGControl() { UnregisterFlashControl(this); }

void TAbBinGControl::UpdateFlashRegistration() {
  if (checked_ && flashing_)
    RegisterFlashControl(this, FlashRate(frequency_));
  else
    UnregisterFlashControl(this);
}

void TAbBinGControl::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  UpdateFlashRegistration();
  const int32_t bit = static_cast<int32_t>(1u << status_bit_);
  if (checked_)
    SetStatusInt(mode_ == mRadioButton ? bit : (status_int_ | bit));
  else if (mode_ != mRadioButton)
    SetStatusInt(status_int_ & ~bit);
  RedrawState();
  Raise(OnStatusChanged);
}

void TAbBinGControl::SetStatusInt(int32_t value) {
  if (value == status_int_) return;
  status_int_ = value;
  SetChecked((static_cast<uint32_t>(status_int_) >> status_bit_) & 1u);
  StatusIntChanged();
  Raise(OnStatusIntChanged);
  if (group_index_ != 0 && !g_propagating && host_) {
    const Propagation running;
    for (TAbBinGControl* member : host_->Siblings())
      if (member && member->group_index_ == group_index_) member->SetStatusInt(status_int_);
  }
}

void TAbBinGControl::SetStatusBit(int32_t value) {
  if (value == status_bit_ || value < 0 || value > 31) return;
  status_bit_ = value;
  SetChecked((static_cast<uint32_t>(status_int_) >> status_bit_) & 1u);
}

void TAbBinGControl::SetGroupIndex(int32_t value) {
  if (value == group_index_ || value < 0) return;
  group_index_ = value;
  SyncFromGroup();
  GroupIndexChanged();
}

void TAbBinGControl::SyncFromGroup() {
  if (group_index_ == 0 || !host_) return;
  for (TAbBinGControl* member : host_->Siblings())
    if (member && member->group_index_ == group_index_) {
      SetStatusInt(member->status_int_);
      return;
    }
}

void TAbBinGControl::SetMode(TMode value) {
  mode_ = value;
  if (mode_ == mButton) SetStatusInt(0);
  if (mode_ == mRadioButton) SetStatusInt(1);
}

void TAbBinGControl::SetFlashing(bool value) {
  if (value == flashing_) return;
  flashing_ = value;
  UpdateFlashRegistration();
  RedrawState();
  Raise(OnStatusChanged);
}

void TAbBinGControl::SetFrequency(TFlashFreq value) {
  frequency_ = value;
  if (checked_ && flashing_) RegisterFlashControl(this, FlashRate(frequency_));
}

void TAbBinGControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (host_) host_->EnabledChanged(value);
  if (!value) {
    hot_ = false;
    if (KeyHeld()) EndKeyPress(false);
  }
  RedrawState();
}

void TAbBinGControl::FlashMessage(uint32_t msg, uint32_t, int32_t lparam) {
  if (msg == WM_FLASH) SetFlashPhase(lparam != 0);
}

void TAbBinGControl::Press() {
  pressed_ = true;
  switch (mode_) {
    case mButton:
      SetChecked(true);
      break;
    case mSwitch:
      SetChecked(!checked_);
      break;
    case mRadioButton:
      SetStatusInt(static_cast<int32_t>(1u << status_bit_));
      break;
    case mIndicator:
      break;
  }
}

void TAbBinGControl::Release() {
  if (mode_ == mIndicator) return;
  pressed_ = false;
  if (mode_ == mButton) SetChecked(false);
  RedrawState();
}

void TAbBinGControl::MouseDown(TMouseButton button, int, int) {
  if (!enabled_ || KeyHeld()) return;
  Raise(OnMouseDown);
  if (button != TMouseButton::mbLeft) return;
  click_armed_ = true;
  if (mode_ != mIndicator) Press();
}

void TAbBinGControl::MouseDoubleClick(TMouseButton button, int, int) {
  // The second press of a double click: a press, but its release is no click.
  if (!enabled_ || KeyHeld()) return;
  Raise(OnDblClick);
  Raise(OnMouseDown);
  if (button != TMouseButton::mbLeft) return;
  click_armed_ = false;
  if (mode_ != mIndicator) Press();
}

void TAbBinGControl::MouseUp(TMouseButton button, int, int, bool inside) {
  if (!enabled_ || KeyHeld()) return;
  const bool left = button == TMouseButton::mbLeft;
  if (left && click_armed_ && inside) Raise(OnClick);
  if (left) click_armed_ = false;
  Raise(OnMouseUp);
  if (left) Release();
}

void TAbBinGControl::MouseMove(int, int) {
  if (enabled_) Raise(OnMouseMove);
}

void TAbBinGControl::KeyDown(TKey key) {
  if (!enabled_ || key == TKey::kOther || KeyHeld() || click_armed_ || pressed_) return;
  held_key_ = key;
  Raise(OnKeyDown);
  if (mode_ != mIndicator) Press();
}

void TAbBinGControl::KeyUp(TKey key) {
  if (!enabled_ || key == TKey::kOther || key != held_key_) return;
  EndKeyPress(true);
}

void TAbBinGControl::EndKeyPress(bool click) {
  held_key_ = TKey::kOther;
  if (click) Raise(OnClick);
  Raise(OnKeyUp);
  Release();
}

void TAbBinGControl::SetFocused(bool value) {
  if (value == focused_) return;
  focused_ = value;
  if (!value && KeyHeld()) EndKeyPress(false);
  RedrawState();
  Raise(focused_ ? OnEnter : OnExit);
}

}  // namespace ab
