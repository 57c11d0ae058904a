// The Qt adapter of the painted controls: the widgets pass the mouse, the
// keys and the focus to their core control and show its bitmap, the siblings of a parent form groups, the
// Qt text painter draws as QPainter does, the palette gives the system
// colours and the flash tick comes from a precise 50 ms QTimer.
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gauge_widget.h"
#include "qt_bitmap.h"
#include "qt_flash_timer.h"
#include "qt_text_painter.h"
#include "switch_button_widget.h"

namespace ab::qt {
namespace {

void Mouse(QWidget* target, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(type, at, target->mapToGlobal(at), button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                Qt::NoModifier);
  QApplication::sendEvent(target, &e);
}

// What the widget shows on the screen, as 32-bit RGB.
QImage Shown(QWidget& form, QWidget& control) {
  return form.grab(control.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

class SwitchWidget : public ::testing::Test {
 protected:
  SwitchWidget() {
    form.resize(400, 120);
    w = new SwitchButtonWidget(&form);
    w->setGeometry(8, 8, 345, 33);
    w->Button().SetMode(mSwitch);
    w->Button().OnClick = [this](TAbBinGControl*) { log.push_back("click"); };
    w->Button().OnDblClick = [this](TAbBinGControl*) { log.push_back("double"); };
    w->Button().OnMouseMove = [this](TAbBinGControl*) { log.push_back("move"); };
  }
  ~SwitchWidget() override { StopFlashTimer(); }

  QWidget form;
  SwitchButtonWidget* w;
  std::vector<std::string> log;
};

TEST_F(SwitchWidget, MouseEventsReachTheButton) {
  Mouse(w, QEvent::MouseButtonPress, {10, 10});
  EXPECT_TRUE(w->Button().Checked());
  EXPECT_TRUE(w->Button().Pressed());
  Mouse(w, QEvent::MouseButtonRelease, {10, 10});
  EXPECT_FALSE(w->Button().Pressed());
  EXPECT_EQ(log, std::vector<std::string>{"click"});
  Mouse(w, QEvent::MouseButtonPress, {10, 10});
  Mouse(w, QEvent::MouseButtonRelease, {-20, 10});  // outside: no click
  EXPECT_FALSE(w->Button().Checked());
  EXPECT_EQ(log.size(), 1u);
  Mouse(w, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton);
  EXPECT_FALSE(w->Button().Checked());
  Mouse(w, QEvent::MouseButtonDblClick, {10, 10});
  Mouse(w, QEvent::MouseButtonRelease, {10, 10});
  EXPECT_TRUE(w->Button().Checked());
  Mouse(w, QEvent::MouseMove, {12, 12});  // with the button held: no tracking needed
  EXPECT_EQ(log, (std::vector<std::string>{"click", "double", "move"}));
  PressAndRelease(w);
  EXPECT_FALSE(w->Button().Checked());
  EXPECT_EQ(log.back(), "click");
}

void Key(QWidget* target, QEvent::Type type, int key, bool auto_repeat = false,
         Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent e(type, key, modifiers, QString(), auto_repeat);
  QApplication::sendEvent(target, &e);
}

// Space and Enter (main and keypad) press the button as a click; a held key's
// auto-repeat (a release and a press, both marked) is still the one press.
TEST_F(SwitchWidget, SpaceAndEnterPressTheButtonOnce) {
  EXPECT_EQ(w->focusPolicy(), Qt::StrongFocus);
  using T = QEvent::Type;
  Key(w, T::KeyPress, Qt::Key_Space);
  EXPECT_TRUE(w->Button().Checked());
  EXPECT_TRUE(w->Button().Pressed());
  for (int i = 0; i < 3; ++i) {
    Key(w, T::KeyRelease, Qt::Key_Space, true);
    Key(w, T::KeyPress, Qt::Key_Space, true);
  }
  EXPECT_TRUE(log.empty());  // the click comes with the release
  EXPECT_TRUE(w->Button().Pressed());
  Key(w, T::KeyRelease, Qt::Key_Space);
  EXPECT_FALSE(w->Button().Pressed());
  EXPECT_TRUE(w->Button().Checked());
  EXPECT_EQ(log, std::vector<std::string>{"click"});
  for (const int enter : {Qt::Key_Return, Qt::Key_Enter}) {
    Key(w, T::KeyPress, enter, false, enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    Key(w, T::KeyRelease, enter, false, enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"click", "click", "click"}));
  EXPECT_TRUE(w->Button().Checked());  // three toggles
  // With a modifier, and other keys: nothing.
  Key(w, T::KeyPress, Qt::Key_Space, false, Qt::ControlModifier);
  Key(w, T::KeyRelease, Qt::Key_Space, false, Qt::ControlModifier);
  Key(w, T::KeyPress, Qt::Key_A);
  Key(w, T::KeyRelease, Qt::Key_A);
  EXPECT_EQ(log.size(), 3u);
  EXPECT_TRUE(w->Button().Checked());
}

// The focus reaches the button, which shows it on its face; a key held when
// the focus leaves is no click.
TEST_F(SwitchWidget, FocusIsShownAndEndsAHeldKey) {
  form.show();
  const QImage unfocused = Shown(form, *w);
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(w, &in);
  EXPECT_TRUE(w->Button().Focused());
  const QImage focused = Shown(form, *w);
  EXPECT_NE(focused, unfocused);
  EXPECT_EQ(focused.pixel(5, 5), qRgb(0, 0, 0));  // the frame's first dot on the light face
  Key(w, QEvent::KeyPress, Qt::Key_Space);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(w, &out);
  EXPECT_FALSE(w->Button().Focused());
  EXPECT_FALSE(w->Button().Pressed());
  Key(w, QEvent::KeyRelease, Qt::Key_Space);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(w->Button().Checked());  // the press's toggle, as a press dragged off with the mouse
  w->Button().SetChecked(false);
  EXPECT_EQ(Shown(form, *w), unfocused) << "the frame is gone with the focus";
}

TEST_F(SwitchWidget, DisablingTheButtonDisablesTheWidget) {
  w->Button().SetEnabled(false);
  EXPECT_FALSE(w->isEnabled());
  PressAndRelease(w);
  EXPECT_FALSE(w->Button().Checked());
  w->Button().SetEnabled(true);
  EXPECT_TRUE(w->isEnabled());
}

TEST_F(SwitchWidget, EnterAndLeaveGiveAFlatButtonItsHotLook) {
  w->Button().SetFlat(true);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(w, &enter);
  EXPECT_TRUE(w->Button().Hot());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(w, &leave);
  EXPECT_FALSE(w->Button().Hot());
}

TEST_F(SwitchWidget, ShowsTheButtonsBitmapOverTheParentsBackground) {
  QPalette pal = form.palette();
  pal.setColor(QPalette::Window, QColor(12, 34, 56));
  form.setPalette(pal);
  form.setAutoFillBackground(true);
  w->Button().SetTextOff("Старт BootLoader");
  form.show();
  QApplication::processEvents();
  const TBitmap& picture = w->Button().Paint();
  EXPECT_EQ(Shown(form, *w), WrapBitmap(picture));
  EXPECT_EQ(FromPixel(w->Button().Background().At(0, 0)), RGB(12, 34, 56));  // under the bevel: the parent
  w->Button().SetChecked(true);  // shown at once
  EXPECT_EQ(Shown(form, *w), WrapBitmap(w->Button().Paint()));
  EXPECT_NE(WrapBitmap(picture).copy(), QImage());
}

TEST_F(SwitchWidget, TheButtonHasItsOwnersFontInBold) {
  QWidget owner;
  QFont f("DejaVu Sans");
  f.setPointSize(11);
  owner.setFont(f);
  SwitchButtonWidget b(&owner);
  EXPECT_TRUE(b.font().bold());
  EXPECT_EQ(b.Button().Font(), FontFromQt(b.font()));
  EXPECT_EQ(b.Button().Font().PointSize, 11);
  QFont bigger = b.font();
  bigger.setPointSize(14);
  b.setFont(bigger);  // a later font change reaches the button
  EXPECT_EQ(b.Button().Font().PointSize, 14);
  EXPECT_EQ(b.size(), QSize(65, 33));
}

TEST_F(SwitchWidget, GroupsSpanTheSiblingWidgetsOfTheParent) {
  auto* second = new SwitchButtonWidget(&form);
  second->setGeometry(8, 50, 100, 33);
  for (SwitchButtonWidget* x : {w, second}) {
    x->Button().SetMode(mRadioButton);
    x->Button().SetGroupIndex(1);
  }
  second->Button().SetStatusBit(1);
  Mouse(second, QEvent::MouseButtonPress, {5, 5});
  EXPECT_EQ(w->Button().StatusInt(), 2);
  EXPECT_FALSE(w->Button().Checked());
  EXPECT_TRUE(second->Button().Checked());
  Mouse(w, QEvent::MouseButtonPress, {5, 5});
  EXPECT_EQ(second->Button().StatusInt(), 1);
  EXPECT_FALSE(second->Button().Checked());
}

// The old drawing of a text: QPainter on a 32-bit RGB image, no antialiasing,
// the top at `y`.
QImage OldText(int w, int h, const QFont& font, const QRect* clip, int x, int y, QRgb colour, const QString& text) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  QFont f = font;
  f.setStyleStrategy(QFont::NoAntialias);
  p.setFont(f);
  p.setPen(QColor(colour));
  if (clip) p.setClipRect(*clip);
  p.drawText(x, y + QFontMetrics(f).ascent(), text);
  return image;
}

TEST(QtText, DrawsAndMeasuresAsQPainterDoes) {
  QFont bold = QApplication::font();
  bold.setBold(true);
  QFont sans("DejaVu Sans");
  sans.setPointSize(12);
  QFont pixels = QApplication::font();
  pixels.setPixelSize(16);
  const QRect clip(10, 5, 60, 12);
  QtTextPainter painter;
  for (const QFont& font : {bold, sans, pixels, QApplication::font()}) {
    const TFont f = FontFromQt(font);
    EXPECT_EQ(QtFont(f), font) << font.toString().toStdString();
    for (const std::string text : {"BootLoader запущен", "50%", "Ag"}) {
      const QString q = QString::fromUtf8(text.c_str());
      SCOPED_TRACE(font.toString().toStdString() + " " + text);
      EXPECT_EQ(painter.TextWidth(f, text), QFontMetrics(font).horizontalAdvance(q));
      EXPECT_EQ(painter.TextHeight(f, text), QFontMetrics(font).height());
      for (const bool clipped : {false, true}) {
        TBitmap bitmap(200, 30);
        const TRect r{clip.left(), clip.top(), clip.right() + 1, clip.bottom() + 1};
        painter.DrawText(bitmap, clipped ? &r : nullptr, 3, 4, f, RGB(0, 255, 0), text);
        const QImage old = OldText(200, 30, font, clipped ? &clip : nullptr, 3, 4, qRgb(0, 255, 0), q);
        EXPECT_EQ(WrapBitmap(std::as_const(bitmap)), old);
        EXPECT_NE(bitmap, TBitmap(200, 30));  // something was drawn
      }
    }
  }
}

TEST(QtBitmap, WrapsWithoutCopyingAndConvertsImages) {
  TBitmap b(4, 3);
  QImage wrapped = WrapBitmap(b);
  wrapped.setPixel(1, 2, qRgb(10, 20, 30));  // on the bitmap's own pixels
  EXPECT_EQ(FromPixel(b.At(1, 2)), RGB(10, 20, 30));
  EXPECT_TRUE(WrapBitmap(TBitmap()).isNull());
  QImage argb(2, 1, QImage::Format_ARGB32);
  argb.setPixel(0, 0, qRgba(1, 2, 3, 255));
  argb.setPixel(1, 0, qRgba(200, 100, 50, 255));
  const TBitmap converted = BitmapFromImage(argb);
  EXPECT_EQ(converted.Width(), 2);
  EXPECT_EQ(FromPixel(converted.At(1, 0)), RGB(200, 100, 50));
}

TEST(QtSystemColors, ComeFromTheApplicationsCurrentPalette) {
  const QPalette saved = QApplication::palette();
  UseApplicationPalette();
  QPalette pal = saved;
  pal.setColor(QPalette::Button, QColor(1, 2, 3));
  pal.setColor(QPalette::Dark, QColor(4, 5, 6));
  pal.setColor(QPalette::Light, QColor(7, 8, 9));
  pal.setColor(QPalette::Shadow, QColor(10, 11, 12));
  QApplication::setPalette(pal);
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(1, 2, 3));
  EXPECT_EQ(ColorToRGB(clBtnShadow), RGB(4, 5, 6));
  EXPECT_EQ(ColorToRGB(clBtnHighlight), RGB(7, 8, 9));
  EXPECT_EQ(ColorToRGB(clWindowFrame), RGB(10, 11, 12));
  EXPECT_EQ(ColorToRGB(SystemColor(1)), SystemColorFromTable(1));  // no palette role: the table
  pal.setColor(QPalette::Button, QColor(13, 14, 15));
  QApplication::setPalette(pal);  // a later change counts at once
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(13, 14, 15));
  QApplication::setPalette(saved);
  const QColor face = saved.color(QPalette::Button);
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(face.red(), face.green(), face.blue()));
}

TEST(QtFlashTimer, APrecise50MsTimerRunsTheTick) {
  EXPECT_EQ(FlashTickSource(), nullptr);
  StartFlashTimer();
  const QtFlashTickSource* source = FlashTickSource();
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(source->Active());
  EXPECT_EQ(source->Interval(), 50);
  EXPECT_EQ(source->Type(), Qt::PreciseTimer);
  const uint32_t before = FlashCounter;
  const_cast<QtFlashTickSource*>(source)->Tick();  // what the timeout runs
  EXPECT_EQ(FlashCounter, before + 1);
  StopFlashTimer();
  EXPECT_EQ(FlashTickSource(), nullptr);
}

TEST(GaugeWidgetTest, ShowsTheGaugeAndTakesTheParentsFont) {
  QWidget form;
  QFont f("DejaVu Sans");
  f.setPointSize(10);
  form.setFont(f);
  form.resize(300, 60);
  auto* g = new GaugeWidget(&form);
  EXPECT_EQ(g->size(), QSize(100, 100));
  g->setGeometry(0, 10, 203, 25);
  EXPECT_EQ(g->Gauge().Font(), FontFromQt(f));
  form.show();
  QApplication::processEvents();
  g->Gauge().SetProgress(50);
  EXPECT_EQ(Shown(form, *g), WrapBitmap(g->Gauge().Paint()));
  QFont larger = f;
  larger.setPointSize(16);
  form.setFont(larger);  // inherited: the percentage follows
  EXPECT_EQ(g->Gauge().Font().PointSize, 16);
  QApplication::processEvents();
  EXPECT_EQ(Shown(form, *g), WrapBitmap(g->Gauge().Paint()));
}

}  // namespace
}  // namespace ab::qt
