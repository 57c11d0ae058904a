// TGauge: percentages, setter rules and repaints, and the pictures.
#include <gtest/gtest.h>

#include "fake_control_host.h"
#include "gauge.h"

namespace ab {
namespace {

using test::At;
using test::FakeHost;
using test::FakeTextPainter;
constexpr uint32_t kBlack = 0, kWhite = 0xFFFFFF;

TEST(GaugePercent, PercentOfAndScaleByPercent) {
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(PercentOf(41, 1000), 4);
  EXPECT_EQ(PercentOf(2147483647, 2147483647), 100);  // no overflow
  EXPECT_EQ(ScaleByPercent(5, 20), 0);                // 0.01 is held just below itself
  EXPECT_EQ(ScaleByPercent(50, 802), 401);
  for (int p = 0; p <= 100; ++p) EXPECT_EQ(ScaleByPercent(p, 802), p * 802 / 100) << p;
  for (int len : {1, 7, 20, 333, 802, 1000}) EXPECT_EQ(ScaleByPercent(100, len), len);
}

TEST(GaugeSetters, ClampsRangeErrorsAndRepaintsOnlyOnAPercentChange) {
  FakeHost host({100, 100});
  TGauge g(&host);
  g.SetProgress(-5);
  EXPECT_EQ(g.Progress(), 0);
  g.SetProgress(500);
  EXPECT_EQ(g.Progress(), 100);
  try {
    g.SetMinValue(101);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 99");
  }
  try {
    g.SetMaxValue(-1);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(g.MinValue(), 0);
  EXPECT_EQ(g.MaxValue(), 100);

  g.SetMaxValue(1000);
  g.SetProgress(40);
  const int before = g.RepaintCount();
  g.SetProgress(41);  // 4 % either way
  EXPECT_EQ(g.Progress(), 41);
  EXPECT_EQ(g.RepaintCount(), before);
  g.SetProgress(50);
  EXPECT_EQ(g.RepaintCount(), before + 1);
  EXPECT_EQ(host.repaints, g.RepaintCount());  // each one an immediate repaint by the host
  g.SetForeColor(clBlack);  // unchanged
  EXPECT_EQ(g.RepaintCount(), before + 1);
  g.SetBackColor(clRed);
  EXPECT_EQ(g.RepaintCount(), before + 2);
  const int invalidations = host.invalidations;
  g.SetFont(TFont{"Sans", 12, 0, false});  // a new font: painted later, not now
  g.SetFont(TFont{"Sans", 12, 0, false});
  EXPECT_EQ(host.invalidations, invalidations + 1);
  EXPECT_EQ(g.RepaintCount(), before + 2);

  g.SetMaxValue(20);  // moves Progress down
  EXPECT_EQ(g.Progress(), 20);
  g.SetMinValue(10);
  g.SetProgress(12);
  g.SetMaxValue(100);
  g.SetMinValue(30);  // moves Progress up
  EXPECT_EQ(g.Progress(), 30);
  g.SetMinValue(100);  // equal to MaxValue: accepted
  EXPECT_EQ(g.Percent(), 0);

  TGauge loading;
  loading.BeginLoading();
  loading.SetMinValue(200);  // before its MaxValue is read
  loading.SetMaxValue(300);
  loading.Loaded();
  EXPECT_EQ(loading.MinValue(), 200);
}

class GaugePicture : public ::testing::Test {
 protected:
  GaugePicture() { host.text = &painter; }
  TBitmap Paint(int w, int h, TGaugeKind kind, int percent, bool show_text = false, TBorderStyle border = bsSingle) {
    host.size = {w, h};
    g.SetKind(kind);
    g.SetShowText(show_text);
    g.SetBorderStyle(border);
    g.SetProgress(percent);
    TBitmap image;
    g.Paint(image);
    return image;
  }
  FakeHost host;
  FakeTextPainter painter;
  TGauge g{&host};
};

TEST_F(GaugePicture, HorizontalBarColumnsAndBorderRing) {
  const TBitmap half = Paint(803, 25, gkHorizontalBar, 50);
  for (int x = 0; x < 803; ++x) {
    EXPECT_EQ(At(half, x, 0), kBlack);
    EXPECT_EQ(At(half, x, 24), kBlack);
  }
  EXPECT_EQ(At(half, 0, 12), kBlack);
  EXPECT_EQ(At(half, 802, 12), kBlack);
  EXPECT_EQ(At(half, 400, 1), kBlack);  // filled: columns 1..400, rows 1..23
  EXPECT_EQ(At(half, 400, 23), kBlack);
  EXPECT_EQ(At(half, 401, 12), kWhite);
  EXPECT_EQ(At(half, 801, 12), kWhite);
  const TBitmap full = Paint(803, 25, gkHorizontalBar, 100);
  EXPECT_EQ(At(full, 801, 23), kBlack);
  EXPECT_EQ(At(full, 1, 1), kBlack);
  const TBitmap none = Paint(803, 25, gkHorizontalBar, 0);
  EXPECT_EQ(At(none, 1, 1), kWhite);
  const TBitmap bare = Paint(803, 25, gkHorizontalBar, 0, false, bsNone);
  EXPECT_EQ(At(bare, 0, 0), kWhite);  // no frame
}

TEST_F(GaugePicture, VerticalBarTopRow) {
  const TBitmap framed = Paint(20, 30, gkVerticalBar, 100);
  EXPECT_EQ(At(framed, 10, 1), kBlack);  // the whole inside of the border
  EXPECT_EQ(At(framed, 10, 28), kBlack);
  const TBitmap bare = Paint(20, 30, gkVerticalBar, 100, false, bsNone);
  EXPECT_EQ(At(bare, 10, 0), kWhite);  // FillSize is at most H - 1
  EXPECT_EQ(At(bare, 10, 1), kBlack);
}

TEST_F(GaugePicture, PieSlices) {
  const uint32_t fore = kBlack, back = kWhite;
  const TBitmap q = Paint(101, 101, gkPie, 25);
  EXPECT_EQ(At(q, 70, 30), fore);  // upper right
  EXPECT_EQ(At(q, 30, 30), back);  // upper left
  EXPECT_EQ(At(q, 70, 70), back);
  const TBitmap h = Paint(101, 101, gkPie, 50);
  EXPECT_EQ(At(h, 70, 70), fore);
  EXPECT_EQ(At(h, 30, 70), back);
  const TBitmap f = Paint(101, 101, gkPie, 100);
  EXPECT_EQ(At(f, 30, 30), fore);
  EXPECT_EQ(At(f, 30, 70), fore);
  const TBitmap z = Paint(101, 101, gkPie, 0);
  EXPECT_EQ(At(z, 70, 30), back);
  EXPECT_EQ(At(z, 2, 2), ColorToRGB(clBtnFace));  // the control's colour around the ellipse
}

// A slice fills its share of the dial on any ellipse, and the dial keeps its
// border.
TEST_F(GaugePicture, PieSharesOnAFlatDialAndItsBorder) {
  auto count = [](const TBitmap& img, uint32_t colour) {
    int n = 0;
    for (int y = 0; y < img.Height(); ++y)
      for (int x = 0; x < img.Width(); ++x) n += At(img, x, y) == colour;
    return n;
  };
  const TBitmap empty = Paint(201, 81, gkPie, 0);
  const int outline = count(empty, kBlack), inside = count(empty, kWhite);
  for (const int percent : {10, 40}) {
    const TBitmap img = Paint(201, 81, gkPie, percent);
    EXPECT_NEAR(100.0 * (count(img, kBlack) - outline) / inside, percent, 2.0) << percent << " %";
  }
  const TBitmap wide = Paint(300, 30, gkPie, 0);
  for (int y = 13; y <= 16; ++y) {
    EXPECT_EQ(At(wide, 0, y), kBlack) << y;
    EXPECT_EQ(At(wide, 299, y), kBlack) << y;
  }
}

TEST_F(GaugePicture, NeedleDirection) {
  const TBitmap up = Paint(101, 51, gkNeedle, 50);
  EXPECT_EQ(At(up, 50, 20), kBlack);  // straight up from the bottom centre
  EXPECT_EQ(At(up, 30, 40), kWhite);
  const TBitmap right = Paint(101, 51, gkNeedle, 100);
  EXPECT_EQ(At(right, 80, 49), kBlack);  // along the row above the base line
  EXPECT_EQ(At(right, 50, 20), kWhite);
  const TBitmap zero = Paint(101, 51, gkNeedle, 0);
  EXPECT_EQ(At(zero, 50, 20), kWhite);
  EXPECT_EQ(At(zero, 30, 48), kWhite);
}

TEST_F(GaugePicture, TextKindShowsTheBackgroundOnly) {
  const TBitmap img = Paint(60, 20, gkText, 80);
  for (int x = 1; x < 59; ++x) EXPECT_EQ(At(img, x, 10), kWhite);
  EXPECT_EQ(At(img, 0, 10), kBlack);
}

TEST_F(GaugePicture, TextIsInvertedOverAndBesideTheBar) {
  g.SetFont(TFont{"DejaVu Sans", 12, 0, false});
  const TBitmap plain = Paint(203, 25, gkHorizontalBar, 50, false);
  const TBitmap text = Paint(203, 25, gkHorizontalBar, 50, true);
  int over = 0, beside = 0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 203; ++x) {
      if (At(plain, x, y) == At(text, x, y)) continue;
      if (At(plain, x, y) == kBlack) {
        EXPECT_EQ(At(text, x, y), kWhite);
        ++over;
      } else {
        EXPECT_EQ(At(text, x, y), kBlack);
        ++beside;
      }
    }
  EXPECT_GT(over, 0);  // "50%" straddles the bar's end at column 101
  EXPECT_GT(beside, 0);
  EXPECT_EQ(painter.last_font, g.Font());
}

// "42%" centred in the gauge rectangle: its three cells, and nothing else changed.
TEST_F(GaugePicture, PercentTextIsCentredAndClippedToTheGauge) {
  const TBitmap plain = Paint(61, 21, gkText, 42, false);
  const TBitmap text_on = Paint(61, 21, gkText, 42, true);
  // At ((gauge width + 1 - text width) / 2, (gauge height + 1 - text height) / 2), the gauge inside the border.
  const int w = 3 * FakeTextPainter::kCellW, x0 = (60 - w) / 2, y0 = (20 - FakeTextPainter::kCellH) / 2;
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 61; ++x) {
      const int cx = x - x0, cy = y - y0;
      const bool in_box = cx >= 0 && cx < w && cx % FakeTextPainter::kCellW < FakeTextPainter::kBoxW && cy >= 0 &&
                          cy < FakeTextPainter::kBoxH;
      ASSERT_EQ(At(text_on, x, y), in_box ? At(plain, x, y) ^ 0xFFFFFF : At(plain, x, y)) << x << "," << y;
    }
  // A gauge smaller than its text: the percentage stays inside the border.
  const TBitmap small_plain = Paint(12, 6, gkText, 100, false);
  const TBitmap small = Paint(12, 6, gkText, 100, true);
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(At(small, x, 0), At(small_plain, x, 0)) << x;
    EXPECT_EQ(At(small, x, 5), At(small_plain, x, 5)) << x;
  }
  EXPECT_NE(small, small_plain);
}

TEST(GaugeHost, NoHostMeansNoSizeAndNoText) {
  TGauge g;
  EXPECT_EQ(g.Width(), 0);
  EXPECT_TRUE(g.Paint().Empty());
  g.SetProgress(50);  // repaints without a host are counted only
  EXPECT_EQ(g.RepaintCount(), 1);
}

}  // namespace
}  // namespace ab
