// What every widget answers alike as its control's host: repaints, its size,
// visibility and the mouse grab, and the Qt text painter. A control with no
// background of its own under it and no siblings needs nothing more.
#pragma once

#include <QWidget>

#include <vector>

#include "control_host.h"
#include "qt_text_painter.h"

namespace ab::qt {

class WidgetHost : public TControlHost {
 public:
  explicit WidgetHost(QWidget& widget) : widget_(widget) {}

  void Repaint() override { widget_.repaint(); }
  void Invalidate() override { widget_.update(); }
  TSize Size() const override { return {widget_.width(), widget_.height()}; }
  bool Visible() const override { return widget_.isVisible(); }
  bool MouseCaptured() const override { return QWidget::mouseGrabber() != nullptr; }
  TBitmap Background() override { return NewBitmap(widget_.width(), widget_.height()); }
  TTextPainter* TextPainter() override { return &qt::TextPainter(); }
  std::vector<TAbBinGControl*> Siblings() override { return {}; }

 private:
  QWidget& widget_;
};

}  // namespace ab::qt
