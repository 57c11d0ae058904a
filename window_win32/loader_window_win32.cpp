#include "loader_window_win32.h"

#include <cstdio>

#include "gdi_text_painter.h"
#include "utf8_files.h"
#include "window_layout.h"
#include "window_texts.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

namespace kvr {

using base::Utf8;
using base::Wide;

namespace {

constexpr wchar_t kClassName[] = L"KvrLoaderWindow";
constexpr UINT kRunLater = WM_APP + 2;
// The load's next step is due; wParam names the timer that said so.
constexpr UINT kLoadStepDue = WM_APP + 3;
// The id of a step due at once (no timer behind it).
constexpr unsigned kDueNow = ~0u;

enum ControlId : int {
  kFilePathId = 101,
  kOpenFileId,
  kPortListId,
  kStartSwitchId,
  kStatusLineId,
  kPagesId,
  kDataGridId,
  kDebugLogId,
  kGaugeId,
  kLoadTimesId,
  kSaveAsId,
  kRevertId,
};

UINT_PTR TimerId(WindowTimer timer) {
  switch (timer) {
    case WindowTimer::kStartDelay:
      return 1;
    case WindowTimer::kSupervisor:
      return 2;
    case WindowTimer::kRecordRetry:
      return 4;
    case WindowTimer::kLoadDue:  // the window's timer thread (StartTimer), not a window timer
      break;
  }
  return 5;
}

// The debug log's lines go into the edit control at most this often: an
// append costs as much as the text already there, and a load logs a line per
// reply.
constexpr UINT_PTR kLogTimer = 3;
constexpr UINT kLogIntervalMs = 100;

LRESULT CALLBACK LoaderWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
  auto* window = reinterpret_cast<LoaderWindowWin32*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window && window->Handle() == hwnd) return static_cast<LRESULT>(window->WindowProc(msg, wparam, lparam));
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

HWND Child(HWND parent, const wchar_t* cls, const std::string& text, DWORD style, int x, int y, int w, int h, int id,
           void* font, DWORD ex_style = 0) {
  HWND hwnd = CreateWindowExW(ex_style, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

SIZE TextSize(HWND hwnd, void* font, const std::string& text) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(font));
  const std::wstring wide = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size;
}

// The question's buttons in the window's language, whatever the system's is.
HHOOK question_hook = nullptr;
HWND question_box = nullptr;  // the question that is up
LRESULT CALLBACK QuestionHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    question_box = box;
    SetDlgItemTextW(box, IDYES, L"Да");
    SetDlgItemTextW(box, IDNO, L"Нет");
    UnhookWindowsHookEx(question_hook);
    question_hook = nullptr;
    return 0;
  }
  return CallNextHookEx(question_hook, code, wparam, lparam);
}

}  // namespace

namespace {

// The system's open or save dialog: `filter` as "name|pattern", `offered`
// the name it starts with. Returns the file chosen, or "" when cancelled.
std::string AskForFile(HWND owner, bool save, const char* title, const std::string& filter,
                       const std::string& offered) {
  std::wstring file(32768, L'\0');
  const std::wstring name = Wide(offered);
  file.replace(0, std::min(name.size(), file.size() - 1), name.substr(0, file.size() - 1));
  const std::wstring wide_title = Wide(title);
  std::wstring wide_filter = Wide(filter) + std::wstring(2, L'\0');  // with the dialog's separators
  wide_filter[wide_filter.find(L'|')] = L'\0';
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wide_filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = wide_title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (save) {
    ofn.lpstrDefExt = L"KVR";
    // No question about replacing a file here: the window logic asks it.
    ofn.Flags |= OFN_NOREADONLYRETURN;
  } else {
    ofn.Flags |= OFN_FILEMUSTEXIST;
  }
  if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return "";
  return Utf8(file.c_str());
}

}  // namespace

std::string ChooseUpdateFile(HWND owner) {
  return AskForFile(owner, false, kOpenDialogTitle, "Файлы обновления КВР|*.KVR", "");
}

std::string ChooseSaveFile(HWND owner, const std::string& suggested) {
  return AskForFile(owner, true, kSaveDialogTitle, kSaveDialogFilter, suggested);
}

// A line of text asked for in a dialog of its own (the system has none): the
// question, an edit box with `text` selected, "OK" and "Отмена".
struct TextQuestion {
  std::wstring question, text;
  bool answered = false;
};

INT_PTR CALLBACK TextQuestionProc(HWND box, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* q = reinterpret_cast<TextQuestion*>(GetWindowLongPtrW(box, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      q = reinterpret_cast<TextQuestion*>(lparam);
      SetWindowLongPtrW(box, DWLP_USER, lparam);
      SetDlgItemTextW(box, 100, q->question.c_str());
      SetDlgItemTextW(box, 101, q->text.c_str());
      SendDlgItemMessageW(box, 101, EM_SETSEL, 0, -1);
      SetFocus(GetDlgItem(box, 101));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        wchar_t typed[256] = {};
        GetDlgItemTextW(box, 101, typed, 256);
        q->text = typed;
        q->answered = true;
        EndDialog(box, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(box, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

// The dialog's template, made in memory: items in dialog units.
std::vector<WORD> TextQuestionTemplate(const std::wstring& caption) {
  std::vector<WORD> t;
  const auto put = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  const auto text = [&t](const std::wstring& s) {
    for (wchar_t c : s) t.push_back(static_cast<WORD>(c));
    t.push_back(0);
  };
  const auto align = [&t] {
    if (t.size() % 2) t.push_back(0);  // DWORD boundary
  };
  put(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  put(0);       // extended style
  t.push_back(4);  // items
  t.insert(t.end(), {0, 0, 260, 62});
  t.push_back(0);  // no menu
  t.push_back(0);  // the dialog class
  text(caption);
  t.push_back(8);  // point size
  text(L"MS Sans Serif");
  struct Item {
    DWORD style;
    short x, y, w, h;
    WORD id, cls;
    const wchar_t* text;
  } items[] = {
      {WS_CHILD | WS_VISIBLE | SS_LEFT, 7, 6, 246, 18, 100, 0x0082, L""},
      {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 26, 246, 12, 101, 0x0081, L""},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 146, 43, 50, 14, IDOK, 0x0080, L"OK"},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 203, 43, 50, 14, IDCANCEL, 0x0080, L"Отмена"},
  };
  for (const Item& item : items) {
    align();
    put(item.style);
    put(0);
    t.insert(t.end(), {static_cast<WORD>(item.x), static_cast<WORD>(item.y), static_cast<WORD>(item.w),
                       static_cast<WORD>(item.h), item.id, 0xFFFF, item.cls});
    text(item.text);
    t.push_back(0);  // no creation data
  }
  return t;
}

bool AskYesNo(HWND owner, const std::string& caption, const std::string& question) {
  question_hook = SetWindowsHookExW(WH_CBT, QuestionHook, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(owner, Wide(question).c_str(), Wide(caption).c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (question_hook) UnhookWindowsHookEx(question_hook);
  question_hook = nullptr;
  question_box = nullptr;
  return answer == IDYES;
}

LoaderWindowWin32::LoaderWindowWin32(WindowOptions options, Win32WindowOptions win32) : win32_(std::move(win32)) {
  if (!win32_.report)
    win32_.report = [this](const std::string& text) {
      MessageBoxW(window_, Wide(text).c_str(), Wide(kApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
    };
  if (!win32_.message)
    win32_.message = [this](const std::string& text) {
      MessageBoxW(window_, Wide(text).c_str(), Wide(kWindowCaption).c_str(), MB_OK | MB_ICONWARNING);
    };
  if (!win32_.stored_port_index) win32_.stored_port_index = [] { return -1; };
  logic_ = std::make_unique<LoaderWindowLogic>(*this, std::move(options));
  grid_ = std::make_unique<DataGrid>(logic_->Grid());
  BuildLayout();
  logic_->SetUpAtStart();
}

LoaderWindowWin32::~LoaderWindowWin32() {
  if (window_) {
    KillTimer(window_, TimerId(WindowTimer::kStartDelay));
    KillTimer(window_, TimerId(WindowTimer::kSupervisor));
    KillTimer(window_, TimerId(WindowTimer::kRecordRetry));
    StopTimer(WindowTimer::kLoadDue);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (void* object : {font_, status_font_, status_brush_})
    if (object) DeleteObject(static_cast<HGDIOBJ>(object));
}

void LoaderWindowWin32::BuildLayout() {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = LoaderWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc) != 0;
  }();
  (void)registered;
  // A fixed single border: a caption with the system menu and minimizing, no sizing.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, layout::kClientWidth, layout::kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  window_ = CreateWindowExW(0, kClassName, Wide(kWindowCaption).c_str(), style, x, y, w, h, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);

  font_ = CreateFontW(-MulDiv(8, 96, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif");
  status_font_ = CreateFontW(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif");
  status_brush_ = CreateSolidBrush(RGB(255, 255, 0));

  BuildTopRows();
  BuildPages();
  using layout::kGauge;
  gauge_.Create(window_, kGauge.x, kGauge.y, kGauge.width, kGauge.height, kGaugeId);
  gauge_.Gauge().SetFont(ab::TFont{"MS Sans Serif", 8, 0, false});
  AddButtonHints();
}

// The file and port row, the start switch and the status line.
void LoaderWindowWin32::BuildTopRows() {
  using namespace layout;
  const std::string file_text = "Файл для загрузки:", port_text = "Выбор порта";
  const SIZE file_size = TextSize(window_, font_, file_text), port_size = TextSize(window_, font_, port_text);
  file_label_ = Child(window_, WC_STATICW, file_text, SS_LEFT | SS_NOPREFIX, kFileLabel.x, kFileLabel.y, file_size.cx,
                      file_size.cy, 0, font_);
  file_path_ = Child(window_, WC_EDITW, "", WS_TABSTOP | ES_AUTOHSCROLL, kFilePath.x, kFilePath.y, kFilePath.width,
                     kFilePath.height, kFilePathId, font_, WS_EX_CLIENTEDGE);
  open_file_ = Child(window_, WC_BUTTONW, "...", WS_TABSTOP | BS_PUSHBUTTON | BS_FLAT, kOpenFile.x, kOpenFile.y,
                     kOpenFile.width, kOpenFile.height, kOpenFileId, font_);
  port_label_ = Child(window_, WC_STATICW, port_text, SS_LEFT | SS_NOPREFIX, kPortLabel.x, kPortLabel.y, port_size.cx,
                      port_size.cy, 0, font_);
  // A combo box's height is that of its open list; the closed box keeps its own.
  ports_.Create(window_, kPortList.x, kPortList.y, kPortList.width, 200, kPortListId, font_);

  start_switch_.Create(window_, kStartSwitch.x, kStartSwitch.y, kStartSwitch.width, kStartSwitch.height,
                       kStartSwitchId);
  ab::TAbColBitBtn& button = start_switch_.Button();
  button.SetFont(ab::TFont{"MS Sans Serif", 8, 0, true});
  button.SetMode(ab::mSwitch);
  button.SetTextOff("Старт BootLoader");
  button.SetTextOn("BootLoader запущен");
  button.SetTextColOn(ab::clLime);
  button.SetTextColOff(ab::clBlack);
  button.Loaded();
  button.OnClick = [this](ab::TAbBinGControl*) { logic_->StartSwitchClicked(); };
  button.OnMouseUp = [this](ab::TAbBinGControl*) { logic_->StartSwitchReleased(); };
  button.OnKeyUp = [this](ab::TAbBinGControl*) { logic_->StartSwitchReleased(); };
  button.OnEnter = [this](ab::TAbBinGControl*) { Trace("switch focused"); };
  button.OnExit = [this](ab::TAbBinGControl*) { Trace("switch unfocused"); };

  status_line_ = Child(window_, WC_STATICW, "", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, kStatusLine.x, kStatusLine.y,
                       kStatusLine.width, kStatusLine.height, kStatusLineId, status_font_);
}

// The tab row with the data grid's and the debug log's pages, and the load's times.
void LoaderWindowWin32::BuildPages() {
  using layout::kPages;
  pages_ = Child(window_, WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_TABSTOP, kPages.x, kPages.y, kPages.width,
                 kPages.height, kPagesId, font_);
  for (const char* tab : {"Данные для загрузки", "Окно отладки"}) {
    const std::wstring text = Wide(tab);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(pages_, TCM_INSERTITEMW, static_cast<WPARAM>(TabCtrl_GetItemCount(pages_)),
                 reinterpret_cast<LPARAM>(&item));
  }
  // The pages' controls where the Linux window has them: inside the 2-pixel
  // frame, below the 25-pixel tab row.
  const int px = kPages.x + 2, py = kPages.y + 25, pw = kPages.width - 4, ph = kPages.height - 27;
  grid_->Create(window_, px, py, pw, ph, kDataGridId, font_);
  debug_log_ = Child(window_, WC_EDITW, "",
                     WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY, px, py,
                     pw, ph, kDebugLogId, font_, WS_EX_CLIENTEDGE);
  SendMessageW(debug_log_, EM_SETLIMITTEXT, 0, 0);  // as much as the system gives
  ShowWindow(debug_log_, SW_HIDE);
  // Elapsed and remaining time at the tab row's free end, a fixed width (a
  // changing text then repaints the label alone).
  RECT tab{};
  TabCtrl_GetItemRect(pages_, 0, &tab);
  const SIZE times = TextSize(window_, font_, "Прошло 000:00   Осталось 000:00");
  load_times_ = Child(window_, WC_STATICW, "", SS_RIGHT | SS_NOPREFIX, kPages.x + kPages.width - (times.cx + 16),
                      kPages.y + (tab.bottom - times.cy) / 2, times.cx + 8, times.cy, kLoadTimesId, font_);
  SetWindowPos(load_times_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  // Save as and revert act on the grid's image: next after it in the Tab
  // order, which keeps the way from the file's field to the switch short.
  using layout::kRevert, layout::kSaveAs;
  save_as_ = Child(window_, WC_BUTTONW, kSaveAsButton, WS_TABSTOP | BS_PUSHBUTTON, kSaveAs.x, kSaveAs.y, kSaveAs.width,
                   kSaveAs.height, kSaveAsId, font_);
  revert_ = Child(window_, WC_BUTTONW, kRevertButton, WS_TABSTOP | BS_PUSHBUTTON, kRevert.x, kRevert.y, kRevert.width,
                  kRevert.height, kRevertId, font_);
}

// The buttons' hints.
void LoaderWindowWin32::AddButtonHints() {
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  for (const auto& [button, text] : {std::pair<HWND, const char*>{open_file_, "Открыть файл"},
                                     {save_as_, kSaveAsHint}, {revert_, kRevertHint}}) {
    const std::wstring hint = Wide(text);
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = window_;
    ti.uId = reinterpret_cast<UINT_PTR>(button);
    ti.lpszText = const_cast<wchar_t*>(hint.c_str());
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void LoaderWindowWin32::Show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  TraceLayout();
}

void LoaderWindowWin32::TraceLayout() {
  if (!win32_.trace) return;
  POINT origin{0, 0};
  ClientToScreen(window_, &origin);
  RECT client{};
  GetClientRect(window_, &client);
  char line[160];
  std::snprintf(line, sizeof line, "layout client %ld %ld %ld %ld", origin.x, origin.y, client.right, client.bottom);
  Trace(line);
  const std::pair<const char*, HWND> controls[] = {
      {"file-label", file_label_}, {"file-path", file_path_},         {"open-file", open_file_},
      {"port-label", port_label_}, {"port-list", ports_.Handle()},    {"start-switch", start_switch_.Handle()},
      {"status-line", status_line_}, {"pages", pages_},               {"data-grid", grid_->Handle()},
      {"debug-log", debug_log_},   {"load-times", load_times_},       {"gauge", gauge_.Handle()},
      {"save-as", save_as_},       {"revert", revert_},
  };
  for (const auto& [name, hwnd] : controls) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&r), 2);
    std::snprintf(line, sizeof line, "layout %s %ld %ld %ld %ld", name, r.left, r.top, r.right - r.left,
                  r.bottom - r.top);
    Trace(line);
  }
}

bool LoaderWindowWin32::NavigationMessage(void* msg) {
  if (!window_) return false;
  MSG* m = static_cast<MSG*>(msg);
  // Ctrl+G: go to, Ctrl+S: save as, from anywhere in the window.
  if (m->message == WM_KEYDOWN && (m->wParam == 'G' || m->wParam == 'S') && (GetKeyState(VK_CONTROL) & 0x8000) &&
      (m->hwnd == window_ || IsChild(window_, m->hwnd))) {
    if (m->wParam == 'G')
      logic_->GoToAsked();
    else
      logic_->SaveAsAsked();
    return true;
  }
  return IsDialogMessageW(window_, m);
}

void LoaderWindowWin32::After(uint32_t delay_ms, std::function<void()> step) {
  if (!window_) return;
  const uintptr_t id = next_after_++;
  after_.emplace_back(id, std::move(step));
  SetTimer(window_, id, delay_ms, nullptr);
}

void LoaderWindowWin32::Command(int id, int code) {
  switch (id) {
    case kOpenFileId:
      if (code == BN_CLICKED) logic_->OpenFileClicked();
      break;
    case kSaveAsId:
      if (code == BN_CLICKED) logic_->SaveAsAsked();
      break;
    case kRevertId:
      if (code == BN_CLICKED) logic_->RevertAsked();
      break;
    case kPortListId:
      if (code == CBN_DROPDOWN) logic_->PortListOpening();
      if (code == CBN_SELCHANGE) ports_.ChosenChanged();
      break;
    default: break;
  }
}

long long LoaderWindowWin32::WindowProc(unsigned msg, unsigned long long wparam, long long lparam) {
  const auto w = static_cast<WPARAM>(wparam);
  const auto l = static_cast<LPARAM>(lparam);
  HWND self = window_;
  switch (msg) {
    case WM_COMMAND: Command(LOWORD(w), HIWORD(w)); return 0;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(l);
      if (header.hwndFrom == pages_ && header.code == TCN_SELCHANGE) {
        const bool data = TabCtrl_GetCurSel(pages_) == 0;
        ShowWindow(grid_->Handle(), data ? SW_SHOW : SW_HIDE);
        ShowWindow(debug_log_, data ? SW_HIDE : SW_SHOW);
        return 0;
      }
      long long result = 0;
      if (grid_->Notify(header, result)) return result;
      break;
    }
    case WM_MEASUREITEM:
      if (w == kPortListId) {
        ports_.Measure(*reinterpret_cast<MEASUREITEMSTRUCT*>(l));
        return TRUE;
      }
      break;
    case WM_DRAWITEM:
      if (w == kPortListId) {
        ports_.Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(l) == status_line_) {
        HDC dc = reinterpret_cast<HDC>(w);
        SetTextColor(dc, RGB(255, 0, 0));
        SetBkColor(dc, RGB(255, 255, 0));
        return reinterpret_cast<LRESULT>(status_brush_);
      }
      break;
    case WM_TIMER:
      if (w == TimerId(WindowTimer::kStartDelay)) {
        logic_->StartDelayElapsed();
      } else if (w == TimerId(WindowTimer::kSupervisor)) {
        logic_->PollTick();
      } else if (w == TimerId(WindowTimer::kRecordRetry)) {
        logic_->RecordRetryElapsed();
      } else if (w == kLogTimer) {
        FlushLog();
      } else {
        KillTimer(window_, w);
        for (auto it = after_.begin(); it != after_.end(); ++it)
          if (it->first == w) {
            std::function<void()> step = std::move(it->second);
            after_.erase(it);
            step();
            break;
          }
      }
      return 0;
    case kLoadStepDue:
      // A timer replaced or stopped before its message came is not acted on.
      if (static_cast<unsigned>(w) == load_due_) {
        load_due_ = 0;
        logic_->LoadStepDue();
      }
      return 0;
    case kRunLater:
      if (!later_.empty()) {
        std::function<void()> step = std::move(later_.front());
        later_.pop_front();
        step();
      }
      return 0;
    case WM_ACTIVATE:
      // The control that had the focus has it again when the window comes
      // back (after a message box, another program).
      if (LOWORD(w) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window_, focus)) focused_ = focus;
      }
      break;
    case WM_SETFOCUS:
      if (focused_ && IsWindow(focused_) && IsChild(window_, focused_) && IsWindowEnabled(focused_) &&
          IsWindowVisible(focused_)) {
        SetFocus(focused_);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (logic_->CloseAsked()) DestroyWindow(window_);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_NCDESTROY: window_ = nullptr; break;
    default: break;
  }
  return DefWindowProcW(self, msg, w, l);
}

void LoaderWindowWin32::ShowStatus(const std::string& text) {
  SetWindowTextW(status_line_, Wide(text).c_str());
  Trace("status " + text);
}

void LoaderWindowWin32::ShowProgress(int percent) {
  if (percent != gauge_.Gauge().Progress()) Trace("progress " + std::to_string(percent));
  gauge_.Gauge().SetProgress(percent);
}

void LoaderWindowWin32::ShowSwitch(bool on) {
  start_switch_.Button().SetChecked(on);
  Trace(on ? "switch on" : "switch off");
}

void LoaderWindowWin32::LockInputs(bool locked) {
  for (HWND input : {open_file_, file_path_, ports_.Handle(), revert_}) EnableWindow(input, !locked);
  Trace(locked ? "inputs locked" : "inputs unlocked");
}

void LoaderWindowWin32::AppendLog(const std::string& line) {
  if (!window_) return;  // gone: a call still queued for it
  if (pending_log_.empty()) SetTimer(window_, kLogTimer, kLogIntervalMs, nullptr);
  pending_log_ += Wide(line) + L"\r\n";
}

void LoaderWindowWin32::FlushLog() {
  KillTimer(window_, kLogTimer);
  if (pending_log_.empty()) return;
  const int end = GetWindowTextLengthW(debug_log_);
  SendMessageW(debug_log_, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  SendMessageW(debug_log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pending_log_.c_str()));
  pending_log_.clear();
}

void LoaderWindowWin32::ClearLog() {
  pending_log_.clear();
  KillTimer(window_, kLogTimer);
  SetWindowTextW(debug_log_, L"");
}

void LoaderWindowWin32::ShowTimes(const std::string& text) { SetWindowTextW(load_times_, Wide(text).c_str()); }

void LoaderWindowWin32::ShowFilePath(const std::string& path) {
  SetWindowTextW(file_path_, Wide(path).c_str());
  Trace("file " + path);
}

void LoaderWindowWin32::ShowPorts(const std::vector<PortEntry>& ports, int chosen) {
  ports_.SetPorts(ports, chosen);
  std::string names;
  for (const PortEntry& port : ports) names += " " + port.name;
  Trace("ports" + names + " chosen " + std::to_string(chosen));
}

void LoaderWindowWin32::ShowMessage(const std::string& text) {
  Trace("message " + text);
  win32_.message(text);
}

void LoaderWindowWin32::ReportError(const std::string& text) {
  Trace("error " + text);
  win32_.report(text);
}

bool LoaderWindowWin32::Ask(const std::string& question) {
  Trace("question " + question);
  const bool yes = AskYesNo(window_, kWindowCaption, question);
  Trace(yes ? "answer yes" : "answer no");
  return yes;
}

std::optional<std::string> LoaderWindowWin32::AskText(const std::string& question, const std::string& text) {
  Trace("text question " + question);
  TextQuestion q{Wide(question), Wide(text)};
  const std::vector<WORD> shape = TextQuestionTemplate(Wide(kWindowCaption));
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(shape.data()), window_,
                          TextQuestionProc, reinterpret_cast<LPARAM>(&q));
  if (!q.answered) {
    Trace("text answer cancelled");
    return std::nullopt;
  }
  Trace("text answer " + Utf8(q.text));
  return Utf8(q.text);
}

void LoaderWindowWin32::ShowCell(int row, int column) {
  if (!window_) return;
  TabCtrl_SetCurSel(pages_, 0);
  ShowWindow(grid_->Handle(), SW_SHOW);
  ShowWindow(debug_log_, SW_HIDE);
  grid_->SetCurrent(row, column);
  SetFocus(grid_->Handle());
  Trace("cell " + std::to_string(row) + " " + std::to_string(column));
}

void LoaderWindowWin32::TakeDownQuestion() {
  if (!question_box) return;
  Trace("question taken down");
  PostMessageW(question_box, WM_COMMAND, IDNO, 0);
}

void LoaderWindowWin32::StartTimer(WindowTimer timer, uint32_t interval_ms) {
  if (!window_) return;
  if (timer != WindowTimer::kLoadDue) {
    SetTimer(window_, TimerId(timer), interval_ms, nullptr);
    return;
  }
  // A window timer ends on the system's timer step (10 ms at the least): the
  // load's deadlines take the window's own timer thread, to the millisecond,
  // whose end comes to this thread as a message. Its wait may end up to a
  // millisecond before the load's clock has moved on, and a wait of a
  // millisecond may take several (Wine): the last millisecond goes round the
  // message loop.
  StopTimer(timer);
  if (interval_ms > 1) {
    if (!due_timer_) {
      HWND window = window_;
      due_timer_ = std::make_unique<DueTimer>([window](unsigned id) { PostMessageW(window, kLoadStepDue, id, 0); });
    }
    load_due_ = due_timer_->Start(interval_ms);
    return;
  }
  load_due_ = kDueNow;
  PostMessageW(window_, kLoadStepDue, kDueNow, 0);
}

void LoaderWindowWin32::StopTimer(WindowTimer timer) {
  if (timer != WindowTimer::kLoadDue) {
    KillTimer(window_, TimerId(timer));
    return;
  }
  if (due_timer_) due_timer_->Stop();
  load_due_ = 0;
}

void LoaderWindowWin32::Later(std::function<void()> step) {
  if (!window_) return;
  later_.push_back(std::move(step));
  PostMessageW(window_, kRunLater, 0, 0);
}

}  // namespace kvr
