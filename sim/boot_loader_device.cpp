#include "boot_loader_device.h"

#include <algorithm>

#include "image_geometry.h"

namespace kvr::sim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Parses 1 to 8 hexadecimal digits; -1 when the text is anything else.
int64_t ParseHex(std::string_view text) {
  if (text.empty() || text.size() > 8) return -1;
  int64_t v = 0;
  for (char c : text) {
    const int d = HexValue(c);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

constexpr size_t kMaxFrame = 4096;

}  // namespace

BootLoaderDevice::BootLoaderDevice(DeviceOptions options) : options_(std::move(options)), rng_(options_.seed) {}

const std::vector<uint8_t>& BootLoaderDevice::Image() const {
  static const std::vector<uint8_t> blank(static_cast<size_t>(ImageBytes), 0xFF);
  return image_.empty() ? blank : image_;
}

void BootLoaderDevice::Receive(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    // The sum of the text before the last byte, kept as bytes come, so a run
    // full of CRs costs no more than any other.
    if (b == 13 && in_.size() >= 2 && static_cast<uint8_t>(in_sum_ - in_.back()) == in_.back()) {
      HandleFrame(std::string_view(reinterpret_cast<const char*>(in_.data()), in_.size() - 1));
      ClearInput();
      continue;
    }
    in_.push_back(b);
    in_sum_ = static_cast<uint8_t>(in_sum_ + b);
    // A run this long without a frame end is line noise, not a command.
    if (in_.size() > kMaxFrame) ClearInput();
  }
}

void BootLoaderDevice::LineIdle() {
  if (in_.empty()) return;
  if (in_.back() == 13) {
    ++frames_;
    ++bad_sums_;
    ++rejected_;
    Reply(kRejectReply);
  }
  ClearInput();
}

void BootLoaderDevice::HandleFrame(std::string_view text) {
  ++frames_;
  last_command_ = std::string(text);
  // The page the loader is at, as its address commands name it, whether or
  // not the device carries them out.
  int64_t named = page_start_ms_ < 0 ? -1 : tracked_page_;
  if (text.substr(0, 5) == "DL:1:") named = ParseHex(text.substr(5));
  if (page_start_ms_ < 0 || named != tracked_page_) {
    tracked_page_ = named;
    page_start_ms_ = last_answer_ms_ = now_ms_;
  }
  if (now_ms_ < silent_until_ms_) return;  // silent: nothing heard
  if (Chance(options_.silence_rate)) {
    ++faults_made_;
    silent_until_ms_ = now_ms_ + options_.silence_ms;
    return;
  }
  if (Chance(options_.ignore_rate)) {
    ++faults_made_;
    return;
  }
  const std::string reply = Answer(text);
  if (reply == kRejectReply) ++rejected_;
  Reply(reply);
}

bool BootLoaderDevice::Chance(double rate) {
  // No draw for a fault not asked for: a seed gives the same faults as before
  // the kinds were added.
  return rate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < rate;
}

void BootLoaderDevice::ProtocolFault(const std::string& what) {
  if (protocol_faults_++ == 0) first_protocol_fault_ = what;
}

std::string BootLoaderDevice::Answer(std::string_view text) {
  if (text == "DL:0") {
    page_address_ = -1;
    next_line_ = 0;
    return "PL0";
  }
  if (text == "DL:6") return "PL6";
  if (text == "DL:7") {
    if (page_address_ < 0) return std::string(kRejectReply);
    if (next_line_ != PageLines)
      ProtocolFault("page " + std::to_string(page_address_ / 256) + " ended after " + std::to_string(next_line_) +
                    " of " + std::to_string(PageLines) + " lines");
    ++pages_ended_;
    return "PL7";
  }
  if (text.substr(0, 5) == "DL:1:") {
    const int64_t address = ParseHex(text.substr(5));
    if (address < 0 || address % 256 != 0 || address >= ImageBytes) return std::string(kRejectReply);
    page_address_ = address;
    next_line_ = 0;
    addresses_.push_back(static_cast<uint32_t>(address));
    return "PL1";
  }
  if (text.size() >= 6 && text.substr(0, 4) == "DL:2" && text[5] == ':') {
    const int k = HexValue(text[4]);
    const std::string_view data = text.substr(6);
    if (k >= 0 && page_address_ < 0) ProtocolFault("a data line without its page's address");
    if (k < 0 || text[4] != "0123456789ABCDEF"[k] || page_address_ < 0 || data.size() != 2 * LineBytes)
      return std::string(kRejectReply);
    if (k != next_line_)
      ProtocolFault("line " + std::to_string(k) + " of page " + std::to_string(page_address_ / 256) + " where line " +
                    std::to_string(next_line_) + " was due");
    next_line_ = k + 1;
    uint8_t line[LineBytes];
    for (int i = 0; i < LineBytes; ++i) {
      const int hi = HexValue(data[2 * i]);
      const int lo = HexValue(data[2 * i + 1]);
      if (hi < 0 || lo < 0) return std::string(kRejectReply);
      line[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    if (image_.empty()) image_.assign(static_cast<size_t>(ImageBytes), 0xFF);  // erased flash, made at the first write
    std::copy(line, line + LineBytes, image_.begin() + page_address_ + k * LineBytes);
    return std::string("PL2") + text[4];
  }
  return std::string(kRejectReply);
}

namespace {

// Another command's reply: the neighbouring line's, or the other of a pair.
std::string WrongName(const std::string& reply) {
  if (reply.size() == 4 && reply.compare(0, 3, "PL2") == 0) {
    const int k = HexValue(reply[3]);
    return std::string("PL2") + "0123456789ABCDEF"[(k + 1) % 16];
  }
  if (reply == "PL1") return "PL7";
  if (reply == "PL7") return "PL1";
  if (reply == "PL0") return "PL6";
  if (reply == "PL6") return "PL0";
  return reply;
}

}  // namespace

void BootLoaderDevice::Reply(std::string_view reply) {
  const uint64_t index = replies_++;
  std::string text(reply);
  std::string noise;
  int copies = 1;
  bool faulted = false;  // the loader cannot take this reply
  if (Chance(options_.noise_rate)) noise += "\x15";
  if (Chance(options_.drop_rate)) copies = 0;
  if (Chance(options_.repeat_rate)) copies = 2;
  for (const DeviceFault& f : options_.faults) {
    if (f.reply_index != index) continue;
    switch (f.kind) {
      case DeviceFault::Kind::kNoise:
        noise += f.noise;
        break;
      case DeviceFault::Kind::kDrop:
        copies = 0;
        break;
      case DeviceFault::Kind::kRepeat:
        copies = 2;
        break;
    }
  }
  faults_made_ += (noise.empty() ? 0 : 1) + (copies == 1 ? 0 : 1);
  const std::string before = last_reply_;
  last_reply_ = text;
  std::vector<std::string> texts;
  if (Chance(options_.stale_rate) && !before.empty()) {
    texts.push_back(before);
    faulted = true;
    ++faults_made_;
  }
  if (Chance(options_.wrong_rate) && WrongName(text) != text) {
    text = WrongName(text);
    faulted = true;
    ++faults_made_;
  }
  for (int c = 0; c < copies; ++c) texts.push_back(text);
  int64_t due = now_ms_;
  if (Chance(options_.late_rate)) {
    due += options_.late_ms;
    faulted = true;
    ++faults_made_;
  }
  if (!faulted && copies > 0 && reply != kRejectReply) last_answer_ms_ = now_ms_;
  for (size_t c = 0; c < texts.size(); ++c) {
    // Each copy is a transmission of its own: noise (first copy only), text, CR,
    // cut into pieces of nearly equal size, none empty.
    std::vector<uint8_t> bytes(c == 0 ? noise.begin() : noise.end(), noise.end());
    bytes.insert(bytes.end(), texts[c].begin(), texts[c].end());
    bytes.push_back(13);
    const size_t pieces = std::clamp<size_t>(static_cast<size_t>(std::max(options_.pieces, 1)), 1, bytes.size());
    size_t at = 0;
    for (size_t p = 0; p < pieces; ++p) {
      const size_t len = (bytes.size() - at) / (pieces - p);
      out_.push_back({due, std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + len)});
      at += len;
    }
  }
}

bool BootLoaderDevice::TakePiece(std::vector<uint8_t>& piece) {
  if (out_.empty() || out_.front().due_ms > now_ms_) return false;
  piece = std::move(out_.front().bytes);
  out_.pop_front();
  return true;
}

int64_t BootLoaderDevice::MsUntilOutput() const {
  return out_.empty() ? -1 : std::max<int64_t>(out_.front().due_ms - now_ms_, 0);
}

}  // namespace kvr::sim
