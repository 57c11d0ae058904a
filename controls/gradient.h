// Gradient fills in fourteen styles, drawn off screen and copied onto the
// destination in one step.
#pragma once

#include <cstdint>

#include "canvas.h"
#include "tcolor.h"

namespace ab {

enum TGradientStyle : uint8_t {
  gsHorizontal1, gsHorizontal2, gsHorizontal3, gsVertical1, gsVertical2, gsVertical3, gsElliptic1, gsElliptic2,
  gsElliptic3, gsRectangle, gsDiamond1, gsDiamond2, gsTopLeft, gsTopRight
};
inline constexpr int kGradientStyleCount = 14;
const char* GradientStyleName(TGradientStyle style);
bool GradientStyleFromName(const char* name, TGradientStyle& out);

// Replaces the pixels of `rect` on `canvas` with the gradient; a rectangle
// with no width or height draws nothing. The canvas's pen, brush and font are
// left as they were.
void FillGradient(TCanvas& canvas, TRect rect, TColor color_from, TColor color_to, TGradientStyle style);

}  // namespace ab
