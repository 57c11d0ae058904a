// Where the main window's controls lie, in client pixels: the one layout the
// Qt and the Win32 window build, so that both match rectangle for rectangle.
#pragma once

namespace kvr::layout {

struct Place {
  int x, y, width, height;
};

inline constexpr int kClientWidth = 803, kClientHeight = 634;

// clang-format off
//                                   x    y  width  height
inline constexpr Place kFileLabel  {  8,   8,    0,    0};  // as large as its text
inline constexpr Place kFilePath   {  8,  32,  305,   21};
inline constexpr Place kOpenFile   {312,  32,   33,   25};
inline constexpr Place kPortLabel  {400,  32,    0,    0};  // as large as its text
inline constexpr Place kPortList   {512,  32,  129,   21};
inline constexpr Place kSaveAs     {648,  30,   96,   25};
inline constexpr Place kRevert     {746,  30,   52,   25};
inline constexpr Place kStartSwitch{  0,  72,  345,   33};
inline constexpr Place kStatusLine {360,  72,  433,   33};
inline constexpr Place kPages      {  8, 112,  793,  497};  // the tab row and its two pages
inline constexpr Place kGauge      {  0, kClientHeight - 25, kClientWidth, 25};
// clang-format on

// The background of a cell typed over and not yet saved (0xRRGGBB).
inline constexpr unsigned kEditedCellRgb = 0xFFD890;

}  // namespace kvr::layout
