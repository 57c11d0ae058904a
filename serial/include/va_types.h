// Enumerations and sets of the serial port component, with their driver values.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace va {

enum TVaBaudrate : uint8_t {
  brUser,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TVaParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits : uint8_t { db4, db5, db6, db7, db8 };
enum TVaStopbits : uint8_t { sb1, sb15, sb2 };
enum TVaControlDtr : uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts : uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommOption : uint8_t { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent : uint8_t {
  ceBreak,
  ceCts,
  ceDsr,
  ceError,
  ceRing,
  ceRlsd,
  ceRxChar,
  ceTxEmpty,
  ceRxFlag,
  cePErr,
  ceRx80Full,
  ceEvent1,
  ceEvent2
};
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A small set of enumeration values, one bit per ordinal.
template <typename E, typename Bits>
class TVaSet {
 public:
  constexpr TVaSet() = default;
  constexpr TVaSet(std::initializer_list<E> members) {
    for (E e : members) bits_ = static_cast<Bits>(bits_ | Bit(e));
  }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TVaSet& Include(E e) {
    bits_ = static_cast<Bits>(bits_ | Bit(e));
    return *this;
  }
  constexpr TVaSet& Exclude(E e) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(e));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits Raw() const { return bits_; }
  friend constexpr bool operator==(TVaSet a, TVaSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e)); }
  Bits bits_ = 0;
};

using TVaCommOptions = TVaSet<TVaCommOption, uint8_t>;
using TVaCommEvents = TVaSet<TVaCommEvent, uint16_t>;

// A read and clear of the driver's error bits, with its status and queue counts.
struct TVaCommStatus {
  uint32_t Errors = 0;
  uint32_t Flags = 0;
  uint32_t InQueue = 0;
  uint32_t OutQueue = 0;
};

// Driver values.
uint32_t BaudrateValue(TVaBaudrate b);  // 0 for brUser (the rate is UserBaudrate then)
uint8_t DatabitsValue(TVaDatabits d);

// Driver event bits: the values of Windows' EV_ bits, under names its macros
// leave alone, so that <windows.h> may come before or after this header.
inline constexpr uint32_t kEvRxChar = 0x1, kEvRxFlag = 0x2, kEvTxEmpty = 0x4, kEvCts = 0x8, kEvDsr = 0x10,
                          kEvRlsd = 0x20, kEvBreak = 0x40, kEvErr = 0x80, kEvRing = 0x100, kEvPErr = 0x200,
                          kEvRx80Full = 0x400, kEvEvent1 = 0x800, kEvEvent2 = 0x1000;

// Line-error bits reported in TVaCommStatus::Errors and OnError (Windows' CE_
// values).
inline constexpr uint32_t kCeRxOver = 0x1, kCeOverrun = 0x2, kCeRxParity = 0x4, kCeFrame = 0x8, kCeBreak = 0x10,
                          kCeTxFull = 0x100, kCeIoe = 0x400;
// The device is gone (adapter unplugged, far end closed): reported once through
// OnError; the component's threads stop using the device until Close.
inline constexpr uint32_t kCeDeviceLost = 0x10000;

}  // namespace va
