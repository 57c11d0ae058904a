#include "gauge_widget.h"

#include <QEvent>
#include <QPainter>

#include "qt_bitmap.h"

namespace ab::qt {

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent), WidgetHost(*static_cast<QWidget*>(this)), gauge_(this) {
  UseApplicationPalette();
  resize(TGauge::kDefaultSize.Width, TGauge::kDefaultSize.Height);
  setAttribute(Qt::WA_OpaquePaintEvent);
  gauge_.SetFont(FontFromQt(font()));
}

void GaugeWidget::paintEvent(QPaintEvent*) {
  const TBitmap picture = gauge_.Paint();
  QPainter p(this);
  p.drawImage(0, 0, WrapBitmap(picture));
}

void GaugeWidget::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::FontChange) gauge_.SetFont(FontFromQt(font()));
}

bool GaugeWidget::event(QEvent* e) {
  if (e->type() == QEvent::ApplicationPaletteChange) update();
  return QWidget::event(e);
}

}  // namespace ab::qt
