// What the window logic asks of the window it runs in: the one interface a
// toolkit's window implements. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kvr {

// A port as the port list shows it.
struct PortEntry {
  std::string name;         // what the list shows and the load opens: ttyUSB0, pts/3, COM7
  std::string description;  // beside the name in the open list
  std::string tooltip;      // rich text: everything known of the port
};

enum class WindowTimer {
  kStartDelay,  // 100 ms from the switch's press to the opening command
  kSupervisor,  // 50 ms: the load's times, and its time limits as a fallback
  kLoadDue,     // when the load's next step falls due: a command's pause is
                // over, a time-out or a quiet period ends (to the millisecond)
  kRecordRetry, // 100 ms: another try at a record file another writer holds
};

class LoaderScreen {
 public:
  virtual ~LoaderScreen() = default;

  virtual void ShowStatus(const std::string& text) = 0;  // the status line
  virtual void ShowProgress(int percent) = 0;            // the gauge
  virtual void ShowSwitch(bool on) = 0;                  // the start switch, without a click
  // The file, its "..." button, the grid's editing and the port choice.
  virtual void LockInputs(bool locked) = 0;
  virtual void AppendLog(const std::string& line) = 0;  // the debug log
  virtual void ClearLog() = 0;
  virtual void ShowTimes(const std::string& text) = 0;  // elapsed and remaining, beside the tabs
  virtual void ShowFilePath(const std::string& path) = 0;
  // Replaces the port list; `chosen` is the entry to select (-1 for none).
  virtual void ShowPorts(const std::vector<PortEntry>& ports, int chosen) = 0;
  virtual int ChosenPort() const = 0;  // the selected entry, -1 for none
  // The stored port index (-1 when none is stored); throws when the stored
  // value cannot be read as one.
  virtual int32_t StoredPortIndex() = 0;

  virtual void ShowMessage(const std::string& text) = 0;  // the window's message box
  virtual void ReportError(const std::string& text) = 0;  // the application's standard error report
  virtual bool Ask(const std::string& question) = 0;      // yes or no; true for yes
  // Closes the question that is up (Ask then returns; its answer is not
  // acted on): what it asked about has ended while it was up.
  virtual void TakeDownQuestion() = 0;
  virtual std::string ChooseFile() = 0;                   // the open dialog; "" when cancelled
  // The save dialog, `suggested` offered; "" when cancelled. It does not ask
  // about replacing a file: the logic does.
  virtual std::string ChooseSaveFile(const std::string& suggested) = 0;
  // A line of text asked for, `text` offered; nothing when cancelled.
  virtual std::optional<std::string> AskText(const std::string& question, const std::string& text) = 0;
  // The grid scrolled to the cell at (row, column), which becomes the current one.
  virtual void ShowCell(int row, int column) = 0;

  // The grid's rows are about to change / have changed wholesale.
  virtual void BeginGridReset() = 0;
  virtual void EndGridReset() = 0;
  // Cells' texts or marks have changed (the rows stay as they are).
  virtual void RedrawGrid() = 0;
  // A cell still being edited goes into the image now.
  virtual void CommitCellEdit() = 0;

  // Repeating until stopped; starting a running timer starts it anew.
  virtual void StartTimer(WindowTimer timer, uint32_t interval_ms) = 0;
  virtual void StopTimer(WindowTimer timer) = 0;
  // Runs `step` on the window's thread once the current event is done.
  virtual void Later(std::function<void()> step) = 0;
};

}  // namespace kvr
