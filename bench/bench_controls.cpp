// Painting costs: FillGradient per style at 337 x 25 and 800 x 600, one
// ComposeButton of the start switch (its flash redraw), one gauge paint at
// 803 x 25, and one FlashTick with 1,000 registered controls.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "canvas.h"
#include "control_host.h"
#include "flash_timer.h"
#include "gauge.h"
#include "gradient.h"
#include "qt_bitmap.h"
#include "qt_text_painter.h"
#include "switch_button.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double MedianMicros(int runs, F&& body) {
  std::vector<double> us;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    body();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

// A control of a fixed size, hidden, with Qt's text.
struct BenchHost : ab::TControlHost {
  explicit BenchHost(ab::TSize size) : size(size) {}
  void Repaint() override {}
  void Invalidate() override {}
  ab::TSize Size() const override { return size; }
  bool Visible() const override { return false; }
  bool MouseCaptured() const override { return false; }
  ab::TBitmap Background() override { return ab::NewBitmap(size.Width, size.Height); }
  ab::TTextPainter* TextPainter() override { return &ab::qt::TextPainter(); }
  std::vector<ab::TAbBinGControl*> Siblings() override { return {}; }
  ab::TSize size;
};

struct Quiet : ab::TFlashControl {
  void FlashMessage(uint32_t, uint32_t, int32_t) override { ++count; }
  int count = 0;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  using namespace ab;
  qt::UseApplicationPalette();

  std::printf("FillGradient, median microseconds ($F0F0F0 to $696969):\n");
  std::printf("  %-14s %10s %10s\n", "style", "337x25", "800x600");
  for (int s = 0; s < kGradientStyleCount; ++s) {
    double t[2];
    const int sizes[2][2] = {{337, 25}, {800, 600}};
    for (int k = 0; k < 2; ++k) {
      TBitmap img = NewBitmap(sizes[k][0], sizes[k][1]);
      TCanvas c(img);
      t[k] = MedianMicros(k == 0 ? 201 : 11, [&] {
        FillGradient(c, {0, 0, sizes[k][0], sizes[k][1]}, 15790320, 6908265, static_cast<TGradientStyle>(s));
      });
    }
    std::printf("  %-14s %10.1f %10.1f\n", GradientStyleName(static_cast<TGradientStyle>(s)), t[0], t[1]);
  }

  BenchHost button_host({345, 33});
  TAbColBitBtn button(&button_host);
  TFont font = qt::FontFromQt(QApplication::font());
  font.Bold = true;
  button.SetFont(font);
  button.SetMode(mSwitch);
  button.SetTextOff("Старт BootLoader");
  button.SetTextOn("BootLoader запущен");
  TBitmap under = NewBitmap(345, 33);
  under.Fill(ToPixel(ColorToRGB(clBtnFace)));
  button.PaintOver(under);
  bool phase = false;
  const double compose = MedianMicros(201, [&] {
    phase = !phase;
    button.ComposeButton(phase, phase, phase, phase);
  });
  std::printf("start switch ComposeButton (one flash redraw): %.1f us (goal: under 500 us)\n", compose);
  TBitmap face = NewBitmap(345, 33);
  TCanvas fc(face);
  const double face_us = MedianMicros(201, [&] {
    FillGradient(fc, {4, 4, 341, 29}, 15790320, 6908265, gsHorizontal1);
  });
  std::printf("start switch face gradient 337x25: %.1f us (goal: under 200 us)\n", face_us);

  BenchHost gauge_host({803, 25});
  TGauge gauge(&gauge_host);
  gauge.SetFont(qt::FontFromQt(QApplication::font()));
  gauge.SetProgress(42);
  TBitmap gimg;
  std::printf("gauge paint 803x25 at 42%%: %.1f us\n", MedianMicros(201, [&] { gauge.Paint(gimg); }));

  std::vector<Quiet> controls(1000);
  for (size_t i = 0; i < controls.size(); ++i)
    RegisterFlashControl(&controls[i], FlashRate(static_cast<TFlashFreq>(i % 5)));
  std::printf("FlashTick with 1000 registered controls: %.2f us\n", MedianMicros(1001, [] { FlashTick(); }));
  StopFlashTimer();
  return 0;
}
