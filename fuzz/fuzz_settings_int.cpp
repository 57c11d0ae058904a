// Any text through the stored index's text-to-integer rules: a decimal
// number that fits is read as itself, whatever is accepted reads back the
// same after formatting, and nothing else fails.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"

#include "port_setting_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int32_t v = 0;
  if (!kvr::ParseSettingInt(text, v)) return 0;
  Check(kvr::SettingIndexOrMinusOne(text) == v, "same value through both entry points");
  int32_t again = 0;
  Check(kvr::ParseSettingInt(std::to_string(v), again) && again == v, "decimal round trip");
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", static_cast<uint32_t>(v));
  Check(kvr::ParseSettingInt(hex, again) && again == v, "hex round trip");
  const bool plain_decimal =
      !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
  if (plain_decimal) Check(v == std::atoi(text.c_str()), "decimal value");
  return 0;
}
