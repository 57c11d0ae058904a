// The loader's window on Win32: the controls, their layout, and forwarding.
// What the window does is decided by LoaderWindowLogic; this host shows what
// the logic asks (LoaderScreen) and passes the operator's actions, the
// timers and the port's events on to it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data_grid.h"
#include "due_timer.h"
#include "loader_screen.h"
#include "loader_window_logic.h"
#include "painted_control_window.h"
#include "port_list_box.h"

struct HWND__;

namespace kvr {

// What the Win32 window takes from outside besides the logic's options; each
// has a working default (message boxes, the open dialog, the registry).
struct Win32WindowOptions {
  std::function<void(const std::string&)> report;   // standard error report
  std::function<void(const std::string&)> message;  // the window's own message boxes
  std::function<int32_t()> stored_port_index;       // the registry's COM value
  // What the window shows, a line each ("status ...", "switch on",
  // "progress N", messages and questions; not the debug log's lines), and
  // the controls' places once it is up: for tests that watch the window.
  std::function<void(const std::string&)> trace;
};

// The open dialog for an update file; "" when cancelled.
std::string ChooseUpdateFile(HWND__* owner);
// The save dialog for an update file, `suggested` offered; "" when cancelled.
// It does not ask about replacing a file (the logic does).
std::string ChooseSaveFile(HWND__* owner, const std::string& suggested);
// A yes/no question with the buttons "Да" and "Нет", "Нет" the default; true for yes.
bool AskYesNo(HWND__* owner, const std::string& caption, const std::string& question);

class LoaderWindowWin32 final : public LoaderScreen {
 public:
  LoaderWindowWin32(WindowOptions options, Win32WindowOptions win32 = {});
  ~LoaderWindowWin32() override;
  LoaderWindowWin32(const LoaderWindowWin32&) = delete;
  LoaderWindowWin32& operator=(const LoaderWindowWin32&) = delete;

  LoaderWindowLogic& Logic() { return *logic_; }
  HWND__* Handle() const { return window_; }
  // Shows the window and reports the controls' places (trace).
  void Show();
  // Runs `step` on the window's thread after `delay_ms`, once.
  void After(uint32_t delay_ms, std::function<void()> step);

  // Tab and Shift+Tab between the controls, Enter and Escape kept from the
  // controls that do not ask for them: true when `msg` was taken (the
  // message loop then neither translates nor dispatches it).
  bool NavigationMessage(void* msg);

  // The window procedure's work; public for the procedure only.
  long long WindowProc(unsigned msg, unsigned long long wparam, long long lparam);

 private:
  void BuildLayout();
  void BuildTopRows();
  void BuildPages();
  void AddButtonHints();
  void Command(int id, int code);
  void TraceLayout();
  void FlushLog();
  void Trace(const std::string& line) {
    if (win32_.trace) win32_.trace(line);
  }

  // LoaderScreen
  void ShowStatus(const std::string& text) override;
  void ShowProgress(int percent) override;
  void ShowSwitch(bool on) override;
  void LockInputs(bool locked) override;
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void ShowTimes(const std::string& text) override;
  void ShowFilePath(const std::string& path) override;
  void ShowPorts(const std::vector<PortEntry>& ports, int chosen) override;
  int ChosenPort() const override { return ports_.Chosen(); }
  int32_t StoredPortIndex() override { return win32_.stored_port_index(); }
  void ShowMessage(const std::string& text) override;
  void ReportError(const std::string& text) override;
  bool Ask(const std::string& question) override;
  void TakeDownQuestion() override;
  std::string ChooseFile() override { return ChooseUpdateFile(window_); }
  std::string ChooseSaveFile(const std::string& suggested) override { return kvr::ChooseSaveFile(window_, suggested); }
  std::optional<std::string> AskText(const std::string& question, const std::string& text) override;
  void ShowCell(int row, int column) override;
  void BeginGridReset() override {}
  void EndGridReset() override { grid_->Reset(); }
  void RedrawGrid() override { grid_->Redraw(); }
  void CommitCellEdit() override { grid_->CommitEdit(); }
  void StartTimer(WindowTimer timer, uint32_t interval_ms) override;
  void StopTimer(WindowTimer timer) override;
  void Later(std::function<void()> step) override;

  Win32WindowOptions win32_;
  HWND__* window_ = nullptr;
  void* font_ = nullptr;         // the window's font (HFONT)
  void* status_font_ = nullptr;  // the status line's
  void* status_brush_ = nullptr;
  HWND__* file_label_ = nullptr;
  HWND__* file_path_ = nullptr;
  HWND__* open_file_ = nullptr;
  HWND__* save_as_ = nullptr;
  HWND__* revert_ = nullptr;
  HWND__* port_label_ = nullptr;
  HWND__* status_line_ = nullptr;
  HWND__* pages_ = nullptr;
  HWND__* debug_log_ = nullptr;
  HWND__* load_times_ = nullptr;
  HWND__* tips_ = nullptr;
  HWND__* focused_ = nullptr;  // the control with the focus when the window was last deactivated
  PortListBox ports_;
  ab::win32::SwitchButtonWindow start_switch_;
  ab::win32::GaugeWindow gauge_;
  std::unique_ptr<LoaderWindowLogic> logic_;
  std::unique_ptr<DataGrid> grid_;
  std::wstring pending_log_;  // lines not yet in the debug log
  std::deque<std::function<void()>> later_;
  std::vector<std::pair<uintptr_t, std::function<void()>>> after_;
  uintptr_t next_after_ = 100;
  unsigned load_due_ = 0;  // the id of the load's next step's timer (0: none)
  std::unique_ptr<DueTimer> due_timer_;  // made at the first step; its thread posts to the window
};

}  // namespace kvr
