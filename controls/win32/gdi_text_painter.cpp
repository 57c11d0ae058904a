#include "gdi_text_painter.h"

#include <cstring>

#include "utf8_files.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#undef DrawText  // the painter's own method below, not the system's macro

namespace ab::win32 {

using base::Wide;

GdiTextPainter::GdiTextPainter() : dc_(CreateCompatibleDC(nullptr)) {}

GdiTextPainter::~GdiTextPainter() {
  for (auto& [key, font] : fonts_) DeleteObject(static_cast<HFONT>(font));
  DeleteDC(static_cast<HDC>(dc_));
}

void* GdiTextPainter::FontFor(const TFont& font) {
  const auto key = std::make_tuple(font.Family, font.PointSize, font.PixelSize, font.Bold);
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  int height = -11;  // 8 points at 96 dots per inch
  if (font.PointSize > 0)
    height = -MulDiv(static_cast<int>(font.PointSize * 100 + 0.5), GetDeviceCaps(static_cast<HDC>(dc_), LOGPIXELSY),
                     7200);
  else if (font.PixelSize > 0)
    height = -font.PixelSize;
  const std::wstring family = Wide(font.Family.empty() ? std::string("MS Shell Dlg") : font.Family);
  HFONT f = CreateFontW(height, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH,
                        family.c_str());
  fonts_[key] = f;
  return f;
}

int GdiTextPainter::TextWidth(const TFont& font, const std::string& text) {
  HDC dc = static_cast<HDC>(dc_);
  SelectObject(dc, static_cast<HFONT>(FontFor(font)));
  const std::wstring wide = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  return size.cx;
}

int GdiTextPainter::TextHeight(const TFont& font, const std::string&) {
  HDC dc = static_cast<HDC>(dc_);
  SelectObject(dc, static_cast<HFONT>(FontFor(font)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  return metrics.tmHeight;
}

void GdiTextPainter::DrawText(TBitmap& bitmap, const TRect* clip, int x, int y, const TFont& font, uint32_t rgb,
                              const std::string& text) {
  if (bitmap.Empty() || text.empty()) return;
  void* bits = nullptr;
  HBITMAP dib = static_cast<HBITMAP>(CreatePictureSection(bitmap.Width(), bitmap.Height(), &bits));
  if (!dib) return;
  const size_t bytes = static_cast<size_t>(bitmap.BytesPerLine()) * static_cast<size_t>(bitmap.Height());
  std::memcpy(bits, bitmap.Data(), bytes);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old_bitmap = SelectObject(dc, dib);
  HGDIOBJ old_font = SelectObject(dc, static_cast<HFONT>(FontFor(font)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, rgb & 0xFFFFFF);  // a COLORREF is $00BBGGRR too
  if (clip) IntersectClipRect(dc, clip->Left, clip->Top, clip->Right, clip->Bottom);
  const std::wstring wide = Wide(text);
  TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
  GdiFlush();
  // GDI clears the unused top byte where it draws text: the pixels come back opaque.
  const auto* drawn = static_cast<const uint32_t*>(bits);
  uint32_t* out = bitmap.Data();
  for (size_t i = 0, n = bytes / 4; i < n; ++i) out[i] = drawn[i] | 0xFF000000u;
  SelectObject(dc, old_font);
  SelectObject(dc, old_bitmap);
  DeleteDC(dc);
  DeleteObject(dib);
}

void* CreatePictureSection(int width, int height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as the bitmap's rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

GdiTextPainter& TextPainter() {
  static GdiTextPainter painter;
  return painter;
}

namespace {

uint32_t FromSystem(int n) {
  if (n < 0 || n >= kSystemColorCount) return SystemColorFromTable(n);
  return static_cast<uint32_t>(GetSysColor(n)) & 0xFFFFFF;
}

}  // namespace

void UseSystemColors() { SetSystemColorSource(&FromSystem); }

}  // namespace ab::win32
