#include "tcolor.h"

#include <QGuiApplication>
#include <QPalette>

#include <cstdlib>
#include <cstring>

namespace ab {

namespace {

// The classic Windows scheme, by system colour number.
constexpr uint32_t kClassic[31] = {
    0xC8D0D4, 0x6E3A0A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000, 0xFFFFFF,
    0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC8D0D4,
    0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xFF9933,
    0xC8D0D4};

uint32_t FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

}  // namespace

uint32_t ColorToRGB(TColor color) {
  if (color >= 0) return static_cast<uint32_t>(color) & 0xFFFFFF;
  const int n = color & 0xFF;
  if (qGuiApp) {
    const QPalette p = QGuiApplication::palette();
    switch (n) {
      case 5: return FromQColor(p.color(QPalette::Base));
      case 6: return FromQColor(p.color(QPalette::Shadow));
      case 8: return FromQColor(p.color(QPalette::WindowText));
      case 13: return FromQColor(p.color(QPalette::Highlight));
      case 14: return FromQColor(p.color(QPalette::HighlightedText));
      case 15: return FromQColor(p.color(QPalette::Button));
      case 16: return FromQColor(p.color(QPalette::Dark));
      case 18: return FromQColor(p.color(QPalette::ButtonText));
      case 20: return FromQColor(p.color(QPalette::Light));
      default: break;
    }
  }
  return n < 31 ? kClassic[n] : 0;
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
