#include "tcolor.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace ab {

namespace {

// The classic Windows scheme, by system colour number.
constexpr std::array<uint32_t, kSystemColorCount> kClassic = {
    0xC8D0D4, 0x6E3A0A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000, 0xFFFFFF,
    0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC8D0D4,
    0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xFF9933,
    0xC8D0D4};

// The current table, and the source that replaces it.
std::array<uint32_t, kSystemColorCount> g_system = kClassic;
TSystemColorSource g_source = nullptr;

}  // namespace

uint32_t ColorToRGB(TColor color) {
  if (color >= 0) return static_cast<uint32_t>(color) & 0xFFFFFF;
  const int n = color & 0xFF;
  return g_source ? g_source(n) & 0xFFFFFF : SystemColorFromTable(n);
}

uint32_t SystemColorFromTable(int n) {
  return n >= 0 && n < kSystemColorCount ? g_system[static_cast<size_t>(n)] : 0;
}

void SetSystemColorSource(TSystemColorSource source) { g_source = source; }

void SetSystemColor(int n, uint32_t rgb) {
  if (n >= 0 && n < kSystemColorCount) g_system[static_cast<size_t>(n)] = rgb & 0xFFFFFF;
}

void ResetSystemColors() {
  g_system = kClassic;
}

bool ParseColor(const char* text, TColor& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  long long v;
  if (text[0] == '$')
    v = std::strtoll(text + 1, &end, 16);
  else
    v = std::strtoll(text, &end, 10);
  if (!end || *end != '\0') return false;
  out = static_cast<TColor>(static_cast<uint32_t>(v));
  return true;
}

}  // namespace ab
