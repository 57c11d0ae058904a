// The component's properties: each setter keeps the new value and, on an
// open port, applies it at once (a line setting, the buffers, the event
// mask, a thread's priority); the display shows the port's state.
#include "va_comm.h"
#include "va_comm_threads.h"

namespace va {

void TVaCustomComm::SetBaudrate(TVaBaudrate v) {
  CheckSettingRange("Baudrate", v, brUser, br256000);
  if (v == baudrate_) return;
  baudrate_ = v;
  if (v != brUser) user_baudrate_ = 0;
  ApplyLineSettings();
}

void TVaCustomComm::SetParity(TVaParity v) {
  CheckSettingRange("Parity", v, paNone, paSpace);
  if (v == parity_) return;
  parity_ = v;
  ApplyLineSettings();
}

void TVaCustomComm::SetDatabits(TVaDatabits v) {
  CheckSettingRange("Databits", v, db4, db8);
  if (v == databits_) return;
  databits_ = v;
  ApplyLineSettings();
}

void TVaCustomComm::SetStopbits(TVaStopbits v) {
  CheckSettingRange("Stopbits", v, sb1, sb2);
  if (v == stopbits_) return;
  stopbits_ = v;
  ApplyLineSettings();
}

void TVaCustomComm::SetOptions(TVaCommOptions v) {
  if (v == options_) return;
  options_ = v;
  ApplyLineSettings();
}

void TVaCustomComm::SetPortNum(int32_t v) {
  CheckClosed();
  if (v < 0 && !loading_) throw std::out_of_range("Range check error");
  port_num_ = v;
}

void TVaCustomComm::SetDeviceName(const std::string& v) {
  CheckClosed();
  device_name_ = v;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents v) {
  CheckClosed();
  monitor_events_ = v;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& v) {
  CheckClosed();
  buffers_.Assign(v);
}

void TVaCustomComm::SetEventPriority(TThreadPriority v) {
  CheckSettingRange("EventPriority", v, tpIdle, tpTimeCritical);
  if (v == event_priority_) return;
  event_priority_ = v;
  if (event_thread_) event_thread_->SetPriority(v);
}

void TVaCustomComm::SetWritePriority(TThreadPriority v) {
  CheckSettingRange("WritePriority", v, tpIdle, tpTimeCritical);
  if (v == write_priority_) return;
  write_priority_ = v;
  if (write_thread_) write_thread_->SetPriority(v);
}

void TVaCustomComm::SetDirectWrite(bool v) {
  CheckClosed();
  direct_write_ = v;
}

void TVaCustomComm::SetUpdateDCB(bool v) {
  CheckClosed();
  update_dcb_ = v;
}

void TVaCustomComm::SetUserBaudrate(int32_t v) {
  if (v == user_baudrate_) return;
  user_baudrate_ = v;
  baudrate_ = brUser;
  ApplyLineSettings();
}

void TVaCustomComm::SetDisplay(TVaDisplay* display) {
  if (display_ == display) return;
  if (display_) {
    auto& l = display_->linked_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
  }
  display_ = display;
  if (display_) display_->linked_.push_back(this);
}

void TVaCustomComm::OnBuffersChanged(TVaObject*) {
  CheckClosed();
  ApplyBufferSizes();
  ApplyLineSettings();
}

void TVaCustomComm::Loaded() {
  loading_ = false;
  if (auto_open_) Open();
}

}  // namespace va
