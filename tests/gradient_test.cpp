// FillGradient's worked cases, and the drawing surface's pixel rules.
#include <gtest/gtest.h>

#include <climits>

#include <vector>

#include "canvas.h"
#include "fake_control_host.h"
#include "gradient.h"

namespace ab {
namespace {

TBitmap Paint(int w, int h, TColor from, TColor to, TGradientStyle style) {
  TBitmap image = NewBitmap(w, h);
  TCanvas c(image);
  FillGradient(c, {0, 0, w, h}, from, to, style);
  return image;
}

uint32_t Grey(int level) { return RGB(level, level, level); }
uint32_t At(const TBitmap& image, int x, int y) { return FromPixel(image.At(x, y)); }

constexpr TColor kFrom = 15790320, kTo = 6908265;  // the start switch's face: $F0F0F0 to $696969

TEST(FillGradient, StartSwitchFaceBands) {
  const TBitmap img = Paint(337, 25, kFrom, kTo, gsHorizontal1);
  const int levels[25] = {240, 234, 229, 223, 218, 212, 207, 202, 196, 191, 185, 180, 175,
                          169, 164, 158, 153, 148, 142, 137, 131, 126, 121, 115, 110};
  for (int y = 0; y < 25; ++y) {
    EXPECT_EQ(At(img, 0, y), Grey(levels[y])) << "row " << y;
    EXPECT_EQ(At(img, 336, y), Grey(levels[y])) << "row " << y;
  }
}

TEST(FillGradient, BandsOfThreeRowsWithALastPartialBand) {
  // D = 30, H = 100: band 3, bands 0..33, the last one showing its first row only.
  const TBitmap img = Paint(10, 100, 0, RGB(30, 30, 30), gsHorizontal1);
  EXPECT_EQ(At(img, 0, 0), Grey(0));
  EXPECT_EQ(At(img, 0, 96), At(img, 0, 98));
  EXPECT_EQ(At(img, 0, 98), Grey(29));
  EXPECT_EQ(At(img, 0, 99), Grey(30));
  const TBitmap v = Paint(100, 10, 0, RGB(30, 30, 30), gsVertical1);
  EXPECT_EQ(At(v, 99, 5), Grey(30));
  EXPECT_EQ(At(v, 98, 5), Grey(29));
}

TEST(FillGradient, CentreLineLevelsRoundHalvesToEven) {
  const TBitmap img = Paint(20, 25, kFrom, kTo, gsHorizontal2);
  const int levels[13] = {240, 229, 218, 206, 195, 184, 172, 161, 150, 139, 128, 116, 105};
  for (int k = 0; k <= 12; ++k) {
    EXPECT_EQ(At(img, 7, 12 + k), Grey(levels[k])) << "step " << k;
    EXPECT_EQ(At(img, 7, 12 - k), Grey(levels[k])) << "step " << k;
  }
  const TBitmap v = Paint(25, 20, kFrom, kTo, gsVertical2);
  EXPECT_EQ(At(v, 12, 3), Grey(240));
  EXPECT_EQ(At(v, 0, 3), Grey(105));
  EXPECT_EQ(At(v, 14, 3), Grey(218));  // step 2: -22.5 rounds to -22
}

TEST(FillGradient, ThirdLineStopsHalfWayTowardsTheTop) {
  const TBitmap img = Paint(20, 25, kFrom, kTo, gsHorizontal3);
  EXPECT_EQ(At(img, 3, 8), Grey(240));   // P = 8
  EXPECT_EQ(At(img, 3, 0), Grey(176));   // C(8): 8 x -135/17 = -63.5 -> -64
  EXPECT_EQ(At(img, 3, 24), Grey(113));  // C(16)
}

TEST(FillGradient, CentresAndCornersOfTheConcentricStyles) {
  const TColor from = RGB(255, 255, 0), to = RGB(0, 0, 128);
  const TBitmap e1 = Paint(60, 40, from, to, gsElliptic1);
  for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {59, 0}, {0, 39}, {59, 39}})
    EXPECT_EQ(At(e1, x, y), static_cast<uint32_t>(to));
  for (TGradientStyle s : {gsDiamond1, gsDiamond2}) {
    const TBitmap d = Paint(61, 41, from, to, s);
    EXPECT_EQ(At(d, 30, 20), static_cast<uint32_t>(from)) << GradientStyleName(s);
  }
  // Twenty steps over a 61 x 41 rectangle: each ring one pixel smaller.
  const TColor near = RGB(235, 235, 20);
  const TBitmap r = Paint(61, 41, from, near, gsRectangle);
  EXPECT_EQ(At(r, 30, 20), static_cast<uint32_t>(from));
  EXPECT_EQ(At(r, 0, 0), static_cast<uint32_t>(near));
  EXPECT_EQ(At(r, 60, 40), static_cast<uint32_t>(near));
  const TBitmap tl = Paint(50, 30, from, to, gsTopLeft);
  EXPECT_EQ(At(tl, 0, 0), static_cast<uint32_t>(from));
  const TBitmap tr = Paint(50, 30, from, to, gsTopRight);
  EXPECT_NE(At(tr, 49, 0), At(tr, 0, 29));
}

TEST(FillGradient, EveryStyleStaysBetweenTheColoursAndCoversItsRectangle) {
  const TColor from = RGB(10, 200, 90), to = RGB(250, 20, 90);
  for (int s = 0; s < kGradientStyleCount; ++s) {
    TBitmap img = NewBitmap(90, 50);
    img.Fill(ToPixel(RGB(1, 2, 3)));
    TCanvas c(img);
    FillGradient(c, {5, 7, 85, 47}, from, to, static_cast<TGradientStyle>(s));
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 90; ++x) {
        const uint32_t p = At(img, x, y);
        const bool inside = x >= 5 && x < 85 && y >= 7 && y < 47;
        if (!inside) {
          ASSERT_EQ(p, RGB(1, 2, 3)) << GradientStyleName(static_cast<TGradientStyle>(s)) << " " << x << "," << y;
          continue;
        }
        // Truncating bands may go one unit past a falling channel.
        ASSERT_GE(RedOf(p), 9) << GradientStyleName(static_cast<TGradientStyle>(s)) << " " << x << "," << y;
        ASSERT_LE(RedOf(p), 250);
        ASSERT_GE(GreenOf(p), 19);
        ASSERT_LE(GreenOf(p), 200);
        ASSERT_EQ(BlueOf(p), 90);
      }
  }
}

TEST(FillGradient, EqualColoursFillAndEmptyRectanglesDrawNothing) {
  const uint32_t face = ColorToRGB(clBtnFace);
  for (int s = 0; s < kGradientStyleCount; ++s) {
    const TBitmap img = Paint(30, 20, clBtnFace, static_cast<TColor>(face), static_cast<TGradientStyle>(s));
    EXPECT_EQ(At(img, 0, 0), face);
    EXPECT_EQ(At(img, 29, 19), face);
    EXPECT_EQ(At(img, 15, 10), face);
  }
  TBitmap img = NewBitmap(10, 10);
  img.Fill(ToPixel(RGB(9, 9, 9)));
  TCanvas c(img);
  for (int s = 0; s < kGradientStyleCount; ++s) {
    FillGradient(c, {5, 5, 5, 9}, 0, clWhite, static_cast<TGradientStyle>(s));
    FillGradient(c, {5, 5, 2, 2}, 0, clWhite, static_cast<TGradientStyle>(s));
    FillGradient(c, {0, 0, 10, 0}, 0, clWhite, static_cast<TGradientStyle>(s));
  }
  EXPECT_EQ(At(img, 5, 5), RGB(9, 9, 9));
}

TEST(FillGradient, OffsetRectangleDrawsTheSamePictureShifted) {
  const TBitmap a = Paint(40, 30, RGB(200, 0, 0), RGB(0, 0, 200), gsElliptic3);
  TBitmap b = NewBitmap(60, 50);
  TCanvas c(b);
  c.PenColor = clRed;  // the destination's state is left alone
  FillGradient(c, {13, 11, 53, 41}, RGB(200, 0, 0), RGB(0, 0, 200), gsElliptic3);
  EXPECT_EQ(c.PenColor, clRed);
  EXPECT_EQ(b.Copy(13, 11, 40, 30), a);
}

TEST(Canvas, RectanglesAndLinesExcludeTheirEnd) {
  TBitmap img = NewBitmap(10, 10);
  TCanvas c(img);
  c.PenColor = clWhite;
  c.BrushColor = clRed;
  c.Rectangle(1, 1, 5, 4);
  EXPECT_EQ(c.Pixel(1, 1), ColorToRGB(clWhite));
  EXPECT_EQ(c.Pixel(4, 3), ColorToRGB(clWhite));
  EXPECT_EQ(c.Pixel(5, 3), 0u);
  EXPECT_EQ(c.Pixel(4, 4), 0u);
  EXPECT_EQ(c.Pixel(2, 2), ColorToRGB(clRed));
  c.PenColor = clLime;
  c.MoveTo(0, 9);
  c.LineTo(9, 9);
  EXPECT_EQ(c.Pixel(8, 9), ColorToRGB(clLime));
  EXPECT_EQ(c.Pixel(9, 9), 0u);
}

// Every ellipse stays inside its box (right column and bottom row excluded),
// reaches all four sides and is symmetric about the box's centre, however
// flat: the boxes include the flattest steps of the elliptic gradients.
TEST(Canvas, EllipsesAndPiesStayInsideTheirBoxes) {
  std::vector<TRect> boxes = {{0, 0, 200, 10}, {0, 0, 17, 5},  {0, 0, 101, 7}, {-3, 2, 334, 27}, {0, 0, 300, 30},
                              {0, 0, 1, 1},    {0, 0, 1, 9},   {0, 0, 9, 1},   {0, 0, 2, 2},     {5, 5, 6, 40}};
  for (int w = 1; w <= 24; w += 3)
    for (int h = 1; h <= 24; h += 5) boxes.push_back({1, 2, 1 + w, 2 + h});
  for (const TRect& box : boxes) {
    for (const bool pie : {false, true}) {
      SCOPED_TRACE(std::to_string(box.Width()) + "x" + std::to_string(box.Height()) + (pie ? " pie" : ""));
      TBitmap img = NewBitmap(box.Right + 8, box.Bottom + 8);
      TCanvas c(img);
      c.PenColor = clWhite;
      c.BrushColor = clRed;
      if (pie)  // from the bottom right corner round to the bottom left one
        c.Pie(box.Left, box.Top, box.Right, box.Bottom, box.Right - 1, box.Bottom - 1, box.Left, box.Bottom - 1);
      else
        c.Ellipse(box.Left, box.Top, box.Right, box.Bottom);
      int min_x = INT_MAX, max_x = INT_MIN, min_y = INT_MAX, max_y = INT_MIN;
      for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
          const bool painted = c.Pixel(x, y) != 0;
          if (!painted) continue;
          ASSERT_TRUE(x >= box.Left && x < box.Right && y >= box.Top && y < box.Bottom) << x << "," << y;
          min_x = std::min(min_x, x), max_x = std::max(max_x, x), min_y = std::min(min_y, y), max_y = std::max(max_y, y);
          // Mirrored left to right (and, for the whole ellipse, top to bottom).
          const int mx = box.Left + box.Right - 1 - x, my = box.Top + box.Bottom - 1 - y;
          if (mx >= 0) {
            EXPECT_EQ(c.Pixel(mx, y), c.Pixel(x, y));
          }
          if (!pie && my >= 0) {
            EXPECT_EQ(c.Pixel(x, my), c.Pixel(x, y));
          }
        }
      if (box.Left >= 0) {
        EXPECT_EQ(min_x, box.Left);
      }
      EXPECT_EQ(max_x, box.Right - 1);
      EXPECT_EQ(min_y, std::max(box.Top, 0));
      if (!pie) {
        EXPECT_EQ(max_y, box.Bottom - 1);
      }
    }
  }
}

TEST(Canvas, CopyModesAndTransparentDrawing) {
  TBitmap dst = NewBitmap(4, 1);
  dst.Fill(ToPixel(RGB(0xF0, 0x0F, 0xFF)));
  TBitmap src = NewBitmap(4, 1);
  src.Fill(ToPixel(RGB(0xFF, 0xFF, 0x00)));
  TCanvas c(dst);
  c.CopyMode = TCopyMode::cmSrcInvert;
  c.CopyRect({0, 0, 2, 1}, src, {0, 0, 2, 1});
  EXPECT_EQ(c.Pixel(0, 0), RGB(0x0F, 0xF0, 0xFF));
  EXPECT_EQ(c.Pixel(2, 0), RGB(0xF0, 0x0F, 0xFF));
  c.CopyMode = TCopyMode::cmBlackness;
  c.CopyRect({3, 0, 4, 1}, src, {0, 0, 1, 1});
  EXPECT_EQ(c.Pixel(3, 0), 0u);
  src.Set(1, 0, ToPixel(RGB(1, 2, 3)));
  c.DrawTransparent(0, 0, src, RGB(0xFF, 0xFF, 0x00));
  EXPECT_EQ(c.Pixel(1, 0), RGB(1, 2, 3));
  EXPECT_EQ(c.Pixel(0, 0), RGB(0x0F, 0xF0, 0xFF));
}

TEST(Bitmap, CopyFillAndEmptySizes) {
  TBitmap b(3, 2);
  EXPECT_EQ(b.At(2, 1), kBlackPixel);
  b.Fill(ToPixel(RGB(1, 2, 3)));
  b.Set(1, 0, ToPixel(RGB(9, 8, 7)));
  EXPECT_EQ(b.At(1, 0), 0xFF090807u);  // 0xFFRRGGBB
  const TBitmap part = b.Copy(1, -1, 3, 2);  // what lies outside comes out black
  EXPECT_EQ(part.Width(), 3);
  EXPECT_EQ(part.At(0, 0), kBlackPixel);
  EXPECT_EQ(part.At(0, 1), ToPixel(RGB(9, 8, 7)));
  EXPECT_EQ(part.At(1, 1), ToPixel(RGB(1, 2, 3)));
  EXPECT_EQ(part.At(2, 1), kBlackPixel);
  EXPECT_TRUE(TBitmap(5, 0).Empty());
  EXPECT_EQ(TBitmap(-4, 3).Width(), 0);
  EXPECT_EQ(TBitmap(5, 0), TBitmap());
}

TEST(Canvas, TextGoesThroughItsPainterOnASolidBrush) {
  test::FakeTextPainter painter;
  TBitmap img = NewBitmap(40, 20);
  TCanvas none(img);
  EXPECT_EQ(none.TextWidth("abc"), 0);
  none.TextOut(0, 0, "abc");  // no painter: nothing drawn
  EXPECT_EQ(img, NewBitmap(40, 20));

  TCanvas c(img, &painter);
  c.Font.Bold = true;
  EXPECT_EQ(c.TextWidth("aб"), 2 * 7);  // code points, not bytes
  EXPECT_EQ(c.TextHeight("a"), 10);
  c.BrushColor = clRed;
  c.FontColor = clWhite;
  c.TextRect({0, 0, 10, 20}, 2, 3, "ab");  // the background and the text are clipped
  EXPECT_EQ(c.Pixel(2, 3), ColorToRGB(clWhite));
  EXPECT_EQ(c.Pixel(7, 3), ColorToRGB(clRed));  // between the boxes: the brush
  EXPECT_EQ(c.Pixel(9, 3), ColorToRGB(clWhite));
  EXPECT_EQ(c.Pixel(10, 3), 0u);
  EXPECT_EQ(c.Pixel(2, 12), ColorToRGB(clRed));
  EXPECT_EQ(c.Pixel(2, 13), 0u);
  EXPECT_EQ(painter.last_font, c.Font);
  c.BrushStyle = TBrushStyle::bsClear;
  c.TextOut(20, 0, "a");
  EXPECT_EQ(c.Pixel(25, 0), 0u);  // no background
  EXPECT_EQ(c.Pixel(24, 7), ColorToRGB(clWhite));
  const int draws = painter.draws;
  c.TextOut(0, 0, "");
  EXPECT_EQ(painter.draws, draws);
}

TEST(SystemColors, TheTableIsSettableAndResets) {
  const uint32_t classic = ColorToRGB(clBtnFace);
  SetSystemColor(15, RGB(1, 2, 3));
  SetSystemColor(99, RGB(4, 5, 6));  // no such colour: ignored
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(1, 2, 3));
  EXPECT_EQ(ColorToRGB(clWhite), 0xFFFFFFu);
  ResetSystemColors();
  EXPECT_EQ(ColorToRGB(clBtnFace), classic);
  EXPECT_EQ(classic, 0xC8D0D4u);
  EXPECT_EQ(ColorToRGB(SystemColor(40)), 0u);
  SetSystemColorSource([](int n) { return n == 15 ? RGB(7, 7, 7) : SystemColorFromTable(n); });
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(7, 7, 7));  // the source, asked at each use
  EXPECT_EQ(ColorToRGB(clBtnShadow), 0x808080u);
  SetSystemColorSource(nullptr);
  EXPECT_EQ(ColorToRGB(clBtnFace), classic);
}

}  // namespace
}  // namespace ab
