// The flash timer, the switch button's behaviour and its painting.
#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "button_drawing.h"
#include "flash_timer.h"
#include "switch_button.h"

namespace ab {
namespace {

uint32_t At(const QImage& image, int x, int y) { return FromQRgb(image.pixel(x, y)); }

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

TEST(ColorStep, WorkedValues) {
  EXPECT_EQ(ColorStep(0, 0x808080, 4, 1), 0x202020);
  EXPECT_EQ(ColorStep(0, 0x808080, 4, 4), 0x808080);
  EXPECT_EQ(ColorStep(0, 0xFF, 2, 1), 0x80);                                                     // 127.5 -> 128
  EXPECT_EQ(ColorStep(0, 0xFF, 0, 1), 0xFF);                                                     // n = 0 counts as 1
  EXPECT_EQ(ColorStep(clBtnFace, static_cast<TColor>(ColorToRGB(clBtnFace)), 4, 2), clBtnFace);  // unresolved
}

TEST(AnchoredText, AnchorsPlaceTheTopLeftCorner) {
  QImage probe = NewBitmap(1, 1);
  TCanvas m(probe);
  const std::string text = "Ag";
  const int w = m.TextWidth(text), h = m.TextHeight(text);
  auto draw = [&](int anchor, int x, int y, bool anchored) {
    QImage img = NewBitmap(120, 60);
    TCanvas c(img);
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

class Button : public ::testing::Test {
 protected:
  Button() {
    form.resize(400, 100);
    b = new TAbColBitBtn(&form);
    b->setGeometry(0, 0, 345, 33);
    b->OnClick = [this](TAbBinGControl* s) { log.push_back(std::string("click ") + (s->Checked() ? "on" : "off")); };
    b->OnStatusChanged = [this](TAbBinGControl*) { log.push_back("status"); };
  }
  ~Button() override { StopFlashTimer(); }

  void Mouse(QEvent::Type type, Qt::MouseButton button = Qt::LeftButton, QPointF at = {10, 10}) {
    QMouseEvent e(type, at, b->mapToGlobal(at), button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                  Qt::NoModifier);
    QApplication::sendEvent(b, &e);
  }
  void Click() {
    Mouse(QEvent::MouseButtonPress);
    Mouse(QEvent::MouseButtonRelease);
  }
  QImage Compose() {
    bool g, t, c, tc;
    b->LookFlags(g, t, c, tc);
    return b->ComposeButton(g, t, c, tc);
  }
  QImage PaintOn(uint32_t under_rgb) {
    QImage under = NewBitmap(b->width(), b->height());
    under.fill(ToQRgb(under_rgb));
    return b->PaintOver(under);
  }

  QWidget form;
  TAbColBitBtn* b;
  std::vector<std::string> log;
};

TEST_F(Button, SwitchTogglesOnPressAndClicksOnReleaseOver) {
  b->SetMode(mSwitch);
  Click();
  EXPECT_TRUE(b->Checked());
  EXPECT_EQ(log, (std::vector<std::string>{"status", "click on"}));
  log.clear();
  Mouse(QEvent::MouseButtonPress);
  Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, {500, 10});  // released outside
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log, std::vector<std::string>{"status"});
  log.clear();
  Mouse(QEvent::MouseButtonPress, Qt::RightButton);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton);
  EXPECT_FALSE(b->Checked());
  EXPECT_TRUE(log.empty());
}

TEST_F(Button, DoubleClickTogglesTwiceAndClicksOnce) {
  b->SetMode(mSwitch);
  Click();
  Mouse(QEvent::MouseButtonDblClick);
  Mouse(QEvent::MouseButtonRelease);
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log, (std::vector<std::string>{"status", "click on", "status"}));
}

TEST_F(Button, PushButtonIsCheckedWhileHeld) {
  b->SetMode(mButton);
  Mouse(QEvent::MouseButtonPress);
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(b->Pressed());
  Mouse(QEvent::MouseButtonRelease);
  EXPECT_FALSE(b->Checked());
  EXPECT_FALSE(b->Pressed());
  EXPECT_EQ(log, (std::vector<std::string>{"status", "click on", "status"}));
}

TEST_F(Button, IndicatorIgnoresClicksButRaisesOnClick) {
  b->SetMode(mIndicator);
  Click();
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log, std::vector<std::string>{"click off"});
}

TEST_F(Button, CheckedFromCodeRaisesStatusButNoClick) {
  b->SetChecked(true);
  b->SetChecked(true);
  EXPECT_EQ(log, std::vector<std::string>{"status"});
}

TEST_F(Button, DisabledButtonIgnoresTheMouse) {
  b->SetMode(mSwitch);
  b->SetFlat(true);
  b->SetEnabled(false);
  EXPECT_FALSE(b->Enabled());
  form.show();
  Click();
  EXPECT_FALSE(b->Checked());
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(b, &enter);
  EXPECT_FALSE(b->Hot());
}

TEST_F(Button, RadioAndSwitchGroupsShareStatusInt) {
  auto* second = new TAbColBitBtn(&form);
  second->setGeometry(0, 40, 100, 33);
  for (TAbColBitBtn* x : {b, second}) {
    x->SetMode(mRadioButton);
    x->SetGroupIndex(1);
  }
  second->SetStatusBit(1);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), second->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(second, &press);
  EXPECT_EQ(b->StatusInt(), 2);
  EXPECT_EQ(second->StatusInt(), 2);
  EXPECT_FALSE(b->Checked());
  EXPECT_TRUE(second->Checked());

  for (TAbColBitBtn* x : {b, second}) {
    x->SetGroupIndex(2);
    x->SetMode(mSwitch);
  }
  b->SetStatusInt(0);  // the whole group follows
  EXPECT_EQ(second->StatusInt(), 0);
  b->SetStatusBit(0);
  second->SetStatusBit(3);
  b->SetChecked(true);
  second->SetChecked(true);
  EXPECT_EQ(b->StatusInt(), 9);
  EXPECT_EQ(second->StatusInt(), 9);
}

TEST_F(Button, OutOfRangeSettersChangeNothing) {
  b->SetStatusBit(32);
  b->SetStatusBit(-1);
  EXPECT_EQ(b->StatusBit(), 0);
  b->SetGroupIndex(-1);
  EXPECT_EQ(b->GroupIndex(), 0);
  b->SetNumGlyph(0);
  EXPECT_EQ(b->NumGlyph(), 1);
  b->SetMode(mRadioButton);
  b->SetStatusInt(0);
  b->SetMode(mRadioButton);  // the same mode again still sets StatusInt
  EXPECT_EQ(b->StatusInt(), 1);
}

TEST_F(Button, FlashingRegistersOnlyWhileCheckedAndAlternatesItsLook) {
  b->SetChecked(true);
  EXPECT_TRUE(FlashEntries().empty());
  b->SetFlashing(true);
  ASSERT_EQ(FlashEntries().size(), 1u);
  EXPECT_EQ(FlashEntries()[0]->Rate, 8u);
  b->SetFrequency(ff4Hz);
  EXPECT_EQ(FlashEntries()[0]->Rate, 2u);
  FlashCounter = 0;
  FlashEntries()[0]->Mark = FlashCounter;
  std::vector<bool> text_looks;
  for (int i = 0; i < 5; ++i) {
    FlashTick();
    bool g, t, c, tc;
    b->LookFlags(g, t, c, tc);
    text_looks.push_back(t);
  }
  // Counter 1..5 with rate 2: the phase follows bit 1 of the counter.
  EXPECT_EQ(text_looks, (std::vector<bool>{false, true, true, false, false}));
  b->SetChecked(false);
  EXPECT_TRUE(FlashEntries().empty());
  bool g, t, c, tc;
  b->LookFlags(g, t, c, tc);
  EXPECT_FALSE(g || t || c || tc);
}

TEST_F(Button, StartSwitchBevelRingsAndCaptionPlace) {
  b->SetMode(mSwitch);
  b->SetTextOff("Старт BootLoader");
  b->SetTextOn("BootLoader запущен");
  b->SetText3D(false);
  const uint32_t under = RGB(1, 2, 3);
  const QImage off = PaintOn(under);
  TAbBtnBevel& bevel = b->ButtonBevel();
  auto rgb = [](TColor c) { return ColorToRGB(c); };
  // Raised: top/left from highlight, right/bottom from shadow; corners as the bottom colour.
  for (int i = 1; i <= 4; ++i) {
    const int k = i - 1;
    EXPECT_EQ(At(off, k + 5, k), rgb(ColorStep(bevel.HighlightColFrom(), bevel.HighlightColTo(), 4, i))) << i;
    EXPECT_EQ(At(off, k, k + 5), rgb(ColorStep(bevel.HighlightColFrom(), bevel.HighlightColTo(), 4, i))) << i;
    EXPECT_EQ(At(off, 344 - k, k + 5), rgb(ColorStep(bevel.ShadowColFrom(), bevel.ShadowColTo(), 4, i))) << i;
    EXPECT_EQ(At(off, 344 - k, k), rgb(ColorStep(bevel.ShadowColFrom(), bevel.ShadowColTo(), 4, i))) << i;
    EXPECT_EQ(At(off, k, 32 - k), rgb(ColorStep(bevel.ShadowColFrom(), bevel.ShadowColTo(), 4, i))) << i;
  }
  EXPECT_EQ(At(off, 4, 4), RGB(240, 240, 240));  // the face's first gradient row inside the bevel
  b->SetChecked(true);
  const QImage on = Compose();
  for (int i = 1; i <= 4; ++i) {
    const int k = i - 1;
    EXPECT_EQ(At(on, k + 5, k), rgb(ColorStep(bevel.ShadowColTo(), bevel.ShadowColFrom(), 4, i))) << i;
    EXPECT_EQ(At(on, 344 - k, k + 5), rgb(ColorStep(bevel.HighlightColTo(), bevel.HighlightColFrom(), 4, i))) << i;
  }

  // The caption: middle-left anchored at (172 - TW div 2, 16), one pixel lower and right when checked.
  QImage probe = NewBitmap(1, 1);
  TCanvas m(probe);
  m.Font = b->font();
  const int TW = std::max(m.TextWidth(b->TextOn()), m.TextWidth(b->TextOff()));
  const int h = m.TextHeight(b->TextOn());
  auto text_only = [&](const std::string& text, int x, int y) {
    QImage img = NewBitmap(345, 33);
    TCanvas c(img);
    c.Font = b->font();
    c.FontColor = clWhite;
    c.BrushStyle = TBrushStyle::bsClear;
    c.TextOut(x, y - h / 2, text);
    return img;
  };
  auto caption_pixels = [&](const QImage& with_text, const QImage& without) {
    QImage mask = NewBitmap(345, 33);
    for (int y = 0; y < 33; ++y)
      for (int x = 0; x < 345; ++x)
        if (with_text.pixel(x, y) != without.pixel(x, y)) mask.setPixel(x, y, qRgb(255, 255, 255));
    return mask;
  };
  b->SetChecked(false);
  const std::string off_text = b->TextOff(), on_text = b->TextOn();
  const QImage with_off = Compose();
  b->SetTextOff("");
  b->SetTextOn("");
  const QImage bare_off = Compose();
  EXPECT_EQ(caption_pixels(with_off, bare_off), text_only(off_text, 172 - TW / 2, 16));
  b->SetTextOff(off_text);
  b->SetTextOn(on_text);
  b->SetChecked(true);
  const QImage with_on = Compose();
  b->SetTextOff("");
  b->SetTextOn("");
  const QImage bare_on = Compose();
  EXPECT_EQ(caption_pixels(with_on, bare_on), text_only(on_text, 173 - TW / 2, 17));
}

TEST_F(Button, FlatTransparentAndGlyphCells) {
  b->GradBtnFace().SetVisible(false);
  b->SetColorOff(RGB(10, 20, 30));
  b->SetFlat(true);
  const QImage flat = PaintOn(RGB(1, 1, 1));
  EXPECT_EQ(At(flat, 0, 0), RGB(10, 20, 30));  // no bevel, the whole client rectangle is face
  EXPECT_EQ(At(flat, 344, 32), RGB(10, 20, 30));

  b->SetFlat(false);
  b->SetTransparent(true);
  const QImage clear = PaintOn(RGB(7, 7, 7));
  EXPECT_EQ(At(clear, 100, 30 - 4 - 5), RGB(7, 7, 7));  // no fill: the background shows
  EXPECT_NE(At(clear, 0, 5), RGB(7, 7, 7));             // the rings are still drawn
  b->SetTransparent(false);

  // Two cells: red, then blue; the bottom-left pixel's colour (green) is transparent.
  QImage glyph = NewBitmap(20, 10);
  glyph.fill(qRgb(255, 0, 0));
  for (int y = 0; y < 10; ++y)
    for (int x = 10; x < 20; ++x) glyph.setPixel(x, y, qRgb(0, 0, 255));
  glyph.setPixel(0, 9, qRgb(0, 255, 0));
  b->SetGlyph(glyph);
  b->SetNumGlyph(2);
  b->SetTextOn("");
  b->SetTextOff("");
  const QImage normal = PaintOn(0);
  // No text: the 10-pixel cell is centred in the inner rectangle (4, 4, 341, 29).
  const int gx = 172 - 10 / 2, gy = 16 - 10 / 2;
  EXPECT_EQ(At(normal, gx + 3, gy + 3), RGB(255, 0, 0));
  EXPECT_EQ(At(normal, gx, gy + 9), RGB(10, 20, 30));  // the transparent pixel leaves the face
  b->SetChecked(true);                                 // two cells: the checked look still uses cell 0
  EXPECT_EQ(At(Compose(), gx + 4, gy + 4), RGB(255, 0, 0));
  b->SetChecked(false);
  b->SetEnabled(false);
  EXPECT_EQ(At(Compose(), gx + 3, gy + 3), RGB(0, 0, 255));
}

TEST_F(Button, EmptyTextOffShowsTextOnInBothStates) {
  b->SetMode(mSwitch);
  b->SetTextOn("ON");
  b->SetText3D(false);
  b->GradBtnFace().SetVisible(false);
  b->SetColorOff(0);
  b->SetColorOn(0);
  b->SetTextColOff(RGB(200, 0, 0));
  b->SetTextColOn(RGB(0, 200, 0));
  PaintOn(0);
  auto count = [](const QImage& img, uint32_t c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) n += At(img, x, y) == c;
    return n;
  };
  const QImage off = Compose();
  b->SetChecked(true);
  const QImage on = Compose();
  EXPECT_GT(count(off, RGB(200, 0, 0)), 0);
  EXPECT_EQ(count(off, RGB(200, 0, 0)), count(on, RGB(0, 200, 0)));
}

}  // namespace
}  // namespace ab
