// The serial port component as the command link's byte channel.
#pragma once

#include <algorithm>

#include "byte_channel.h"
#include "va_comm.h"

namespace kvr {

class CommChannel final : public ByteChannel {
 public:
  explicit CommChannel(va::TVaComm& comm) : comm_(comm) {}
  void WriteBuf(const void* buf, int count) override { comm_.WriteBuf(buf, count); }
  int ReadBuf(void* buf, int count) override { return comm_.ReadBuf(buf, count); }
  // What is waiting, or the first byte to come: a read for more than is
  // there would wait for the line to pause.
  int ReadWithin(void* buf, int count, uint32_t ms) override {
    return comm_.ReadBuf(buf, std::clamp(comm_.InQueue(), 1, count), ms);
  }

 private:
  va::TVaComm& comm_;
};

}  // namespace kvr
