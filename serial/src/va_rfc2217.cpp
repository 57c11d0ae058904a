#include "va_rfc2217.h"

#include <algorithm>

#include "va_platform.h"

namespace va::rfc2217 {

std::string EscapeData(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(count + 8);
  for (size_t i = 0; i < count; ++i) {
    out += static_cast<char>(p[i]);
    if (p[i] == IAC) out += static_cast<char>(IAC);
  }
  return out;
}

std::string Negotiation(uint8_t verb, uint8_t option) {
  return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

std::string ComPortCommand(uint8_t command, const std::string& value) {
  std::string out = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                     static_cast<char>(command)};
  out += EscapeData(value.data(), value.size());
  out += static_cast<char>(IAC);
  out += static_cast<char>(SE);
  return out;
}

std::string BigEndian32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

void Decoder::Feed(const void* bytes, size_t count) {
  if (broken_) return;
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t run = 0;  // start of the plain data run within this arrival
  const auto flush = [&](size_t end) {
    if (end > run && OnData) OnData(reinterpret_cast<const char*>(p + run), end - run);
  };
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = p[i];
    switch (state_) {
      case State::kData:
        if (c == IAC) {
          flush(i);
          state_ = State::kIac;
        }
        continue;
      case State::kIac:
        if (c == IAC) {  // a data byte 255
          if (OnData) OnData(reinterpret_cast<const char*>(&c), 1);
          state_ = State::kData;
        } else if (c == WILL || c == WONT || c == DO || c == DONT) {
          verb_ = c;
          state_ = State::kOption;
        } else if (c == SB) {
          sub_.clear();
          sub_length_ = 0;
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, GA and the other two-byte commands carry nothing
        }
        break;
      case State::kOption:
        if (OnNegotiation) OnNegotiation(verb_, c);
        state_ = State::kData;
        break;
      case State::kSub:
        if (++sub_length_ > kMaxSubLength) {
          broken_ = true;  // no data run is open inside a subnegotiation
          return;
        }
        if (c == IAC) {
          state_ = State::kSubIac;
        } else if (sub_.size() < kMaxSub) {
          sub_ += static_cast<char>(c);
        }
        break;
      case State::kSubIac:
        if (c == IAC) {
          if (sub_.size() < kMaxSub) sub_ += static_cast<char>(c);
          state_ = State::kSub;
          break;
        }
        // SE ends it; another command ends it too and is then taken as one.
        if (sub_.size() >= 2 && static_cast<uint8_t>(sub_[0]) == kComPort && OnComPort)
          OnComPort(static_cast<uint8_t>(sub_[1]), sub_.substr(2));
        if (c == SE) {
          state_ = State::kData;
          break;
        }
        state_ = State::kIac;
        --i;  // the byte again, as the command after IAC
        continue;
    }
    run = i + 1;
  }
  if (state_ == State::kData) flush(count);
}

}  // namespace va::rfc2217

namespace va::platform {

namespace {
thread_local std::string t_network_detail;
}  // namespace

void SetNetworkDetail(const std::string& text) { t_network_detail = text; }
const std::string& NetworkDetail() { return t_network_detail; }

bool NetworkErrorText(int code, std::string& text) {
  switch (code) {
    case kErrorNoComPortAnswer:
      text = "the server does not answer the RFC 2217 com-port option (a raw TCP port is socket://)";
      return true;
    case kErrorComPortRefused:
      text = "the server refuses the RFC 2217 com-port option (a raw TCP port is socket://)";
      return true;
    case kErrorBadNetworkName:
      text = "a network port is rfc2217://HOST:PORT or socket://HOST:PORT, with a port from 1 to 65535";
      return true;
    case kErrorBrokenStream:
      text = "the server's telnet stream is broken (a command without end)";
      return true;
    case kErrorSettingRefused:
    case kErrorHostNotFound:
      text = NetworkDetail();
      return true;
    default:
      return false;
  }
}

namespace {

// The scheme in any case: RFC2217:// is rfc2217://.
bool StartsWithScheme(const std::string& name, const std::string& scheme) {
  return name.size() >= scheme.size() && std::equal(scheme.begin(), scheme.end(), name.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
         });
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
  return StartsWithScheme(name, "rfc2217://") || StartsWithScheme(name, "socket://");
}

bool ParseNetworkPort(const std::string& name, NetworkAddress& address) {
  for (const auto& [scheme, telnet] : {std::pair{"rfc2217://", true}, std::pair{"socket://", false}}) {
    const std::string prefix = scheme;
    if (!StartsWithScheme(name, prefix)) continue;
    std::string rest = name.substr(prefix.size());
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
    address.telnet = telnet;
    address.host = rest.substr(0, colon);
    address.port = rest.substr(colon + 1);
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
      address.host = address.host.substr(1, address.host.size() - 2);  // [::1]
    return std::all_of(address.port.begin(), address.port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           address.port.size() <= 5 && std::stoi(address.port) > 0 && std::stoi(address.port) < 65536;
  }
  return false;
}

}  // namespace va::platform
