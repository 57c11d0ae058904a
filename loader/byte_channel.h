// The three things the loader needs of a port: write n bytes and return at
// once, read up to n received bytes, and (from the port's owner) an event that
// announces received bytes with the number waiting, which the front end
// forwards to LoadEngine::OnRxChar on the thread that runs the load.
#pragma once

namespace kvr {

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Queues `count` bytes for sending and returns at once; throws on failure.
  virtual void WriteBuf(const void* buf, int count) = 0;
  // Reads up to `count` received bytes, waiting at most the port's read
  // time-out; returns how many were read (0 when none came). Throws on failure.
  virtual int ReadBuf(void* buf, int count) = 0;
};

}  // namespace kvr
