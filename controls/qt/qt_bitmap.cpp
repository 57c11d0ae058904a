#include "qt_bitmap.h"

#include <QGuiApplication>
#include <QPalette>

#include <cstring>

namespace ab::qt {

QImage WrapBitmap(TBitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  return QImage(reinterpret_cast<uchar*>(bitmap.Data()), bitmap.Width(), bitmap.Height(), bitmap.BytesPerLine(),
                QImage::Format_RGB32);
}

QImage WrapBitmap(const TBitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  return QImage(reinterpret_cast<const uchar*>(bitmap.Data()), bitmap.Width(), bitmap.Height(),
                bitmap.BytesPerLine(), QImage::Format_RGB32);
}

TBitmap BitmapFromImage(const QImage& image) {
  if (image.isNull()) return TBitmap();
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  TBitmap out(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y)
    std::memcpy(out.Row(y), rgb.constScanLine(y), static_cast<size_t>(out.BytesPerLine()));
  return out;
}

TFont FontFromQt(const QFont& font) {
  TFont f;
  f.Family = font.family().toStdString();
  if (font.pointSizeF() > 0)
    f.PointSize = font.pointSizeF();
  else
    f.PixelSize = font.pixelSize();
  f.Bold = font.bold();
  return f;
}

QFont QtFont(const TFont& font) {
  // Only what differs from the application's font is set, so that the rest
  // (the family's fallbacks, the weight of a regular font) stays its own.
  QFont f;
  if (!font.Family.empty() && QString::fromStdString(font.Family) != f.family())
    f.setFamily(QString::fromStdString(font.Family));
  if (font.PointSize > 0)
    f.setPointSizeF(font.PointSize);
  else if (font.PixelSize > 0)
    f.setPixelSize(font.PixelSize);
  if (f.bold() != font.Bold) f.setBold(font.Bold);
  return f;
}

namespace {

uint32_t FromPalette(int n) {
  if (!qGuiApp) return SystemColorFromTable(n);
  QPalette::ColorRole role;
  switch (n) {
    case 5: role = QPalette::Base; break;
    case 6: role = QPalette::Shadow; break;
    case 8: role = QPalette::WindowText; break;
    case 13: role = QPalette::Highlight; break;
    case 14: role = QPalette::HighlightedText; break;
    case 15: role = QPalette::Button; break;
    case 16: role = QPalette::Dark; break;
    case 18: role = QPalette::ButtonText; break;
    case 20: role = QPalette::Light; break;
    default: return SystemColorFromTable(n);
  }
  const QColor c = QGuiApplication::palette().color(role);
  return RGB(c.red(), c.green(), c.blue());
}

}  // namespace

void UseApplicationPalette() { SetSystemColorSource(&FromPalette); }

}  // namespace ab::qt
