#include "loader_window_logic.h"

#include <filesystem>
#include <iostream>

#include "cp1251.h"
#include "hex_text.h"
#include "load_port.h"
#include "port_setting_text.h"
#include "port_texts.h"
#include "sha256.h"
#include "update_file_io.h"
#include "utf8_files.h"
#include "window_texts.h"

namespace kvr {

namespace {

// Whether two names are one file (a name and its link, a relative and a full name).
bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(base::Utf8Path(a), base::Utf8Path(b), ec);
}

}  // namespace

LoaderWindowLogic::LoaderWindowLogic(LoaderScreen& screen, WindowOptions options)
    : screen_(screen), options_(std::move(options)), record_(options_.record_file, options_.tool) {
  if (!options_.probe_ports) options_.probe_ports = FoundPortChoices;
  if (!options_.check_permission) options_.check_permission = CheckPortPermission;
  ticks_ = options_.ticks ? options_.ticks : &system_ticks_;
  engine_ = std::make_unique<LoadEngine>(channel_, *ticks_, table_, file_, *this);
  engine_->Configure(options_.load);
  // Device bytes (replies) are Windows-1251 text.
  engine_->SetLog([this](const std::string& line) { screen_.AppendLog(Cp1251ToUtf8(line)); });
  // The designed settings, in their stored order; a load sets its own line.
  port_.BeginLoading();
  port_.SetBaudrate(va::brUser);
  port_.SetFlowControl(va::TVaFlowControl());
  port_.SetDeviceName("COM1");
  port_.Buffers().SetReadTimeout(5000);
  port_.Buffers().SetWriteTimeout(0);
  port_.SetUserBaudrate(10400);
  port_.Loaded();
  if (options_.open_device) port_.DeviceOpener = options_.open_device;
  // The port's threads have ended when Close returns: the component's pause
  // after it (300 ms) would hold the window at the end of every load.
  port_.ClosePause = [](uint32_t) {};
}

LoaderWindowLogic::~LoaderWindowLogic() {
  try {
    port_.Close();
  } catch (...) {
  }
  // A record still waiting for its file is not lost with the program: it goes
  // to standard error.
  if (!record_.Waiting()) return;
  WindowRecord::Written written = record_.Write();
  if (!written.busy.empty())
    for (const WindowRecord::Failure& f : record_.GiveUp(written.busy)) written.failures.push_back(f);
  for (const WindowRecord::Failure& f : written.failures)
    std::cerr << "kvr-loader: " << f.why << "; this run's record:\n" << f.line << std::flush;
}

bool LoaderWindowLogic::Guarded(const std::function<void()>& step, const std::function<void()>& on_failure) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    if (on_failure) on_failure();
    screen_.ReportError(e.what());
    return false;
  }
}

std::vector<PortChoice> LoaderWindowLogic::PortChoicesNow() const {
  std::vector<PortChoice> ports;
  for (const std::string& name : options_.first_ports)
    ports.push_back({name, va::IdentifyPort(va::DevicePathFor(name))});
  for (PortChoice& port : options_.probe_ports()) ports.push_back(std::move(port));
  for (PortChoice& port : ports)
    if (port.access == va::acDenied && port.hint.empty())
      port.hint =
          PermissionHintText(port.name, options_.check_permission(va::DevicePathFor(port.name)), kRussianPortWords);
  return ports;
}

void LoaderWindowLogic::ShowPorts(const std::vector<PortChoice>& ports, int chosen) {
  entries_.clear();
  for (const PortChoice& port : ports) entries_.push_back(EntryFor(port));
  screen_.ShowPorts(entries_, chosen >= 0 && chosen < static_cast<int>(entries_.size()) ? chosen : -1);
}

std::string LoaderWindowLogic::ChosenPortName() const {
  const int chosen = screen_.ChosenPort();
  return chosen >= 0 && chosen < static_cast<int>(entries_.size()) ? entries_[static_cast<size_t>(chosen)].name : "";
}

void LoaderWindowLogic::PortListOpening() {
  // The port chosen before stays chosen when it is still listed; otherwise
  // nothing is.
  const std::string chosen = ChosenPortName();
  const std::vector<PortChoice> ports = PortChoicesNow();
  int index = -1;
  for (size_t i = 0; i < ports.size() && !chosen.empty(); ++i)
    if (ports[i].name == chosen) {
      index = static_cast<int>(i);
      break;
    }
  ShowPorts(ports, index);
}

void LoaderWindowLogic::SetUpAtStart() {
  const std::vector<PortChoice> ports = PortChoicesNow();
  ShowPorts(ports, -1);
  Guarded(
      [&] {
        int32_t index = screen_.StoredPortIndex();
        if (!options_.first_ports.empty()) index = 0;  // the port given first is the one to use
        ShowPorts(ports, index == -1 ? 0 : index);
        screen_.BeginGridReset();
        table_.SetupHeadings();
        screen_.EndGridReset();
      },
      [this] { screen_.ShowPorts(entries_, -1); });
}

void LoaderWindowLogic::OpenFileClicked() {
  screen_.CommitCellEdit();
  const std::string path = screen_.ChooseFile();
  if (path.empty() || (grid_.Edited() && !screen_.Ask(kUnsavedQuestion))) return;
  OpenFile(path);
}

namespace {

// What reading a file asks of the window, kept until the file is known to be
// whole: a refused or unreadable file changes nothing on the screen.
class HeldFileUi final : public UpdateFileUi {
 public:
  void ClearLogs() override {}
  void WarnWrongSize() override { wrong_size = true; }
  void SetStatus(const std::string& caption) override { status = caption; }

  bool wrong_size = false;
  std::string status;
};

}  // namespace

void LoaderWindowLogic::OpenFile(const std::string& path) {
  if (LoadRuns()) return;  // the table is the running load's
  // The file is read beside the image shown; only a file read whole takes
  // its place, with its path and status.
  PageTable table = table_;  // the headings and the rows a shorter file leaves empty
  UpdateFileState state;
  HeldFileUi held;
  // The bytes laid into the table are the ones the record names and a save
  // starts from: the file may change on the disk or vanish.
  std::string bytes;
  bool read = false;
  try {
    read = OpenUpdateFile(path, table, state, held, nullptr, &bytes);
  } catch (const EInOutError& e) {
    // The classic text first, then the file and what is wrong with it, in
    // the command line's words.
    screen_.ReportError(std::string(e.what()) + "\n\n" + path + ": " + e.Reason());
    return;
  } catch (const std::exception& e) {
    screen_.ReportError(e.what());
    return;
  }
  if (!read) return;
  if (!state.Opened) {  // too large to be an update file
    screen_.ShowMessage(std::string(kWrongFileMessage) + "\n\n" + FillIn(kTooLargeMessage, 1, path));
    return;
  }
  screen_.ClearLog();
  screen_.BeginGridReset();
  table_ = std::move(table);
  file_ = state;
  TakeFile(path, std::move(bytes));
  screen_.EndGridReset();
  // A file of the wrong size opens (the classic warned and went on), but
  // its status line does not read like a good file's.
  screen_.ShowStatus(held.wrong_size ? std::string(kWrongSizeStatus) + HexUpper(file_.PageTotal, 4) : held.status);
  if (held.wrong_size) WarnWrongSize();
}

void LoaderWindowLogic::TakeFile(const std::string& path, std::string text) {
  file_path_ = path;
  screen_.ShowFilePath(path);
  opened_ = ImageRecord{};
  opened_.file = path;
  opened_.size = static_cast<int64_t>(text.size());
  Sha256 digest;
  digest.Add(text.data(), text.size());
  opened_.sha256 = digest.FinishHex();
  opened_text_ = std::move(text);
  grid_.TableRead();
}

std::string LoaderWindowLogic::ImageText() const { return EditedFileText(opened_text_, table_); }

bool LoaderWindowLogic::ImageToSave() {
  screen_.CommitCellEdit();
  if (!file_.Opened) screen_.ShowMessage(kNothingToSaveMessage);
  return file_.Opened;
}

void LoaderWindowLogic::SaveAsAsked() {
  if (!ImageToSave()) return;
  const std::string path = screen_.ChooseSaveFile(file_path_);
  if (!path.empty()) SaveAs(path);
}

bool LoaderWindowLogic::SaveAs(std::string path) {
  if (!ImageToSave()) return false;
  if (!HasUpdateFileExtension(path)) path += ".KVR";  // it opens again only so
  if (LoadRuns() && SameFile(path, load_file_)) {
    screen_.ShowMessage(FillIn(kSaveOntoLoadMessage, 1, path));
    return false;
  }
  std::error_code ec;
  const bool there = std::filesystem::symlink_status(base::Utf8Path(path), ec).type() !=
                     std::filesystem::file_type::not_found && !ec;
  if (there && !screen_.Ask(FillIn(kReplaceQuestion, 1, path))) return false;
  std::string text = ImageText();
  try {
    ReplaceFileWith(path, text);
  } catch (const EInOutError& e) {
    screen_.ShowMessage(FillIn(FillIn(kNotSavedMessage, 1, path), 2, e.Reason()));
    return false;
  }
  TakeFile(path, std::move(text));
  screen_.RedrawGrid();
  return true;
}

void LoaderWindowLogic::RevertAsked() {
  screen_.CommitCellEdit();
  if (grid_.Locked() || !grid_.Edited() || !screen_.Ask(FillIn(kRevertQuestion, 1, file_path_))) return;
  grid_.Revert();
  screen_.RedrawGrid();
}

void LoaderWindowLogic::GoToAsked() {
  if (const std::optional<std::string> typed = screen_.AskText(kGoToQuestion, last_go_to_)) GoTo(*typed);
}

bool LoaderWindowLogic::GoTo(const std::string& typed) {
  last_go_to_ = typed;
  const GridPlace place = FindGridPlace(typed);
  if (place.row < 0) {
    screen_.ShowMessage(place.refusal);
    return false;
  }
  screen_.ShowCell(place.row, place.column);
  return true;
}

void LoaderWindowLogic::StartSwitchClicked() {
  if (LoadRuns()) {
    // Whatever the switch shows, a press during a load stops it.
    engine_->Stop("stopped by the operator");
    return;
  }
  if (!StartLoad()) ShowSwitchTruth();
}

bool LoaderWindowLogic::StartLoad() {
  screen_.CommitCellEdit();
  // Nothing is opened or sent for an image that cannot be right.
  if (engine_->Begin()) return false;
  // A record that could not be written is refused before anything is sent.
  if (const base::Status checked = record_.Check(file_path_); !checked) {
    engine_->Refuse(LoadOutcome::kRecordError, kRecordRefusedMessage + checked.error().text);
    ShowSwitchTruth();  // off while the message is up
    screen_.ShowMessage(kRecordRefusedMessage + checked.error().text);
    return false;
  }
  load_port_ = ChosenPortName();
  load_file_ = file_path_;
  const std::string device = va::DevicePathFor(load_port_);
  // A port that cannot be set up or opened: the load is refused with the
  // component's text, and the report adds what the operator can do about it.
  const auto refused = [this](const std::string& refusal, const std::string& report) {
    engine_->Refuse(LoadOutcome::kPortError, refusal);
    ShowSwitchTruth();  // off while the report is up
    screen_.ReportError(report);
    return false;
  };
  try {
    SetUpLoadPort(
        port_, device, 38400, [this](int count) { BytesArrived(count); },
        // The lost-port handler closes the port: not from inside its own event.
        [this] { screen_.Later([this] { PortLost(); }); });
  } catch (const std::exception& e) {
    return refused("the port could not be set up", e.what());
  }
  try {
    port_.Open();
  } catch (const std::exception& e) {
    const std::string hint = PermissionHintText(load_port_, options_.check_permission(device), kRussianPortWords);
    return refused(e.what(), hint.empty() ? e.what() : std::string(e.what()) + "\n\n" + hint);
  }
  ImageRecord image = opened_;
  image.edited = grid_.Edited();
  record_.Begin(image, load_port_);
  recording_ = true;
  screen_.ClearLog();
  LockInputs(true);
  ShowTimes();
  screen_.StartTimer(WindowTimer::kSupervisor, 50);
  screen_.StartTimer(WindowTimer::kStartDelay, 100);
  ShowSwitchTruth();
  return true;
}

void LoaderWindowLogic::StartDelayElapsed() {
  screen_.StopTimer(WindowTimer::kStartDelay);
  Guarded([this] { engine_->SendOpening(); });  // written at once when there is no pause
  ScheduleLoadStep();
}

void LoaderWindowLogic::BytesArrived(int count) {
  // A write failure of a command sent at once is reported like any other.
  Guarded([&] { engine_->OnRxChar(count); });
  ScheduleLoadStep();
}

void LoaderWindowLogic::LoadStepDue() {
  Guarded([this] { engine_->Poll(); });
  ScheduleLoadStep();
}

void LoaderWindowLogic::PollTick() {
  LoadStepDue();
  ShowTimes();
}

void LoaderWindowLogic::ScheduleLoadStep() {
  const int64_t ms = engine_->Running() ? engine_->MsUntilDue() : -1;
  if (ms < 0)
    screen_.StopTimer(WindowTimer::kLoadDue);
  else
    screen_.StartTimer(WindowTimer::kLoadDue, static_cast<uint32_t>(ms));
}

void LoaderWindowLogic::ShowTimes() {
  const LoadProgress p = engine_->Progress();
  // Once a second: the remaining time's estimate moves with every reply, and
  // redrawing it 20 times a second costs more than the load itself.
  const bool running = engine_->Running();
  const uint32_t second = p.elapsed_ms / 1000;
  if (running && shown_running_ && second == shown_second_) return;
  shown_running_ = running;
  shown_second_ = second;
  std::string text = kElapsedText + ClockText(p.elapsed_ms);
  if (running) text += kRemainingText + ClockText(p.remaining_ms);
  if (text == shown_times_) return;
  shown_times_ = text;
  screen_.ShowTimes(text);
}

void LoaderWindowLogic::LockInputs(bool locked) {
  grid_.SetLocked(locked);
  screen_.LockInputs(locked);
}

bool LoaderWindowLogic::CloseAsked() {
  if (LoadRuns()) {
    // The load goes on while the question is up; when it ends first, the
    // question is taken down and the window stays, showing how it ended.
    close_question_up_ = true;
    const bool yes = screen_.Ask(kCloseQuestion);
    const bool taken_down = !close_question_up_;
    close_question_up_ = false;
    if (taken_down || !yes) return false;
    engine_->Stop("the window was closed during the load,");
  }
  screen_.CommitCellEdit();
  if (grid_.Edited() && !screen_.Ask(kUnsavedQuestion)) return false;
  // A record that waits for its file is written first, or given up by the
  // operator (it then goes to standard error and the debug log); the
  // question is asked once, here or by the write's own look.
  const int asked_before = record_questions_;
  if (record_.Waiting()) WriteRecords();
  if (record_.Waiting() && !asking_ && record_questions_ == asked_before) {
    if (screen_.Ask(FillIn(kRecordBusyQuestion, 1, record_holder_))) {
      record_ask_at_ = ticks_->Ticks() + 10000;  // waited on: not asked again at once
      return false;
    }
    for (const WindowRecord::Failure& f : record_.GiveUp(record_holder_)) ReportRecordFailure(f);
    screen_.StopTimer(WindowTimer::kRecordRetry);
  }
  return !record_.Waiting();
}

void LoaderWindowLogic::LoadRetry(int attempt, const std::string& where, const std::string& why) {
  screen_.AppendLog(FillIn(FillIn(FillIn(kRetryLog, 1, std::to_string(attempt)), 2, where), 3, Cp1251ToUtf8(why)));
}

// Every end of a load comes here from the engine. A load that ran closes its
// port as switching off would close it and is recorded; a refused one never
// opened it.
void LoaderWindowLogic::LoadEnded(LoadOutcome outcome, const std::string& engine_message) {
  std::string message = engine_message;
  if (close_question_up_) {  // no question stands over a load that has ended
    close_question_up_ = false;
    screen_.TakeDownQuestion();
  }
  if (port_.Active() || recording_) {
    // Closed before the record is written: a question or a message about the
    // record file comes up with nothing more going out.
    ClosePortAfterLoad();
    if (outcome == LoadOutcome::kComplete)
      message = "load complete: " + std::to_string(engine_->Progress().commands) + " commands" + DeviceVerdict(outcome);
    RecordLoadEnd(outcome, message);
  }
  switch (outcome) {
    case LoadOutcome::kNoAnswer: {
      // Silence, or the reply the device kept giving instead of the one due;
      // the gauge keeps what it shows.
      const std::string& reply = engine_->RefusedReply();
      std::string shown = Cp1251ToUtf8(reply.substr(0, 40));
      if (reply.size() > 40) shown += "…";
      screen_.ShowStatus(reply.empty() ? std::string(FactsOf(outcome).russian) : kRefusedStatus + shown);
      screen_.AppendLog(message);
      break;
    }
    case LoadOutcome::kInterrupted:
      // Stopped by the switch or by closing the window: the status line says
      // so and where (the classic cleared it); the gauge goes back to 0.
      screen_.ShowProgress(0);
      screen_.ShowStatus(std::string(FactsOf(outcome).russian) + StopPlace());
      break;
    case LoadOutcome::kPortLost:
      screen_.ShowStatus(std::string(FactsOf(outcome).russian) + load_port_ + StopPlace());
      screen_.ShowMessage(std::string(FactsOf(outcome).russian) + load_port_);
      break;
    case LoadOutcome::kImageError: {
      // The operator is told what is wrong with the image, in the status line.
      const ImageProblem& problem = engine_->Problem();
      message = problem.kind == ImageProblem::Kind::kNoFile ? std::string(kNoFileStatus)
                                                            : FillIn(kBadLineStatus, 1, std::to_string(problem.line));
      screen_.ShowStatus(message);
      break;
    }
    default:  // complete: the status line says so already; refusals say why where they happen
      break;
  }
  last_outcome_ = outcome;
  if (OnLoadEnded) OnLoadEnded(outcome, message);
}

std::string LoaderWindowLogic::DeviceVerdict(LoadOutcome& outcome) {
  device_verdict_.clear();
  const std::optional<bool> equal =
      options_.check_device ? options_.check_device(load_port_, ImageText()) : std::nullopt;
  if (!equal) return {};
  device_verdict_ = std::string("simulated device: image ") + (*equal ? "equal to " : "NOT equal to ") +
                    (grid_.Edited() ? "the edited image" : "the file");
  if (!*equal) outcome = LoadOutcome::kImageDiffers;
  screen_.AppendLog(device_verdict_);
  return "; " + device_verdict_;
}

std::string LoaderWindowLogic::StopPlace() {
  const int64_t page = engine_->Progress().page;
  if (page < 0) return kStoppedAtOpening;
  return FillIn(FillIn(kStoppedAtPage, 1, HexUpper(page, 4)), 2, HexUpper(file_.PageTotal, 4));
}

void LoaderWindowLogic::ClosePortAfterLoad() {
  screen_.StopTimer(WindowTimer::kSupervisor);
  screen_.StopTimer(WindowTimer::kStartDelay);
  screen_.StopTimer(WindowTimer::kLoadDue);
  Guarded([this] { port_.Close(); });
  screen_.ShowSwitch(false);
  LockInputs(false);
  ShowTimes();
}

void LoaderWindowLogic::PortLost() {
  if (!port_.Active()) return;
  engine_->PortLost("the port " + load_port_ + " was lost at " + engine_->Where());
}

void LoaderWindowLogic::RecordLoadEnd(LoadOutcome outcome, const std::string& message) {
  recording_ = false;
  const LoadProgress figures = engine_->Progress();
  const OutcomeFacts& facts = FactsOf(outcome);
  record_.End(std::string(facts.record), facts.exit_code, message, figures.commands, figures.retries);
  WriteRecords();
}

void LoaderWindowLogic::WriteRecords() {
  if (asking_) return;  // a timer's tick while the question is up
  const WindowRecord::Written written = record_.Write();
  for (const WindowRecord::Failure& f : written.failures) ReportRecordFailure(f);
  if (written.busy.empty()) {
    record_holder_.clear();
    screen_.StopTimer(WindowTimer::kRecordRetry);
    return;
  }
  const bool first = record_holder_.empty();
  record_holder_ = written.busy;
  const uint32_t now = ticks_->Ticks();
  if (first) {
    // Another program's append takes milliseconds: a lock held longer is
    // named, and the operator says whether to wait on.
    record_ask_at_ = now + 2000;
    screen_.StartTimer(WindowTimer::kRecordRetry, 100);
    return;
  }
  if (static_cast<int32_t>(now - record_ask_at_) < 0) return;
  asking_ = true;
  ++record_questions_;
  const bool wait_on = screen_.Ask(FillIn(kRecordBusyQuestion, 1, written.busy));
  asking_ = false;
  if (wait_on) {
    record_ask_at_ = ticks_->Ticks() + 10000;
    return;
  }
  for (const WindowRecord::Failure& f : record_.GiveUp(written.busy)) ReportRecordFailure(f);
  record_holder_.clear();
  screen_.StopTimer(WindowTimer::kRecordRetry);
}

void LoaderWindowLogic::ReportRecordFailure(const WindowRecord::Failure& failure) {
  std::cerr << "kvr-loader: " << failure.why << "; this run's record:\n" << failure.line << std::flush;
  screen_.AppendLog(failure.line.substr(0, failure.line.size() - 1));
  screen_.ShowMessage(kRecordFailedMessage + failure.why);
}

void LoaderWindowLogic::WarnWrongSize() { screen_.ShowMessage(std::string(kWrongFileMessage)); }

}  // namespace kvr
