// A model of the device's boot loader at the far end of the line. It takes the
// bytes the loader sends, cuts them into command frames, checks each sum byte,
// carries out the command and answers with a reply ended by CR:
//   "DL:0" -> "PL0", "DL:6" -> "PL6", "DL:1:<hex address>" -> "PL1",
//   "DL:2k:<32 hex digits>" -> "PL2k" (line k of the current page written),
//   "DL:7" -> "PL7".
// A frame with a wrong sum byte, an unknown command, a malformed address or
// data line is answered with "PLE" (a reply the loader's table does not know,
// so a load stops there). The written image is kept for comparison.
//
// Framing: a frame ends at a CR whose preceding byte is the sum of the bytes
// before it. Because the sum byte may itself be 13, a CR that does not close
// a frame is kept as data; when the line then falls idle (LineIdle) what was
// gathered and ends in CR is taken as one frame with a bad sum.
//
// The device is transport-free: Receive() takes bytes off the line, TakePiece()
// gives the bytes to send back, one receive piece at a time, so it can sit
// behind an in-process port or a pseudo-terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::sim {

struct DeviceFault {
  enum class Kind {
    kNoise,   // `noise` bytes go out just before the reply
    kDrop,    // the reply is never sent
    kRepeat,  // the reply is sent twice
  };
  Kind kind;
  uint64_t reply_index;  // 0-based number of the reply it hits
  std::string noise;
};

struct DeviceOptions {
  int pieces = 1;  // each reply (with its noise) goes out in this many pieces
  std::vector<DeviceFault> faults;
  // Faults at random, each reply with this probability (0..1).
  double noise_rate = 0, drop_rate = 0, repeat_rate = 0;
  // More of them, each frame or reply with its probability: the reply names
  // another command (wrong); the reply before it goes out again first (stale:
  // the previous command's, the previous page's at a page's start); the frame
  // is neither carried out nor answered (ignore). The two that take time need
  // a host that tells the device the time (SetTime): the reply goes out
  // `late_ms` late (late); the device falls silent for `silence_ms`, every
  // frame meanwhile ignored (silence).
  double wrong_rate = 0, stale_rate = 0, ignore_rate = 0, late_rate = 0, silence_rate = 0;
  uint32_t late_ms = 0, silence_ms = 0;
  uint32_t seed = 1;
  // The device stops after answering this many frames (0: never).
  uint64_t hangup_after = 0;
  // Behind a pseudo-terminal: > 0 keeps a real line's timing at this rate (10
  // bits a byte): what the program writes reaches the device after its wire
  // time, and replies go back a byte at a time, a character time apart.
  uint32_t line_baud = 0;
};

inline constexpr std::string_view kRejectReply = "PLE";

class BootLoaderDevice {
 public:
  explicit BootLoaderDevice(DeviceOptions options = {});

  // The host's clock, in ms: late replies and silences are measured on it.
  void SetTime(int64_t now_ms) { now_ms_ = now_ms; }
  // Bytes arriving from the loader.
  void Receive(const uint8_t* data, size_t n);
  // The line has fallen idle: a gathered run ending in CR is a bad frame.
  void LineIdle();

  // The next piece to send back; false when there is none due yet.
  bool TakePiece(std::vector<uint8_t>& piece);
  // How long until the next piece is due: 0 when one is, -1 when none waits.
  int64_t MsUntilOutput() const;
  // True once the device has answered `hangup_after` frames.
  bool HungUp() const { return options_.hangup_after != 0 && frames_ >= options_.hangup_after; }

  // The flash image: erased (all 0xFF) until written.
  const std::vector<uint8_t>& Image() const;
  uint64_t FramesReceived() const { return frames_; }
  uint64_t BadSums() const { return bad_sums_; }
  uint64_t Rejected() const { return rejected_; }
  uint64_t PagesEnded() const { return pages_ended_; }
  // Every address of a "DL:1:" command, in order.
  const std::vector<uint32_t>& Addresses() const { return addresses_; }
  const std::string& LastCommand() const { return last_command_; }
  // Faults the device made (each kind above, the random ones and the listed).
  uint64_t FaultsMade() const { return faults_made_; }
  // Commands a correct loader never sends: a data line without its page's
  // address or out of order, a page ended short of its 16 lines. The first
  // is told in words.
  uint64_t ProtocolFaults() const { return protocol_faults_; }
  const std::string& FirstProtocolFault() const { return first_protocol_fault_; }
  // The page the loader is at (its address; -1 in the opening): when its
  // first command came, and when the device last answered it rightly and in
  // time (its first command's time until then).
  int64_t PageAddress() const { return tracked_page_; }
  int64_t PageStartMs() const { return page_start_ms_; }
  int64_t LastAnswerMs() const { return last_answer_ms_; }

 private:
  void HandleFrame(std::string_view text);
  std::string Answer(std::string_view text);
  void Reply(std::string_view text);
  bool Chance(double rate);
  void ProtocolFault(const std::string& what);

  struct Piece {
    int64_t due_ms;
    std::vector<uint8_t> bytes;
  };

  DeviceOptions options_;
  std::mt19937 rng_;
  std::vector<uint8_t> in_;
  uint8_t in_sum_ = 0;  // sum of in_'s bytes, modulo 256
  void ClearInput() {
    in_.clear();
    in_sum_ = 0;
  }
  std::deque<Piece> out_;
  std::vector<uint8_t> image_;  // empty until the first write: a device costs nothing to make
  int64_t page_address_ = -1;
  int next_line_ = 0;  // the data line due next on the page
  int64_t now_ms_ = 0, silent_until_ms_ = 0;
  int64_t tracked_page_ = -1, page_start_ms_ = -1, last_answer_ms_ = -1;
  std::string last_reply_;
  uint64_t faults_made_ = 0, protocol_faults_ = 0;
  std::string first_protocol_fault_;
  uint64_t replies_ = 0;
  uint64_t frames_ = 0;
  uint64_t bad_sums_ = 0;
  uint64_t rejected_ = 0;
  uint64_t pages_ended_ = 0;
  std::vector<uint32_t> addresses_;
  std::string last_command_;
};

}  // namespace kvr::sim
