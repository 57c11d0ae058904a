// The window's command line as both hosts read it: one value per --port, the
// file before or after the options, "--" ending them, and each mistake
// refused with exit code 2; --set-record over a stand-in for the stored
// settings. These run on Linux and, in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "window_command_line.h"

namespace kvr {
namespace {

using Args = std::vector<std::string>;
using Ports = std::vector<std::string>;

// Standard output and standard error while it lives.
class CapturedStreams {
 public:
  CapturedStreams() : out_(std::cout.rdbuf(out.rdbuf())), err_(std::cerr.rdbuf(err.rdbuf())) {}
  ~CapturedStreams() {
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
  }
  std::ostringstream out, err;

 private:
  std::streambuf* out_;
  std::streambuf* err_;
};

TEST(WindowCommandLine, ReadsOptionsAndRefusesMistakes) {
  struct Case {
    Args args;
    int code;                   // -1: goes on
    std::string file = "";      // what was read, when it goes on
    Ports ports = {};
    bool fast = false;
    std::optional<std::string> record = std::nullopt, set_record = std::nullopt;
    int screenshot_page = 0;
    std::string said = "";      // on standard error (a refusal) or standard output (help, version)
    bool screenshot = true;     // the Qt window's host, which takes pictures; else the Win32 one
  } cases[] = {
      // One value per --port: the next word is the file, not a second port.
      {{"--port", "COM42", "X.KVR"}, -1, "X.KVR", {"COM42"}},
      {{"X.KVR", "--port", "COM42", "--fast"}, -1, "X.KVR", {"COM42"}, true},
      {{"--port", "A", "--port=B", "--port", "C"}, -1, "", {"A", "B", "C"}},
      {{"--port", "A", "--", "--fast"}, -1, "--fast", {"A"}, false},
      {{"--record", "runs.jsonl", "X.KVR"}, -1, "X.KVR", {}, false, "runs.jsonl"},
      {{"--set-record", ""}, -1, "", {}, false, std::nullopt, ""},
      {{"--screenshot-page", "2304"}, -1, "", {}, false, std::nullopt, std::nullopt, 2304},
      {{"--help"}, 0, "", {}, false, std::nullopt, std::nullopt, 0, "a mistake in the options, or no display.\n"},
      {{"--version"}, 0, "", {}, false, std::nullopt, std::nullopt, 0, "kvr-loader " KVR_VERSION "\n"},
      // Mistakes.
      {{"A.KVR", "B.KVR"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "B.KVR"},
      {{"X.KVR", "--port"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--port"},
      {{"--port", "", "X.KVR"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--port needs a device path"},
      {{"--port", "", "X.KVR"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--port needs a port name", false},
      {{"--record", ""}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--record needs a file name"},
      {{"--record", "a", "--record", "b"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--record given twice"},
      {{"--record", "a", "--set-record", "b"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--record"},
      {{"--bogus", "X.KVR"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--bogus"},
      {{"--screenshot-page", "2305"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "0 to 2304"},
      {{"--screenshot-page", "-1"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "-1"},
      {{"--screenshot-page", "7"}, 2, "", {}, false, std::nullopt, std::nullopt, 0, "--screenshot-page", false},
  };
  for (const Case& c : cases) {
    std::string text;
    for (const std::string& a : c.args) text += "[" + a + "] ";
    SCOPED_TRACE(text);
    WindowCommandLine o;
    CapturedStreams streams;
    const WindowCommandLineHost host = CommandLineHostOf(c.screenshot ? WindowHost::kQt : WindowHost::kWin32);
    EXPECT_EQ(ParseWindowCommandLine(c.args, host, o).value_or(-1), c.code) << streams.err.str();
    const std::string said = c.code == 0 ? streams.out.str() : streams.err.str();
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    if (c.code == 2) {
      EXPECT_NE(said.find("(kvr-loader --help lists the options)"), std::string::npos) << said;
    }
    if (c.code != -1) continue;
    EXPECT_EQ(streams.out.str() + streams.err.str(), "");
    EXPECT_EQ(o.file, c.file);
    EXPECT_EQ(o.ports, c.ports);
    EXPECT_EQ(o.fast, c.fast);
    EXPECT_EQ(o.record, c.record);
    EXPECT_EQ(o.set_record, c.set_record);
    EXPECT_EQ(o.screenshot_page, c.screenshot_page);
  }
}

// Stored settings kept in the object.
class FakeStoredSettings final : public StoredSettings {
 public:
  int32_t PortIndex() const override { return 0; }
  std::string RecordFile() const override { return record; }
  bool SetRecordFile(const std::string& path) override {
    if (!storable) return false;
    record = path;
    return true;
  }
  std::string Place() const override { return "the fake's place"; }

  std::string record = "/kept/runs.jsonl";
  bool storable = true;
};

TEST(WindowCommandLine, SetRecordStoresTheFullPathOrNothing) {
  // In a folder of its own: a stored record file is made there at once.
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("kvr-set-record-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir / "folder");
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  const std::u8string here = (std::filesystem::weakly_canonical(std::filesystem::current_path()) / "runs.jsonl")
                                 .u8string();
  const std::string full(here.begin(), here.end());
  const struct {
    std::string given;
    bool storable;
    int code;
    std::string stored, out, err;
  } cases[] = {
      {"runs.jsonl", true, 0, full, "loads are recorded in " + full + "\n", ""},
      {"no-such-folder/../runs.jsonl", true, 0, full, "loads are recorded in " + full + "\n", ""},
      {"", true, 0, "", "loads are no longer recorded\n", ""},
      {"runs.jsonl", false, 2, "/kept/runs.jsonl", "",
       "kvr-loader: the setting could not be stored in the fake's place\n"},
      // What a load would refuse is refused now, not at the next load.
      {"no-such-folder/runs.jsonl", true, 2, "/kept/runs.jsonl", "", "runs.jsonl is in a folder that does not exist"},
      {"folder", true, 2, "/kept/runs.jsonl", "", "folder is not a plain file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("[" + c.given + "]" + (c.storable ? "" : " not storable"));
    FakeStoredSettings settings;
    settings.storable = c.storable;
    CapturedStreams streams;
    EXPECT_EQ(StoreRecordFile(settings, c.given), c.code);
    EXPECT_EQ(settings.record, c.stored);
    EXPECT_EQ(streams.out.str(), c.out);
    EXPECT_NE(streams.err.str().find(c.err), std::string::npos) << streams.err.str();
  }
  // The stored file is this start's unless --record names another.
  FakeStoredSettings settings;
  WindowCommandLine o;
  EXPECT_EQ(RecordFileOf(o, settings), "/kept/runs.jsonl");
  o.record = "other.jsonl";
  EXPECT_EQ(RecordFileOf(o, settings), "other.jsonl");
  fs::current_path(before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kvr
