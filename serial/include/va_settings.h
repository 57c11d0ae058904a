// The component's grouped settings: flow control, special characters and
// driver buffers/time limits.
#pragma once

#include <cstdint>

#include "va_classes.h"
#include "va_types.h"

namespace va {

class TVaFlowControl : public TVaPersistent {
 public:
  const char* ClassName() const override { return "TVaFlowControl"; }
  void Assign(const TVaPersistent& source) override;

  bool OutCtsFlow() const { return out_cts_flow_; }
  bool OutDsrFlow() const { return out_dsr_flow_; }
  TVaControlDtr ControlDtr() const { return control_dtr_; }
  TVaControlRts ControlRts() const { return control_rts_; }
  bool XonXoffOut() const { return xon_xoff_out_; }
  bool XonXoffIn() const { return xon_xoff_in_; }
  bool DsrSensitivity() const { return dsr_sensitivity_; }
  bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }

  void SetOutCtsFlow(bool v) { Set(out_cts_flow_, v); }
  void SetOutDsrFlow(bool v) { Set(out_dsr_flow_, v); }
  void SetControlDtr(TVaControlDtr v) {
    CheckSettingRange("ControlDtr", v, dtrDisabled, dtrHandshake);
    Set(control_dtr_, v);
  }
  void SetControlRts(TVaControlRts v) {
    CheckSettingRange("ControlRts", v, rtsDisabled, rtsToggle);
    Set(control_rts_, v);
  }
  void SetXonXoffOut(bool v) { Set(xon_xoff_out_, v); }
  void SetXonXoffIn(bool v) { Set(xon_xoff_in_, v); }
  void SetDsrSensitivity(bool v) { Set(dsr_sensitivity_, v); }
  void SetTxContinueOnXoff(bool v) { Set(tx_continue_on_xoff_, v); }

  // The control-block flag bits of these settings.
  uint32_t FlagBits() const;

 private:
  template <typename T>
  void Set(T& field, T v) {
    if (field == v) return;
    field = v;
    Changed();
  }
  bool out_cts_flow_ = false;
  bool out_dsr_flow_ = false;
  TVaControlDtr control_dtr_ = dtrDisabled;
  TVaControlRts control_rts_ = rtsDisabled;
  bool xon_xoff_out_ = false;
  bool xon_xoff_in_ = false;
  bool dsr_sensitivity_ = false;
  bool tx_continue_on_xoff_ = false;
};

class TVaEventChars : public TVaPersistent {
 public:
  const char* ClassName() const override { return "TVaEventChars"; }
  void Assign(const TVaPersistent& source) override;

  // Index 1..5: XonChar, XoffChar, ErrorChar, EventChar, EofChar. Notifies on
  // every call, even with an unchanged value or an index out of range.
  char GetChar(int index) const;
  void SetChar(int index, char value);

  char XonChar() const { return chars_[0]; }
  char XoffChar() const { return chars_[1]; }
  char ErrorChar() const { return chars_[2]; }
  char EventChar() const { return chars_[3]; }
  char EofChar() const { return chars_[4]; }
  void SetXonChar(char c) { SetChar(1, c); }
  void SetXoffChar(char c) { SetChar(2, c); }
  void SetErrorChar(char c) { SetChar(3, c); }
  void SetEventChar(char c) { SetChar(4, c); }
  void SetEofChar(char c) { SetChar(5, c); }

 private:
  char chars_[5] = {17, 19, 0, 0, 0};
};

// Integer subrange 0..2147483647.
using TVaIntW = int32_t;

class TVaBuffers : public TVaPersistent {
 public:
  const char* ClassName() const override { return "TVaBuffers"; }
  void Assign(const TVaPersistent& source) override;

  TVaIntW ReadSize() const { return read_size_; }
  TVaIntW WriteSize() const { return write_size_; }
  TVaIntW ReadTimeout() const { return read_timeout_; }
  TVaIntW WriteTimeout() const { return write_timeout_; }
  TVaIntW XonLimit() const { return xon_limit_; }
  TVaIntW XoffLimit() const { return xoff_limit_; }

  void SetReadSize(TVaIntW v) { SetAtLeast(read_size_, v, "ReadSize", 1); }
  void SetWriteSize(TVaIntW v) { SetAtLeast(write_size_, v, "WriteSize", 1); }
  // Plain fields: no notification, allowed at any time.
  void SetReadTimeout(TVaIntW v) { read_timeout_ = v; }
  void SetWriteTimeout(TVaIntW v) { write_timeout_ = v; }
  void SetXonLimit(TVaIntW v) { SetAtLeast(xon_limit_, v, "XonLimit", 0); }
  void SetXoffLimit(TVaIntW v) { SetAtLeast(xoff_limit_, v, "XoffLimit", 0); }

 private:
  // Sizes and limits: a value below `lo` is refused and not stored.
  void SetAtLeast(TVaIntW& field, TVaIntW v, const char* name, TVaIntW lo) {
    CheckSettingRange(name, v, lo, INT32_MAX);
    Set(field, v);
  }
  void Set(TVaIntW& field, TVaIntW v) {
    if (field == v) return;
    field = v;
    Changed();
  }
  TVaIntW read_size_ = 4096;
  TVaIntW write_size_ = 2048;
  TVaIntW read_timeout_ = 1000;
  TVaIntW write_timeout_ = 1000;
  TVaIntW xon_limit_ = 1024;
  TVaIntW xoff_limit_ = 1024;
};

}  // namespace va
