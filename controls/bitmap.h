// TBitmap: the controls' own 32-bit picture. Pixels are 0xFFRRGGBB, row after
// row without padding (the memory layout of a 32-bit RGB image, so a toolkit
// can draw it or paint onto it without copying).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tcolor.h"

namespace ab {

// A pixel of the bitmap from a plain RGB value ($00BBGGRR), and back.
inline constexpr uint32_t ToPixel(uint32_t rgb) {
  return 0xFF000000u | static_cast<uint32_t>(RedOf(rgb)) << 16 | static_cast<uint32_t>(GreenOf(rgb)) << 8 |
         BlueOf(rgb);
}
inline constexpr uint32_t FromPixel(uint32_t pixel) { return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF); }

inline constexpr uint32_t kBlackPixel = 0xFF000000u;

// A rectangle without its right column and bottom row.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  TRect Inflated(int d) const { return {Left - d, Top - d, Right + d, Bottom + d}; }
  bool operator==(const TRect&) const = default;
};

class TBitmap {
 public:
  TBitmap() = default;
  // A black bitmap; a negative side counts as 0.
  TBitmap(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  int BytesPerLine() const { return width_ * 4; }

  uint32_t* Data() { return pixels_.data(); }
  const uint32_t* Data() const { return pixels_.data(); }
  uint32_t* Row(int y) { return pixels_.data() + Offset(y); }
  const uint32_t* Row(int y) const { return pixels_.data() + Offset(y); }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  // The pixel at (x, y); the caller keeps (x, y) inside.
  uint32_t At(int x, int y) const { return Row(y)[x]; }
  void Set(int x, int y, uint32_t pixel) { Row(y)[x] = pixel; }

  void Fill(uint32_t pixel);
  // The w x h pixels from (x, y); what lies outside this bitmap comes out black.
  TBitmap Copy(int x, int y, int w, int h) const;

  bool operator==(const TBitmap& other) const = default;

 private:
  std::size_t Offset(int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_); }

  int width_ = 0, height_ = 0;
  std::vector<uint32_t> pixels_;
};

// A new bitmap of the given size (black).
inline TBitmap NewBitmap(int width, int height) { return TBitmap(width, height); }

}  // namespace ab
