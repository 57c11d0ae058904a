// Everything the loader's window decides, without a toolkit: the file and the
// grid, the port list and the stored port index, the start switch's truth,
// the start delay, the load's supervision, locking the inputs during a load,
// the close question, the status line, the debug log, the times and the
// record of each load. A toolkit's window implements LoaderScreen and calls
// the entry points below; the load itself runs in the load engine over the
// serial component.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comm_channel.h"
#include "image_grid.h"
#include "load_engine.h"
#include "loader_screen.h"
#include "page_table.h"
#include "port_choices.h"
#include "port_info.h"
#include "tick_source.h"
#include "update_file.h"
#include "va_comm.h"
#include "window_record.h"

namespace kvr {

// What the window takes from outside; every member has a working default.
struct WindowOptions {
  TickSource* ticks = nullptr;                                         // the window's clock (the system's by default)
  std::function<std::vector<PortChoice>()> probe_ports;                // ports found on the machine
  std::vector<std::string> first_ports;                                // listed first, the first one preselected
  std::function<PortPermission(const std::string&)> check_permission;  // why a device may not be opened
  LoadSettings load;                                                   // reply time-out and retries
  std::string record_file;                                             // the record file of loads ("" for none)
  std::string tool = "kvr-loader";                                     // the program and version named in each record
  // Opens a port's device instead of the system (an in-process simulated device).
  std::function<std::shared_ptr<va::platform::Device>(const std::string& path)> open_device;
  // The simulated device's check of a complete load on `port`: whether its
  // image is the one `image_text` (an update file's text) describes; nothing
  // when `port` is no simulated device.
  std::function<std::optional<bool>(const std::string& port, const std::string& image_text)> check_device;
};

class LoaderWindowLogic final : public LoadView, public UpdateFileUi {
 public:
  LoaderWindowLogic(LoaderScreen& screen, WindowOptions options = {});
  ~LoaderWindowLogic() override;
  LoaderWindowLogic(const LoaderWindowLogic&) = delete;
  LoaderWindowLogic& operator=(const LoaderWindowLogic&) = delete;

  // The window is up: the port list, the stored index, the grid's headings.
  void SetUpAtStart();
  // The "..." button: the open dialog, then the file.
  void OpenFileClicked();
  // Opens `path` as if chosen in the dialog.
  void OpenFile(const std::string& path);
  // Save as (Ctrl+S): the save dialog, then SaveAs.
  void SaveAsAsked();
  // Writes the image as shown (edits included) as the file at `path` (".KVR"
  // added when it has another extension), in the opened file's own lines,
  // line ends and size; asks before replacing a file there; refuses the file
  // a running load was read from. A failure is told naming the file and
  // leaves no half file. Once saved, the window works on that file: it is
  // the one named, recorded and reverted to. False when nothing was saved.
  bool SaveAs(std::string path);
  // Revert: the edited cells back to the file's text (asked first).
  void RevertAsked();
  // Go to (Ctrl+G): asks where, then goes there.
  void GoToAsked();
  // Goes to the place `typed` names (FindGridPlace); a place that is not
  // there is refused with a message and nothing moves. False then.
  bool GoTo(const std::string& typed);
  // A click on the start switch (a press and its release over it): starts a
  // load, or stops the running one.
  void StartSwitchClicked();
  // Any release of a press on the switch (a click or not: released outside,
  // the second press of a double click): the switch shows what is true again.
  void StartSwitchReleased() { ShowSwitchTruth(); }
  void StartDelayElapsed();
  // The port's received-bytes event.
  void BytesArrived(int count);
  // The supervisor's tick: the load's times (and its time limits).
  void PollTick();
  // The load's next step is due: a command goes out, a time limit is acted on.
  void LoadStepDue();
  // Another try at the record file, which another writer held.
  void RecordRetryElapsed() { WriteRecords(); }
  // The window is asked to close: false keeps it open (a load runs and the
  // operator said no); true once the load, if any, is stopped.
  bool CloseAsked();
  // The port list is about to open: it is made again, so that an adapter
  // plugged in later appears.
  void PortListOpening();

  // A load is running (from the switch's press to its end).
  bool LoadRuns() const { return engine_->Running() || port_.Active(); }
  // The simulated device's verdict on the last complete load ("" when there
  // was none): "simulated device: image equal to the file".
  const std::string& DeviceVerdictText() const { return device_verdict_; }
  // How the last load ended (kIdle before the first).
  LoadOutcome LastOutcome() const { return last_outcome_; }
  // Called when a load has ended, after the window shows how.
  std::function<void(LoadOutcome outcome, const std::string& message)> OnLoadEnded;

  // A line for the debug log.
  void Log(const std::string& line) { screen_.AppendLog(line); }
  const std::string& FilePath() const { return file_path_; }
  // The image as a save would write it: the file's bytes with the cells shown.
  std::string ImageText() const;
  // The port the last load ran on ("" before the first).
  const std::string& LoadPort() const { return load_port_; }
  ImageGrid& Grid() { return grid_; }
  const PageTable& Table() const { return table_; }
  const UpdateFileState& File() const { return file_; }
  const std::vector<PortEntry>& Ports() const { return entries_; }
  va::TVaComm& Port() { return port_; }
  // The figures of the load under way, or of the last one.
  LoadProgress Progress() { return engine_->Progress(); }

 private:
  // LoadView (for the engine) and UpdateFileUi (for reading files)
  void SetProgress(int percent) override { screen_.ShowProgress(percent); }
  void SetStatus(const std::string& caption) override { screen_.ShowStatus(caption); }
  void LoadRetry(int attempt, const std::string& where, const std::string& why) override;
  void LoadEnded(LoadOutcome outcome, const std::string& message) override;
  // UpdateFileUi
  void ClearLogs() override { screen_.ClearLog(); }
  void WarnWrongSize() override;

  // The ports named on the command line, then those found now.
  std::vector<PortChoice> PortChoicesNow() const;
  void ShowPorts(const std::vector<PortChoice>& ports, int chosen);
  std::string ChosenPortName() const;
  bool StartLoad();
  // After every step of the load: the timer set for its next deadline.
  void ScheduleLoadStep();
  void ClosePortAfterLoad();
  // Where a stopped load ended, for the status line: ", страница 0011 из 0900".
  std::string StopPlace();
  void PortLost();
  void RecordLoadEnd(LoadOutcome outcome, const std::string& message);
  // Writes the records that wait for the file, without waiting for its lock:
  // while another writer holds it, a timer tries again, and after 2 s (then
  // every 10 s) the operator is asked whether to wait on.
  void WriteRecords();
  void ReportRecordFailure(const WindowRecord::Failure& failure);
  // Runs a step whose failure the application's standard error report shows;
  // `on_failure` runs before the report. False when it failed.
  bool Guarded(const std::function<void()>& step, const std::function<void()>& on_failure = {});
  void ShowSwitchTruth() { screen_.ShowSwitch(LoadRuns()); }
  // Whether there is an image to save (told when not), a cell being edited in it.
  bool ImageToSave();
  // The window now works on `path`, whose bytes are `text`.
  void TakeFile(const std::string& path, std::string text);
  // The simulated device's verdict on a complete load, for its record ("" when none).
  std::string DeviceVerdict(LoadOutcome& outcome);
  void LockInputs(bool locked);
  void ShowTimes();

  LoaderScreen& screen_;
  WindowOptions options_;
  SystemTicks system_ticks_;
  TickSource* ticks_;
  va::TVaComm port_;
  CommChannel channel_{port_};
  PageTable table_;
  UpdateFileState file_;
  ImageGrid grid_{table_};
  std::unique_ptr<LoadEngine> engine_;
  WindowRecord record_;
  std::vector<PortEntry> entries_;
  std::string file_path_;       // the file last opened (or saved as)
  std::string opened_text_;     // its bytes as read (or written): what a save starts from
  std::string load_file_;       // the file the running load's image was read from
  std::string last_go_to_;      // what was typed to go to last, offered again
  ImageRecord opened_;          // what was read of it: size and SHA-256, for the record
  std::string load_port_;       // the port name the load runs on
  std::string device_verdict_;  // the simulated device's verdict on the last complete load
  bool recording_ = false;      // the running load's record is begun and not yet ended
  std::string record_holder_;   // who held the record file at the last try ("" when nobody)
  uint32_t record_ask_at_ = 0;  // when to ask whether to wait on for it
  int record_questions_ = 0;    // how often that was asked by the write's look
  bool asking_ = false;         // the question about it is up
  bool close_question_up_ = false;  // the close question is up and its load runs
  LoadOutcome last_outcome_ = LoadOutcome::kIdle;
  uint32_t shown_second_ = 0;  // the elapsed second the times show
  bool shown_running_ = false;
  std::string shown_times_;
};

}  // namespace kvr
