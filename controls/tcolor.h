// Colour values: $00BBGGRR for an explicit colour, $FF0000nn for the
// platform's system colour number nn, resolved to RGB before use.
#pragma once

#include <cstdint>

namespace ab {

using TColor = int32_t;

inline constexpr TColor clBlack = 0;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor SystemColor(int n) { return static_cast<TColor>(0xFF000000u | static_cast<uint32_t>(n)); }
inline constexpr TColor clWindowFrame = SystemColor(6);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clBtnHighlight = SystemColor(20);

inline constexpr int kSystemColorCount = 31;

// The plain RGB value ($00BBGGRR) of a colour; a system colour (button face,
// shadow, highlight, window frame ...) takes its current value from the
// system colour source, or without one from the table of system colours,
// which starts as the classic scheme.
uint32_t ColorToRGB(TColor color);

// The table: a toolkit can set colours (numbers outside 0..30 are ignored);
// the reset goes back to the classic scheme.
void SetSystemColor(int n, uint32_t rgb);
void ResetSystemColors();
uint32_t SystemColorFromTable(int n);  // 0 outside 0..30

// The source: a toolkit's scheme, asked at each use (so that it is always
// the current one) with a colour number 0..255; nullptr goes back to the table.
using TSystemColorSource = uint32_t (*)(int n);
void SetSystemColorSource(TSystemColorSource source);

inline constexpr uint8_t RedOf(uint32_t rgb) { return rgb & 0xFF; }
inline constexpr uint8_t GreenOf(uint32_t rgb) { return (rgb >> 8) & 0xFF; }
inline constexpr uint8_t BlueOf(uint32_t rgb) { return (rgb >> 16) & 0xFF; }
inline constexpr uint32_t RGB(uint32_t r, uint32_t g, uint32_t b) { return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16; }

// Parses "$BBGGRR" (hexadecimal) or a decimal TColor; false when neither.
bool ParseColor(const char* text, TColor& out);

}  // namespace ab
