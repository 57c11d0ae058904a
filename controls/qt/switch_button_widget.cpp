#include "switch_button_widget.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "qt_bitmap.h"

namespace ab::qt {

TMouseButton MouseButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return TMouseButton::mbLeft;
    case Qt::RightButton: return TMouseButton::mbRight;
    default: return TMouseButton::mbMiddle;
  }
}

TKey KeyOf(int key) {
  switch (key) {
    case Qt::Key_Space: return TKey::kSpace;
    case Qt::Key_Return:
    case Qt::Key_Enter: return TKey::kEnter;
    default: return TKey::kOther;
  }
}

SwitchButtonWidget::SwitchButtonWidget(QWidget* owner)
    : QWidget(owner), WidgetHost(*static_cast<QWidget*>(this)), button_(this) {
  UseApplicationPalette();
  resize(TAbColBitBtn::kDefaultSize.Width, TAbColBitBtn::kDefaultSize.Height);
  setFocusPolicy(Qt::StrongFocus);
  QFont f = owner ? owner->font() : font();
  f.setBold(true);
  setFont(f);
  button_.SetFont(FontFromQt(f));
}

void SwitchButtonWidget::paintEvent(QPaintEvent*) {
  const TBitmap& picture = button_.Paint();
  QPainter p(this);
  p.drawImage(0, 0, WrapBitmap(picture));
}

void SwitchButtonWidget::showEvent(QShowEvent*) { button_.BecameVisible(); }

void SwitchButtonWidget::enterEvent(QEnterEvent* e) {
  QWidget::enterEvent(e);
  button_.MouseEnter();
}

void SwitchButtonWidget::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  button_.MouseLeave();
}

void SwitchButtonWidget::mousePressEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  button_.MouseDown(MouseButtonOf(e->button()), at.x(), at.y());
}

void SwitchButtonWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  button_.MouseDoubleClick(MouseButtonOf(e->button()), at.x(), at.y());
}

void SwitchButtonWidget::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  button_.MouseUp(MouseButtonOf(e->button()), at.x(), at.y(), rect().contains(at));
}

void SwitchButtonWidget::mouseMoveEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  button_.MouseMove(at.x(), at.y());
}

void SwitchButtonWidget::keyPressEvent(QKeyEvent* e) {
  const TKey key = KeyOf(e->key());
  if (key == TKey::kOther || e->modifiers() & ~Qt::KeypadModifier) {
    QWidget::keyPressEvent(e);  // the parent's (a shortcut, a default button)
    return;
  }
  // A key held down comes again and again: the core takes the first only.
  button_.KeyDown(key);
}

void SwitchButtonWidget::keyReleaseEvent(QKeyEvent* e) {
  const TKey key = KeyOf(e->key());
  if (key == TKey::kOther) {
    QWidget::keyReleaseEvent(e);
    return;
  }
  // The window system's auto-repeat sends a release before each repeated
  // press: the key is still down.
  if (!e->isAutoRepeat()) button_.KeyUp(key);
}

void SwitchButtonWidget::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  button_.SetFocused(true);
}

void SwitchButtonWidget::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  button_.SetFocused(false);  // a key held ends with no click: its release goes elsewhere
}

void SwitchButtonWidget::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::FontChange) button_.SetFont(FontFromQt(font()));
}

bool SwitchButtonWidget::event(QEvent* e) {
  if (e->type() == QEvent::ApplicationPaletteChange) button_.BecameVisible();  // the face and bevel in the new colours
  return QWidget::event(e);
}

TBitmap SwitchButtonWidget::Background() {
  // What the parent paints under the button: its background. (Rendering the
  // parent from inside this paint would recurse into the window system's
  // repaint; the window's controls do not overlap.)
  TBitmap under = NewBitmap(width(), height());
  QImage image = WrapBitmap(under);
  if (image.isNull()) return under;
  QWidget* parent = parentWidget();
  QPainter p(&image);
  const QBrush brush = parent ? parent->palette().brush(parent->backgroundRole()) : palette().brush(QPalette::Window);
  p.setBrushOrigin(-pos());
  p.fillRect(image.rect(), brush);
  return under;
}

std::vector<TAbBinGControl*> SwitchButtonWidget::Siblings() {
  std::vector<TAbBinGControl*> members;
  if (!parentWidget()) return members;
  for (QObject* o : parentWidget()->children())
    if (auto* member = dynamic_cast<TwoStateWidget*>(o)) members.push_back(&member->TwoState());
  return members;
}

void PressAndRelease(QWidget* control) {
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, control->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(control, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, control->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(control, &release);
}

}  // namespace ab::qt
