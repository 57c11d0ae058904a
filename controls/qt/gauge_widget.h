// The gauge as a Qt widget: it owns a TGauge, shows its bitmap and is its
// host (repaints, the size, the text painter). The percentage is in the
// widget's font.
#pragma once

#include <QWidget>

#include <vector>

#include "control_host.h"
#include "gauge.h"

namespace ab::qt {

class GaugeWidget : public QWidget, private TControlHost {
 public:
  explicit GaugeWidget(QWidget* parent = nullptr);

  TGauge& Gauge() { return gauge_; }
  const TGauge& Gauge() const { return gauge_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void changeEvent(QEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void Repaint() override { repaint(); }
  void Invalidate() override { update(); }
  TSize Size() const override { return {width(), height()}; }
  bool Visible() const override { return isVisible(); }
  bool MouseCaptured() const override { return QWidget::mouseGrabber() != nullptr; }
  TBitmap Background() override { return NewBitmap(width(), height()); }
  TTextPainter* TextPainter() override;
  std::vector<TAbBinGControl*> Siblings() override { return {}; }

  TGauge gauge_;
};

}  // namespace ab::qt
