#include "painted_control_window.h"

#include <cstring>

#include "gdi_text_painter.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <windowsx.h>

namespace ab::win32 {

namespace {

constexpr wchar_t kClassName[] = L"KvrPaintedControl";

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* control = reinterpret_cast<PaintedControlWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (control && control->Handle() == hwnd) return static_cast<LRESULT>(control->WindowProc(msg, wparam, lparam));
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

bool RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;  // the second press of a double click comes as its own message
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc) != 0;
  }();
  return registered;
}

bool IsPaintedControl(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return std::wcscmp(name, kClassName) == 0;
}

}  // namespace

TMouseButton MouseButtonOf(unsigned msg) {
  switch (msg) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK: return TMouseButton::mbRight;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK: return TMouseButton::mbMiddle;
    default: return TMouseButton::mbLeft;
  }
}

TKey KeyOf(unsigned virtual_key) {
  switch (virtual_key) {
    case VK_SPACE: return TKey::kSpace;
    case VK_RETURN: return TKey::kEnter;
    default: return TKey::kOther;
  }
}

PaintedControlWindow::~PaintedControlWindow() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (dib_) DeleteObject(static_cast<HBITMAP>(dib_));
}

bool PaintedControlWindow::Create(Hwnd parent, int x, int y, int w, int h, int id) {
  if (!RegisterClassOnce()) return false;
  // WM_NCCREATE stores the object before the handle is known here.
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | (TakesFocus() ? WS_TABSTOP : 0);
  HWND hwnd = CreateWindowExW(0, kClassName, L"", style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), this);
  hwnd_ = hwnd;
  if (hwnd_) Shown();
  return hwnd_ != nullptr;
}

void PaintedControlWindow::Repaint() {
  if (hwnd_) RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void PaintedControlWindow::Invalidate() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

TSize PaintedControlWindow::Size() const {
  RECT r{};
  if (hwnd_) GetClientRect(hwnd_, &r);
  return {r.right - r.left, r.bottom - r.top};
}

bool PaintedControlWindow::Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }

bool PaintedControlWindow::MouseCaptured() const { return GetCapture() != nullptr; }

TBitmap PaintedControlWindow::Background() {
  // The parent's background: the dialog face the main window is painted with.
  const TSize size = Size();
  TBitmap under = NewBitmap(size.Width, size.Height);
  under.Fill(ToPixel(GetSysColor(COLOR_BTNFACE)));
  return under;
}

TTextPainter* PaintedControlWindow::TextPainter() { return &win32::TextPainter(); }

std::vector<TAbBinGControl*> PaintedControlWindow::Siblings() {
  std::vector<TAbBinGControl*> members;
  HWND parent = hwnd_ ? GetParent(hwnd_) : nullptr;
  if (!parent) return members;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsPaintedControl(child)) continue;
    auto* window = reinterpret_cast<PaintedControlWindow*>(GetWindowLongPtrW(child, GWLP_USERDATA));
    if (TAbBinGControl* member = window ? window->TwoState() : nullptr) members.push_back(member);
  }
  return members;
}

void PaintedControlWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const TBitmap& picture = Picture();
  if (!picture.Empty()) {
    if (!dib_ || dib_width_ != picture.Width() || dib_height_ != picture.Height()) {
      if (dib_) DeleteObject(static_cast<HBITMAP>(dib_));
      dib_ = CreatePictureSection(picture.Width(), picture.Height(), &bits_);
      dib_width_ = dib_ ? picture.Width() : 0;
      dib_height_ = dib_ ? picture.Height() : 0;
    }
    if (dib_) {
      std::memcpy(bits_, picture.Data(),
                  static_cast<size_t>(picture.BytesPerLine()) * static_cast<size_t>(picture.Height()));
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, static_cast<HBITMAP>(dib_));
      BitBlt(dc, 0, 0, picture.Width(), picture.Height(), memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  EndPaint(hwnd_, &ps);
}

long long PaintedControlWindow::WindowProc(unsigned msg, unsigned long long wparam, long long lparam) {
  const int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
  switch (msg) {
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND: return 1;  // the picture covers the whole window
    case WM_SHOWWINDOW:
      if (wparam) Shown();
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
      // A control that takes the focus takes it with the left button, as a
      // button does (before the press: the focus's change repaints it).
      if (TakesFocus() && (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) && GetFocus() != hwnd_) SetFocus(hwnd_);
      SetCapture(hwnd_);  // the release comes here wherever it happens
      pressing_ = true;
      Mouse(msg, x, y, true);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      RECT r{};
      GetClientRect(hwnd_, &r);
      const POINT at{x, y};
      const bool inside = PtInRect(&r, at) != 0;
      if (!(wparam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) {
        pressing_ = false;
        ReleaseCapture();
      }
      Mouse(msg, x, y, inside);
      return 0;
    }
    case WM_CAPTURECHANGED:
      // Another window took the mouse mid-press (a message box, a switch of
      // programs): the press ends as if released outside.
      if (pressing_ && reinterpret_cast<HWND>(lparam) != hwnd_) {
        pressing_ = false;
        Mouse(WM_LBUTTONUP, -1, -1, false);
      }
      return 0;
    case WM_MOUSEMOVE:
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
        tracking_ = TrackMouseEvent(&track) != 0;
        MouseEntered();
      }
      Mouse(msg, x, y, true);
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      MouseLeft();
      return 0;
    case WM_GETDLGCODE:
      if (!TakesFocus()) break;
      {
        // Space comes as it is; Enter the dialog navigation would take for
        // the window's default button: it is asked for here.
        const auto* key = reinterpret_cast<const MSG*>(lparam);
        const bool enter = key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN;
        return enter ? DLGC_WANTMESSAGE : 0;
      }
    case WM_SETFOCUS: FocusChanged(true); return 0;
    case WM_KILLFOCUS: FocusChanged(false); return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (!TakesFocus()) break;
      Key(msg, static_cast<unsigned>(wparam));
      return 0;
    case WM_NCDESTROY: {
      // Gone with its parent: the object no longer names the handle.
      HWND gone = hwnd_;
      hwnd_ = nullptr;
      SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
      return DefWindowProcW(gone, msg, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
    }
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}

void SwitchButtonWindow::Mouse(unsigned msg, int x, int y, bool inside) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: button_.MouseDown(MouseButtonOf(msg), x, y); break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK: button_.MouseDoubleClick(MouseButtonOf(msg), x, y); break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: button_.MouseUp(MouseButtonOf(msg), x, y, inside); break;
    case WM_MOUSEMOVE: button_.MouseMove(x, y); break;
    default: break;
  }
}

void SwitchButtonWindow::Key(unsigned msg, unsigned virtual_key) {
  // A held key's repeats are more key-downs: the core takes the first only.
  if (msg == WM_KEYDOWN)
    button_.KeyDown(KeyOf(virtual_key));
  else
    button_.KeyUp(KeyOf(virtual_key));
}

void SwitchButtonWindow::EnabledChanged(bool enabled) {
  if (Handle()) EnableWindow(Handle(), enabled);
}

}  // namespace ab::win32
