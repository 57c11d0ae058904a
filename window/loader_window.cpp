#include "loader_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <fstream>
#include <iostream>

#include "cp1251.h"
#include "page_table_model.h"
#include "port_setting_registry.h"
#include "port_setting_text.h"
#include "port_texts.h"
#include "program_arguments.h"
#include "sha256.h"
#include "va_ports.h"

namespace kvr {

namespace {

QString ToQString(const std::string& s) { return QString::fromUtf8(s.c_str()); }
QString ToQString(const char* s) { return QString::fromUtf8(s); }
std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }

// Device bytes (replies, log lines) as the text they are in Windows-1251.
QString FromCp1251(const std::string& bytes) { return ToQString(Cp1251ToUtf8(bytes)); }

}  // namespace

std::string ChooseUpdateFile(QWidget* parent) {
  return ToUtf8(QFileDialog::getOpenFileName(parent, ToQString("Файл для загрузки"), QString(),
                                             ToQString("Файлы обновления КВР (*.KVR *.kvr)")));
}

LoaderWindow::LoaderWindow(WindowOptions options) : QWidget(nullptr), options_(std::move(options)) {
  if (!options_.report)
    options_.report = [this](const std::string& text) {
      QMessageBox::critical(this, ToQString(kApplicationTitle), ToQString(text));
    };
  if (!options_.message)
    options_.message = [this](const std::string& text) { QMessageBox::warning(this, windowTitle(), ToQString(text)); };
  if (!options_.confirm)
    options_.confirm = [this](const std::string& text) {
      QMessageBox box(QMessageBox::Question, windowTitle(), ToQString(text), QMessageBox::Yes | QMessageBox::No, this);
      box.setDefaultButton(QMessageBox::No);
      box.button(QMessageBox::Yes)->setText(ToQString("Да"));
      box.button(QMessageBox::No)->setText(ToQString("Нет"));
      return box.exec() == QMessageBox::Yes;
    };
  if (!options_.choose_file) options_.choose_file = [this] { return ChooseUpdateFile(this); };
  if (!options_.probe_ports) options_.probe_ports = FoundPortChoices;
  if (!options_.check_permission) options_.check_permission = CheckPortPermission;
  TickSource& ticks = options_.ticks ? *options_.ticks : system_ticks_;
  engine_ = std::make_unique<LoadEngine>(channel_, ticks, Table, File, *this);
  engine_->Configure(options_.load);
  engine_->SetLog([this](const std::string& line) { DebugLog->appendPlainText(FromCp1251(line)); });
  BuildLayout();
  SetUpComm();
  SetUpAtStart();
}

LoaderWindow::~LoaderWindow() {
  supervisor_->stop();
  StartDelay->stop();
  Port.ClosePause = [](uint32_t) {};  // the program is ending: nothing waits for the threads
  Port.Close();
  // The grid reads the table and the model until it is gone: delete it while
  // both still exist (the base class would delete it after them).
  delete Pages;
  delete Model;
}

void LoaderWindow::BuildLayout() {
  setWindowTitle(ToQString(kWindowCaption));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(803, 634);
  QFont f("MS Sans Serif");
  f.setPointSize(8);
  setFont(f);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());

  FileLabel = new QLabel(ToQString("Файл для загрузки:"), this);
  FileLabel->move(8, 8);
  FilePath = new QLineEdit(this);
  FilePath->setGeometry(8, 32, 305, 21);
  OpenFileButton = new QToolButton(this);
  OpenFileButton->setText("...");
  OpenFileButton->setToolTip(ToQString("Открыть файл"));
  OpenFileButton->setAutoRaise(true);
  OpenFileButton->setGeometry(312, 32, 33, 25);
  PortLabel = new QLabel(ToQString("Выбор порта"), this);
  PortLabel->move(400, 32);
  PortList = new PortListBox(this);
  PortList->setEditable(false);
  PortList->setGeometry(512, 32, 129, 21);
  for (int n = 1; n <= 8; ++n) PortList->addItem(QString("COM%1").arg(n));
  PortList->AboutToShow = [this] { PortList->SetPorts(PortChoicesNow()); };

  StartSwitch = new ab::TAbColBitBtn(this);
  StartSwitch->setGeometry(0, 72, 345, 33);
  StartSwitch->SetMode(ab::mSwitch);
  StartSwitch->SetTextOff("Старт BootLoader");
  StartSwitch->SetTextOn("BootLoader запущен");
  StartSwitch->SetTextColOn(ab::clLime);
  StartSwitch->SetTextColOff(ab::clBlack);
  StartSwitch->Loaded();
  StartSwitch->OnClick = [this](ab::TAbBinGControl*) { StartSwitchClicked(); };
  // A press released outside the switch, or the second press of a double
  // click, flips it without a click: it goes back to what is true.
  StartSwitch->OnMouseUp = [this](ab::TAbBinGControl*) { ShowSwitchTruth(); };

  StatusLine = new QLabel(this);
  StatusLine->setGeometry(360, 72, 433, 33);
  StatusLine->setAutoFillBackground(true);
  QPalette pal = StatusLine->palette();
  pal.setColor(QPalette::Window, Qt::yellow);
  pal.setColor(QPalette::WindowText, Qt::red);
  StatusLine->setPalette(pal);
  QFont status_font = StatusLine->font();
  status_font.setPixelSize(16);
  status_font.setBold(true);
  StatusLine->setFont(status_font);

  Pages = new QTabWidget(this);
  Pages->setGeometry(8, 112, 793, 497);
  DataPage = new QWidget;
  DebugPage = new QWidget;
  Pages->addTab(DataPage, ToQString("Данные для загрузки"));
  Pages->addTab(DebugPage, ToQString("Окно отладки"));
  Model = new PageTableModel(Table, kShownRows, this);
  DataGrid = new QTableView(DataPage);
  DataGrid->setModel(Model);
  DataGrid->horizontalHeader()->setDefaultSectionSize(44);
  DataGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  DataGrid->verticalHeader()->setDefaultSectionSize(24);
  DataGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  DataGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
  DataGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
  auto* grid_layout = new QVBoxLayout(DataPage);
  grid_layout->setContentsMargins(0, 0, 0, 0);
  grid_layout->addWidget(DataGrid);
  DebugLog = new QPlainTextEdit(DebugPage);
  DebugLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  DebugLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DebugLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* log_layout = new QVBoxLayout(DebugPage);
  log_layout->setContentsMargins(0, 0, 0, 0);
  log_layout->addWidget(DebugLog);
  Pages->setCurrentIndex(0);
  LoadTimes = new QLabel(Pages);
  LoadTimes->setContentsMargins(0, 0, 8, 0);
  LoadTimes->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // A fixed width: a changing text then repaints the label alone, without
  // laying out the tab bar again every second.
  LoadTimes->setFixedWidth(LoadTimes->fontMetrics().horizontalAdvance(ToQString("Прошло 000:00   Осталось 000:00")) +
                           16);
  Pages->setCornerWidget(LoadTimes, Qt::TopRightCorner);

  ProgressGauge = new ab::TGauge(this);
  ProgressGauge->setGeometry(0, 634 - 25, 803, 25);

  StartDelay = new QTimer(this);
  StartDelay->setInterval(100);
  connect(StartDelay, &QTimer::timeout, this, [this] { StartDelayElapsed(); });
  supervisor_ = new QTimer(this);
  supervisor_->setInterval(50);
  connect(supervisor_, &QTimer::timeout, this, [this] { PollLoad(); });
  connect(OpenFileButton, &QToolButton::clicked, this, [this] { OpenFileClicked(); });
}

void LoaderWindow::SetUpComm() {
  // The designed settings, in their stored order.
  Port.BeginLoading();
  Port.SetBaudrate(va::brUser);
  Port.SetFlowControl(va::TVaFlowControl());
  Port.SetDeviceName("COM1");
  Port.Buffers().SetReadTimeout(5000);
  Port.Buffers().SetWriteTimeout(0);
  Port.SetUserBaudrate(10400);
  Port.Loaded();
  Port.OnRxChar = [this](va::TVaObject* sender, int count) { BytesArrived(sender, count); };
  Port.OnError = [this](va::TVaObject*, int errors) {
    if (errors & static_cast<int>(va::CE_DEVICE_LOST))
      QMetaObject::invokeMethod(
          this, [this] { PortLost(); }, Qt::QueuedConnection);
  };
}

bool LoaderWindow::Guarded(const std::function<void()>& step, const std::function<void()>& on_failure) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    if (on_failure) on_failure();
    options_.report(e.what());
    return false;
  }
}

std::vector<PortChoice> LoaderWindow::PortChoicesNow() const {
  std::vector<PortChoice> ports;
  for (const std::string& name : options_.first_ports)
    ports.push_back({name, va::IdentifyPort(va::DevicePathFor(name))});
  for (PortChoice& port : options_.probe_ports()) ports.push_back(std::move(port));
  for (PortChoice& port : ports)
    if (port.access == va::paDenied && port.hint.empty())
      port.hint = PermissionHintText(port.name, options_.check_permission(va::DevicePathFor(port.name)), kRussianPortWords);
  return ports;
}

void LoaderWindow::SetUpAtStart() {
  PortList->SetPorts(PortChoicesNow());
  Guarded(
      [&] {
#ifdef _WIN32
        // HKEY_CURRENT_USER\SOFTWARE\ZENOVA, open for the life of the program.
        static RegistrySettings settings;
        int32_t index = settings.PortIndex();
#else
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "ZENOVA", "KVR_LORVENT_LOADER");
        const QVariant value = settings.value("COM");
        int32_t index = -1;
        if (value.isValid()) {
          if (value.typeId() != QMetaType::QString) throw std::runtime_error("Invalid data type for 'COM'");
          index = SettingIndexOrMinusOne(ToUtf8(value.toString()));
        }
#endif
        if (!options_.first_ports.empty()) index = 0;  // the port given first is the one to use
        PortList->setCurrentIndex(index == -1 ? 0 : (index < PortList->count() ? index : -1));
        Model->BeginReset();
        Table.SetupHeadings();
        Model->EndReset();
      },
      [this] { PortList->setCurrentIndex(-1); });
}

void LoaderWindow::OpenFileClicked() {
  const std::string path = options_.choose_file();
  if (path.empty()) return;
  FilePath->setText(ToQString(path));
  Model->BeginReset();
  Guarded([&] { OpenUpdateFile(ToUtf8(FilePath->text()), Table, File, *this); });
  Model->EndReset();
}

void LoaderWindow::StartSwitchClicked() {
  if (LoadRuns()) {
    // Whatever the switch shows, a press during a load stops it.
    EndRecord("interrupted", 130, "stopped by the operator at " + engine_->Where());
    StopLoad();
    ProgressGauge->SetProgress(0);
    StatusLine->setText(QString());
    return;
  }
  CommitOpenEdit();
  // Nothing is opened or sent for an image that cannot be right.
  if (const ImageProblem problem = engine_->Begin()) {
    StatusLine->setText(problem.kind == ImageProblem::Kind::kNoFile ? ToQString(kNoFileStatus)
                                                                    : ToQString(kBadLineStatus).arg(problem.line));
    ShowSwitchTruth();
    return;
  }
  // A record that could not be written is refused before anything is sent.
  if (!options_.record_file.empty()) {
    if (const std::string wrong = CheckRecordFile(options_.record_file, ToUtf8(FilePath->text()), ""); !wrong.empty()) {
      engine_->Stop();
      ShowSwitchTruth();
      options_.message(kRecordRefusedMessage + wrong);
      return;
    }
  }
  const bool opened = Guarded(
      [&] {
        load_port_ = ToUtf8(PortList->currentText());
        Port.SetDeviceName(va::DevicePathFor(load_port_));
        Port.SetBaudrate(va::br38400);
        try {
          Port.Open();
        } catch (const std::exception& e) {
          // The component's text first, then what the operator can do about it.
          const std::string hint =
              PermissionHintText(load_port_, options_.check_permission(va::DevicePathFor(load_port_)), kRussianPortWords);
          if (hint.empty()) throw;
          throw std::runtime_error(std::string(e.what()) + "\n\n" + hint);
        }
      },
      [this] {
        engine_->Stop();
        ShowSwitchTruth();
      });
  if (!opened) return;
  BeginRecord();
  DebugLog->clear();
  LockInputs(true);
  ShowTimes();
  supervisor_->start();
  StartDelay->start();
  ShowSwitchTruth();
}

void LoaderWindow::StartDelayElapsed() {
  StartDelay->stop();
  Guarded([this] { engine_->SendOpening(); });
}

void LoaderWindow::BytesArrived(va::TVaObject*, int count) { engine_->OnRxChar(count); }

void LoaderWindow::PollLoad() {
  Guarded([this] { engine_->Poll(); });
  ShowTimes();
}

void LoaderWindow::ShowTimes() {
  const LoadProgress p = engine_->Progress();
  // Once a second: the remaining time's estimate moves with every reply, and
  // redrawing it 20 times a second costs more than the load itself.
  const bool running = engine_->Running();
  const uint32_t second = p.elapsed_ms / 1000;
  if (running && shown_running_ && second == shown_second_) return;
  shown_running_ = running;
  shown_second_ = second;
  QString text = ToQString("Прошло ") + ToQString(ClockText(p.elapsed_ms));
  if (running) text += ToQString("   Осталось ") + ToQString(ClockText(p.remaining_ms));
  if (LoadTimes->text() != text) LoadTimes->setText(text);
}

void LoaderWindow::LockInputs(bool locked) {
  for (QWidget* input :
       {static_cast<QWidget*>(OpenFileButton), static_cast<QWidget*>(FilePath), static_cast<QWidget*>(PortList)})
    input->setEnabled(!locked);
  Model->SetLocked(locked);
}

void LoaderWindow::CommitOpenEdit() {
  // A cell still being edited when the switch is pressed belongs to the image.
  const QModelIndex current = DataGrid->currentIndex();
  if (QWidget* editor = current.isValid() ? DataGrid->indexWidget(current) : nullptr) {
    QMetaObject::invokeMethod(DataGrid, "commitData", Q_ARG(QWidget*, editor));
    QMetaObject::invokeMethod(DataGrid, "closeEditor", Q_ARG(QWidget*, editor),
                              Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
  }
}

void LoaderWindow::closeEvent(QCloseEvent* event) {
  if (LoadRuns() && !options_.confirm(kCloseQuestion)) {
    event->ignore();
    return;
  }
  EndRecord("interrupted", 130, "the window was closed during the load, at " + engine_->Where());
  StopLoad();
  event->accept();
}

void LoaderWindow::LoadRetry(int attempt, const std::string& where, const std::string& why) {
  ++load_retries_;
  DebugLog->appendPlainText(ToQString(kRetryLog).arg(attempt).arg(ToQString(where), FromCp1251(why)));
}

void LoaderWindow::SetProgress(int percent) { ProgressGauge->SetProgress(percent); }

void LoaderWindow::SetStatus(const std::string& caption) { StatusLine->setText(ToQString(caption)); }

void LoaderWindow::LoadFinished(LoadResult result, const std::string& message) {
  if (result == LoadResult::kStopped) return;  // the window stopped it itself
  // Complete or given up: the port closes as switching off would close it,
  // while the gauge and the status line keep what they show.
  if (result == LoadResult::kComplete)
    EndRecord("complete", 0, "load complete: " + std::to_string(Link().FramesSent()) + " commands");
  else
    EndRecord("no answer", 3, message);
  StopLoad();
  if (result == LoadResult::kNoAnswer) {
    // Silence, or the reply the device kept giving instead of the one due.
    const std::string& reply = engine_->RefusedReply();
    QString shown = FromCp1251(reply.substr(0, 40));
    if (reply.size() > 40) shown += ToQString("…");
    StatusLine->setText(reply.empty() ? ToQString(kNoReplyStatus) : ToQString(kRefusedStatus) + shown);
    DebugLog->appendPlainText(ToQString(message));
  }
  if (result == LoadResult::kComplete && OnLoadComplete) OnLoadComplete();
}

void LoaderWindow::StopLoad() {
  engine_->Stop();
  supervisor_->stop();
  StartDelay->stop();
  Guarded([this] { Port.Close(); });
  StartSwitch->SetChecked(false);
  LockInputs(false);
  ShowTimes();
}

void LoaderWindow::PortLost() {
  if (!Port.Active()) return;
  EndRecord("port lost", 4, "the port " + load_port_ + " was lost at " + engine_->Where());
  StopLoad();
  options_.message(std::string(kPortLostMessage) + load_port_);
}

void LoaderWindow::BeginRecord() {
  recording_ = !options_.record_file.empty();
  load_retries_ = 0;
  if (!recording_) return;
  record_ = RunRecord{};
  record_.tool = options_.tool;
  record_.started = std::chrono::system_clock::now();
  record_.image.file = ToUtf8(FilePath->text());
  record_.image.edited = Model->Edited();
  // The file's bytes as they are now; "edited" says when the grid changed them.
  std::ifstream in(Utf8Path(record_.image.file), std::ios::binary);
  Sha256 digest;
  std::string chunk(1 << 16, '\0');
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
    digest.Add(chunk.data(), static_cast<size_t>(in.gcount()));
  record_.image.size = static_cast<int64_t>(digest.Bytes());
  record_.image.sha256 = digest.FinishHex();
  LoadRecord load;
  load.port = load_port_;
  load.device = va::DevicePathFor(load_port_);
  load.identity = va::IdentifyPort(load.device);
  load.started = record_.started;
  record_.loads = {load};
}

void LoaderWindow::EndRecord(const std::string& result, int exit_code, const std::string& message) {
  if (!recording_) return;
  recording_ = false;
  LoadRecord& load = record_.loads[0];
  record_.ended = load.ended = std::chrono::system_clock::now();
  load.commands = Link().FramesSent();
  load.page_retries = load_retries_;
  load.result = result;
  load.exit_code = record_.exit_code = exit_code;
  load.message = message;
  const std::string line = RecordLine(record_);
  // Another program's append takes milliseconds: a lock held longer is
  // named, and the operator says whether to wait on.
  auto ask_at = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  const AppendResult r = AppendRecord(options_.record_file, line, [&](const std::string& holder) {
    if (std::chrono::steady_clock::now() < ask_at) return true;
    if (!options_.confirm(ToUtf8(ToQString(kRecordBusyQuestion).arg(ToQString(holder))))) return false;
    ask_at = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    return true;
  });
  if (r.written) return;
  std::cerr << "kvr-loader: " << r.why << "; this run's record:\n" << line << std::flush;
  DebugLog->appendPlainText(ToQString(line.substr(0, line.size() - 1)));
  options_.message(kRecordFailedMessage + r.why);
}

void LoaderWindow::ClearLogs() { DebugLog->clear(); }

void LoaderWindow::WarnWrongSize() { options_.message(std::string(kWrongFileMessage)); }

}  // namespace kvr
