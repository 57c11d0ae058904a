#include "loader_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "cp1251.h"
#include "page_table_model.h"
#include "port_setting_registry.h"
#include "port_setting_text.h"
#include "va_ports.h"

namespace kvr {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.c_str()); }
QString Q(const char* s) { return QString::fromUtf8(s); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

// Device bytes (replies, log lines) as the text they are in Windows-1251.
QString FromCp1251(const std::string& bytes) { return Q(Cp1251ToUtf8(bytes)); }

std::vector<std::string> ProbeNames() {
  std::vector<std::string> names;
  for (const std::string& path : va::ListPorts()) names.push_back(PortListName(path));
  return names;
}

}  // namespace

std::string PortListName(const std::string& path) { return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path; }

std::string ChooseUpdateFile(QWidget* parent) {
  return S(QFileDialog::getOpenFileName(parent, Q("Файл для загрузки"), QString(),
                                        Q("Файлы обновления КВР (*.KVR *.kvr)")));
}

TForm1::TForm1(FormOptions options) : QWidget(nullptr), options_(std::move(options)) {
  if (!options_.report)
    options_.report = [this](const std::string& text) {
      QMessageBox::critical(this, Q(kApplicationTitle), Q(text));
    };
  if (!options_.message)
    options_.message = [this](const std::string& text) { QMessageBox::warning(this, windowTitle(), Q(text)); };
  if (!options_.confirm)
    options_.confirm = [this](const std::string& text) {
      QMessageBox box(QMessageBox::Question, windowTitle(), Q(text), QMessageBox::Yes | QMessageBox::No, this);
      box.setDefaultButton(QMessageBox::No);
      box.button(QMessageBox::Yes)->setText(Q("Да"));
      box.button(QMessageBox::No)->setText(Q("Нет"));
      return box.exec() == QMessageBox::Yes;
    };
  if (!options_.choose_file) options_.choose_file = [this] { return ChooseUpdateFile(this); };
  if (!options_.probe_ports) options_.probe_ports = ProbeNames;
  TickSource& ticks = options_.ticks ? *options_.ticks : system_ticks_;
  engine_ = std::make_unique<LoadEngine>(port_, ticks, Table, File, *this);
  engine_->Configure(options_.load);
  engine_->SetLog([this](const std::string& line) { Memo1->appendPlainText(FromCp1251(line)); });
  BuildLayout();
  SetUpComm();
  FormCreate();
}

TForm1::~TForm1() {
  supervisor_->stop();
  Timer1->stop();
  VaComm1.ClosePause = [](uint32_t) {};  // the program is ending: nothing waits for the threads
  VaComm1.Close();
  // The grid reads the table and the model until it is gone: delete it while
  // both still exist (the base class would delete it after them).
  delete PageControl1;
  delete Model;
}

void TForm1::BuildLayout() {
  setWindowTitle(Q(kFormCaption));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(803, 634);
  QFont f("MS Sans Serif");
  f.setPointSize(8);
  setFont(f);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());

  Label1 = new QLabel(Q("Файл для загрузки:"), this);
  Label1->move(8, 8);
  Edit1 = new QLineEdit(this);
  Edit1->setGeometry(8, 32, 305, 21);
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setText("...");
  SpeedButton1->setToolTip(Q("Открыть файл"));
  SpeedButton1->setAutoRaise(true);
  SpeedButton1->setGeometry(312, 32, 33, 25);
  Label3 = new QLabel(Q("Выбор порта"), this);
  Label3->move(400, 32);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setEditable(false);
  ComboBox1->setGeometry(512, 32, 129, 21);
  for (int n = 1; n <= 8; ++n) ComboBox1->addItem(QString("COM%1").arg(n));

  AbColBitBtn4 = new ab::TAbColBitBtn(this);
  AbColBitBtn4->setGeometry(0, 72, 345, 33);
  AbColBitBtn4->SetMode(ab::mSwitch);
  AbColBitBtn4->SetTextOff("Старт BootLoader");
  AbColBitBtn4->SetTextOn("BootLoader запущен");
  AbColBitBtn4->SetTextColOn(ab::clLime);
  AbColBitBtn4->SetTextColOff(ab::clBlack);
  AbColBitBtn4->Loaded();
  AbColBitBtn4->OnClick = [this](ab::TAbBinGControl*) { AbColBitBtn4Click(); };
  // A press released outside the switch, or the second press of a double
  // click, flips it without a click: it goes back to what is true.
  AbColBitBtn4->OnMouseUp = [this](ab::TAbBinGControl*) { ShowSwitchTruth(); };

  Label2 = new QLabel(this);
  Label2->setGeometry(360, 72, 433, 33);
  Label2->setAutoFillBackground(true);
  QPalette pal = Label2->palette();
  pal.setColor(QPalette::Window, Qt::yellow);
  pal.setColor(QPalette::WindowText, Qt::red);
  Label2->setPalette(pal);
  QFont status_font = Label2->font();
  status_font.setPixelSize(16);
  status_font.setBold(true);
  Label2->setFont(status_font);

  PageControl1 = new QTabWidget(this);
  PageControl1->setGeometry(8, 112, 793, 497);
  TabSheet2 = new QWidget;
  TabSheet3 = new QWidget;
  PageControl1->addTab(TabSheet2, Q("Данные для загрузки"));
  PageControl1->addTab(TabSheet3, Q("Окно отладки"));
  Model = new PageTableModel(Table, kShownRows, this);
  StringGrid2 = new QTableView(TabSheet2);
  StringGrid2->setModel(Model);
  StringGrid2->horizontalHeader()->setDefaultSectionSize(44);
  StringGrid2->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid2->verticalHeader()->setDefaultSectionSize(24);
  StringGrid2->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid2->setSelectionMode(QAbstractItemView::ContiguousSelection);
  StringGrid2->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
  auto* grid_layout = new QVBoxLayout(TabSheet2);
  grid_layout->setContentsMargins(0, 0, 0, 0);
  grid_layout->addWidget(StringGrid2);
  Memo1 = new QPlainTextEdit(TabSheet3);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* log_layout = new QVBoxLayout(TabSheet3);
  log_layout->setContentsMargins(0, 0, 0, 0);
  log_layout->addWidget(Memo1);
  PageControl1->setCurrentIndex(0);
  LoadTimes = new QLabel(PageControl1);
  LoadTimes->setContentsMargins(0, 0, 8, 0);
  PageControl1->setCornerWidget(LoadTimes, Qt::TopRightCorner);

  ProgressBar1 = new ab::TGauge(this);
  ProgressBar1->setGeometry(0, 634 - 25, 803, 25);

  Memo2 = new QPlainTextEdit(this);
  Memo3 = new QPlainTextEdit(this);
  Edit2 = new QLineEdit(this);
  for (QWidget* hidden : {static_cast<QWidget*>(Memo2), static_cast<QWidget*>(Memo3), static_cast<QWidget*>(Edit2)})
    hidden->hide();

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  supervisor_ = new QTimer(this);
  supervisor_->setInterval(50);
  connect(supervisor_, &QTimer::timeout, this, [this] { PollLoad(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
}

void TForm1::SetUpComm() {
  // The designed settings, in their stored order.
  VaComm1.BeginLoading();
  VaComm1.SetBaudrate(va::brUser);
  VaComm1.SetFlowControl(va::TVaFlowControl());
  VaComm1.SetDeviceName("COM1");
  VaComm1.Buffers().SetReadTimeout(5000);
  VaComm1.Buffers().SetWriteTimeout(0);
  VaComm1.SetUserBaudrate(10400);
  VaComm1.Loaded();
  VaComm1.OnRxChar = [this](va::TVaObject* sender, int count) { VaComm1RxChar(sender, count); };
  VaComm1.OnError = [this](va::TVaObject*, int errors) {
    if (errors & static_cast<int>(va::CE_DEVICE_LOST))
      QMetaObject::invokeMethod(this, [this] { PortLost(); }, Qt::QueuedConnection);
  };
}

void TForm1::FormCreate() {
  ComboBox1->clear();
  for (const std::string& name : options_.first_ports) ComboBox1->addItem(Q(name));
  for (const std::string& name : options_.probe_ports()) ComboBox1->addItem(Q(name));
  try {
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
      index = SettingIndexOrMinusOne(S(value.toString()));
    }
#endif
    if (!options_.first_ports.empty()) index = 0;  // the port given first is the one to use
    ComboBox1->setCurrentIndex(index == -1 ? 0 : (index < ComboBox1->count() ? index : -1));
    Model->BeginReset();
    Table.SetupHeadings();
    Model->EndReset();
  } catch (const std::exception& e) {
    ComboBox1->setCurrentIndex(-1);
    Report(e.what());
  }
}

void TForm1::SpeedButton1Click() {
  const std::string path = options_.choose_file();
  if (path.empty()) return;
  Edit1->setText(Q(path));
  Model->BeginReset();
  try {
    OpenUpdateFile(S(Edit1->text()), Table, File, *this);
  } catch (const std::exception& e) {
    Model->EndReset();
    Report(e.what());
    return;
  }
  Model->EndReset();
}

void TForm1::AbColBitBtn4Click() {
  if (LoadRuns()) {
    // Whatever the switch shows, a press during a load stops it.
    StopLoad();
    ProgressBar1->SetProgress(0);
    Label2->setText(QString());
    return;
  }
  CommitOpenEdit();
  // Nothing is opened or sent for an image that cannot be right.
  if (const ImageProblem problem = engine_->Begin()) {
    Label2->setText(problem.kind == ImageProblem::Kind::kNoFile ? Q(kNoFileStatus)
                                                                : Q(kBadLineStatus).arg(problem.line));
    ShowSwitchTruth();
    return;
  }
  try {
    load_port_ = S(ComboBox1->currentText());
    VaComm1.SetDeviceName(va::DevicePathFor(load_port_));
    VaComm1.SetBaudrate(va::br38400);
    VaComm1.Open();
  } catch (const std::exception& e) {
    engine_->Stop();
    ShowSwitchTruth();
    Report(e.what());
    return;
  }
  Memo1->clear();
  LockInputs(true);
  ShowTimes();
  supervisor_->start();
  Timer1->start();
  ShowSwitchTruth();
}

void TForm1::Timer1Timer() {
  Timer1->stop();
  try {
    engine_->SendOpening();
  } catch (const std::exception& e) {
    Report(e.what());
  }
}

void TForm1::VaComm1RxChar(va::TVaObject*, int count) { engine_->OnRxChar(count); }

void TForm1::PollLoad() {
  try {
    engine_->Poll();
  } catch (const std::exception& e) {
    Report(e.what());
  }
  ShowTimes();
}

void TForm1::ShowTimes() {
  const LoadProgress p = engine_->Progress();
  QString text = Q("Прошло ") + Q(ClockText(p.elapsed_ms));
  if (engine_->Running()) text += Q("   Осталось ") + Q(ClockText(p.remaining_ms));
  if (LoadTimes->text() != text) LoadTimes->setText(text);
}

void TForm1::LockInputs(bool locked) {
  for (QWidget* input : {static_cast<QWidget*>(SpeedButton1), static_cast<QWidget*>(Edit1),
                         static_cast<QWidget*>(ComboBox1)})
    input->setEnabled(!locked);
  Model->SetLocked(locked);
}

void TForm1::CommitOpenEdit() {
  // A cell still being edited when the switch is pressed belongs to the image.
  const QModelIndex current = StringGrid2->currentIndex();
  if (QWidget* editor = current.isValid() ? StringGrid2->indexWidget(current) : nullptr) {
    QMetaObject::invokeMethod(StringGrid2, "commitData", Q_ARG(QWidget*, editor));
    QMetaObject::invokeMethod(StringGrid2, "closeEditor", Q_ARG(QWidget*, editor),
                              Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (LoadRuns() && !options_.confirm(kCloseQuestion)) {
    event->ignore();
    return;
  }
  StopLoad();
  event->accept();
}

void TForm1::LoadRetry(int attempt, const std::string& where, const std::string& why) {
  Memo1->appendPlainText(Q(kRetryLog).arg(attempt).arg(Q(where), FromCp1251(why)));
}

void TForm1::SetProgress(int percent) { ProgressBar1->SetProgress(percent); }

void TForm1::SetStatus(const std::string& caption) { Label2->setText(Q(caption)); }

void TForm1::LoadFinished(LoadResult result, const std::string& message) {
  if (result == LoadResult::kStopped) return;  // the window stopped it itself
  // Complete or given up: the port closes as switching off would close it,
  // while the gauge and the status line keep what they show.
  StopLoad();
  if (result == LoadResult::kNoAnswer) {
    // Silence, or the reply the device kept giving instead of the one due.
    const std::string& reply = engine_->RefusedReply();
    QString shown = FromCp1251(reply.substr(0, 40));
    if (reply.size() > 40) shown += Q("…");
    Label2->setText(reply.empty() ? Q(kNoReplyStatus) : Q(kRefusedStatus) + shown);
    Memo1->appendPlainText(Q(message));
  }
  if (result == LoadResult::kComplete && OnLoadComplete) OnLoadComplete();
}

void TForm1::StopLoad() {
  engine_->Stop();
  supervisor_->stop();
  Timer1->stop();
  try {
    VaComm1.Close();
  } catch (const std::exception& e) {
    Report(e.what());
  }
  AbColBitBtn4->SetChecked(false);
  LockInputs(false);
  ShowTimes();
}

void TForm1::PortLost() {
  if (!VaComm1.Active()) return;
  StopLoad();
  options_.message(std::string(kPortLostMessage) + load_port_);
}

void TForm1::ClearLogs() {
  Memo1->clear();
  Memo2->clear();
}

void TForm1::WarnWrongSize() { options_.message(std::string(kWrongFileMessage)); }

}  // namespace kvr
