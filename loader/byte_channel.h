// The three things the loader needs of a port: write n bytes and return at
// once, read up to n received bytes, and (from the port's owner) an event that
// announces received bytes with the number waiting, which is forwarded to
// CommandLink::OnRxChar on the main thread.
#pragma once

#include <cstdint>

namespace kvr {

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Queues `count` bytes for sending and returns at once; throws on failure.
  virtual void WriteBuf(const void* buf, int count) = 0;
  // Reads up to `count` received bytes, waiting at most the port's read
  // time-out; returns how many were read (0 when none came). Throws on failure.
  virtual int ReadBuf(void* buf, int count) = 0;
  // Reads up to `count` bytes that have arrived, waiting at most `ms`
  // milliseconds for the first and not at all for more; returns how many were
  // read (0 when none came in time), or -1 when the channel cannot wait for
  // input like that (the caller then pauses without looking).
  virtual int ReadWithin(void* buf, int count, uint32_t ms) {
    (void)buf;
    (void)count;
    (void)ms;
    return -1;
  }
};

}  // namespace kvr
