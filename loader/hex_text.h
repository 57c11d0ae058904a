// Upper-case hexadecimal texts as the status line and the commands use them,
// and bytes shown safely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvr {

// `value` in upper-case hexadecimal with at least `min_digits` digits. A negative
// value shows its 64-bit two's complement (sixteen digits).
std::string HexUpper(int64_t value, int min_digits);

// Bytes from the image or the device as text that is safe on a terminal:
// every byte outside printable ASCII as \xHH.
std::string Printable(std::string_view bytes);

// A message (which may hold a path in UTF-8, or strings a device chose) with
// its controls (C0, DEL, C1, the bidirectional formatting marks) and every
// byte that is not well-formed UTF-8 as \xHH; other UTF-8 (Cyrillic) stays.
std::string WithoutControls(std::string_view text);

// Each byte as two lower-case hexadecimal digits (digests, exact copies of names).
std::string HexLower(std::string_view bytes);

// Whether every byte of `text` belongs to a well-formed UTF-8 sequence.
bool IsUtf8(std::string_view text);

}  // namespace kvr
