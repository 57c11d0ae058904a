#include "qt_text_painter.h"

#include <QFontMetrics>
#include <QPainter>

#include "qt_bitmap.h"

namespace ab::qt {

int QtTextPainter::TextWidth(const TFont& font, const std::string& text) {
  return QFontMetrics(QtFont(font)).horizontalAdvance(QString::fromUtf8(text.c_str()));
}

int QtTextPainter::TextHeight(const TFont& font, const std::string&) { return QFontMetrics(QtFont(font)).height(); }

void QtTextPainter::DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                             const std::string& text) {
  QImage image = WrapBitmap(bitmap);
  if (image.isNull() || text.empty()) return;
  QPainter p(&image);
  QFont f = QtFont(font);
  f.setStyleStrategy(QFont::NoAntialias);
  p.setFont(f);
  p.setPen(QColor(ToPixel(rgb)));
  if (clip) p.setClipRect(QRect(clip->Left, clip->Top, clip->Width(), clip->Height()));
  // QPainter places the base line; the top of the text is `ascent` above it.
  p.drawText(x, y + QFontMetrics(f).ascent(), QString::fromUtf8(text.c_str()));
}

QtTextPainter& TextPainter() {
  static QtTextPainter painter;
  return painter;
}

}  // namespace ab::qt
