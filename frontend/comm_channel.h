// The serial port component as the command link's byte channel.
#pragma once

#include "byte_channel.h"
#include "va_comm.h"

namespace kvr {

class CommChannel final : public ByteChannel {
 public:
  explicit CommChannel(va::TVaComm& comm) : comm_(comm) {}
  void WriteBuf(const void* buf, int count) override { comm_.WriteBuf(buf, count); }
  int ReadBuf(void* buf, int count) override { return comm_.ReadBuf(buf, count); }

 private:
  va::TVaComm& comm_;
};

}  // namespace kvr
