#include "loader_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "page_table_model.h"
#include "qt_stored_settings.h"
#include "window_layout.h"

namespace kvr {

namespace {

QString ToQString(const std::string& s) { return QString::fromUtf8(s.c_str()); }
QString ToQString(const char* s) { return QString::fromUtf8(s); }
std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }
void Put(QWidget* widget, layout::Place p) { widget->setGeometry(p.x, p.y, p.width, p.height); }

}  // namespace

std::string ChooseUpdateFile(QWidget* parent) {
  return ToUtf8(QFileDialog::getOpenFileName(parent, ToQString(kOpenDialogTitle), QString(),
                                             ToQString("Файлы обновления КВР (*.KVR *.kvr)")));
}

std::string ChooseSaveFile(QWidget* parent, const std::string& suggested) {
  // "name|pattern" as the dialog's "name (pattern)".
  const std::string filter = kSaveDialogFilter;
  const size_t bar = filter.find('|');
  const QString qt_filter = ToQString(filter.substr(0, bar) + " (" + filter.substr(bar + 1) + ")");
  return ToUtf8(QFileDialog::getSaveFileName(parent, ToQString(kSaveDialogTitle), ToQString(suggested), qt_filter,
                                             nullptr, QFileDialog::DontConfirmOverwrite));
}

LoaderWindow::LoaderWindow(WindowOptions options, QtWindowOptions qt) : QWidget(nullptr), qt_(std::move(qt)) {
  if (!qt_.report)
    qt_.report = [this](const std::string& text) {
      QMessageBox::critical(this, ToQString(kApplicationTitle), ToQString(text));
    };
  if (!qt_.message)
    qt_.message = [this](const std::string& text) { QMessageBox::warning(this, windowTitle(), ToQString(text)); };
  if (!qt_.confirm)
    qt_.confirm = [this](const std::string& text) {
      QMessageBox box(QMessageBox::Question, windowTitle(), ToQString(text), QMessageBox::Yes | QMessageBox::No, this);
      box.setDefaultButton(QMessageBox::No);
      box.button(QMessageBox::Yes)->setText(ToQString("Да"));
      box.button(QMessageBox::No)->setText(ToQString("Нет"));
      question_ = &box;
      const bool yes = box.exec() == QMessageBox::Yes;
      question_ = nullptr;
      return yes;
    };
  if (!qt_.choose_file) qt_.choose_file = [this] { return ChooseUpdateFile(this); };
  if (!qt_.choose_save_file)
    qt_.choose_save_file = [this](const std::string& suggested) { return kvr::ChooseSaveFile(this, suggested); };
  if (!qt_.stored_port_index) qt_.stored_port_index = [] { return QtStoredSettings().PortIndex(); };
  logic_ = std::make_unique<LoaderWindowLogic>(*this, std::move(options));
  BuildLayout();
  logic_->SetUpAtStart();
}

LoaderWindow::~LoaderWindow() {
  supervisor_->stop();
  start_delay_->stop();
  // The grid reads the table and the model until it is gone: delete it while
  // both still exist (the base class would delete it after them).
  delete Pages;
  delete Model;
}

void LoaderWindow::BuildLayout() {
  setWindowTitle(ToQString(kWindowCaption));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(layout::kClientWidth, layout::kClientHeight);
  QFont f("MS Sans Serif");
  f.setPointSize(8);
  setFont(f);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());

  BuildTopRows();
  BuildPages();
  ProgressGauge = new ab::qt::GaugeWidget(this);
  Put(ProgressGauge, layout::kGauge);

  start_delay_ = new QTimer(this);
  connect(start_delay_, &QTimer::timeout, this, [this] { logic_->StartDelayElapsed(); });
  supervisor_ = new QTimer(this);
  connect(supervisor_, &QTimer::timeout, this, [this] { logic_->PollTick(); });
  record_retry_ = new QTimer(this);
  connect(record_retry_, &QTimer::timeout, this, [this] { logic_->RecordRetryElapsed(); });
  connect(OpenFileButton, &QToolButton::clicked, this, [this] { logic_->OpenFileClicked(); });
  // Save as and revert act on the grid's image: next after it in the Tab
  // order, which keeps the way from the file's field to the switch short.
  setTabOrder(DataGrid, SaveAsButton);
  setTabOrder(SaveAsButton, RevertButton);
  connect(SaveAsButton, &QPushButton::clicked, this, [this] { logic_->SaveAsAsked(); });
  connect(RevertButton, &QPushButton::clicked, this, [this] { logic_->RevertAsked(); });
  auto* go_to = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), this);
  connect(go_to, &QShortcut::activated, this, [this] { logic_->GoToAsked(); });
  auto* save_as = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
  connect(save_as, &QShortcut::activated, this, [this] { logic_->SaveAsAsked(); });
}

// The file and port row, the start switch and the status line.
void LoaderWindow::BuildTopRows() {
  FileLabel = new QLabel(ToQString("Файл для загрузки:"), this);
  FileLabel->move(layout::kFileLabel.x, layout::kFileLabel.y);
  FilePath = new QLineEdit(this);
  Put(FilePath, layout::kFilePath);
  OpenFileButton = new QToolButton(this);
  OpenFileButton->setText("...");
  OpenFileButton->setToolTip(ToQString("Открыть файл"));
  OpenFileButton->setAutoRaise(true);
  Put(OpenFileButton, layout::kOpenFile);
  SaveAsButton = new QPushButton(ToQString(kSaveAsButton), this);
  SaveAsButton->setToolTip(ToQString(kSaveAsHint));
  Put(SaveAsButton, layout::kSaveAs);
  RevertButton = new QPushButton(ToQString(kRevertButton), this);
  RevertButton->setToolTip(ToQString(kRevertHint));
  Put(RevertButton, layout::kRevert);
  PortLabel = new QLabel(ToQString("Выбор порта"), this);
  PortLabel->move(layout::kPortLabel.x, layout::kPortLabel.y);
  PortList = new PortListBox(this);
  PortList->setEditable(false);
  Put(PortList, layout::kPortList);
  for (int n = 1; n <= 8; ++n) PortList->addItem(QString("COM%1").arg(n));
  PortList->AboutToShow = [this] { logic_->PortListOpening(); };

  StartSwitch = new ab::qt::SwitchButtonWidget(this);
  Put(StartSwitch, layout::kStartSwitch);
  StartSwitch->Button().SetMode(ab::mSwitch);
  StartSwitch->Button().SetTextOff("Старт BootLoader");
  StartSwitch->Button().SetTextOn("BootLoader запущен");
  StartSwitch->Button().SetTextColOn(ab::clLime);
  StartSwitch->Button().SetTextColOff(ab::clBlack);
  StartSwitch->Button().Loaded();
  StartSwitch->Button().OnClick = [this](ab::TAbBinGControl*) { logic_->StartSwitchClicked(); };
  StartSwitch->Button().OnMouseUp = [this](ab::TAbBinGControl*) { logic_->StartSwitchReleased(); };
  StartSwitch->Button().OnKeyUp = [this](ab::TAbBinGControl*) { logic_->StartSwitchReleased(); };

  StatusLine = new QLabel(this);
  Put(StatusLine, layout::kStatusLine);
  StatusLine->setAutoFillBackground(true);
  QPalette pal = StatusLine->palette();
  pal.setColor(QPalette::Window, Qt::yellow);
  pal.setColor(QPalette::WindowText, Qt::red);
  StatusLine->setPalette(pal);
  QFont status_font = StatusLine->font();
  status_font.setPixelSize(16);
  status_font.setBold(true);
  StatusLine->setFont(status_font);
}

// The data grid's and the debug log's pages, with the load's times in the tab row.
void LoaderWindow::BuildPages() {
  Pages = new QTabWidget(this);
  Put(Pages, layout::kPages);
  DataPage = new QWidget;
  DebugPage = new QWidget;
  Pages->addTab(DataPage, ToQString("Данные для загрузки"));
  Pages->addTab(DebugPage, ToQString("Окно отладки"));
  Model = new PageTableModel(logic_->Grid(), this);
  DataGrid = new HexGridView(DataPage);
  DataGrid->setModel(Model);
  DataGrid->setItemDelegate(new HexCellDelegate(DataGrid));
  DataGrid->horizontalHeader()->setDefaultSectionSize(44);
  DataGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  DataGrid->verticalHeader()->setDefaultSectionSize(24);
  DataGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  DataGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
  // Tab leaves the grid for the window's next control (the arrows move between cells).
  DataGrid->setTabKeyNavigation(false);
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
}

void LoaderWindow::ShowStatus(const std::string& text) { StatusLine->setText(ToQString(text)); }

void LoaderWindow::ShowProgress(int percent) { ProgressGauge->Gauge().SetProgress(percent); }

void LoaderWindow::ShowSwitch(bool on) { StartSwitch->Button().SetChecked(on); }

void LoaderWindow::LockInputs(bool locked) {
  for (QWidget* input : {static_cast<QWidget*>(OpenFileButton), static_cast<QWidget*>(FilePath),
                         static_cast<QWidget*>(PortList), static_cast<QWidget*>(RevertButton)})
    input->setEnabled(!locked);
}

void LoaderWindow::AppendLog(const std::string& line) { DebugLog->appendPlainText(ToQString(line)); }

void LoaderWindow::ClearLog() { DebugLog->clear(); }

void LoaderWindow::ShowTimes(const std::string& text) { LoadTimes->setText(ToQString(text)); }

void LoaderWindow::ShowFilePath(const std::string& path) { FilePath->setText(ToQString(path)); }

void LoaderWindow::ShowPorts(const std::vector<PortEntry>& ports, int chosen) { PortList->SetPorts(ports, chosen); }

int LoaderWindow::ChosenPort() const { return PortList->currentIndex(); }

void LoaderWindow::BeginGridReset() { Model->BeginReset(); }

void LoaderWindow::EndGridReset() { Model->EndReset(); }

void LoaderWindow::RedrawGrid() { Model->Redraw(); }

void LoaderWindow::CommitCellEdit() {
  // A cell still being edited when the switch is pressed belongs to the image.
  const QModelIndex current = DataGrid->currentIndex();
  if (QWidget* editor = current.isValid() ? DataGrid->indexWidget(current) : nullptr) {
    QMetaObject::invokeMethod(DataGrid, "commitData", Q_ARG(QWidget*, editor));
    QMetaObject::invokeMethod(DataGrid, "closeEditor", Q_ARG(QWidget*, editor),
                              Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
  }
}

void LoaderWindow::StartTimer(WindowTimer timer, uint32_t interval_ms) {
  if (timer != WindowTimer::kLoadDue) {
    TimerFor(timer)->start(static_cast<int>(interval_ms));
    return;
  }
  // The pause before each command ends as the load's clock moves: a timer of
  // the event loop ends on its whole milliseconds after that, and every one
  // of a load's 41474 commands would wait for it.
  if (!due_timer_)
    due_timer_ = std::make_unique<DueTimer>([this](unsigned id) {
      QMetaObject::invokeMethod(this, [this, id] { LoadStepDue(id); }, Qt::QueuedConnection);
    });
  load_due_ = due_timer_->Start(interval_ms);
}

void LoaderWindow::StopTimer(WindowTimer timer) {
  if (timer != WindowTimer::kLoadDue) {
    TimerFor(timer)->stop();
    return;
  }
  if (due_timer_) due_timer_->Stop();
  load_due_ = 0;
}

void LoaderWindow::LoadStepDue(unsigned id) {
  if (id != load_due_) return;  // stopped or armed again since
  load_due_ = 0;
  logic_->LoadStepDue();
}

std::optional<std::string> LoaderWindow::AskText(const std::string& question, const std::string& text) {
  if (qt_.ask_text) return qt_.ask_text(question, text);
  bool ok = false;
  const QString typed =
      QInputDialog::getText(this, windowTitle(), ToQString(question), QLineEdit::Normal, ToQString(text), &ok);
  if (!ok) return std::nullopt;
  return typed.toStdString();
}

void LoaderWindow::ShowCell(int row, int column) {
  const QModelIndex cell = Model->index(row, column);
  Pages->setCurrentWidget(DataPage);
  DataGrid->scrollTo(cell, QAbstractItemView::PositionAtCenter);
  DataGrid->setCurrentIndex(cell);
  DataGrid->setFocus();
}

void LoaderWindow::TakeDownQuestion() {
  if (question_) question_->done(QMessageBox::No);
}

void LoaderWindow::Later(std::function<void()> step) {
  QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void LoaderWindow::closeEvent(QCloseEvent* event) {
  if (logic_->CloseAsked())
    event->accept();
  else
    event->ignore();
}

}  // namespace kvr
