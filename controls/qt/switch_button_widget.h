// The switch button as a Qt widget: it owns a TAbColBitBtn, passes the mouse,
// Space and Enter, the focus and its showing to it, shows its bitmap and is
// its host (repaints, the mouse grab, the parent's background, the sibling
// two-state controls). It takes the focus by Tab and by a click.
#pragma once

#include <QWidget>

#include <vector>

#include "switch_button.h"
#include "widget_host.h"

namespace ab::qt {

// A widget whose control takes part in the two-state groups of its parent.
class TwoStateWidget {
 public:
  virtual ~TwoStateWidget() = default;
  virtual TAbBinGControl& TwoState() = 0;
};

class SwitchButtonWidget : public QWidget, public TwoStateWidget, private WidgetHost {
 public:
  // The owner is the parent: the button takes its font, in bold.
  explicit SwitchButtonWidget(QWidget* owner);

  TAbColBitBtn& Button() { return button_; }
  const TAbColBitBtn& Button() const { return button_; }
  TAbBinGControl& TwoState() override { return button_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool event(QEvent* e) override;

 private:
  // What the parent paints under the button, and the parent's two-state controls.
  TBitmap Background() override;
  std::vector<TAbBinGControl*> Siblings() override;
  void EnabledChanged(bool enabled) override { setEnabled(enabled); }

  TAbColBitBtn button_;
};

// The core's button of a mouse event.
TMouseButton MouseButtonOf(Qt::MouseButton button);
// The core's key of a key event's key (Enter on the main keys or the keypad).
TKey KeyOf(int key);

// A left press and release at (5, 5) of `control`, as the mouse would give them.
void PressAndRelease(QWidget* control);

}  // namespace ab::qt
