// Windows-1251, the code page of the device's texts, the update files and the
// operator's typing: the window shows bytes through it and stores typed text
// through it.
#pragma once

#include <string>
#include <string_view>

namespace kvr {

// Each byte as its character, in UTF-8 (byte 0x98, unassigned, as U+0098 so
// that every byte survives a round trip).
std::string Cp1251ToUtf8(std::string_view bytes);
// Each character as its byte; a character the code page lacks (and a broken
// UTF-8 sequence) becomes '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace kvr
