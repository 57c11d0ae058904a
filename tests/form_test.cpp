// The window on the offscreen platform: start-up with ports and the stored
// setting, opening files, and whole loads through the real serial component
// over a pseudo-terminal into the simulated boot loader (pauses on a fast
// clock).
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image_geometry.h"
#include "loader_window.h"
#include "page_table_model.h"
#include "pty_device.h"
#include "qt_main_thread.h"
#include "serial_test_support.h"
#include "sha256.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

// Auto-advancing clock whose time the test may also jump.
class TestClock final : public TickSource {
 public:
  uint32_t Ticks() override { return now += 1; }
  uint32_t now = 0;
};

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
    o.ticks = &clock;
    o.report = [this](const std::string& m) { reports.push_back(m); };
    o.message = [this](const std::string& m) { messages.push_back(m); };
    o.confirm = [this](const std::string& q) {
      questions.push_back(q);
      return answer_yes;
    };
    o.choose_file = [this] { return chosen; };
    found.clear();
    for (const std::string& name : probed) found.push_back({name});
    o.probe_ports = [this] { return found; };
    o.first_ports = std::move(first);
    o.record_file = record_file;
    o.check_permission = [this](const std::string& device) {
      checked_device = device;
      return permission;
    };
    form = std::make_unique<LoaderWindow>(o);
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
    form->OpenFileClicked();
  }
  void Press() { ab::PressAndRelease(form->StartSwitch); }
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
  std::string Status() const { return form->StatusLine->text().toUtf8().toStdString(); }
  bool Complete() const { return Status() == "Загрузка завершена" && !form->Port.Active(); }

  QTemporaryDir settings_dir;
  TestClock clock;
  std::vector<std::string> reports, messages, questions;
  bool answer_yes = false;
  std::string chosen;
  std::vector<PortChoice> found;  // what the port probe finds now
  PortPermission permission;      // what the permission check says
  std::string checked_device;
  std::string record_file;  // the record file of loads given to the window ("" for none)
  std::unique_ptr<sim::PtyDevice> device;
  std::unique_ptr<LoaderWindow> form;
};

TEST_F(Window, StartUpListsPortsAndPreselectsTheStoredIndex) {
  StoreSetting("2");
  Make({"ttyS1", "ttyUSB0", "ttyUSB1"});
  EXPECT_EQ(form->windowTitle().toStdString(), kWindowCaption);
  EXPECT_EQ(form->size(), QSize(803, 634));
  EXPECT_EQ(form->PortList->count(), 3);
  EXPECT_EQ(form->PortList->currentText().toStdString(), "ttyUSB1");
  EXPECT_EQ(form->Table.Cell(1, 0), "$xxx0");
  EXPECT_EQ(form->Model->headerData(0, Qt::Vertical, Qt::DisplayRole).toString().toStdString(), "y000$");
  EXPECT_EQ(form->Model->rowCount(), 36864);
}

TEST_F(Window, StoredIndexRules) {
  StoreSetting("  $1");
  Make({"a", "b", "c"});
  EXPECT_EQ(form->PortList->currentIndex(), 1);
  StoreSetting("not a number");
  Make({"a", "b", "c"});
  EXPECT_EQ(form->PortList->currentIndex(), 0);
  StoreSetting("7");  // beyond the list: nothing selected
  Make({"a", "b", "c"});
  EXPECT_EQ(form->PortList->currentIndex(), -1);
  EXPECT_TRUE(form->PortList->currentText().isEmpty());
  StoreSetting(QStringList{"a", "b"});  // not text
  Make({"a", "b", "c"});
  EXPECT_EQ(reports, std::vector<std::string>{"Invalid data type for 'COM'"});
  EXPECT_EQ(form->PortList->currentIndex(), -1);
  EXPECT_EQ(form->Table.Cell(1, 0), "");  // no headings after the failed read
}

TEST_F(Window, NoPortMeansTheSwitchComesBackOff) {
  Make({});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20)));
  EXPECT_EQ(form->PortList->count(), 0);
  Press();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Specified device not found ().");
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_FALSE(form->Port.Active());
}

// The list is made again each time it opens: a port plugged in later appears,
// the chosen one stays chosen while it is there, the order is the probe's.
TEST_F(Window, PortListIsMadeAgainWhenOpenedAndKeepsTheChosenPort) {
  StoreSetting("1");
  Make({"ttyS0", "ttyUSB0"});
  ASSERT_EQ(form->PortList->currentText().toStdString(), "ttyUSB0");
  va::TVaPortIdentity ftdi{"ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0",
                           "0403",    "6001",
                           "FTDI",    "FT232R USB UART",
                           "A10K5XYZ"};
  va::TVaPortIdentity odd{"ttyUSB1", "", "1234", "5678", "<b>Maker</b>", "Ad\x1b[2Japter", ""};
  found = {{"ttyACM0"}, {"ttyS0"}, {"ttyUSB0", ftdi}, {"ttyUSB1", odd, va::paDenied}};
  const auto refresh = [&] {
    form->PortList->showPopup();
    form->PortList->hidePopup();
  };
  const auto names = [&] {
    std::vector<std::string> n;
    for (int i = 0; i < form->PortList->count(); ++i) n.push_back(form->PortList->itemText(i).toStdString());
    return n;
  };
  const auto tip = [&](int i) { return form->PortList->itemData(i, Qt::ToolTipRole).toString().toStdString(); };
  refresh();
  EXPECT_EQ(names(), (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}));
  EXPECT_EQ(form->PortList->currentIndex(), 2);
  EXPECT_EQ(form->PortList->toolTip().toStdString(), tip(2));
  for (const char* part : {"/dev/ttyUSB0<br>", "by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", "USB 0403:6001",
                           "Изготовитель: FTDI", "Изделие: FT232R USB UART", "Серийный номер: A10K5XYZ"})
    EXPECT_NE(tip(2).find(part), std::string::npos) << part << " in " << tip(2);
  // A device's own strings are text, never markup or terminal codes.
  EXPECT_NE(tip(3).find("&lt;b&gt;Maker&lt;/b&gt;"), std::string::npos) << tip(3);
  EXPECT_EQ(tip(3).find('\x1b'), std::string::npos);
  EXPECT_NE(tip(3).find("Нет прав"), std::string::npos);
  // Kept as the first entry, its tooltip still shows on the closed box.
  found = {{"ttyUSB0", ftdi}, {"ttyS0"}};
  refresh();
  EXPECT_EQ(form->PortList->currentIndex(), 0);
  EXPECT_EQ(form->PortList->toolTip().toStdString(), tip(0));
  EXPECT_FALSE(tip(0).empty());
  // The longest strings a USB device may give keep the open list on the screen.
  va::TVaPortIdentity wordy = ftdi;
  wordy.Manufacturer = wordy.Product = std::string(126, 'W');
  found = {{"ttyUSB0", wordy}};
  refresh();
  EXPECT_LT(form->PortList->view()->minimumWidth(), 800);
  // The chosen port unplugged: nothing is chosen rather than another device.
  found = {{"ttyS0"}};
  refresh();
  EXPECT_EQ(names(), std::vector<std::string>{"ttyS0"});
  EXPECT_EQ(form->PortList->currentIndex(), -1);
}

// Joining the device's group is advised only where it gives access; an
// access list, the owner's own bits, a system group or a login that has the
// group already get the general advice.
TEST(PortPermission, JoiningTheGroupIsAdvisedOnlyWhereItHelps) {
  DeviceAccessFacts dialout;
  dialout.accessible = false;
  dialout.mode = 0660, dialout.owner_uid = 0, dialout.uid = 1000, dialout.gid = 20;
  dialout.user = "anna", dialout.owner = "root", dialout.group = "dialout";
  const auto with = [&](const std::function<void(DeviceAccessFacts&)>& change) {
    DeviceAccessFacts f = dialout;
    change(f);
    return DecidePortPermission(f);
  };
  struct Case {
    const char* what;
    PortPermission got;
    bool denied;
    std::string group;
    bool listed;
  } cases[] = {
      {"root:dialout 0660", with([](auto&) {}), true, "dialout", false},
      {"listed, the login older", with([](auto& f) { f.listed_in_group = true; }), true, "dialout", true},
      {"the login has the group", with([](auto& f) { f.session_has_group = true; }), true, "", false},
      {"an access list", with([](auto& f) { f.has_acl = true; }), true, "", false},
      {"root:root 0660", with([](auto& f) { f.gid = 0, f.group = "root"; }), true, "", false},
      {"the owner's own bits", with([](auto& f) { f.owner_uid = 1000, f.mode = 0060; }), true, "", false},
      {"no group rights", with([](auto& f) { f.mode = 0600; }), true, "", false},
      {"a group without a name", with([](auto& f) { f.group.clear(); }), true, "", false},
      {"accessible", with([](auto& f) { f.accessible = true; }), false, "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.denied, c.denied) << c.what;
    EXPECT_EQ(c.got.group, c.group) << c.what;
    EXPECT_EQ(c.got.listed_in_group, c.listed) << c.what;
  }
  EXPECT_EQ(with([](auto& f) { f.group.clear(); }).device_group, "20");
}

// A port the user may not open: the component's text, then what to do.
TEST_F(Window, APortWithoutPermissionNamesTheFix) {
  struct Case {
    PortPermission permission;
    std::vector<std::string> hint;  // parts of the hint; none when there is no hint
  } cases[] = {
      {{true, "anna", "root", "dialout", "dialout", false},
       {"Нет прав на порт ttyUSB7", "«dialout»", "sudo usermod -aG dialout anna", "войдите в систему заново"}},
      {{true, "anna", "root", "dialout", "dialout", true},
       {"уже в группе «dialout»", "выйдите из системы и войдите заново"}},
      {{true, "anna", "root", "root", "", false}, {"(владелец root, группа root)", "пользователю anna", "dialout"}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    reports.clear();
    permission = c.permission;
    Make({}, {"ttyUSB7"});
    Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20)));
    Press();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(checked_device, "/dev/ttyUSB7");
    const std::string component = "Specified device not found (/dev/ttyUSB7).";
    EXPECT_EQ(reports[0].substr(0, component.size()), component);
    if (c.hint.empty()) {
      EXPECT_EQ(reports[0], component);
    }
    for (const std::string& part : c.hint) EXPECT_NE(reports[0].find(part), std::string::npos) << part;
    EXPECT_FALSE(form->StartSwitch->Checked());
  }
}

TEST_F(Window, OpeningFiles) {
  Make({"x"});
  const std::string text = sim::MakeUpdateFileText(3);
  Open(WriteFile("a.KVR", text));
  EXPECT_EQ(Status(), "Загрузка данных. Страниц для загрузки: 0900");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->Model->data(form->Model->index(0, 0), Qt::DisplayRole).toString().toStdString(), text.substr(0, 2));

  Open(WriteFile("short.kvr", text.substr(0, 34 * 20)));
  EXPECT_EQ(messages, std::vector<std::string>{std::string(kWrongFileMessage)});
  EXPECT_EQ(form->Table.Cell(1, 21), "");

  const std::string ro = WriteFile("ro.kvr", text);
  chmod(ro.c_str(), 0444);
  Open(ro);
  EXPECT_EQ(form->File.PageTotal, 2304);

  Open(settings_dir.path().toStdString() + "/missing.KVR");
  EXPECT_EQ(reports, std::vector<std::string>{"File not found"});
  EXPECT_EQ(form->FilePath->text().toStdString(), settings_dir.path().toStdString() + "/missing.KVR");

  Open(WriteFile("other.txt", text));  // wrong extension: nothing happens
  EXPECT_EQ(reports.size(), 1u);

  // Cells are Windows-1251: file bytes and typed text alike.
  Open(WriteFile("cyrillic.KVR", "\xC6\xE5" + text.substr(2)));
  const QModelIndex first = form->Model->index(0, 0);
  EXPECT_EQ(form->Model->data(first, Qt::DisplayRole).toString(), QString::fromUtf8("Же"));
  form->Model->setData(first, QString::fromUtf8("Ё№"), Qt::EditRole);
  EXPECT_EQ(form->Table.Cell(1, 1), "\xA8\xB9");
}

// Each load is recorded: the complete one, then the one switched off.
TEST_F(Window, WholeLoadThroughThePortIntoTheDeviceThenASecondOne) {
  record_file = WriteFile("runs.jsonl", "");
  MakeWithDevice();
  form->show();  // the grid and the gauge follow the load on screen
  std::string text = sim::MakeUpdateFileText(21);
  Open(WriteFile("image.KVR", text));
  // An edit before the load goes out as typed.
  form->Model->setData(form->Model->index(0, 0), "7F", Qt::EditRole);
  text[0] = '7';
  text[1] = 'F';
  Press();
  EXPECT_TRUE(form->StartSwitch->Checked());
  ASSERT_TRUE(Pump([&] { return Complete(); })) << Status();
  EXPECT_EQ(form->ProgressGauge->Progress(), 100);
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_EQ(device->FramesReceived(), 41474u);
  EXPECT_EQ(device->Image(), sim::ImageFromUpdateText(text));
  EXPECT_TRUE(form->DebugLog->toPlainText().startsWith(" - > PL0"));
  EXPECT_TRUE(reports.empty());

  // The port was closed at completion: the next press starts a new load at once.
  Press();
  EXPECT_TRUE(form->Port.Active());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 41474u + 100; }));
  Press();  // and switching off mid-load stops it
  EXPECT_FALSE(form->Port.Active());
  EXPECT_EQ(form->ProgressGauge->Progress(), 0);
  EXPECT_EQ(Status(), "");
  const uint64_t frames = device->FramesReceived();
  Pump([] { return false; }, 300);
  EXPECT_LE(device->FramesReceived(), frames + 1);

  std::istringstream lines(sim::ReadFile(record_file));
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line, nullptr, false));
  ASSERT_EQ(records.size(), 2u);
  const nlohmann::json& done = records[0]["loads"][0];
  EXPECT_EQ(done["result"], "complete");
  EXPECT_EQ(done["commands"], 41474);
  EXPECT_EQ(done["device"], device->SlavePath());
  EXPECT_EQ(records[0]["tool"], "kvr-loader");
  EXPECT_TRUE(records[0]["image"]["edited"].get<bool>());  // the grid's edit: not the file's bytes
  const std::string file = sim::ReadFile(form->FilePath->text().toStdString());
  Sha256 sha;
  sha.Add(file.data(), file.size());
  EXPECT_EQ(records[0]["image"]["sha256"], sha.FinishHex());
  EXPECT_EQ(records[1]["loads"][0]["result"], "interrupted");
  EXPECT_EQ(records[1]["loads"][0]["exit_code"], 130);
}

// A record file that cannot take the load is named before anything is sent.
TEST_F(Window, ARecordFileThatWouldFailStopsTheLoadBeforeItStarts) {
  record_file = WriteFile("notes.txt", "shopping list\n");
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(24)));
  Press();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], std::string(kRecordRefusedMessage) + "the record file " + record_file +
                             " holds something other than load records");
  EXPECT_FALSE(form->Port.Active());
  EXPECT_FALSE(form->StartSwitch->Checked());
  Pump([] { return false; }, 200);
  EXPECT_EQ(device->FramesReceived(), 0u);
  EXPECT_EQ(sim::ReadFile(record_file), "shopping list\n");
}

TEST_F(Window, SwitchShowsWhetherALoadRunsAndAnyPressStopsIt) {
  MakeWithDevice();
  form->show();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(29)));
  PressReleasedOutside();  // no click: nothing starts and the switch stays off
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_FALSE(form->Port.Active());

  // A cell still being edited belongs to the image the load sends.
  const QModelIndex cell = form->Model->index(0, 0);
  form->DataGrid->setCurrentIndex(cell);
  form->DataGrid->edit(cell);
  auto* editor = qobject_cast<QLineEdit*>(form->DataGrid->indexWidget(cell));
  ASSERT_NE(editor, nullptr);
  editor->setText("7F");
  DoubleClick();  // the second press is no click: the load started by the first goes on
  EXPECT_EQ(form->Table.Cell(1, 1), "7F");
  EXPECT_TRUE(form->StartSwitch->Checked());
  EXPECT_TRUE(form->Port.Active());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  PressReleasedOutside();
  EXPECT_TRUE(form->StartSwitch->Checked());
  EXPECT_TRUE(form->Port.Active());

  // While it runs, the file, the grid and the port choice are locked.
  for (QWidget* input : {static_cast<QWidget*>(form->OpenFileButton), static_cast<QWidget*>(form->FilePath),
                         static_cast<QWidget*>(form->PortList)})
    EXPECT_FALSE(input->isEnabled());
  EXPECT_FALSE(form->Model->flags(cell) & Qt::ItemIsEditable);
  EXPECT_FALSE(form->Model->setData(cell, "00", Qt::EditRole));
  EXPECT_EQ(form->Table.Cell(1, 1), "7F");
  form->PollLoad();
  EXPECT_TRUE(form->LoadTimes->text().contains(QString::fromUtf8("Осталось ")))
      << form->LoadTimes->text().toStdString();
  EXPECT_FALSE(form->LoadTimes->text().contains("--:--"));

  Press();  // the first complete press stops it
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_FALSE(form->Port.Active());
  EXPECT_TRUE(form->PortList->isEnabled() && form->FilePath->isEnabled() && form->OpenFileButton->isEnabled());
  EXPECT_TRUE(form->Model->setData(cell, "00", Qt::EditRole));
  EXPECT_TRUE(reports.empty()) << reports[0];
}

TEST_F(Window, ClosingDuringALoadAsksFirst) {
  MakeWithDevice();
  form->show();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(30)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  EXPECT_FALSE(form->close());  // answered no: the load goes on
  EXPECT_EQ(questions, std::vector<std::string>{kCloseQuestion});
  EXPECT_TRUE(form->Port.Active());
  const uint64_t frames = device->FramesReceived();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > frames + 5; }));

  answer_yes = true;
  EXPECT_TRUE(form->close());
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_FALSE(form->Port.Active());
  EXPECT_FALSE(form->StartSwitch->Checked());
  const uint64_t after = device->FramesReceived();
  Pump([] { return false; }, 300);
  EXPECT_LE(device->FramesReceived(), after + 1);

  form->show();
  EXPECT_TRUE(form->close());  // nothing runs: no question
  EXPECT_EQ(questions.size(), 2u);
}

// The device keeps refusing: the status line names its reply (Windows-1251).
TEST_F(Window, ARefusalIsNamedWhenTheRetriesAreUsedUp) {
  va::test::PtyPair far_end;
  Make({}, {far_end.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(31)));
  Press();
  const LoadSettings& load = form->Engine().Settings();
  const QString logged = QString::fromUtf8(" - > Ошибка");
  for (int attempt = 0; attempt <= load.retries; ++attempt) {
    std::string got;
    ASSERT_TRUE(Pump([&] { return (got += far_end.Read(6 - got.size(), 10)).size() >= 6; }, 5000));
    EXPECT_EQ(got, "DL:0\xFA\r");
    far_end.Write("\xCE\xF8\xE8\xE1\xEA\xE0\r");  // "Ошибка"
    ASSERT_TRUE(Pump([&] { return form->DebugLog->toPlainText().count(logged) > attempt; }, 5000));
    clock.now += QuietPeriodMs(load.reply_timeout_ms) + 1;
    form->PollLoad();
  }
  EXPECT_EQ(Status(), std::string(kRefusedStatus) + "Ошибка");
  EXPECT_FALSE(form->Port.Active());
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_EQ(form->DebugLog->toPlainText().count(QString::fromUtf8("Повтор ")), load.retries);
}

TEST_F(Window, SwitchingOffAtOnceSendsNothing) {
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(22)));
  Press();
  Press();
  Pump([] { return false; }, 300);
  EXPECT_FALSE(form->Port.Active());
  EXPECT_EQ(device->FramesReceived(), 0u);
  EXPECT_TRUE(reports.empty());
}

TEST_F(Window, LostPortStopsTheLoadWithAMessage) {
  record_file = WriteFile("runs.jsonl", "");
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(23)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 50; }));
  device->Hangup();
  ASSERT_TRUE(Pump([&] { return !messages.empty(); }, 10000));
  EXPECT_EQ(messages[0], std::string(kPortLostMessage) + form->PortList->currentText().toStdString());
  EXPECT_FALSE(form->Port.Active());
  EXPECT_FALSE(form->StartSwitch->Checked());
  const nlohmann::json record = nlohmann::json::parse(sim::ReadFile(record_file), nullptr, false);
  ASSERT_TRUE(record.is_object()) << sim::ReadFile(record_file);
  EXPECT_EQ(record["loads"][0]["result"], "port lost");
  EXPECT_EQ(record["loads"][0]["exit_code"], 4);
}

TEST_F(Window, SilentDeviceIsRetriedThenGivenUp) {
  va::test::PtyPair far_end;  // a port nobody answers on
  Make({}, {far_end.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(24)));
  Press();
  ASSERT_TRUE(Pump([&] { return form->Link().FramesSent() == 1; }, 5000));
  EXPECT_EQ(far_end.Read(6), "DL:0\xFA\r");
  const LoadSettings& load = form->Engine().Settings();
  // The write thread needs the main loop running to send.
  auto sent = [&] {
    std::string got;
    Pump([&] { return (got += far_end.Read(6 - got.size(), 10)).size() >= 6; }, 5000);
    return got;
  };
  int opened = 1;
  for (int attempt = 0; attempt < load.retries; ++attempt) {
    clock.now += load.reply_timeout_ms + 1;
    form->PollLoad();  // no reply in time: the line is let fall quiet
    EXPECT_TRUE(form->Port.Active());
    clock.now += QuietPeriodMs(load.reply_timeout_ms) + 1;
    form->PollLoad();  // then the opening starts again
    EXPECT_EQ(sent(), "DL:0\xFA\r");
    ++opened;
  }
  EXPECT_EQ(opened, load.retries + 1);
  clock.now += load.reply_timeout_ms + 1;
  form->PollLoad();
  EXPECT_FALSE(form->Port.Active());
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_EQ(Status(), kNoReplyStatus);
}

TEST_F(Window, NoFileOrABadLineSendsNothing) {
  MakeWithDevice();
  Press();  // no file opened yet
  EXPECT_EQ(Status(), kNoFileStatus);
  EXPECT_FALSE(form->StartSwitch->Checked());
  EXPECT_FALSE(form->Port.Active());
  std::string text = sim::MakeUpdateFileText(28);
  text[34 * 99 + 5] = 'G';  // line 100
  Open(WriteFile("bad.KVR", text));
  Press();
  EXPECT_EQ(Status(), QString(kBadLineStatus).arg(100).toStdString());
  EXPECT_FALSE(form->Port.Active());
  Pump([] { return false; }, 200);
  EXPECT_EQ(device->FramesReceived(), 0u);
  EXPECT_TRUE(reports.empty());
}

TEST_F(Window, RepliesInPiecesStillLoadTheImage) {
  sim::DeviceOptions options;
  options.pieces = 3;
  MakeWithDevice(options);
  const std::string text = sim::MakeUpdateFileText(25);
  Open(WriteFile("image.KVR", text));
  Press();
  ASSERT_TRUE(Pump([&] { return Complete(); })) << Status();
  EXPECT_EQ(device->Image(), sim::ImageFromUpdateText(text));
}

// A reply that is not the one due starts its page again; the load goes on.
class WindowFault : public Window, public ::testing::WithParamInterface<sim::DeviceFault> {};

TEST_P(WindowFault, IsHealedByAPageRestart) {
  sim::DeviceOptions options;
  options.faults.push_back(GetParam());  // hits the answer to the second line of page 2
  MakeWithDevice(options);
  const std::string text = sim::MakeUpdateFileText(26);
  Open(WriteFile("image.KVR", text));
  Press();
  // The faulty reply answers the 41st frame.
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() >= 41 || !form->Port.Active(); })) << Status();
  // Time runs on the test clock: a dropped reply's time-out, then the quiet
  // period before the restart, in steps of a quiet period.
  const uint32_t quiet = QuietPeriodMs(form->Engine().Settings().reply_timeout_ms);
  for (int step = 0; step < 100 && device->Addresses().size() < 4; ++step) {
    Pump([] { return false; }, 20);
    clock.now += quiet + 1;
    form->PollLoad();
  }
  ASSERT_TRUE(Pump([&] { return device->Addresses().size() >= 5 || !form->Port.Active(); })) << Status();
  const std::vector<uint32_t> addresses = device->Addresses();
  EXPECT_EQ(std::vector<uint32_t>(addresses.begin(), addresses.begin() + 5),
            (std::vector<uint32_t>{0x000, 0x100, 0x200, 0x200, 0x300}));
  EXPECT_EQ(device->Rejected(), 0u);
  EXPECT_EQ(form->DebugLog->toPlainText().count(QString::fromUtf8("Повтор 1 (page 0002")), 1);
  Press();
  EXPECT_FALSE(form->Port.Active());
  const std::vector<uint8_t> want = sim::ImageFromUpdateText(text);
  EXPECT_TRUE(std::equal(want.begin(), want.begin() + 3 * 256, device->Image().begin()));
  if (GetParam().kind == sim::DeviceFault::Kind::kNoise) {
    // Logged once, cut at the 1024-byte reply buffer.
    const QStringList noisy = form->DebugLog->toPlainText().split('\n').filter(QRegularExpression("^ - > ~"));
    ASSERT_EQ(noisy.size(), 1);
    EXPECT_EQ(noisy[0], " - > " + QString(1024, '~'));
  }
}

INSTANTIATE_TEST_SUITE_P(Each, WindowFault,
                         ::testing::Values(sim::DeviceFault{sim::DeviceFault::Kind::kNoise, 40,
                                                            std::string(5000, '~')},  // one burst
                                           sim::DeviceFault{sim::DeviceFault::Kind::kDrop, 40, ""}));

TEST_F(Window, BusyPortIsReportedAndTheSwitchComesBackOff) {
  va::test::PtyPair line;
  va::TVaComm holder;
  holder.ClosePause = [](uint32_t) {};
  holder.SetDeviceName(line.SlavePath());
  holder.Open();
  Make({}, {line.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20)));
  Press();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Can't open specified device " + line.SlavePath() + " (Error 16, Device or resource busy)");
  EXPECT_FALSE(form->StartSwitch->Checked());
}

}  // namespace
}  // namespace kvr
