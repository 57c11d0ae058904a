#include "bitmap.h"

#include <algorithm>

namespace ab {

TBitmap::TBitmap(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), kBlackPixel) {
  if (width_ == 0 || height_ == 0) width_ = height_ = 0;
}

void TBitmap::Fill(uint32_t pixel) { std::fill(pixels_.begin(), pixels_.end(), pixel); }

TBitmap TBitmap::Copy(int x, int y, int w, int h) const {
  TBitmap out(w, h);
  for (int j = 0; j < out.height_; ++j) {
    if (y + j < 0 || y + j >= height_) continue;
    for (int i = 0; i < out.width_; ++i)
      if (x + i >= 0 && x + i < width_) out.Set(i, j, At(x + i, y + j));
  }
  return out;
}

}  // namespace ab
