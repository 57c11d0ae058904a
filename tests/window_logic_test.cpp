// The window logic without a device and without a toolkit: start-up with the
// ports and the stored index, the port list made again, opening files and
// editing the grid, and every refusal before a load starts. These run on
// Linux and, in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include <functional>
#include <iostream>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "test_support.h"
#endif

#include "due_timer.h"
#include "monotonic_clock.h"
#include "window_rig.h"

namespace kvr {
namespace {

using WindowLogic = test::WindowRig;

TEST_F(WindowLogic, StartUpListsPortsAndPreselectsTheStoredIndex) {
  struct Case {
    int32_t stored;
    bool readable;
    std::vector<std::string> first;
    int chosen;
  } cases[] = {
      {2, true, {}, 2},
      {-1, true, {}, 0},           // nothing stored: the first port
      {7, true, {}, -1},           // beyond the list: nothing selected
      {-5, true, {}, -1},          // no index a list has
      {1, true, {"pts/4"}, 0},     // the port given first is the one to use
      {1, false, {}, -1},          // unreadable: reported, nothing selected
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.stored) + (c.readable ? "" : " unreadable"));
    screen = {};
    screen.stored_index = c.stored;
    screen.stored_readable = c.readable;
    Make({"ttyS1", "ttyUSB0", "ttyUSB1"}, c.first);
    EXPECT_EQ(screen.ports.size(), 3 + c.first.size());
    EXPECT_EQ(screen.chosen, c.chosen);
    EXPECT_EQ(probes, 1) << "probed once at start";
    probes = 0;
    EXPECT_EQ(screen.reports, c.readable ? std::vector<std::string>{}
                                         : std::vector<std::string>{"Invalid data type for 'COM'"});
    // The headings come after the stored index; a failed read leaves none.
    EXPECT_EQ(logic->Grid().ColumnHeading(0), c.readable ? "$xxx0" : "");
    EXPECT_EQ(logic->Grid().RowHeading(0), c.readable ? "y000$" : "");
    EXPECT_EQ(logic->Grid().Rows(), 36864);
    EXPECT_FALSE(screen.switch_on);
    EXPECT_EQ(screen.times, "") << "no times before the first load";
  }
}

// The list is made again each time it opens: a port plugged in later appears,
// the chosen one stays chosen while it is there, the order is the probe's.
TEST_F(WindowLogic, PortListIsMadeAgainWhenOpenedAndKeepsTheChosenPort) {
  screen.stored_index = 1;
  Make({"ttyS0", "ttyUSB0"}, {"pts/9"});
  ASSERT_EQ(screen.ChosenName(), "pts/9");
  screen.chosen = 2;  // the operator picks ttyUSB0
  va::TVaPortIdentity ftdi{"ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0",
                           "0403",    "6001",
                           "FTDI",    "FT232R USB UART",
                           "A10K5XYZ"};
  va::TVaPortIdentity odd{"ttyUSB1", "", "1234", "5678", "<b>Maker</b>", "Ad\x1b[2Japter", ""};
  found = {{"ttyACM0"}, {"ttyS0"}, {"ttyUSB0", ftdi}, {"ttyUSB1", odd, va::acDenied}};
  permission = {true, "anna", "root", "dialout", "dialout", false};
  logic->PortListOpening();
  std::vector<std::string> names;
  for (const PortEntry& p : screen.ports) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"pts/9", "ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}));
  EXPECT_EQ(screen.ChosenName(), "ttyUSB0");
  const auto tip = [&](int i) { return screen.ports[static_cast<size_t>(i)].tooltip; };
  for (const char* part : {"<br>", "by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", "USB 0403:6001",
                           "Изготовитель: FTDI", "Изделие: FT232R USB UART", "Серийный номер: A10K5XYZ"})
    EXPECT_NE(tip(3).find(part), std::string::npos) << part << " in " << tip(3);
  EXPECT_EQ(screen.ports[3].description, "FT232R USB UART (FTDI)");
  // A device's own strings are text, never markup or terminal codes.
  EXPECT_NE(tip(4).find("&lt;b&gt;Maker&lt;/b&gt;"), std::string::npos) << tip(4);
  EXPECT_EQ(tip(4).find('\x1b'), std::string::npos);
  // The port the user may not open says so, and what to do.
  EXPECT_NE(screen.ports[4].description.find("нет прав"), std::string::npos);
  EXPECT_NE(tip(4).find("sudo usermod -aG dialout anna"), std::string::npos) << tip(4);
  // The same tooltip as plain text (the Win32 window's): a line each, the
  // hint a paragraph of its own, the device's strings as they came.
  const std::string plain = PlainToolTipText(tip(4));
  EXPECT_EQ(plain.find('<' + std::string("p")), std::string::npos) << plain;
  EXPECT_NE(plain.find("Изготовитель: <b>Maker</b>\r\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find("\r\n\r\n"), std::string::npos) << plain;
  EXPECT_NE(plain.substr(plain.rfind("\r\n\r\n")).find("sudo usermod -aG dialout anna"), std::string::npos) << plain;
  // The chosen port unplugged: nothing is chosen rather than another device.
  found = {{"ttyS0"}};
  logic->PortListOpening();
  EXPECT_EQ(screen.ports.size(), 2u);
  EXPECT_EQ(screen.chosen, -1);
}

// Windows' ports carry what its device records say: an adapter is described
// as Linux describes it, a built-in or Bluetooth port by its kind, a card's
// port in the records' words, a port without a record (Wine) as a serial
// port; the tooltip's lines after the device path say the rest once.
TEST_F(WindowLogic, WindowsPortsAreDescribedFromTheirDeviceRecords) {
  Make({"COM1"});
  const va::TVaPortIdentity ftdi{"COM3", "", "0403", "6001", "FTDI", "FT232R USB UART", "A5012345", va::pkUnknown};
  const va::TVaPortIdentity built_in{"COM1", "", "", "", "", "Communications Port", "", va::pkBuiltIn};
  const va::TVaPortIdentity bluetooth{"COM8", "", "", "", "", "Standard Serial over Bluetooth link", "",
                                      va::pkBluetooth};
  const va::TVaPortIdentity card{"COM12", "", "", "", "Moxa Inc.", "PCI Serial Port", "", va::pkUnknown};
  found = {{"COM1", built_in}, {"COM2"}, {"COM3", ftdi}, {"COM8", bluetooth}, {"COM12", card}};
  logic->PortListOpening();
  struct Case {
    const char* name;
    const char* description;
    std::vector<std::string> lines;  // the tooltip's, after the device path
  } cases[] = {
      {"COM1", "встроенный порт", {"Изделие: Communications Port", "встроенный порт"}},
      {"COM2", "последовательный порт", {"последовательный порт"}},
      {"COM3",
       "FT232R USB UART (FTDI)",
       {"USB 0403:6001", "Изготовитель: FTDI", "Изделие: FT232R USB UART", "Серийный номер: A5012345"}},
      {"COM8", "порт Bluetooth", {"Изделие: Standard Serial over Bluetooth link", "порт Bluetooth"}},
      {"COM12", "PCI Serial Port (Moxa Inc.)", {"Изготовитель: Moxa Inc.", "Изделие: PCI Serial Port"}},
  };
  ASSERT_EQ(screen.ports.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const PortEntry& entry = screen.ports[i];
    EXPECT_EQ(entry.name, cases[i].name);
    EXPECT_EQ(entry.description, cases[i].description) << entry.name;
    std::vector<std::string> lines;
    const std::string plain = PlainToolTipText(entry.tooltip);
    for (size_t at = 0, end = 0; at <= plain.size(); at = end + 2) {
      end = std::min(plain.find("\r\n", at), plain.size());
      lines.push_back(plain.substr(at, end - at));
    }
    EXPECT_EQ(lines.front(), va::DevicePathFor(entry.name));
    lines.erase(lines.begin());
    EXPECT_EQ(lines, cases[i].lines) << entry.name;
  }
}

TEST_F(WindowLogic, OpeningFilesAndEditingTheGrid) {
  Make({"x"});
  const std::string text = sim::MakeUpdateFileText(3);
  const int resets = screen.grid_resets;
  Open(WriteFile("a.KVR", text));
  EXPECT_EQ(screen.status, "Загрузка данных. Страниц для загрузки: 0900");
  EXPECT_EQ(screen.grid_resets, resets + 1);
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(logic->Grid().Cell(0, 0), text.substr(0, 2));
  EXPECT_EQ(logic->FilePath(), screen.file_path);

  // A file of the wrong size opens after the warning; its status line says
  // it is not a good file.
  Open(WriteFile("short.kvr", text.substr(0, 34 * 20)));
  EXPECT_EQ(screen.messages, std::vector<std::string>{std::string(kWrongFileMessage)});
  EXPECT_EQ(screen.status, "Неверный размер файла. Страниц для загрузки: 0002");
  EXPECT_EQ(logic->Table().Cell(1, 21), "");

  // A refused or unreadable file leaves everything as it was: the path, the
  // grid, the status line and the image a load would send; a message says why.
  const std::string good = WriteFile("a.KVR", text);
  Open(good);
  const std::string big = Folder() + "/big.KVR";
  WriteFile("big.KVR", "");
  std::filesystem::resize_file(big, 64 * 1024 * 1024 + 1);
  const struct {
    std::string path;
    std::vector<std::string> reports, messages;
  } refused[] = {
      {Folder() + "/missing.KVR",
       {"File not found\n\n" + Folder() + "/missing.KVR: No such file or directory"},
       {}},
      {big, {}, {std::string(kWrongFileMessage) + "\n\nФайл " + big + " больше 64 МиБ и не открыт."}},
      {WriteFile("other.txt", text), {}, {}},  // not an update file: nothing happens
  };
  for (const auto& file : refused) {
    screen.reports.clear();
    screen.messages.clear();
    screen.log = "kept";
    Open(file.path);
    EXPECT_EQ(screen.reports, file.reports) << file.path;
    EXPECT_EQ(screen.messages, file.messages) << file.path;
    EXPECT_EQ(screen.file_path, good) << file.path;
    EXPECT_EQ(logic->FilePath(), good) << file.path;
    EXPECT_EQ(screen.status, "Загрузка данных. Страниц для загрузки: 0900") << file.path;
    EXPECT_EQ(screen.log, "kept") << file.path;
    EXPECT_TRUE(logic->File().Opened) << file.path;
    EXPECT_EQ(logic->Grid().Cell(0, 0), text.substr(0, 2)) << file.path;
  }

  screen.chosen_file = "";
  logic->OpenFileClicked();  // the dialog cancelled: nothing changes
  EXPECT_EQ(screen.file_path, good);

  // A file's bytes are shown as Windows-1251 text, whatever they are; a typed
  // cell is two hexadecimal digits, upper-cased, or it is refused and the
  // cell keeps its value. An edit is remembered until the next file is read.
  Open(WriteFile("cyrillic.KVR", "\xC6\xE5" + text.substr(2)));
  EXPECT_EQ(logic->Grid().Cell(0, 0), "Же");
  EXPECT_FALSE(logic->Grid().Edited());
  const struct {
    std::string typed;
    std::string stored;  // "" when refused
  } edits[] = {{"Ё№", ""}, {"ZZZ", ""}, {"Жz", ""}, {"A", ""}, {"", ""}, {"ABC", ""}, {" A", ""},
               {"0x", ""}, {"ab", "AB"}, {"7f", "7F"}, {"C3", "C3"}, {"09", "09"}};
  std::string shown = "Же";
  for (const auto& edit : edits) {
    EXPECT_EQ(logic->Grid().Edit(0, 0, edit.typed), !edit.stored.empty()) << edit.typed;
    if (!edit.stored.empty()) shown = edit.stored;
    EXPECT_EQ(logic->Grid().Cell(0, 0), shown) << edit.typed;
    EXPECT_EQ(logic->Grid().Edited(), shown != "Же") << edit.typed;
  }
  EXPECT_FALSE(logic->Grid().Edit(36864, 0, "00"));  // past the grid
  EXPECT_FALSE(logic->Grid().Edit(0, 16, "00"));
  // Another file over unsaved edits is asked about first.
  const std::string next = WriteFile("b.KVR", text);
  Open(next);
  EXPECT_EQ(screen.questions.back(), kUnsavedQuestion);
  EXPECT_TRUE(logic->Grid().Edited());
  screen.answer_yes = true;
  Open(next);
  EXPECT_EQ(logic->FilePath(), next);
  EXPECT_FALSE(logic->Grid().Edited());
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Save as writes the image shown in the file's own lines and line ends (a
// file that has vanished since is no matter); the saved file is the one
// worked on then. A save that fails names the file and why, and leaves no
// half file and the edits as they were. Revert puts the file's cells back;
// closing over unsaved edits asks.
TEST_F(WindowLogic, SaveAsWritesTheImageShownAndRevertPutsItBack) {
  Make({"x"});
  // LF and lone CR line ends, a line longer than 32 characters, a short one.
  std::string text = sim::MakeUpdateFileText(4);
  text.replace(32, 2, "\n");           // line 2 starts at 33
  text.replace(33 + 32, 2, "\r");      // line 3 at 66
  text.insert(66 + 32, "tail");        // line 4 at 104
  text.erase(104 + 28, 2);
  const std::string opened = WriteFile("opened.KVR", text);
  Open(opened);
  EXPECT_FALSE(logic->Grid().Edit(3, 15, "00")) << "an empty cell holds no byte of the file";
  ASSERT_TRUE(logic->Grid().Edit(0, 0, "7f"));
  ASSERT_TRUE(logic->Grid().Edit(2, 15, "E1"));
  EXPECT_TRUE(logic->Grid().CellEdited(0, 0));
  EXPECT_FALSE(logic->Grid().CellEdited(0, 1));
  std::string edited = text;
  edited.replace(0, 2, "7F");
  edited.replace(66 + 30, 2, "E1");
  std::filesystem::remove(opened);

  const std::string folder = Folder();
  std::filesystem::create_directory(folder + "/dir.KVR");
  const std::string read_only = WriteFile("read-only.KVR", "kept");
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  const struct {
    std::string path, reason;
  } refused[] = {
      {folder + "/nowhere/new.KVR", "No such file or directory"},
      {folder + "/dir.KVR", "Is a directory"},
      {read_only, "the file is read-only"},
  };
  screen.answer_yes = true;  // replace what is there
  const std::vector<std::string> before = FolderEntries(folder);
  for (const auto& c : refused) {
    screen.messages.clear();
    EXPECT_FALSE(logic->SaveAs(c.path)) << c.path;
    EXPECT_EQ(screen.messages, std::vector<std::string>{"Файл не сохранён.\n\n" + c.path + ": " + c.reason});
    EXPECT_EQ(FolderEntries(folder), before) << c.path;
    EXPECT_EQ(logic->FilePath(), opened);
    EXPECT_TRUE(logic->Grid().CellEdited(0, 0));
  }
  EXPECT_EQ(sim::ReadFile(read_only), "kept");
#ifndef _WIN32
  {  // a disk that fills up part way: the file there stays whole
    const std::string full = WriteFile("full.KVR", "kept");
    struct sigaction ignore {}, was {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &was);
    rlimit limit{}, old{};
    getrlimit(RLIMIT_FSIZE, &old);
    limit = old;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    screen.messages.clear();
    const bool saved = logic->SaveAs(full);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &was, nullptr);
    EXPECT_FALSE(saved);
    EXPECT_EQ(screen.messages, std::vector<std::string>{"Файл не сохранён.\n\n" + full + ": File too large"});
    EXPECT_EQ(sim::ReadFile(full), "kept");
    EXPECT_EQ(FolderEntries(folder).size(), before.size() + 1);
  }
#endif

  // Saved (".KVR" added to a name without it), the marks are gone and the
  // saved file is the one named and reverted to.
  const int redraws = screen.grid_redraws;
  ASSERT_TRUE(logic->SaveAs(folder + "/saved"));
  const std::string saved = folder + "/saved.KVR";
  EXPECT_TRUE(sim::ReadFile(saved) == edited);
  EXPECT_EQ(logic->FilePath(), saved);
  EXPECT_EQ(screen.file_path, saved);
  EXPECT_FALSE(logic->Grid().Edited());
  EXPECT_EQ(screen.grid_redraws, redraws + 1);
  // Over a file that is there: asked first.
  ASSERT_TRUE(logic->Grid().Edit(0, 1, "00"));
  screen.answer_yes = false;
  screen.questions.clear();
  EXPECT_FALSE(logic->SaveAs(saved));
  EXPECT_EQ(screen.questions, std::vector<std::string>{"Файл " + saved + " уже есть. Заменить его?"});
  EXPECT_TRUE(sim::ReadFile(saved) == edited);

  // Revert: asked, then the file's cells are back.
  logic->RevertAsked();
  EXPECT_TRUE(logic->Grid().Edited());
  screen.answer_yes = true;
  logic->RevertAsked();
  EXPECT_FALSE(logic->Grid().Edited());
  EXPECT_TRUE(logic->ImageText() == edited);

  // Closing over unsaved edits asks.
  ASSERT_TRUE(logic->Grid().Edit(5, 5, "00"));
  screen.answer_yes = false;
  EXPECT_FALSE(logic->CloseAsked());
  EXPECT_EQ(screen.questions.back(), kUnsavedQuestion);
  screen.answer_yes = true;
  EXPECT_TRUE(logic->CloseAsked());
}

// Runs `body` as an operator would run the window: without root's rights on
// Linux, where root may read any file. Returns what `body` returns.
int AsOperator(const std::function<int()>& body) {
#ifdef _WIN32
  return body();
#else
  return test::RunUnprivileged(body);
#endif
}

// A file that cannot be read is reported by its classic text, then by its
// name and what stands in the way, in the same words on Linux and Windows.
TEST_F(WindowLogic, AFileThatCannotBeReadIsNamedWithWhatItIs) {
  Make({"x"});
  const std::filesystem::path folder(Folder());
  const std::string good = WriteFile("good.KVR", sim::MakeUpdateFileText(2));
  struct Case {
    const char* name;
    std::string path;
    std::function<void()> prepare;
    std::string report;  // before the path
    std::string reason;  // after it
    bool held = false;   // held open without sharing while it is opened
  } cases[] = {
      {"a folder", (folder / "dir.KVR").string(), [&] { std::filesystem::create_directory(folder / "dir.KVR"); },
       "I/O error 21", "Is a directory"},
      {"a missing file", (folder / "missing.KVR").string(), [] {}, "File not found", "No such file or directory"},
      {"in a missing folder", (folder / "nowhere" / "x.KVR").string(), [] {}, "File not found",
       "No such file or directory"},
#ifdef _WIN32
      // Wine lets a root user read every file whatever its mode: a file
      // without permission cannot be made here. A file another program holds
      // is refused by Windows itself.
      {"a file another program holds", WriteFile("held.KVR", "00\r\n"), [] {}, "File access denied",
       "In use by another program", true},
#else
      {"a file without read permission", WriteFile("secret.KVR", "00\r\n"),
       [&] { ASSERT_EQ(chmod((folder / "secret.KVR").c_str(), 0200), 0); }, "File access denied",
       "Permission denied"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    Open(good);
    ASSERT_EQ(logic->Table().Cell(1, 1).size(), 2u);
    screen.reports.clear();
#ifdef _WIN32
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.held) {
      held = CreateFileA(c.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
#endif
    const std::string expected = c.report + "\n\n" + c.path + ": " + c.reason;
    const int rc = AsOperator([&] {
      Open(c.path);
      // Reported, and the window keeps the file it had.
      if (screen.reports == std::vector<std::string>{expected} && screen.file_path == good && logic->File().Opened)
        return 0;
      for (const std::string& r : screen.reports) std::cerr << "reported: " << r << "\n";
      std::cerr << "shown: " << screen.file_path << "\n";
      return 1;
    });
#ifdef _WIN32
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
#endif
    EXPECT_EQ(rc, 0) << "expected: " << expected;
  }
}

// Nothing is opened or sent for a load that cannot start; the switch comes
// back off and the load's end is a refusal.
TEST_F(WindowLogic, ALoadThatCannotStartIsRefused) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::string status;
    std::string message;
    size_t reports;
    LoadOutcome outcome;
  };
  const std::string notes = (std::filesystem::path(Folder()) / "notes.txt").string();
  std::string bad = sim::MakeUpdateFileText(28);
  bad[34 * 99 + 5] = 'G';  // line 100
  const Case cases[] = {
      {"no file", [] {}, kNoFileStatus, "", 0, LoadOutcome::kImageError},
      {"a bad line", [&] { Open(WriteFile("bad.KVR", bad)); }, "Ошибка в строке 100 файла обновления", "", 0,
       LoadOutcome::kImageError},
      {"a record file holding something else",
       [&] {
         record_file = WriteFile("notes.txt", "shopping list\n");
         Make({});
         Open(WriteFile("image.KVR", sim::MakeUpdateFileText(24)));
       },
       "Загрузка данных. Страниц для загрузки: 0900",
       std::string(kRecordRefusedMessage) + "the record file " + notes +
           " holds something other than load records",
       0, LoadOutcome::kRecordError},
      {"no port", [&] { Open(WriteFile("image.KVR", sim::MakeUpdateFileText(20))); },
       "Загрузка данных. Страниц для загрузки: 0900", "", 1, LoadOutcome::kPortError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    screen = {};
    record_file.clear();
    Make({});
    std::vector<LoadOutcome> ended;
    c.prepare();
    logic->OnLoadEnded = [&](LoadOutcome r, const std::string&) { ended.push_back(r); };
    PressReleasedOutside();
    Press();
    EXPECT_EQ(screen.status, c.status);
    EXPECT_EQ(screen.messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(screen.reports.size(), c.reports);
    // The switch is back off before a message box comes up, not after it is closed.
    for (const bool on : screen.switch_when_told) EXPECT_FALSE(on);
    EXPECT_FALSE(screen.switch_on);
    EXPECT_FALSE(screen.inputs_locked);
    EXPECT_FALSE(screen.Running(WindowTimer::kStartDelay));
    EXPECT_FALSE(Active());
    EXPECT_EQ(ended, std::vector<LoadOutcome>{c.outcome});
    EXPECT_EQ(logic->LastOutcome(), c.outcome);
    if (!record_file.empty()) {
      EXPECT_EQ(sim::ReadFile(record_file), "shopping list\n");
    }
  }
}

TEST_F(WindowLogic, ClosingWithoutALoadAsksNothing) {
  Make({"x"});
  EXPECT_TRUE(logic->CloseAsked());
  EXPECT_TRUE(screen.questions.empty());
}

// The load's steps: deadlines end in their order, not in the order they
// were armed (no clock compared: a timer that ended at once, or on the
// deadline armed first, would end out of order), and a deadline armed again
// or stopped never ends at all.
TEST(DueTimer, EndsInDeadlineOrderAndOnlyForTheDeadlineArmedLast) {
  std::mutex mutex;
  std::vector<std::pair<char, unsigned>> ends;  // which timer, the id its end came with
  const auto noting = [&](char which) {
    return [&, which](unsigned id) {
      std::lock_guard<std::mutex> lock(mutex);
      ends.emplace_back(which, id);
    };
  };
  DueTimer timer(noting('t')), earlier(noting('e'));
  const auto ended = [&](size_t count) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (ends.size() >= count) return true;
      }
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::yield();
    }
  };
  for (const unsigned ms : {0u, 1u, 2u, 7u, 20u}) {
    SCOPED_TRACE(ms);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ends.clear();
    }
    const unsigned dropped = timer.Start(ms + 100);
    const unsigned id = timer.Start(ms + 300);
    const unsigned earlier_id = earlier.Start(ms);
    ASSERT_NE(id, dropped);
    ASSERT_TRUE(ended(2));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(ends, (std::vector<std::pair<char, unsigned>>{{'e', earlier_id}, {'t', id}}));
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    ends.clear();
  }
  timer.Start(5);
  timer.Stop();
  const unsigned last = timer.Start(30);  // the stopped one would have ended first
  ASSERT_TRUE(ended(1));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(ends, (std::vector<std::pair<char, unsigned>>{{'t', last}}));
}

// Go to: a byte address of the image in hex or a line of the file; a place
// that is not there is refused with the range, and nothing moves.
TEST_F(WindowLogic, GoToFindsAnAddressOrALineAndRefusesTheRest) {
  Make({"x"});
  const struct {
    std::string typed;
    int row, column;      // where the grid goes (-1: refused)
    std::string refusal;  // the message then
  } cases[] = {
      {"0x1230", 0x123, 0, ""},
      {"1230", 0x123, 0, ""},
      {" 1a ", 1, 10, ""},
      {"0X8FFFF", 36863, 15, ""},
      {"0", 0, 0, ""},
      {"#1", 0, 0, ""},
      {"#100", 99, 0, ""},
      {"#36864", 36863, 0, ""},
      {"90000", -1, 0, "Адреса 90000 нет: адреса 0..8FFFF."},
      {"#0", -1, 0, "Строки 0 нет: строки 1..36864."},
      {"#36865", -1, 0, "Строки 36865 нет: строки 1..36864."},
      {"#1a", -1, 0, "«#1a» — не адрес и не номер строки."},
      {"zz", -1, 0, "«zz» — не адрес и не номер строки."},
      {"0x", -1, 0, "«0x» — не адрес и не номер строки."},
      {"12 34", -1, 0, "«12 34» — не адрес и не номер строки."},
      {"", -1, 0, "«» — не адрес и не номер строки."},
      {"FFFFFFFFFFFFFFFFFFFF", -1, 0, "«FFFFFFFFFFFFFFFFFFFF» — не адрес и не номер строки."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    screen.messages.clear();
    screen.shown_cell = {-1, -1};
    screen.typed = c.typed;
    logic->GoToAsked();
    EXPECT_EQ(screen.shown_cell, std::make_pair(c.row, c.row < 0 ? -1 : c.column));
    EXPECT_EQ(screen.messages, c.refusal.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.refusal});
  }
  // The last text is offered again; a cancelled question goes nowhere.
  screen.typed.reset();
  logic->GoToAsked();
  EXPECT_EQ(screen.offered, cases[std::size(cases) - 1].typed);
  EXPECT_EQ(screen.shown_cell, std::make_pair(-1, -1));
  EXPECT_EQ(screen.questions.back(), kGoToQuestion);
}

}  // namespace
}  // namespace kvr
