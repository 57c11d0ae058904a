#include "win32_main_thread.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>

namespace kvr {

namespace {

constexpr wchar_t kClassName[] = L"KvrMainThreadCalls";
constexpr UINT kRunQueued = WM_APP + 1;

LRESULT CALLBACK CallsProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kRunQueued) {
    if (auto* main = reinterpret_cast<Win32MainThread*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) main->RunQueued();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

Win32MainThread::Win32MainThread(std::function<void(const std::string&)> report) {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CallsProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc) != 0;
  }();
  if (registered)
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
  if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  HWND target = window_;
  // One message per queued call; a message that finds the queue empty (its
  // call ran with an earlier one) does nothing.
  queue_ = std::make_unique<va::TVaCallQueue>([target] { PostMessageW(target, kRunQueued, 0, 0); });
  queue_->OnException = std::move(report);
}

Win32MainThread::~Win32MainThread() {
  queue_->Shutdown();
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

}  // namespace kvr
