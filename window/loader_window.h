// The program's one window: file choice and data grid, port choice, the
// start switch, the status line, the debug log, the progress gauge and the
// load's times. It owns the serial port and runs loads through the load
// engine; while a load runs, the file, the grid and the port choice are
// locked, a press on the switch stops the load and closing asks first.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm_channel.h"
#include "command_link.h"
#include "exchange.h"
#include "gauge.h"
#include "load_engine.h"
#include "load_record.h"
#include "page_table.h"
#include "port_info.h"
#include "port_list.h"
#include "switch_button.h"
#include "tick_source.h"
#include "update_file.h"
#include "va_comm.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;

namespace kvr {

class PageTableModel;

inline constexpr const char* kWindowCaption = "Загрузчик DATAFLASH в ВЕЛМ KVR-LORVENT/VUNI v.1";
inline constexpr const char* kApplicationTitle = "Загрузчик обновленного ПО в Велм-КВР";
inline constexpr const char* kPortLostMessage = "Потеряна связь с портом ";
inline constexpr const char* kNoReplyStatus = "Нет ответа от устройства";
inline constexpr const char* kNoFileStatus = "Файл для загрузки не открыт";
inline constexpr const char* kBadLineStatus = "Ошибка в строке %1 файла обновления";
inline constexpr const char* kRefusedStatus = "Ответ устройства: ";
inline constexpr const char* kCloseQuestion = "Загрузка не завершена. Прервать загрузку и закрыть программу?";
inline constexpr const char* kRetryLog = "Повтор %1 (%2): %3";
inline constexpr const char* kRecordRefusedMessage = "Запись о загрузке невозможна: ";
inline constexpr const char* kRecordFailedMessage = "Запись о загрузке не сделана: ";
inline constexpr const char* kRecordBusyQuestion = "Файл записей о загрузках занят: %1. Подождать ещё?";
inline constexpr int kShownRows = 36864;

// What the window takes from outside; every member has a working default.
struct WindowOptions {
  TickSource* ticks = nullptr;                                         // the pauses' clock (the system's by default)
  std::function<void(const std::string&)> report;                      // standard error report (message box)
  std::function<void(const std::string&)> message;                     // the window's own message boxes
  std::function<bool(const std::string&)> confirm;                     // a yes/no question; true for yes
  std::function<std::string()> choose_file;                            // the open dialog; "" when cancelled
  std::function<std::vector<PortChoice>()> probe_ports;                // ports found on the machine
  std::vector<std::string> first_ports;                                // listed first, the first one preselected
  std::function<PortPermission(const std::string&)> check_permission;  // why a device may not be opened
  LoadSettings load;                                                   // reply time-out and retries
  std::string record_file;                                             // the record file of loads ("" for none)
  std::string tool = "kvr-loader";                                     // the program and version named in each record
};

// The open dialog for an update file; "" when cancelled.
std::string ChooseUpdateFile(QWidget* parent);

class LoaderWindow final : public QWidget, public LoadView, public UpdateFileUi {
 public:
  explicit LoaderWindow(WindowOptions options = {});
  ~LoaderWindow() override;

  // What creation, the operator's actions, the start delay and the port run.
  void SetUpAtStart();
  void OpenFileClicked();
  void StartSwitchClicked();
  void StartDelayElapsed();
  void BytesArrived(va::TVaObject* sender, int count);
  // The load's time-outs and page restarts and its times (run by a timer
  // during a load).
  void PollLoad();
  // A load is running (from the switch's press to its end).
  bool LoadRuns() const { return engine_->Running() || Port.Active(); }

  // Called when a load completes (after the status line says so).
  std::function<void()> OnLoadComplete;

  // LoadView and UpdateFileUi.
  void SetProgress(int percent) override;
  void SetStatus(const std::string& caption) override;
  void LoadRetry(int attempt, const std::string& where, const std::string& why) override;
  void LoadFinished(LoadResult result, const std::string& message) override;
  void ClearLogs() override;
  void WarnWrongSize() override;

  // The controls.
  QLabel* FileLabel;
  QLineEdit* FilePath;
  QToolButton* OpenFileButton;
  QLabel* PortLabel;
  PortListBox* PortList;
  ab::TAbColBitBtn* StartSwitch;
  QLabel* StatusLine;
  QTabWidget* Pages;
  QWidget* DataPage;
  QWidget* DebugPage;
  QTableView* DataGrid;
  QPlainTextEdit* DebugLog;
  ab::TGauge* ProgressGauge;
  QLabel* LoadTimes;  // elapsed and remaining time, beside the tabs
  QTimer* StartDelay;
  va::TVaComm Port;

  PageTable Table;
  UpdateFileState File;
  PageTableModel* Model;
  LoadEngine& Engine() { return *engine_; }
  CommandLink& Link() { return engine_->Link(); }
  const Exchange& TheExchange() const { return engine_->TheExchange(); }

 private:
  void BuildLayout();
  // The ports named on the command line, then those found now.
  std::vector<PortChoice> PortChoicesNow() const;
  void SetUpComm();
  void StopLoad();
  void PortLost();
  // The running load's record: begun when its port opened, appended to the
  // record file when it ends (a record that cannot be written is shown, put
  // into the debug log and written to standard error).
  void BeginRecord();
  void EndRecord(const std::string& result, int exit_code, const std::string& message);
  // Runs a step whose failure the application's standard error report shows;
  // `on_failure` runs before the report. False when it failed.
  bool Guarded(const std::function<void()>& step, const std::function<void()>& on_failure = {});
  void closeEvent(QCloseEvent* event) override;
  // The switch shows whether a load runs (after any press, a click or not).
  void ShowSwitchTruth() { StartSwitch->SetChecked(LoadRuns()); }
  // File, grid editing and port choice: locked while a load runs.
  void LockInputs(bool locked);
  void CommitOpenEdit();
  void ShowTimes();

  WindowOptions options_;
  bool recording_ = false;
  RunRecord record_;
  int load_retries_ = 0;
  SystemTicks system_ticks_;
  CommChannel channel_{Port};
  std::unique_ptr<LoadEngine> engine_;
  QTimer* supervisor_;         // runs PollLoad while a load runs
  std::string load_port_;      // the port name the load runs on
  uint32_t shown_second_ = 0;  // the elapsed second the times show
  bool shown_running_ = false;
};

}  // namespace kvr
