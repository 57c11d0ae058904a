// The bits of a line configuration's flag word (platform::LineSettings::Flags):
// the Win32 device control block's bit fields, in their order, so that the
// Windows layer passes the word on unchanged. Named once here; no other
// header, so that the Windows table's file may include it beside <windows.h>.
#pragma once

#include <cstdint>

namespace va::platform::line_flags {

inline constexpr uint32_t kBinary = 0x1;
inline constexpr uint32_t kParityCheck = 0x2;
inline constexpr uint32_t kOutxCtsFlow = 0x4;
inline constexpr uint32_t kOutxDsrFlow = 0x8;
inline constexpr uint32_t kDtrControl = 0x30;  // the field, holding one of:
inline constexpr uint32_t kDtrEnable = 0x10, kDtrHandshake = 0x20;
inline constexpr uint32_t kDsrSensitivity = 0x40;
inline constexpr uint32_t kTxContinueOnXoff = 0x80;
inline constexpr uint32_t kOutX = 0x100;
inline constexpr uint32_t kInX = 0x200;
inline constexpr uint32_t kErrorChar = 0x400;
inline constexpr uint32_t kNull = 0x800;
inline constexpr uint32_t kRtsControl = 0x3000;  // the field, holding one of:
inline constexpr uint32_t kRtsEnable = 0x1000, kRtsHandshake = 0x2000, kRtsToggle = 0x3000;
inline constexpr uint32_t kAbortOnError = 0x4000;

}  // namespace va::platform::line_flags
