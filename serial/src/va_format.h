// The serial component's message texts: the one-integer printf subset of its
// device names, and the pieces of its error messages.
#pragma once

#include <cstdint>
#include <string>

#include "va_classes.h"

namespace va {

// DeviceName formatted with one integer argument: %d, %u, %x, %X with
// optional "-", width and precision, and %%. Anything else raises
// EConvertError.
std::string FormatWithInt(const std::string& format, int32_t value);

// A text for insertion into a message that is formatted once more.
std::string EscapePercent(const std::string& text);

// The system text without trailing blanks, control characters and full stops.
std::string TrimErrorText(std::string text);

}  // namespace va
