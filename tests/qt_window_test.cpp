// The Qt window's own wiring on the offscreen platform: the stored setting
// read through QSettings, the widgets showing what the window logic asks, the
// mouse and the keyboard on the switch, the grid's editor, the port list's refresh, closing,
// and a lost port's hand-over to the GUI thread. What the window decides is
// tested on the logic itself (window_logic_test.cpp).
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QShortcut>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loader_window.h"
#include "page_table_model.h"
#include "pty_device.h"
#include "qt_main_thread.h"
#include "serial_test_support.h"
#include "update_file_maker.h"
#include "window_rig.h"

namespace kvr {
namespace {

bool Pump(const std::function<bool()>& done, int timeout_ms = 120000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class Window : public ::testing::Test {
 protected:
  Window() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
    va::SetMainThread(std::make_shared<QtMainThread>([this](const std::string& m) { reports.push_back(m); }));
  }
  ~Window() override {
    form.reset();
    va::SetMainThread(nullptr);
  }
  void StoreSetting(const QVariant& value) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "ZENOVA", "KVR_LORVENT_LOADER");
    s.setValue("COM", value);
    s.sync();
  }
  void Make(std::vector<std::string> probed, std::vector<std::string> first = {}) {
    WindowOptions o;
    QtWindowOptions qt;
    o.ticks = &clock;
    o.load.pause_ms = pause_ms;
    qt.report = [this](const std::string& m) { reports.push_back(m); };
    qt.message = [this](const std::string& m) { messages.push_back(m); };
    qt.confirm = [this](const std::string& q) {
      questions.push_back(q);
      return answer_yes;
    };
    qt.choose_file = [this] { return chosen; };
    qt.ask_text = [this](const std::string&, const std::string&) { return typed; };
    found.clear();
    for (const std::string& name : probed) found.push_back({name});
    o.probe_ports = [this] { return found; };
    o.first_ports = std::move(first);
    form.reset();
    form = std::make_unique<LoaderWindow>(o, qt);
  }
  void MakeWithDevice(sim::DeviceOptions options = {}) {
    device = std::make_unique<sim::PtyDevice>(options);
    Make({"ttyS9"}, {device->SlavePath().substr(5)});
  }
  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = (settings_dir.path() + "/").toStdString() + name;
    sim::WriteFile(path, text);
    return path;
  }
  void Open(const std::string& path) {
    chosen = path;
    form->OpenFileButton->click();
  }
  void Press() { ab::qt::PressAndRelease(form->StartSwitch); }
  bool Active() { return form->Logic().Port().Active(); }
  // A double click as the mouse gives it: press, release, second press, release.
  void DoubleClick() {
    using T = QEvent::Type;
    for (T type : {T::MouseButtonPress, T::MouseButtonRelease, T::MouseButtonDblClick, T::MouseButtonRelease})
      Mouse(type, QPointF(5, 5));
  }
  // A press on the switch whose release falls outside it.
  void PressReleasedOutside() {
    Mouse(QEvent::MouseButtonPress, QPointF(5, 5));
    Mouse(QEvent::MouseButtonRelease, QPointF(-20, 5));
  }
  void Mouse(QEvent::Type type, QPointF at) {
    QWidget* target = form->StartSwitch;
    QMouseEvent e(type, at, target->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
  }
  // A key event to the widget with the focus, as the keyboard gives it.
  void Key(QEvent::Type type, int key, bool auto_repeat = false) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent e(type, key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier, QString(), auto_repeat);
    QApplication::sendEvent(target, &e);
  }
  void Stroke(int key) {
    Key(QEvent::KeyPress, key);
    Key(QEvent::KeyRelease, key);
  }
  // Tab (or Shift+Tab: Qt::Key_Backtab) until the switch has the focus; how
  // many strokes it took (0 when it never came there), each widget passed on
  // the way in `passed`.
  int TabToTheSwitch(int key, std::vector<QWidget*>* passed = nullptr) {
    for (int strokes = 1; strokes <= 12; ++strokes) {
      Stroke(key);
      if (QApplication::focusWidget() == form->StartSwitch) return strokes;
      if (passed) passed->push_back(QApplication::focusWidget());
    }
    return 0;
  }
  std::string Status() const { return form->StatusLine->text().toUtf8().toStdString(); }
  bool Complete() { return Status() == "Загрузка завершена" && !Active(); }

  QTemporaryDir settings_dir;
  test::TestClock clock;
  // The window's timers run in real time: whole loads here go without the
  // pause, whose length the engine's tests check on their clock.
  uint32_t pause_ms = 0;
  std::vector<std::string> reports, messages, questions;
  bool answer_yes = false;
  std::string chosen;
  std::vector<PortChoice> found;  // what the port probe finds now
  std::unique_ptr<sim::PtyDevice> device;
  std::unique_ptr<LoaderWindow> form;
  std::optional<std::string> typed;  // the answer to the go-to question
};

TEST_F(Window, StartUpReadsTheStoredIndexAndShowsTheGrid) {
  StoreSetting("2");
  Make({"ttyS1", "ttyUSB0", "ttyUSB1"});
  EXPECT_EQ(form->windowTitle().toStdString(), kWindowCaption);
  EXPECT_EQ(form->size(), QSize(803, 634));
  EXPECT_EQ(form->PortList->count(), 3);
  EXPECT_EQ(form->PortList->currentText().toStdString(), "ttyUSB1");
  EXPECT_EQ(form->Model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString().toStdString(), "$xxx0");
  EXPECT_EQ(form->Model->headerData(0, Qt::Vertical, Qt::DisplayRole).toString().toStdString(), "y000$");
  EXPECT_EQ(form->Model->rowCount(), 36864);
  // The stored text's rules, and a value that is no text at all.
  StoreSetting("  $1");
  Make({"a", "b", "c"});
  EXPECT_EQ(form->PortList->currentIndex(), 1);
  StoreSetting("not a number");
  Make({"a", "b", "c"});
  EXPECT_EQ(form->PortList->currentIndex(), 0);
  StoreSetting(QStringList{"a", "b"});
  Make({"a", "b", "c"});
  EXPECT_EQ(reports, std::vector<std::string>{"Invalid data type for 'COM'"});
  EXPECT_EQ(form->PortList->currentIndex(), -1);
  EXPECT_TRUE(form->PortList->currentText().isEmpty());
}

// Ctrl+G asks where to go; the grid scrolls there, from the debug log's tab too.
TEST_F(Window, GoToShowsTheCell) {
  Make({"ttyS0"});
  form->show();
  form->Pages->setCurrentWidget(form->DebugPage);
  typed = "0x1230";
  QShortcut* go_to = nullptr;
  for (QShortcut* shortcut : form->findChildren<QShortcut*>())
    if (shortcut->key() == QKeySequence(Qt::CTRL | Qt::Key_G)) go_to = shortcut;
  ASSERT_NE(go_to, nullptr);
  emit go_to->activated();
  EXPECT_EQ(form->DataGrid->currentIndex(), form->Model->index(0x123, 0));
  EXPECT_EQ(form->Pages->currentWidget(), form->DataPage);
  const QRect shown = form->DataGrid->visualRect(form->Model->index(0x123, 0));
  EXPECT_TRUE(form->DataGrid->viewport()->rect().contains(shown.center()));
}

// Opening the list makes it again; the closed box tells the chosen port.
TEST_F(Window, PortListIsMadeAgainWhenOpened) {
  StoreSetting("1");
  Make({"ttyS0", "ttyUSB0"});
  ASSERT_EQ(form->PortList->currentText().toStdString(), "ttyUSB0");
  va::TVaPortIdentity ftdi{"ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0",
                           "0403",    "6001",
                           "FTDI",    "FT232R USB UART",
                           "A10K5XYZ"};
  const auto refresh = [&] {
    form->PortList->showPopup();
    form->PortList->hidePopup();
  };
  const auto tip = [&](int i) { return form->PortList->itemData(i, Qt::ToolTipRole).toString().toStdString(); };
  found = {{"ttyACM0"}, {"ttyUSB0", ftdi}};
  refresh();
  EXPECT_EQ(form->PortList->count(), 2);
  EXPECT_EQ(form->PortList->currentIndex(), 1);
  EXPECT_NE(tip(1).find("USB 0403:6001"), std::string::npos) << tip(1);
  EXPECT_EQ(form->PortList->toolTip().toStdString(), tip(1));
  // The longest strings a USB device may give keep the open list on the screen.
  va::TVaPortIdentity wordy = ftdi;
  wordy.Manufacturer = wordy.Product = std::string(126, 'W');
  found = {{"ttyUSB0", wordy}};
  refresh();
  EXPECT_EQ(form->PortList->currentIndex(), 0);
  EXPECT_LT(form->PortList->view()->minimumWidth(), 800);
}

// The mouse on the switch, the grid's open editor and the locked widgets.
TEST_F(Window, TheSwitchTheGridAndTheInputsAreWired) {
  pause_ms = 5;  // each command goes out on the window's timer of the load's next step
  MakeWithDevice();
  form->show();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(29)));
  PressReleasedOutside();  // no click: nothing starts and the switch stays off
  EXPECT_FALSE(form->StartSwitch->Button().Checked());
  EXPECT_FALSE(Active());

  // A cell still being edited belongs to the image the load sends. Its
  // editor takes hexadecimal digits only, upper-cased as they are typed.
  const QModelIndex cell = form->Model->index(0, 0);
  form->DataGrid->setCurrentIndex(cell);
  form->DataGrid->edit(cell);
  auto* editor = qobject_cast<QLineEdit*>(form->DataGrid->indexWidget(cell));
  ASSERT_NE(editor, nullptr);
  editor->clear();
  for (const char typed : std::string("z7gf1")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(typed)));
    QApplication::sendEvent(editor, &press);
  }
  EXPECT_EQ(editor->text().toStdString(), "7F");
  DoubleClick();  // the second press is no click: the load started by the first goes on
  EXPECT_EQ(form->Logic().Table().Cell(1, 1), "7F");
  EXPECT_TRUE(form->StartSwitch->Button().Checked());
  EXPECT_TRUE(Active());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  PressReleasedOutside();
  EXPECT_TRUE(form->StartSwitch->Button().Checked());

  // While it runs, the file, the grid and the port choice are locked.
  for (QWidget* input : {static_cast<QWidget*>(form->OpenFileButton), static_cast<QWidget*>(form->FilePath),
                         static_cast<QWidget*>(form->PortList)})
    EXPECT_FALSE(input->isEnabled());
  EXPECT_FALSE(form->Model->flags(cell) & Qt::ItemIsEditable);
  EXPECT_FALSE(form->Model->setData(cell, "00", Qt::EditRole));
  // A key typed into the locked grid moves nothing (no search for a cell's text).
  for (const char typed : std::string("0A")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(typed)));
    QApplication::sendEvent(form->DataGrid, &press);
  }
  EXPECT_EQ(form->DataGrid->currentIndex(), cell);
  ASSERT_TRUE(Pump([&] { return form->LoadTimes->text().contains(QString::fromUtf8("Осталось ")); }));

  Press();  // the first complete press stops it
  EXPECT_FALSE(form->StartSwitch->Button().Checked());
  EXPECT_FALSE(Active());
  EXPECT_TRUE(form->PortList->isEnabled() && form->FilePath->isEnabled() && form->OpenFileButton->isEnabled());
  EXPECT_TRUE(form->Model->setData(cell, "00", Qt::EditRole));
  EXPECT_TRUE(reports.empty()) << reports[0];
}

// Tab and Shift+Tab reach the switch, which shows the focus; Space presses it
// as a click (a held key, its auto-repeat, is one press), and the switch stays
// reachable while the load has the other inputs locked.
TEST_F(Window, TheKeyboardReachesAndPressesTheSwitch) {
  pause_ms = 5;
  MakeWithDevice();
  form->show();
  form->activateWindow();
  ASSERT_TRUE(Pump([&] { return form->isActiveWindow(); }, 10000));
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(31)));
  ab::TAbColBitBtn& button = form->StartSwitch->Button();
  int clicks = 0, releases = 0;
  const ab::TControlEvent clicked = button.OnClick, released = button.OnKeyUp;
  button.OnClick = [&](ab::TAbBinGControl* s) {
    ++clicks;
    clicked(s);
  };
  button.OnKeyUp = [&](ab::TAbBinGControl* s) {
    ++releases;
    released(s);
  };

  // From the file's field: its button, the port list, the switch.
  form->FilePath->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(form->FilePath->hasFocus());
  EXPECT_EQ(TabToTheSwitch(Qt::Key_Tab), 3);
  EXPECT_TRUE(button.Focused());
  // Tab leaves the grid (its cells are the arrows'), and Shift+Tab comes back
  // from it over the pages' tabs.
  form->DataGrid->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(form->DataGrid->hasFocus());
  EXPECT_FALSE(button.Focused());
  EXPECT_EQ(TabToTheSwitch(Qt::Key_Backtab), 2);
  form->DataGrid->setFocus(Qt::OtherFocusReason);
  EXPECT_GT(TabToTheSwitch(Qt::Key_Tab), 0) << "Tab stays in the grid";
  EXPECT_TRUE(button.Focused());

  // Space held: the press, its auto-repeat, the release: one load.
  Key(QEvent::KeyPress, Qt::Key_Space);
  EXPECT_EQ(clicks, 0);  // the click comes with the release
  Key(QEvent::KeyRelease, Qt::Key_Space, true);
  Key(QEvent::KeyPress, Qt::Key_Space, true);
  Key(QEvent::KeyRelease, Qt::Key_Space);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(releases, 1);
  EXPECT_TRUE(Active());
  EXPECT_TRUE(button.Checked());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  EXPECT_TRUE(Active()) << "a held key was more than one press";

  // Locked inputs are passed over; the switch keeps the focus and is reached again.
  EXPECT_FALSE(form->FilePath->isEnabled());
  EXPECT_TRUE(form->StartSwitch->hasFocus());
  std::vector<QWidget*> passed;
  EXPECT_GT(TabToTheSwitch(Qt::Key_Tab, &passed), 1);
  for (QWidget* input : {static_cast<QWidget*>(form->OpenFileButton), static_cast<QWidget*>(form->FilePath),
                         static_cast<QWidget*>(form->PortList)})
    EXPECT_EQ(std::count(passed.begin(), passed.end(), input), 0);

  // Space again stops it.
  Stroke(Qt::Key_Space);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(releases, 2);
  EXPECT_FALSE(Active());
  EXPECT_FALSE(button.Checked());
  EXPECT_TRUE(form->PortList->isEnabled() && form->FilePath->isEnabled() && form->OpenFileButton->isEnabled());
  // Enter presses it too.
  Stroke(Qt::Key_Return);
  EXPECT_EQ(clicks, 3);
  EXPECT_TRUE(Active());
  Stroke(Qt::Key_Return);
  EXPECT_FALSE(Active());
  EXPECT_TRUE(reports.empty()) << reports[0];
}

// The gauge, the status line and the debug log follow a whole load.
TEST_F(Window, AWholeLoadIsShown) {
  MakeWithDevice();
  form->show();
  const std::string text = sim::MakeUpdateFileText(21);
  Open(WriteFile("image.KVR", text));
  EXPECT_EQ(Status(), "Загрузка данных. Страниц для загрузки: 0900");
  Press();
  ASSERT_TRUE(Pump([&] { return Complete(); })) << Status();
  EXPECT_EQ(form->ProgressGauge->Gauge().Progress(), 100);
  EXPECT_FALSE(form->StartSwitch->Button().Checked());
  EXPECT_EQ(device->Image(), sim::ImageFromUpdateText(text));
  EXPECT_TRUE(form->DebugLog->toPlainText().startsWith(" - > PL0"));
  EXPECT_TRUE(reports.empty());
}

TEST_F(Window, ClosingDuringALoadAsksFirst) {
  MakeWithDevice();
  form->show();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(30)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  EXPECT_FALSE(form->close());  // answered no: the load goes on
  EXPECT_EQ(questions, std::vector<std::string>{kCloseQuestion});
  EXPECT_TRUE(Active());
  answer_yes = true;
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(Active());
  EXPECT_FALSE(form->StartSwitch->Button().Checked());
}

// The lost port reaches the window through the GUI thread's queue.
TEST_F(Window, LostPortStopsTheLoadWithAMessage) {
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(23)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 50; }));
  device->Hangup();
  ASSERT_TRUE(Pump([&] { return !messages.empty(); }, 10000));
  EXPECT_EQ(messages[0],
            std::string(FactsOf(LoadOutcome::kPortLost).russian) + form->PortList->currentText().toStdString());
  EXPECT_FALSE(Active());
  EXPECT_FALSE(form->StartSwitch->Button().Checked());
}

}  // namespace
}  // namespace kvr
