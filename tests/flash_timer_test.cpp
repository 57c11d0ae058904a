// The flash timer with its tick source, and the switch button's drawing
// helpers and settings objects.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "button_drawing.h"
#include "fake_control_host.h"
#include "flash_timer.h"

namespace ab {
namespace {

struct Recorder : TFlashControl {
  void FlashMessage(uint32_t msg, uint32_t, int32_t lparam) override {
    EXPECT_EQ(msg, WM_FLASH);
    if (fail) throw std::runtime_error("handler failed");
    phases.push_back(lparam);
  }
  std::vector<int32_t> phases;
  bool fail = false;
};

class FlashTimer : public ::testing::Test {
 protected:
  void TearDown() override { StopFlashTimer(); }
};

TEST_F(FlashTimer, FastestRateAlternatesEveryTick) {
  Recorder r;
  RegisterFlashControl(&r, FlashRate(ff8Hz));
  FlashEntries()[0]->Mark = FlashCounter;  // as after a first tick
  for (int i = 0; i < 4; ++i) FlashTick();
  ASSERT_EQ(r.phases.size(), 4u);
  EXPECT_NE(r.phases[0], r.phases[1]);
  EXPECT_EQ(r.phases[0], r.phases[2]);
}

TEST_F(FlashTimer, SlowerRatesChangeOnlyAtTheirBitAndInStep) {
  Recorder a, b;
  RegisterFlashControl(&a, FlashRate(ff2Hz));
  RegisterFlashControl(&a, FlashRate(ff2Hz));  // no second entry
  RegisterFlashControl(&b, FlashRate(ff2Hz));
  EXPECT_EQ(FlashEntries().size(), 2u);
  FlashCounter = 0xFFFFFFF0u;  // across the wrap to 0
  for (TFlashEntry* e : FlashEntries()) e->Mark = FlashCounter;
  for (int i = 0; i < 32; ++i) FlashTick();
  EXPECT_EQ(a.phases.size(), 8u);  // a change every 4 ticks, none missed or doubled at the wrap
  EXPECT_EQ(a.phases, b.phases);
  EXPECT_EQ(FlashCounter, 0x10u);
}

TEST_F(FlashTimer, RegistrationRulesAndGrowth) {
  Recorder a;
  RegisterFlashControl(nullptr, 1);
  EXPECT_TRUE(FlashEntries().empty());
  RegisterFlashControl(&a, 8);
  EXPECT_EQ(FlashEntries()[0]->Rate, 8u);
  EXPECT_EQ(FlashCapacity(), 11u);  // fewer than two free slots: count + 10
  RegisterFlashControl(&a, 2);
  EXPECT_EQ(FlashEntries()[0]->Rate, 2u);
  std::vector<Recorder> more(9);
  for (Recorder& m : more) RegisterFlashControl(&m, 1);
  EXPECT_EQ(FlashEntries().size(), 10u);
  EXPECT_EQ(FlashCapacity(), 20u);
  UnregisterFlashControl(&a);
  UnregisterFlashControl(&a);  // no entry: nothing
  EXPECT_EQ(FlashEntries().size(), 9u);
  const uint32_t before = FlashCounter;
  StopFlashTimer();
  FlashTick();  // empty list: only the counter moves
  EXPECT_EQ(FlashCounter, before + 1);
}

TEST_F(FlashTimer, FailingHandlerKeepsItsMarkAndOthersAreServed) {
  Recorder bad, good;
  bad.fail = true;
  RegisterFlashControl(&bad, 1);
  RegisterFlashControl(&good, 1);
  for (TFlashEntry* e : FlashEntries()) e->Mark = FlashCounter;
  const uint32_t old_mark = FlashEntries()[0]->Mark;
  FlashTick();
  EXPECT_EQ(good.phases.size(), 1u);
  EXPECT_EQ(FlashEntries()[0]->Mark, old_mark);
  UnregisterFlashControl(&good);  // between two ticks
  FlashTick();
  EXPECT_EQ(good.phases.size(), 1u);
}

// A tick source the test drives by hand.
struct ManualTicks : TFlashTickSource {
  ManualTicks(int& interval, bool& running, std::function<void()>& tick)
      : interval(interval), running(running), tick(tick) {}
  void Start(int interval_ms, std::function<void()> t) override {
    interval = interval_ms;
    running = true;
    tick = std::move(t);
  }
  void Stop() override { running = false; }
  int& interval;
  bool& running;
  std::function<void()>& tick;
};

TEST_F(FlashTimer, TheSourceTicksEvery50MsUntilStopped) {
  int interval = 0;
  bool running = false;
  std::function<void()> tick;
  StartFlashTimer(std::make_unique<ManualTicks>(interval, running, tick));
  EXPECT_EQ(interval, 50);
  EXPECT_TRUE(running);
  ASSERT_TRUE(tick);
  TFlashTickSource* const source = FlashTimerSource();
  int second_interval = 0;
  bool second_running = false;
  std::function<void()> second_tick;
  StartFlashTimer(std::make_unique<ManualTicks>(second_interval, second_running, second_tick));  // one runs already
  EXPECT_FALSE(second_running);
  EXPECT_EQ(FlashTimerSource(), source);

  Recorder r;
  RegisterFlashControl(&r, FlashRate(ff8Hz));
  FlashEntries()[0]->Mark = FlashCounter;
  const uint32_t before = FlashCounter;
  tick();
  tick();
  EXPECT_EQ(FlashCounter, before + 2);
  EXPECT_EQ(r.phases.size(), 2u);
  StopFlashTimer();
  EXPECT_FALSE(running);
  EXPECT_EQ(FlashTimerSource(), nullptr);
  EXPECT_TRUE(FlashEntries().empty());  // the stop frees the entries
  StartFlashTimer(nullptr);             // no source: nothing runs
  EXPECT_EQ(FlashTimerSource(), nullptr);
}

TEST(ColorStep, WorkedValues) {
  EXPECT_EQ(ColorStep(0, 0x808080, 4, 1), 0x202020);
  EXPECT_EQ(ColorStep(0, 0x808080, 4, 4), 0x808080);
  EXPECT_EQ(ColorStep(0, 0xFF, 2, 1), 0x80);                                                     // 127.5 -> 128
  EXPECT_EQ(ColorStep(0, 0xFF, 0, 1), 0xFF);                                                     // n = 0 counts as 1
  EXPECT_EQ(ColorStep(clBtnFace, static_cast<TColor>(ColorToRGB(clBtnFace)), 4, 2), clBtnFace);  // unresolved
}

TEST(AnchoredText, AnchorsPlaceTheTopLeftCorner) {
  test::FakeTextPainter painter;
  TBitmap probe = NewBitmap(1, 1);
  TCanvas m(probe, &painter);
  const std::string text = "Ag";
  const int w = m.TextWidth(text), h = m.TextHeight(text);
  auto draw = [&](int anchor, int x, int y, bool anchored) {
    TBitmap img = NewBitmap(120, 60);
    TCanvas c(img, &painter);
    c.FontColor = clWhite;
    c.BrushStyle = TBrushStyle::bsClear;
    if (anchored)
      AnchoredTextOut(c, x, y, anchor, text);
    else
      c.TextOut(x, y, text);
    return img;
  };
  EXPECT_EQ(draw(0, 50, 30, true), draw(0, 50, 30, false));
  EXPECT_EQ(draw(4, 50, 30, true), draw(0, 50 - w / 2, 30 - h / 2, false));
  EXPECT_EQ(draw(5, 50, 30, true), draw(0, 50 - w, 30 - h / 2, false));
  EXPECT_EQ(draw(7, 50, 30, true), draw(0, 50 - w / 2, 30 - h, false));
  EXPECT_EQ(draw(8, 50, 30, true), draw(0, 50 - w, 30 - h, false));
  EXPECT_EQ(draw(9, 50, 30, true), draw(0, 0, 0, false));  // any other anchor: at (0, 0)
  EXPECT_NE(draw(4, 50, 30, true), draw(0, 50, 30, false));
}

TEST(AnchoredText, EngravedTextIsHighlightShadowThenColour) {
  test::FakeTextPainter painter;
  TBitmap img = NewBitmap(40, 20);
  TCanvas c(img, &painter);
  c.BrushStyle = TBrushStyle::bsClear;
  TextOut3D(c, 10, 5, true, 0, "A", RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3));
  EXPECT_EQ(c.Pixel(9, 4), RGB(2, 2, 2));     // the shadow, up and left
  EXPECT_EQ(c.Pixel(15, 13), RGB(1, 1, 1));   // the highlight, down and right
  EXPECT_EQ(c.Pixel(10, 5), RGB(3, 3, 3));    // the text over both
  EXPECT_EQ(c.FontColor, static_cast<TColor>(RGB(3, 3, 3)));
  TBitmap flat = NewBitmap(40, 20);
  TCanvas f(flat, &painter);
  f.BrushStyle = TBrushStyle::bsClear;
  TextOut3D(f, 10, 5, false, 0, "A", RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3));
  EXPECT_EQ(f.Pixel(9, 4), 0u);
  EXPECT_EQ(f.Pixel(10, 5), RGB(3, 3, 3));
}

TEST(ButtonSettings, AssignCopiesWithOneNotificationAndRefusesOtherKinds) {
  TAbBtnBevel a, b;
  a.SetWidth(7);
  a.SetShadowColFrom(clRed);
  int notes = 0;
  b.OnChange = [&](TAbPersistent* sender) {
    EXPECT_EQ(sender, &b);
    ++notes;
  };
  a.AssignTo(b);
  EXPECT_EQ(notes, 1);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.ShadowColFrom(), clRed);
  b.SetWidth(-1);  // negative widths are ignored
  EXPECT_EQ(b.Width(), 7);
  TAbGradSettings g;
  try {
    a.AssignTo(g);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TAbBtnBevel to a TAbGradSettings");
  }
  TAbGradSettings h;
  int gnotes = 0;
  h.OnChange = [&](TAbPersistent*) { ++gnotes; };
  g.SetStyle(gsDiamond2);
  g.SetVisible(true);
  g.AssignTo(h);
  EXPECT_EQ(h.Style(), gsDiamond2);
  EXPECT_EQ(gnotes, 3);  // two setters changed something, then one more
}

}  // namespace
}  // namespace ab
