#include "two_state_control.h"

#include <QApplication>
#include <QMouseEvent>

namespace ab {

namespace {

// One process-wide flag: a group propagation is running.
bool g_propagating = false;

}  // namespace

TAbBinGControl::TAbBinGControl(QWidget* owner) : QWidget(owner) {}

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
  if (group_index_ != 0 && !g_propagating && parentWidget()) {
    g_propagating = true;
    for (QObject* o : parentWidget()->children())
      if (auto* member = dynamic_cast<TAbBinGControl*>(o); member && member->group_index_ == group_index_)
        member->SetStatusInt(status_int_);
    g_propagating = false;
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
  if (group_index_ == 0 || !parentWidget()) return;
  for (QObject* o : parentWidget()->children())
    if (auto* member = dynamic_cast<TAbBinGControl*>(o); member && member->group_index_ == group_index_) {
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
  QWidget::setEnabled(value);  // no mouse input reaches a disabled control
  if (!value) hot_ = false;
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

void TAbBinGControl::mousePressEvent(QMouseEvent* e) {
  Raise(OnMouseDown);
  if (e->button() != Qt::LeftButton) return;
  click_armed_ = true;
  if (mode_ != mIndicator) Press();
}

void TAbBinGControl::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click: a press, but its release is no click.
  Raise(OnDblClick);
  Raise(OnMouseDown);
  if (e->button() != Qt::LeftButton) return;
  click_armed_ = false;
  if (mode_ != mIndicator) Press();
}

void TAbBinGControl::mouseReleaseEvent(QMouseEvent* e) {
  const bool left = e->button() == Qt::LeftButton;
  if (left && click_armed_ && rect().contains(e->position().toPoint())) Raise(OnClick);
  if (left) click_armed_ = false;
  Raise(OnMouseUp);
  if (!left || mode_ == mIndicator) return;
  pressed_ = false;
  if (mode_ == mButton) SetChecked(false);
  RedrawState();
}

void TAbBinGControl::mouseMoveEvent(QMouseEvent*) { Raise(OnMouseMove); }

void PressAndRelease(QWidget* control) {
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, control->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(control, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, control->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(control, &release);
}

}  // namespace ab
