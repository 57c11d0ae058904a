// The loader's window on Qt: the widgets, their layout, and forwarding. What
// the window does is decided by LoaderWindowLogic; this host shows what the
// logic asks (LoaderScreen) and passes the operator's actions, the timers and
// the port's events on to it.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "due_timer.h"
#include "gauge_widget.h"
#include "loader_screen.h"
#include "loader_window_logic.h"
#include "port_list.h"
#include "switch_button_widget.h"
#include "window_texts.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;

namespace kvr {

class PageTableModel;

// What the Qt window takes from outside besides the logic's options; each
// has a working default (the Qt dialogs and the stored settings).
struct QtWindowOptions {
  std::function<void(const std::string&)> report;   // standard error report (message box)
  std::function<void(const std::string&)> message;  // the window's own message boxes
  std::function<bool(const std::string&)> confirm;  // a yes/no question; true for yes
  std::function<std::string()> choose_file;         // the open dialog; "" when cancelled
  // The save dialog, a name offered; "" when cancelled.
  std::function<std::string(const std::string& suggested)> choose_save_file;
  // A line of text asked for (go to); nothing when cancelled. The window's
  // input dialog by default.
  std::function<std::optional<std::string>(const std::string& question, const std::string& text)> ask_text;
  std::function<int32_t()> stored_port_index;       // StoredSettings::PortIndex (QtStoredSettings')
};

// The open dialog for an update file; "" when cancelled.
std::string ChooseUpdateFile(QWidget* parent);
// The save dialog for an update file, `suggested` offered; "" when cancelled.
// It does not ask about replacing a file (the logic does).
std::string ChooseSaveFile(QWidget* parent, const std::string& suggested);

class LoaderWindow final : public QWidget, public LoaderScreen {
 public:
  explicit LoaderWindow(WindowOptions options = {}, QtWindowOptions qt = {});
  ~LoaderWindow() override;

  LoaderWindowLogic& Logic() { return *logic_; }

  // The controls.
  QLabel* FileLabel;
  QLineEdit* FilePath;
  QToolButton* OpenFileButton;
  QPushButton* SaveAsButton;
  QPushButton* RevertButton;
  QLabel* PortLabel;
  PortListBox* PortList;
  ab::qt::SwitchButtonWidget* StartSwitch;
  QLabel* StatusLine;
  QTabWidget* Pages;
  QWidget* DataPage;
  QWidget* DebugPage;
  QTableView* DataGrid;
  QPlainTextEdit* DebugLog;
  ab::qt::GaugeWidget* ProgressGauge;
  QLabel* LoadTimes;  // elapsed and remaining time, beside the tabs
  PageTableModel* Model;

 private:
  void BuildLayout();
  void BuildTopRows();
  void BuildPages();
  void closeEvent(QCloseEvent* event) override;

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
  int ChosenPort() const override;
  int32_t StoredPortIndex() override { return qt_.stored_port_index(); }
  void ShowMessage(const std::string& text) override { qt_.message(text); }
  void ReportError(const std::string& text) override { qt_.report(text); }
  bool Ask(const std::string& question) override { return qt_.confirm(question); }
  void TakeDownQuestion() override;
  std::string ChooseFile() override { return qt_.choose_file(); }
  std::string ChooseSaveFile(const std::string& suggested) override { return qt_.choose_save_file(suggested); }
  std::optional<std::string> AskText(const std::string& question, const std::string& text) override;
  void ShowCell(int row, int column) override;
  void BeginGridReset() override;
  void EndGridReset() override;
  void RedrawGrid() override;
  void CommitCellEdit() override;
  void StartTimer(WindowTimer timer, uint32_t interval_ms) override;
  void StopTimer(WindowTimer timer) override;
  void Later(std::function<void()> step) override;

  QTimer* TimerFor(WindowTimer timer) const {
    switch (timer) {
      case WindowTimer::kStartDelay:
        return start_delay_;
      case WindowTimer::kSupervisor:
        return supervisor_;
      case WindowTimer::kRecordRetry:
        return record_retry_;
      case WindowTimer::kLoadDue:
        break;
    }
    return nullptr;  // the load's steps take the due timer
  }
  void LoadStepDue(unsigned id);

  QtWindowOptions qt_;
  std::unique_ptr<LoaderWindowLogic> logic_;
  QTimer* start_delay_;
  QTimer* supervisor_;
  QTimer* record_retry_;
  QPointer<QMessageBox> question_;  // the question that is up
  unsigned load_due_ = 0;  // the id of the load's next step's deadline (0: none)
  std::unique_ptr<DueTimer> due_timer_;  // made at the first step; its thread posts to the window
};

}  // namespace kvr
