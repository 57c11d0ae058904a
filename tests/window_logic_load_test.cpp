// Whole loads through the window logic: the real serial component over a
// pseudo-terminal into the simulated boot loader (pauses on the test's clock),
// with a fake screen in place of the window.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pty_device.h"
#include "serial_test_support.h"
#include "sha256.h"
#include "window_rig.h"

namespace kvr {
namespace {

class WindowLoad : public test::WindowRig {
 protected:
  void MakeWithDevice(sim::DeviceOptions options = {}) {
    device = std::make_unique<sim::PtyDevice>(options);
    Make({"ttyS9"}, {device->SlavePath().substr(5)});
    logic->OnLoadEnded = [this](LoadOutcome r, const std::string&) { ended.push_back(r); };
  }
  bool Complete() const { return screen.status == "Загрузка завершена" && !logic->Port().Active(); }
  size_t Count(const std::string& part) const {
    size_t n = 0;
    for (size_t at = screen.log.find(part); at != std::string::npos; at = screen.log.find(part, at + 1)) ++n;
    return n;
  }

  std::unique_ptr<sim::PtyDevice> device;
  std::vector<LoadOutcome> ended;
};

std::vector<nlohmann::json> Records(const std::string& file) {
  std::istringstream lines(sim::ReadFile(file));
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line, nullptr, false));
  return records;
}

// Each load is recorded with its own figures: two complete ones, then one
// switched off. The clock moves only between the window's steps, by the
// timer of the load's next step: no handler waits, and each command still
// goes out more than 50 ms after the reply that asked for it.
TEST_F(WindowLoad, WholeLoadsThroughThePortIntoTheDeviceThenAThird) {
  record_file = WriteFile("runs.jsonl", "");
  clock.frozen = true;
  check_device = [this](const std::string&, const std::string& image_text) -> std::optional<bool> {
    return sim::ImageEqualsText(device->Image(), image_text);
  };
  MakeWithDevice();
  std::string text = sim::MakeUpdateFileText(21);
  const std::string path = WriteFile("image.KVR", text);
  Open(path);
  // The record names the bytes that were read, not what the file holds later.
  const std::string opened = sim::ReadFile(path);
  WriteFile("image.KVR", sim::MakeUpdateFileText(22));
  // An edit before the load goes out as typed.
  ASSERT_TRUE(logic->Grid().Edit(0, 0, "7F"));
  text[0] = '7';
  text[1] = 'F';
  const uint32_t started = clock.now;
  Press();
  EXPECT_TRUE(screen.switch_on);
  EXPECT_TRUE(screen.inputs_locked);
  ASSERT_TRUE(Pump([&] { return Complete(); })) << screen.status;
  EXPECT_GE(clock.now - started, 41474u * 51);
  EXPECT_EQ(screen.progress, 100);
  EXPECT_FALSE(screen.switch_on);
  EXPECT_FALSE(screen.inputs_locked);
  EXPECT_EQ(ended, std::vector<LoadOutcome>{LoadOutcome::kComplete});
  EXPECT_EQ(device->FramesReceived(), 41474u);
  EXPECT_EQ(device->Image(), sim::ImageFromUpdateText(text));
  EXPECT_EQ(screen.log.rfind(" - > PL0", 0), 0u) << screen.log.substr(0, 40);
  EXPECT_TRUE(screen.reports.empty());

  // The port was closed at completion: the next press starts a new load at once.
  Press();
  EXPECT_TRUE(Active());
  ASSERT_TRUE(Pump([&] { return Complete(); })) << screen.status;
  EXPECT_EQ(device->FramesReceived(), 2 * 41474u);
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 2 * 41474u + 100; }));
  // A save during the load: not over the file it was read from, but as
  // another file, with what the grid shows.
  screen.messages.clear();
  EXPECT_FALSE(logic->SaveAs(path));
  EXPECT_EQ(screen.messages, std::vector<std::string>{"Файл " + path +
                                                      " сейчас загружается в устройство и не может быть заменён."});
  ASSERT_TRUE(logic->SaveAs(Folder() + "/copy.KVR"));
  EXPECT_TRUE(sim::ReadFile(Folder() + "/copy.KVR") == text);
  Press();  // and switching off mid-load stops it
  EXPECT_FALSE(Active());
  EXPECT_EQ(screen.progress, 0);
  // The status line says the load was stopped and at which page (the page
  // its record names).
  const std::string stopped = "Загрузка прервана, страница ";
  ASSERT_EQ(screen.status.substr(0, stopped.size()), stopped);
  const std::string page = screen.status.substr(stopped.size(), 4);
  EXPECT_EQ(screen.status, stopped + page + " из 0900");
  EXPECT_EQ(ended, (std::vector<LoadOutcome>{LoadOutcome::kComplete, LoadOutcome::kComplete,
                                             LoadOutcome::kInterrupted}));
  const uint64_t frames = device->FramesReceived();
  PumpFor(300);
  EXPECT_EQ(device->FramesReceived(), frames);  // nothing more goes out
  EXPECT_TRUE(screen.reports.empty()) << screen.reports[0];

  const std::vector<nlohmann::json> records = Records(record_file);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1]["loads"][0]["result"], "complete");
  EXPECT_EQ(records[1]["loads"][0]["commands"], 41474);
  EXPECT_EQ(records[2]["loads"][0]["commands"], frames - 2 * 41474u);
  const nlohmann::json& done = records[0]["loads"][0];
  EXPECT_EQ(done["result"], "complete");
  EXPECT_EQ(done["commands"], 41474);
  // The simulated device's verdict, on the image shown (the grid's edit in it).
  EXPECT_EQ(done["message"], "load complete: 41474 commands; simulated device: image equal to the edited image");
  EXPECT_EQ(done["device"], device->SlavePath());
  EXPECT_EQ(records[0]["tool"], "kvr-loader");
  EXPECT_TRUE(records[0]["image"]["edited"].get<bool>());  // the grid's edit: not the file's bytes
  Sha256 sha;
  sha.Add(opened.data(), opened.size());
  EXPECT_EQ(records[0]["image"]["sha256"], sha.FinishHex());
  EXPECT_EQ(records[0]["image"]["size"], opened.size());
  EXPECT_EQ(records[2]["loads"][0]["result"], "interrupted");
  EXPECT_EQ(records[2]["loads"][0]["exit_code"], 130);
  EXPECT_NE(records[2]["loads"][0]["message"].get<std::string>().find("at page " + page + ","), std::string::npos)
      << records[2]["loads"][0]["message"] << " " << page;
}

TEST_F(WindowLoad, SwitchShowsWhetherALoadRunsAndAnyPressStopsIt) {
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(29)));
  PressReleasedOutside();  // no click: nothing starts and the switch goes back off
  EXPECT_FALSE(screen.switch_on);
  EXPECT_FALSE(Active());

  // A cell still being edited belongs to the image the load sends.
  screen.on_commit = [&] { logic->Grid().Edit(0, 0, "7F"); };
  DoubleClick();  // the second press is no click: the load started by the first goes on
  EXPECT_EQ(logic->Table().Cell(1, 1), "7F");
  EXPECT_TRUE(screen.switch_on);
  EXPECT_TRUE(Active());
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  PressReleasedOutside();
  EXPECT_TRUE(screen.switch_on);
  EXPECT_TRUE(Active());

  // While it runs, the file, the grid and the port choice are locked.
  EXPECT_TRUE(screen.inputs_locked);
  EXPECT_FALSE(logic->Grid().Edit(0, 0, "00"));
  EXPECT_EQ(logic->Table().Cell(1, 1), "7F");
  Open(WriteFile("other.KVR", sim::MakeUpdateFileText(30)));  // no file is read meanwhile
  EXPECT_EQ(logic->Table().Cell(1, 1), "7F");
  clock.now += 2000;
  logic->PollTick();
  EXPECT_NE(screen.times.find("Осталось "), std::string::npos) << screen.times;
  EXPECT_EQ(screen.times.find("--:--"), std::string::npos) << screen.times;

  Press();  // the first complete press stops it
  EXPECT_FALSE(screen.switch_on);
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.inputs_locked);
  EXPECT_FALSE(screen.Running(WindowTimer::kSupervisor));
  EXPECT_TRUE(logic->Grid().Edit(0, 0, "00"));
  EXPECT_TRUE(screen.reports.empty()) << screen.reports[0];
}

TEST_F(WindowLoad, ClosingDuringALoadAsksFirst) {
  record_file = WriteFile("runs.jsonl", "");
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(30)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  EXPECT_FALSE(logic->CloseAsked());  // answered no: the load goes on
  EXPECT_EQ(screen.questions, std::vector<std::string>{kCloseQuestion});
  EXPECT_TRUE(Active());
  const uint64_t frames = device->FramesReceived();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > frames + 5; }));

  screen.answer_yes = true;
  EXPECT_TRUE(logic->CloseAsked());
  EXPECT_EQ(screen.questions.size(), 2u);
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.switch_on);
  const uint64_t after = device->FramesReceived();
  PumpFor(300);
  EXPECT_LE(device->FramesReceived(), after + 1);
  const std::vector<nlohmann::json> records = Records(record_file);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0]["loads"][0]["message"].get<std::string>().find("the window was closed during the load"),
            std::string::npos);
  EXPECT_TRUE(logic->CloseAsked());  // nothing runs: no question
  EXPECT_EQ(screen.questions.size(), 2u);
  EXPECT_EQ(screen.questions_taken_down, 0);

  // A load that ends while the question is up takes the question down; the
  // answer given to it stops nothing and closes nothing.
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > after + 20; }));
  screen.while_asked = [&] {
    device->Hangup();
    ASSERT_TRUE(Pump([&] { return !Active(); }, 10000));
  };
  EXPECT_FALSE(logic->CloseAsked());
  EXPECT_EQ(screen.questions.size(), 3u);
  EXPECT_EQ(screen.questions_taken_down, 1);
  EXPECT_EQ(logic->LastOutcome(), LoadOutcome::kPortLost);
  EXPECT_EQ(Records(record_file).back()["loads"][0]["result"], "port lost");
}

// The device keeps refusing: the status line names its reply (Windows-1251).
TEST_F(WindowLoad, ARefusalIsNamedWhenTheRetriesAreUsedUp) {
  va::test::PtyPair far_end;
  Make({}, {far_end.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(31)));
  Press();
  const LoadSettings load;  // the window's
  for (int attempt = 0; attempt <= load.retries; ++attempt) {
    std::string got;
    ASSERT_TRUE(Pump([&] { return (got += far_end.Read(6 - got.size(), 10)).size() >= 6; }, 5000));
    EXPECT_EQ(got, "DL:0\xFA\r");
    far_end.Write("\xCE\xF8\xE8\xE1\xEA\xE0\r");  // "Ошибка"
    ASSERT_TRUE(Pump([&] { return Count(" - > Ошибка") > static_cast<size_t>(attempt); }, 5000));
    clock.now += QuietPeriodMs(load.reply_timeout_ms) + 1;
    logic->PollTick();
  }
  EXPECT_EQ(screen.status, std::string(kRefusedStatus) + "Ошибка");
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.switch_on);
  EXPECT_EQ(Count("Повтор "), static_cast<size_t>(load.retries));
  EXPECT_EQ(logic->LastOutcome(), LoadOutcome::kNoAnswer);
}

TEST_F(WindowLoad, SwitchingOffAtOnceSendsNothing) {
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(22)));
  Press();
  Press();
  PumpFor(300);
  EXPECT_FALSE(Active());
  EXPECT_EQ(device->FramesReceived(), 0u);
  EXPECT_TRUE(screen.reports.empty());
  EXPECT_EQ(ended, std::vector<LoadOutcome>{LoadOutcome::kInterrupted});
}

// A record that cannot be written is said once the load has stopped: the
// message comes up with the port closed and nothing more sent, and the
// record follows in the debug log.
TEST_F(WindowLoad, ARecordThatFailsIsToldAfterTheLoadStopped) {
  const std::filesystem::path folder = std::filesystem::path(Folder()) / "records";
  std::filesystem::create_directories(folder);
  record_file = (folder / "runs.jsonl").string();
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(32)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 20; }));
  std::filesystem::remove_all(folder);  // the folder is gone when the load ends
  Press();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].rfind(kRecordFailedMessage, 0), 0u) << screen.messages[0];
  EXPECT_EQ(screen.runs_when_told, std::vector<bool>{false});
  EXPECT_EQ(screen.switch_when_told, std::vector<bool>{false});
  EXPECT_NE(screen.log.find("\"result\":\"interrupted\""), std::string::npos) << screen.log.substr(0, 200);
  const uint64_t frames = device->FramesReceived();
  PumpFor(300);
  EXPECT_LE(device->FramesReceived(), frames + 1);
}

// A record file another writer holds is waited for on a timer, not inside the
// switch's handler: the operator is asked after 2 s, and a "no" gives the
// record up to the message, the debug log and standard error; closing the
// window with a record waiting asks the same.
TEST_F(WindowLoad, ARecordFileHeldByAnotherWriterIsWaitedForOnATimer) {
  record_file = WriteFile("runs.jsonl", "");
  clock.frozen = true;
  va::test::PtyPair far_end;
  Make({}, {far_end.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(33)));
  const int other = open(record_file.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  const auto end_a_load = [&] {
    Press();
    ASSERT_TRUE(Active());
    Press();  // returns with the record waiting
    EXPECT_FALSE(Active());
    EXPECT_TRUE(screen.Running(WindowTimer::kRecordRetry));
  };
  end_a_load();
  logic->RecordRetryElapsed();
  EXPECT_TRUE(screen.questions.empty());
  clock.now += 2000;
  screen.answer_yes = true;
  logic->RecordRetryElapsed();
  ASSERT_EQ(screen.questions.size(), 1u);
  EXPECT_EQ(screen.questions[0].rfind("Файл записей о загрузках занят: ", 0), 0u) << screen.questions[0];
  logic->RecordRetryElapsed();  // not again before 10 s
  EXPECT_EQ(screen.questions.size(), 1u);
  flock(other, LOCK_UN);  // the other writer lets go
  logic->RecordRetryElapsed();
  EXPECT_FALSE(screen.Running(WindowTimer::kRecordRetry));
  ASSERT_EQ(Records(record_file).size(), 1u);
  EXPECT_EQ(Records(record_file)[0]["loads"][0]["result"], "interrupted");

  ASSERT_EQ(flock(other, LOCK_EX), 0);
  end_a_load();
  screen.answer_yes = true;
  EXPECT_FALSE(logic->CloseAsked());  // wait on: the window stays
  EXPECT_TRUE(screen.messages.empty());
  ASSERT_EQ(screen.questions.size(), 2u);
  clock.now += 2000;  // the write's own look does not ask again so soon
  logic->RecordRetryElapsed();
  EXPECT_EQ(screen.questions.size(), 2u);
  screen.answer_yes = false;
  EXPECT_TRUE(logic->CloseAsked());  // given up: told, and the record is in the log
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].rfind(kRecordFailedMessage, 0), 0u) << screen.messages[0];
  EXPECT_NE(screen.log.find("\"result\":\"interrupted\""), std::string::npos);
  EXPECT_FALSE(screen.Running(WindowTimer::kRecordRetry));
  close(other);
  EXPECT_EQ(Records(record_file).size(), 1u);
  EXPECT_TRUE(screen.reports.empty());
}

TEST_F(WindowLoad, LostPortStopsTheLoadWithAMessage) {
  record_file = WriteFile("runs.jsonl", "");
  MakeWithDevice();
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(23)));
  Press();
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() > 50; }));
  device->Hangup();
  ASSERT_TRUE(Pump([&] { return !screen.messages.empty(); }, 10000));
  EXPECT_EQ(screen.messages[0], std::string(FactsOf(LoadOutcome::kPortLost).russian) + screen.ChosenName());
  // The status line no longer shows the page as if it were still loading.
  EXPECT_EQ(screen.status.rfind(screen.messages[0] + ", страница 00", 0), 0u) << screen.status;
  const std::string of = " из 0900";
  EXPECT_EQ(screen.status.substr(screen.status.size() - of.size()), of) << screen.status;
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.switch_on);
  EXPECT_EQ(ended, std::vector<LoadOutcome>{LoadOutcome::kPortLost});
  const nlohmann::json record = nlohmann::json::parse(sim::ReadFile(record_file), nullptr, false);
  ASSERT_TRUE(record.is_object()) << sim::ReadFile(record_file);
  EXPECT_EQ(record["loads"][0]["result"], "port lost");
  EXPECT_EQ(record["loads"][0]["exit_code"], 4);
}

TEST_F(WindowLoad, SilentDeviceIsRetriedThenGivenUp) {
  va::test::PtyPair far_end;  // a port nobody answers on
  Make({}, {far_end.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(24)));
  Press();
  ASSERT_TRUE(Pump([&] { return logic->Progress().commands == 1; }, 5000));
  EXPECT_EQ(far_end.Read(6), "DL:0\xFA\r");
  const LoadSettings load;  // the window's
  // The write thread needs the main loop running to send.
  auto sent = [&] {
    std::string got;
    Pump([&] { return (got += far_end.Read(6 - got.size(), 10)).size() >= 6; }, 5000);
    return got;
  };
  for (int attempt = 0; attempt < load.retries; ++attempt) {
    clock.now += load.reply_timeout_ms + 1;
    logic->PollTick();  // no reply in time: the line is let fall quiet
    EXPECT_TRUE(Active());
    clock.now += QuietPeriodMs(load.reply_timeout_ms) + 1;
    logic->PollTick();  // then the opening starts again
    EXPECT_EQ(sent(), "DL:0\xFA\r");
  }
  clock.now += load.reply_timeout_ms + 1;
  logic->PollTick();
  EXPECT_FALSE(Active());
  EXPECT_FALSE(screen.switch_on);
  EXPECT_EQ(screen.status, FactsOf(LoadOutcome::kNoAnswer).russian);
  EXPECT_EQ(logic->LastOutcome(), LoadOutcome::kNoAnswer);
}

TEST_F(WindowLoad, RepliesInPiecesStillLoadTheImage) {
  sim::DeviceOptions options;
  options.pieces = 3;
  MakeWithDevice(options);
  const std::string text = sim::MakeUpdateFileText(25);
  Open(WriteFile("image.KVR", text));
  Press();
  ASSERT_TRUE(Pump([&] { return Complete(); })) << screen.status;
  EXPECT_EQ(device->Image(), sim::ImageFromUpdateText(text));
}

// A reply that is not the one due starts its page again; the load goes on.
class WindowFault : public WindowLoad, public ::testing::WithParamInterface<sim::DeviceFault> {};

TEST_P(WindowFault, IsHealedByAPageRestart) {
  sim::DeviceOptions options;
  options.faults.push_back(GetParam());  // hits the answer to the second line of page 2
  MakeWithDevice(options);
  const std::string text = sim::MakeUpdateFileText(26);
  Open(WriteFile("image.KVR", text));
  Press();
  // The faulty reply answers the 41st frame.
  ASSERT_TRUE(Pump([&] { return device->FramesReceived() >= 41 || !Active(); })) << screen.status;
  // Time runs on the test clock: a dropped reply's time-out, then the quiet
  // period before the restart, in steps of a quiet period.
  const uint32_t quiet = QuietPeriodMs(LoadSettings{}.reply_timeout_ms);
  for (int step = 0; step < 100 && device->Addresses().size() < 4; ++step) {
    PumpFor(20);
    clock.now += quiet + 1;
    logic->PollTick();
  }
  ASSERT_TRUE(Pump([&] { return device->Addresses().size() >= 5 || !Active(); })) << screen.status;
  const std::vector<uint32_t> addresses = device->Addresses();
  EXPECT_EQ(std::vector<uint32_t>(addresses.begin(), addresses.begin() + 5),
            (std::vector<uint32_t>{0x000, 0x100, 0x200, 0x200, 0x300}));
  EXPECT_EQ(device->Rejected(), 0u);
  EXPECT_EQ(Count("Повтор 1 (page 0002"), 1u);
  Press();
  EXPECT_FALSE(Active());
  const std::vector<uint8_t> want = sim::ImageFromUpdateText(text);
  EXPECT_TRUE(std::equal(want.begin(), want.begin() + 3 * 256, device->Image().begin()));
  if (GetParam().kind == sim::DeviceFault::Kind::kNoise) {
    // Logged once, cut at the 1024-byte reply buffer.
    EXPECT_EQ(Count(" - > ~"), 1u);
    EXPECT_NE(screen.log.find(" - > " + std::string(1024, '~') + "\n"), std::string::npos);
    EXPECT_EQ(screen.log.find(std::string(1025, '~')), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Each, WindowFault,
                         ::testing::Values(sim::DeviceFault{sim::DeviceFault::Kind::kNoise, 40,
                                                            std::string(5000, '~')},  // one burst
                                           sim::DeviceFault{sim::DeviceFault::Kind::kDrop, 40, ""}));

TEST_F(WindowLoad, BusyPortIsReportedAndTheSwitchComesBackOff) {
  va::test::PtyPair line;
  va::TVaComm holder;
  holder.ClosePause = [](uint32_t) {};
  holder.SetDeviceName(line.SlavePath());
  holder.Open();
  Make({}, {line.SlavePath().substr(5)});
  Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20)));
  Press();
  ASSERT_EQ(screen.reports.size(), 1u);
  EXPECT_EQ(screen.reports[0], "Can't open specified device " + line.SlavePath() + " (Error 16, Device or resource busy)");
  EXPECT_FALSE(screen.switch_on);
  EXPECT_EQ(logic->LastOutcome(), LoadOutcome::kPortError);
}

// A port the user may not open: the component's text, then what to do.
TEST_F(WindowLoad, APortWithoutPermissionNamesTheFix) {
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
    screen.reports.clear();
    permission = c.permission;
    Make({}, {"ttyUSB7"});
    Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20)));
    Press();
    ASSERT_EQ(screen.reports.size(), 1u);
    EXPECT_EQ(checked_device, "/dev/ttyUSB7");
    const std::string component = "Specified device not found (/dev/ttyUSB7).";
    EXPECT_EQ(screen.reports[0].substr(0, component.size()), component);
    if (c.hint.empty()) {
      EXPECT_EQ(screen.reports[0], component);
    }
    for (const std::string& part : c.hint) EXPECT_NE(screen.reports[0].find(part), std::string::npos) << part;
    EXPECT_FALSE(screen.switch_on);
  }
}

}  // namespace
}  // namespace kvr
