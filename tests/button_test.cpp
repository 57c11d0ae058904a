// The switch button's behaviour (mouse, keys, focus, groups, flashing,
// repaints) and its painting, over a fake host and the fake text painter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "button_drawing.h"
#include "fake_control_host.h"
#include "flash_timer.h"
#include "switch_button.h"

namespace ab {
namespace {

using test::At;
using test::FakeHost;
using test::FakeTextPainter;
constexpr TMouseButton kLeft = TMouseButton::mbLeft, kRight = TMouseButton::mbRight;

class Button : public ::testing::Test {
 protected:
  Button() {
    host.visible = false;  // as before the window shows: setters compose nothing
    host.text = &painter;
    host.siblings = {b};
    b->OnClick = [this](TAbBinGControl* s) { log.push_back(std::string("click ") + (s->Checked() ? "on" : "off")); };
    b->OnStatusChanged = [this](TAbBinGControl*) { log.push_back("status"); };
  }
  ~Button() override { StopFlashTimer(); }

  void Click() {
    b->MouseDown(kLeft, 10, 10);
    b->MouseUp(kLeft, 10, 10, true);
  }
  TBitmap Compose() {
    bool g, t, c, tc;
    b->LookFlags(g, t, c, tc);
    return b->ComposeButton(g, t, c, tc);
  }
  TBitmap PaintOn(uint32_t under_rgb) {
    TBitmap under = NewBitmap(b->Width(), b->Height());
    under.Fill(ToPixel(under_rgb));
    return b->PaintOver(under);
  }

  FakeHost host{{345, 33}};
  FakeTextPainter painter;
  TAbColBitBtn button{&host};
  TAbColBitBtn* b = &button;
  std::vector<std::string> log;
};

TEST_F(Button, SwitchTogglesOnPressAndClicksOnReleaseOver) {
  b->SetMode(mSwitch);
  Click();
  EXPECT_TRUE(b->Checked());
  EXPECT_EQ(log, (std::vector<std::string>{"status", "click on"}));
  log.clear();
  b->MouseDown(kLeft, 10, 10);
  b->MouseUp(kLeft, 500, 10, false);  // released outside
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log, std::vector<std::string>{"status"});
  log.clear();
  b->MouseDown(kRight, 10, 10);
  b->MouseUp(kRight, 10, 10, true);
  EXPECT_FALSE(b->Checked());
  EXPECT_TRUE(log.empty());
}

TEST_F(Button, DoubleClickTogglesTwiceAndClicksOnce) {
  b->SetMode(mSwitch);
  int double_clicks = 0;
  b->OnDblClick = [&](TAbBinGControl*) { ++double_clicks; };
  Click();
  b->MouseDoubleClick(kLeft, 10, 10);
  b->MouseUp(kLeft, 10, 10, true);
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log, (std::vector<std::string>{"status", "click on", "status"}));
  EXPECT_EQ(double_clicks, 1);
}

TEST_F(Button, PushButtonIsCheckedWhileHeld) {
  b->SetMode(mButton);
  b->MouseDown(kLeft, 10, 10);
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(b->Pressed());
  b->MouseUp(kLeft, 10, 10, true);
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
  int moves = 0, downs = 0;
  b->OnMouseMove = [&](TAbBinGControl*) { ++moves; };
  b->OnMouseDown = [&](TAbBinGControl*) { ++downs; };
  b->SetEnabled(false);
  b->SetEnabled(false);
  EXPECT_FALSE(b->Enabled());
  EXPECT_EQ(host.enabled_changes, std::vector<bool>{false});  // the host stops the mouse too
  host.visible = true;
  Click();
  b->MouseDoubleClick(kLeft, 10, 10);
  b->MouseMove(3, 3);
  EXPECT_FALSE(b->Checked());
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(moves + downs, 0);
  b->MouseEnter();
  EXPECT_FALSE(b->Hot());
  b->SetEnabled(true);
  b->MouseMove(3, 3);
  EXPECT_EQ(moves, 1);
}

// The keyboard's press, step by step. Steps: "v KEY" a key goes down, "^ KEY"
// it comes up (KEY: space, enter, other), "mouse-v" and "mouse-^" the left
// button over the control, "blur" the focus leaves, "disable" and "enable".
struct KeyCase {
  const char* name;
  TMode mode;
  const char* steps;  // separated by ","
  std::vector<std::string> log;
  bool checked;  // at the end
};

const KeyCase kKeyCases[] = {
    {"space", mSwitch, "v space, ^ space", {"key down", "status", "click on", "key up"}, true},
    {"enter", mSwitch, "v enter, ^ enter", {"key down", "status", "click on", "key up"}, true},
    {"twice", mSwitch, "v space, ^ space, v enter, ^ enter",
     {"key down", "status", "click on", "key up", "key down", "status", "click off", "key up"}, false},
    {"held key repeats one press", mSwitch, "v space, v space, v space, v space, ^ space",
     {"key down", "status", "click on", "key up"}, true},
    {"the other key while held", mSwitch, "v space, v enter, ^ enter, ^ space",
     {"key down", "status", "click on", "key up"}, true},
    {"a release without a press", mSwitch, "^ space, ^ enter", {}, false},
    {"other keys", mSwitch, "v other, ^ other", {}, false},
    {"focus lost while held: no click", mSwitch, "v space, blur, ^ space", {"key down", "status", "key up"}, true},
    {"keys while the mouse holds it", mSwitch, "mouse-v, v space, ^ space, mouse-^",
     {"mouse down", "status", "click on", "mouse up"}, true},
    {"the mouse while a key holds it", mSwitch, "v space, mouse-v, mouse-^, ^ space",
     {"key down", "status", "click on", "key up"}, true},
    {"disabled", mSwitch, "disable, v space, ^ space, v enter, ^ enter", {}, false},
    {"disabled while held: no click", mSwitch, "v enter, disable, enable, ^ enter",
     {"key down", "status", "key up"}, true},
    {"push button checked while held", mButton, "v space, ^ space",
     {"key down", "status", "click on", "key up", "status"}, false},
    {"indicator clicks and stays", mIndicator, "v space, ^ space", {"key down", "click off", "key up"}, false},
};

class ButtonKeys : public Button, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ButtonKeys, PressesAsTheMouseDoes) {
  const KeyCase& c = GetParam();
  b->SetMode(c.mode);
  b->OnKeyDown = [this](TAbBinGControl*) { log.push_back("key down"); };
  b->OnKeyUp = [this](TAbBinGControl*) { log.push_back("key up"); };
  b->OnMouseDown = [this](TAbBinGControl*) { log.push_back("mouse down"); };
  b->OnMouseUp = [this](TAbBinGControl*) { log.push_back("mouse up"); };
  b->SetFocused(true);
  log.clear();
  const auto key = [](const std::string& name) {
    return name == "space" ? TKey::kSpace : name == "enter" ? TKey::kEnter : TKey::kOther;
  };
  std::stringstream steps(c.steps);
  for (std::string step; std::getline(steps >> std::ws, step, ',');) {
    if (step.rfind("v ", 0) == 0)
      b->KeyDown(key(step.substr(2)));
    else if (step.rfind("^ ", 0) == 0)
      b->KeyUp(key(step.substr(2)));
    else if (step == "mouse-v")
      b->MouseDown(kLeft, 10, 10);
    else if (step == "mouse-^")
      b->MouseUp(kLeft, 10, 10, true);
    else if (step == "blur")
      b->SetFocused(false);
    else if (step == "disable")
      b->SetEnabled(false);
    else if (step == "enable")
      b->SetEnabled(true);
    else
      FAIL() << "unknown step " << step;
  }
  EXPECT_EQ(log, c.log);
  EXPECT_EQ(b->Checked(), c.checked);
  EXPECT_FALSE(b->KeyHeld());
  EXPECT_FALSE(b->Pressed());
}

INSTANTIATE_TEST_SUITE_P(Keys, ButtonKeys, ::testing::ValuesIn(kKeyCases),
                         [](const ::testing::TestParamInfo<KeyCase>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name))
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

TEST_F(Button, FocusEntersAndExitsOnceEach) {
  int enters = 0, exits = 0;
  b->OnEnter = [&](TAbBinGControl*) { ++enters; };
  b->OnExit = [&](TAbBinGControl*) { ++exits; };
  b->SetFocused(true);
  b->SetFocused(true);
  EXPECT_TRUE(b->Focused());
  b->SetFocused(false);
  b->SetFocused(false);
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(exits, 1);
}

// The focused face has a dotted frame a pixel inside the bevel: every other
// pixel, black over the light part of the face and white over the dark; the
// rest of the picture is as without the focus. A disabled button shows none.
TEST_F(Button, FocusShowsADottedFrameInsideTheBevel) {
  b->SetMode(mSwitch);
  b->SetTextOff("Старт BootLoader");
  host.visible = true;
  const TBitmap plain = PaintOn(RGB(1, 2, 3));
  b->SetFocused(true);
  const TBitmap focused = Compose();
  const int inset = b->ButtonBevel().Width() + 1;  // 5: the frame's left and top
  const TRect frame{inset, inset, 345 - inset, 33 - inset};
  int black = 0, white = 0;
  for (int y = 0; y < 33; ++y)
    for (int x = 0; x < 345; ++x) {
      const bool edge = (x == frame.Left || x == frame.Right - 1) && y >= frame.Top && y < frame.Bottom;
      const bool rim = (y == frame.Top || y == frame.Bottom - 1) && x >= frame.Left && x < frame.Right;
      if ((edge || rim) && (x + y) % 2 == 0) {
        const uint32_t under = At(plain, x, y);
        const bool light = RedOf(under) * 299 + GreenOf(under) * 587 + BlueOf(under) * 114 >= 128000;
        ASSERT_EQ(At(focused, x, y), light ? 0u : 0xFFFFFFu) << x << "," << y;
        ++(light ? black : white);
      } else {
        ASSERT_EQ(At(focused, x, y), At(plain, x, y)) << x << "," << y;
      }
    }
  EXPECT_GT(black, 100);  // the gradient's light part
  b->SetFocused(false);
  EXPECT_EQ(Compose(), plain);
  b->SetFocused(true);
  b->SetEnabled(false);
  b->SetEnabled(true);
  EXPECT_EQ(Compose(), focused);
  b->SetEnabled(false);
  const TBitmap disabled_focused = Compose();
  b->SetFocused(false);
  EXPECT_EQ(Compose(), disabled_focused);
}

TEST_F(Button, FocusRepaintsTheButton) {
  host.visible = true;
  PaintOn(RGB(1, 1, 1));
  const int repaints = host.repaints;
  b->SetFocused(true);
  EXPECT_EQ(host.repaints, repaints + 1);
  b->SetFocused(false);
  EXPECT_EQ(host.repaints, repaints + 2);
}

TEST_F(Button, RadioAndSwitchGroupsShareStatusInt) {
  FakeHost second_host({100, 33});
  TAbColBitBtn other(&second_host);
  TAbColBitBtn* second = &other;
  host.siblings = second_host.siblings = {b, second};
  for (TAbColBitBtn* x : {b, second}) {
    x->SetMode(mRadioButton);
    x->SetGroupIndex(1);
  }
  second->SetStatusBit(1);
  second->MouseDown(kLeft, 5, 5);
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

  // A control joining a group takes the group's StatusInt.
  FakeHost third_host({10, 10});
  TAbColBitBtn third(&third_host);
  third_host.siblings = {b, second, &third};
  third.SetMode(mSwitch);
  third.SetStatusBit(3);
  third.SetGroupIndex(2);
  EXPECT_EQ(third.StatusInt(), 9);
  EXPECT_TRUE(third.Checked());
  third.SetGroupIndex(5);  // a group of its own: it keeps what it has
  EXPECT_EQ(third.StatusInt(), 9);
}

// A handler that throws during a group's propagation leaves the later
// propagations working.
TEST_F(Button, AFailingHandlerDoesNotStopLaterGroupPropagation) {
  FakeHost second_host({100, 33});
  TAbColBitBtn second(&second_host);
  host.siblings = second_host.siblings = {b, &second};
  for (TAbColBitBtn* x : {b, &second}) {
    x->SetMode(mSwitch);
    x->SetGroupIndex(4);
  }
  bool fail = true;
  second.OnStatusIntChanged = [&](TAbBinGControl*) {
    if (fail) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(b->SetStatusInt(3), std::runtime_error);
  fail = false;
  b->SetStatusInt(5);
  EXPECT_EQ(second.StatusInt(), 5);
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
  const TBitmap off = PaintOn(under);
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
  const TBitmap on = Compose();
  for (int i = 1; i <= 4; ++i) {
    const int k = i - 1;
    EXPECT_EQ(At(on, k + 5, k), rgb(ColorStep(bevel.ShadowColTo(), bevel.ShadowColFrom(), 4, i))) << i;
    EXPECT_EQ(At(on, 344 - k, k + 5), rgb(ColorStep(bevel.HighlightColTo(), bevel.HighlightColFrom(), 4, i))) << i;
  }

  // The caption: middle-left anchored at (172 - TW div 2, 16), one pixel lower and right when checked.
  TBitmap probe = NewBitmap(1, 1);
  TCanvas m(probe, &painter);
  m.Font = b->Font();
  const int TW = std::max(m.TextWidth(b->TextOn()), m.TextWidth(b->TextOff()));
  const int h = m.TextHeight(b->TextOn());
  auto text_only = [&](const std::string& text, int x, int y) {
    TBitmap img = NewBitmap(345, 33);
    TCanvas c(img, &painter);
    c.Font = b->Font();
    c.FontColor = clWhite;
    c.BrushStyle = TBrushStyle::bsClear;
    c.TextOut(x, y - h / 2, text);
    return img;
  };
  auto caption_pixels = [&](const TBitmap& with_text, const TBitmap& without) {
    TBitmap mask = NewBitmap(345, 33);
    for (int y = 0; y < 33; ++y)
      for (int x = 0; x < 345; ++x)
        if (with_text.At(x, y) != without.At(x, y)) mask.Set(x, y, ToPixel(clWhite));
    return mask;
  };
  b->SetChecked(false);
  const std::string off_text = b->TextOff(), on_text = b->TextOn();
  const TBitmap with_off = Compose();
  b->SetTextOff("");
  b->SetTextOn("");
  const TBitmap bare_off = Compose();
  EXPECT_EQ(caption_pixels(with_off, bare_off), text_only(off_text, 172 - TW / 2, 16));
  b->SetTextOff(off_text);
  b->SetTextOn(on_text);
  b->SetChecked(true);
  const TBitmap with_on = Compose();
  b->SetTextOff("");
  b->SetTextOn("");
  const TBitmap bare_on = Compose();
  EXPECT_EQ(caption_pixels(with_on, bare_on), text_only(on_text, 173 - TW / 2, 17));
}

TEST_F(Button, FlatTransparentAndGlyphCells) {
  b->GradBtnFace().SetVisible(false);
  b->SetColorOff(RGB(10, 20, 30));
  b->SetFlat(true);
  const TBitmap flat = PaintOn(RGB(1, 1, 1));
  EXPECT_EQ(At(flat, 0, 0), RGB(10, 20, 30));  // no bevel, the whole client rectangle is face
  EXPECT_EQ(At(flat, 344, 32), RGB(10, 20, 30));

  b->SetFlat(false);
  b->SetTransparent(true);
  const TBitmap clear = PaintOn(RGB(7, 7, 7));
  EXPECT_EQ(At(clear, 100, 30 - 4 - 5), RGB(7, 7, 7));  // no fill: the background shows
  EXPECT_NE(At(clear, 0, 5), RGB(7, 7, 7));             // the rings are still drawn
  b->SetTransparent(false);

  // Two cells: red, then blue; the bottom-left pixel's colour (green) is transparent.
  TBitmap glyph = NewBitmap(20, 10);
  glyph.Fill(ToPixel(RGB(255, 0, 0)));
  for (int y = 0; y < 10; ++y)
    for (int x = 10; x < 20; ++x) glyph.Set(x, y, ToPixel(RGB(0, 0, 255)));
  glyph.Set(0, 9, ToPixel(RGB(0, 255, 0)));
  b->SetGlyph(glyph);
  b->SetNumGlyph(2);
  b->SetTextOn("");
  b->SetTextOff("");
  const TBitmap normal = PaintOn(0);
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
  auto count = [](const TBitmap& img, uint32_t c) {
    int n = 0;
    for (int y = 0; y < img.Height(); ++y)
      for (int x = 0; x < img.Width(); ++x) n += At(img, x, y) == c;
    return n;
  };
  const TBitmap off = Compose();
  b->SetChecked(true);
  const TBitmap on = Compose();
  EXPECT_GT(count(off, RGB(200, 0, 0)), 0);
  EXPECT_EQ(count(off, RGB(200, 0, 0)), count(on, RGB(0, 200, 0)));
}

TEST_F(Button, PaintCapturesTheBackgroundOnceUntilInvalidated) {
  host.visible = true;
  host.background_rgb = RGB(5, 6, 7);
  b->GradBtnFace().SetVisible(false);
  b->SetTransparent(true);  // the background shows through the face
  b->BecameVisible();
  const int invalidations = host.invalidations;
  const TBitmap first = b->Paint();
  EXPECT_EQ(host.captures, 1);
  EXPECT_EQ(At(first, 100, 16), RGB(5, 6, 7));
  EXPECT_EQ(At(b->Background(), 100, 16), RGB(5, 6, 7));
  host.background_rgb = RGB(8, 8, 8);
  b->Paint();
  EXPECT_EQ(host.captures, 1);  // still the first capture
  b->SetChecked(true);          // a state change composes from it and repaints now
  EXPECT_EQ(host.captures, 1);
  EXPECT_GE(host.repaints, 1);
  EXPECT_EQ(At(b->Paint(), 100, 16), RGB(5, 6, 7));
  b->SetTransparent(false);  // a change of the face invalidates: the next paint captures again
  b->SetTransparent(true);
  EXPECT_EQ(host.invalidations, invalidations + 2);
  EXPECT_EQ(At(b->Paint(), 100, 16), RGB(8, 8, 8));
  EXPECT_EQ(host.captures, 2);
  host.size = {200, 40};  // a new size: captured again, at that size
  const TBitmap resized = b->Paint();
  EXPECT_EQ(host.captures, 3);
  EXPECT_EQ(resized.Width(), 200);
  EXPECT_EQ(resized.Height(), 40);
}

TEST_F(Button, StateChangesComposeAndRepaintOnlyWhileVisible) {
  b->SetMode(mSwitch);
  const int composed = b->ComposeCount();
  b->SetChecked(true);
  b->SetTextOn("on");
  EXPECT_EQ(b->ComposeCount(), composed);
  EXPECT_EQ(host.repaints, 0);
  host.visible = true;
  b->SetTextOn("ON");
  EXPECT_EQ(b->ComposeCount(), composed + 1);
  EXPECT_EQ(host.repaints, 1);
  b->SetTextOn("ON");  // unchanged: nothing
  EXPECT_EQ(host.repaints, 1);
  b->MouseDown(kLeft, 1, 1);  // the press composes the new look
  EXPECT_GT(host.repaints, 1);
}

TEST_F(Button, FaceChangesRepaintTheButtonOnlyAfterLoaded) {
  b->GradBtnFace().SetStyle(gsDiamond1);
  b->ButtonBevel().SetWidth(2);
  EXPECT_EQ(host.invalidations, 0);
  b->Loaded();
  b->GradBtnFace().SetStyle(gsDiamond2);
  b->ButtonBevel().SetWidth(3);
  EXPECT_EQ(host.invalidations, 2);
}

TEST_F(Button, FlatButtonIsHotUnderTheMouseUnlessItIsHeld) {
  host.visible = true;
  PaintOn(RGB(1, 1, 1));
  b->MouseEnter();
  EXPECT_FALSE(b->Hot());  // not flat
  b->SetFlat(true);
  host.captured = true;  // a button is down elsewhere
  b->MouseEnter();
  EXPECT_FALSE(b->Hot());
  host.captured = false;
  b->MouseEnter();
  EXPECT_TRUE(b->Hot());
  const TBitmap hot = Compose();
  b->MouseLeave();
  EXPECT_FALSE(b->Hot());
  EXPECT_NE(hot, Compose());  // the bevel shows only while hot
}

TEST_F(Button, CaptionUsesTheButtonsFontBoldByDefault) {
  host.visible = true;
  PaintOn(RGB(1, 1, 1));
  EXPECT_TRUE(b->Font().Bold);
  b->SetTextOff("x");
  EXPECT_EQ(painter.last_font, b->Font());
  const TFont plain{"Serif", 9, 0, false};
  b->SetFont(plain);
  EXPECT_EQ(painter.last_font, plain);  // a new font is composed at once
  host.text = nullptr;                  // no painter: the face without a caption
  const TBitmap bare = Compose();
  host.text = &painter;
  EXPECT_NE(bare, Compose());
}

TEST(ButtonHost, WithoutAHostThereIsNoSizeAndNoRepaint) {
  TAbColBitBtn b(nullptr);
  b.SetMode(mSwitch);
  b.MouseDown(TMouseButton::mbLeft, 1, 1);
  EXPECT_TRUE(b.Checked());
  EXPECT_TRUE(b.Paint().Empty());
  b.SetGroupIndex(3);  // no siblings to follow
  EXPECT_EQ(b.StatusInt(), 1);
}

}  // namespace
}  // namespace ab
