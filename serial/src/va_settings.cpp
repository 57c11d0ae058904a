#include "va_settings.h"

#include "va_line_flags.h"

namespace va {

namespace {

// BeginUpdate, copy, EndUpdate (also when the copy fails): one notification.
template <typename F>
void Batch(TVaPersistent& target, F&& copy) {
  target.BeginUpdate();
  try {
    copy();
  } catch (...) {
    target.EndUpdate();
    throw;
  }
  target.EndUpdate();
}

}  // namespace

void TVaFlowControl::Assign(const TVaPersistent& source) {
  const auto* s = dynamic_cast<const TVaFlowControl*>(&source);
  if (!s) AssignError(source);
  Batch(*this, [&] {
    SetOutCtsFlow(s->out_cts_flow_);
    SetOutDsrFlow(s->out_dsr_flow_);
    SetControlDtr(s->control_dtr_);
    SetControlRts(s->control_rts_);
    SetXonXoffOut(s->xon_xoff_out_);
    SetXonXoffIn(s->xon_xoff_in_);
    SetDsrSensitivity(s->dsr_sensitivity_);
    SetTxContinueOnXoff(s->tx_continue_on_xoff_);
  });
}

uint32_t TVaFlowControl::FlagBits() const {
  using namespace platform::line_flags;
  static constexpr uint32_t kDtr[] = {0, kDtrEnable, kDtrHandshake};                // by TVaControlDtr
  static constexpr uint32_t kRts[] = {0, kRtsEnable, kRtsHandshake, kRtsToggle};    // by TVaControlRts
  uint32_t flags = 0;
  if (out_cts_flow_) flags |= kOutxCtsFlow;
  if (out_dsr_flow_) flags |= kOutxDsrFlow;
  flags |= kDtr[control_dtr_ <= dtrHandshake ? control_dtr_ : 0];
  flags |= kRts[control_rts_ <= rtsToggle ? control_rts_ : 0];
  if (xon_xoff_out_) flags |= kOutX;
  if (xon_xoff_in_) flags |= kInX;
  if (dsr_sensitivity_) flags |= kDsrSensitivity;
  if (tx_continue_on_xoff_) flags |= kTxContinueOnXoff;
  return flags;
}

char TVaEventChars::GetChar(int index) const { return index >= 1 && index <= 5 ? chars_[index - 1] : 0; }

void TVaEventChars::SetChar(int index, char value) {
  if (index >= 1 && index <= 5) chars_[index - 1] = value;
  Changed();
}

void TVaEventChars::Assign(const TVaPersistent& source) {
  const auto* s = dynamic_cast<const TVaEventChars*>(&source);
  if (!s) AssignError(source);
  Batch(*this, [&] {
    for (int i = 1; i <= 5; ++i) SetChar(i, s->GetChar(i));
  });
}

void TVaBuffers::Assign(const TVaPersistent& source) {
  const auto* s = dynamic_cast<const TVaBuffers*>(&source);
  if (!s) AssignError(source);
  Batch(*this, [&] {
    read_size_ = s->read_size_;
    write_size_ = s->write_size_;
    read_timeout_ = s->read_timeout_;
    write_timeout_ = s->write_timeout_;
    xon_limit_ = s->xon_limit_;
    xoff_limit_ = s->xoff_limit_;
  });
}

}  // namespace va
