// The gauge as a Qt widget: it owns a TGauge, shows its bitmap and is its
// host (repaints, the size, the text painter). The percentage is in the
// widget's font.
#pragma once

#include <QWidget>

#include <vector>

#include "gauge.h"
#include "widget_host.h"

namespace ab::qt {

class GaugeWidget : public QWidget, private WidgetHost {
 public:
  explicit GaugeWidget(QWidget* parent = nullptr);

  TGauge& Gauge() { return gauge_; }
  const TGauge& Gauge() const { return gauge_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void changeEvent(QEvent* e) override;
  bool event(QEvent* e) override;

 private:
  TGauge gauge_;
};

}  // namespace ab::qt
