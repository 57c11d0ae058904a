// The record file of loads, through the command line as a separate process:
// runs appended as lines and never rewritten, a lock held by another writer
// (waited for as long as it is held, Ctrl-C ends the wait), writes cut short,
// a full disk and a file that cannot be written (the record on standard
// error, exit 5), many writers into a large file, names that are not UTF-8,
// and the `records` command that reads it all back.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_run.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

using json = nlohmann::ordered_json;  // keys in the order the tool writes them

class Records : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_dir_ = new test::TempDir;
    chmod(image_dir_->Path().c_str(), 0755);  // for the runs as another user
    image_ = image_dir_->File("IMAGE.KVR");
    sim::WriteFile(image_, sim::MakeUpdateFileText(77));
    chmod(image_.c_str(), 0644);
  }
  static void TearDownTestSuite() { delete image_dir_; }

  // A short run (three commands into the simulated device) recorded in `file`.
  static std::vector<std::string> ShortRun(const std::string& file) {
    return {"load", "--simulate", "--stop-after", "3", "--pause-ms", "0", "--quiet", "--record", file, image_};
  }

  static test::TempDir* image_dir_;
  static std::string image_;
};
test::TempDir* Records::image_dir_ = nullptr;
std::string Records::image_;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool IsRecord(const std::string& line) {
  const json value = json::parse(line, nullptr, false);
  return value.is_object() && value.contains("kvr_loader_record") && value["loads"].is_array();
}

// The record a failed append put on standard error: its last line.
json RecordOnStandardError(const std::string& err) {
  const std::vector<std::string> lines = Lines(err);
  return lines.empty() ? json() : json::parse(lines.back(), nullptr, false);
}

size_t FilesIn(const std::string& folder) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file();
  return files;
}

// Holds the exclusive lock on a record file, as another writer would.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC)) {
    locked_ = fd_ >= 0 && flock(fd_, LOCK_EX) == 0;
  }
  ~LockHolder() { Release(); }
  bool Locked() const { return locked_; }
  void Append(const std::string& text) { EXPECT_EQ(write(fd_, text.data(), text.size()), ssize_t(text.size())); }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool locked_ = false;
};

// Each run is one whole line after those before it, which stay byte for byte;
// what is no record file is refused before anything is sent, and nothing is
// left beside the file.
TEST_F(Records, RunsAreAppendedAsLinesAndWhatIsNoRecordFileIsRefused) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  Result r = RunTool({"load", "--simulate", "--simulate-devices", "2", "--stop-after", "3", "--pause-ms", "0",
                      "--record", file, image_});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string first = sim::ReadFile(file);
  r = RunTool(ShortRun(file));
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string both = sim::ReadFile(file);
  EXPECT_EQ(both.substr(0, first.size()), first);
  const std::vector<std::string> lines = Lines(both);
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) EXPECT_TRUE(IsRecord(line)) << line;
  EXPECT_EQ(json::parse(lines[0])["loads"].size(), 2u);
  EXPECT_EQ(json::parse(lines[1])["loads"][0]["result"], "stopped");
  EXPECT_EQ(json::parse(lines[1])["tool"], "kvr-loader-cli " KVR_VERSION);
  // --report is the option's older name.
  r = RunTool({"load", "--simulate", "--stop-after", "3", "--pause-ms", "0", "--quiet", "--report", file, image_});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(sim::ReadFile(file)).size(), 3u);

  // A name as long as the system allows.
  const std::string long_name = dir.File(std::string(249, 'r') + ".jsonl");
  r = RunTool(ShortRun(long_name));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(sim::ReadFile(long_name)).size(), 1u);
  std::filesystem::remove(long_name);

  const std::string notes = dir.File("notes.txt"), earlier = dir.File("runs.json");
  sim::WriteFile(notes, "{\"mine\": true}\n");
  const std::string earlier_text = "{\n  \"kvr_loader_report\": 1,\n  \"runs\": []\n}\n";
  sim::WriteFile(earlier, earlier_text);
  const std::string before = sim::ReadFile(file);
  for (const auto& [path, words] :
       {std::pair{notes, std::string("holds something other than load records")},
        std::pair{earlier, std::string("is a report of the earlier kind (one JSON document); records are now lines "
                                       "of their own: give a new file (kvr-loader-cli records reads the earlier "
                                       "report)")},
        std::pair{dir.Path(), std::string("is not a plain file")},
        std::pair{dir.File("no/such/runs.jsonl"), std::string("folder that does not exist")},
        std::pair{image_, std::string("is the image file itself")}}) {
    r = RunTool(ShortRun(path));
    EXPECT_EQ(r.code, 1) << path;
    EXPECT_NE(r.err.find(words + "; nothing was sent"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << path;  // the load did not start
  }
  // The log and the record in one file would mix replies into the records.
  r = RunTool({"load", "--simulate", "--log", file, "--record", file, image_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is the log as well; nothing was sent"), std::string::npos) << r.err;
  EXPECT_EQ(sim::ReadFile(file), before);
  EXPECT_EQ(sim::ReadFile(notes), "{\"mine\": true}\n");
  EXPECT_EQ(sim::ReadFile(earlier), earlier_text);
  EXPECT_EQ(sim::ReadFile(image_), sim::MakeUpdateFileText(77));
  EXPECT_EQ(FilesIn(dir.Path()), 3u);  // runs.jsonl, notes.txt and runs.json
}

// A writer that holds the lock for as long as it likes: the run waits, says
// for whom, and records after it, on a line of its own.
TEST_F(Records, ALockHeldByAnotherWriterIsWaitedForAndNamed) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  ASSERT_EQ(RunTool(ShortRun(file)).code, 0);
  LockHolder other(file);
  ASSERT_TRUE(other.Locked());
  const std::string held_line = Lines(sim::ReadFile(file))[0] + "\n";
  bool still_waiting = false;
  test::ChildOptions o;
  o.argv = {KVR_LOADER_CLI};
  for (const std::string& a : ShortRun(file)) o.argv.push_back(a);
  o.watch = [&](pid_t pid, const std::string& err) {
    if (err.find("waiting for the record file") == std::string::npos || still_waiting) return;
    // Held well past the first look: the run still waits and has written nothing.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    still_waiting = kill(pid, 0) == 0 && Lines(sim::ReadFile(file)).size() == 1;
    other.Append(held_line);  // the other writer's own record, under its lock
    other.Release();
  };
  const Result r = test::RunChild(o);
  EXPECT_TRUE(still_waiting);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("waiting for the record file " + file + ", held by cli_tests (process " +
                       std::to_string(getpid()) + ")"),
            std::string::npos)
      << r.err;
  const std::vector<std::string> lines = Lines(sim::ReadFile(file));
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_TRUE(IsRecord(line)) << line;
}

// Ctrl-C while waiting for the lock ends the wait: exit 130, the file as it
// was, and the run's record whole on standard error.
TEST_F(Records, CtrlCWhileWaitingGives130AndTheRecordOnStandardError) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  sim::WriteFile(file, "");
  LockHolder other(file);
  ASSERT_TRUE(other.Locked());
  test::ChildOptions o;
  o.argv = {KVR_LOADER_CLI};
  for (const std::string& a : ShortRun(file)) o.argv.push_back(a);
  bool sent = false;
  o.watch = [&](pid_t pid, const std::string& err) {
    if (!sent && err.find("waiting for the record file") != std::string::npos) sent = kill(pid, SIGINT) == 0;
  };
  const Result r = test::RunChild(o);
  EXPECT_TRUE(sent);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_NE(r.err.find("warning: the record file " + file + " was still held by cli_tests"), std::string::npos)
      << r.err;
  const json record = RecordOnStandardError(r.err);
  ASSERT_TRUE(record.is_object()) << r.err;
  EXPECT_EQ(record["loads"][0]["result"], "stopped");
  EXPECT_EQ(sim::ReadFile(file), "");
}

// A write cut short (by a kill or a power cut) stays a line of its own: every
// reader skips it, and the next run appends a whole line after it.
TEST_F(Records, AWriteCutShortNeverJoinsTheNextRecord) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  ASSERT_EQ(RunTool(ShortRun(file)).code, 0);
  const std::string whole = sim::ReadFile(file);
  std::mt19937 random(2026);
  // Cut at the first byte, inside the key, in the middle and just before the newline.
  std::vector<size_t> cuts = {1, 10, whole.size() / 2, whole.size() - 2};
  for (int k = 0; k < 4; ++k) cuts.push_back(1 + random() % (whole.size() - 2));
  const size_t torn = cuts.size();
  for (const size_t cut : cuts) {
    sim::WriteFile(file, sim::ReadFile(file) + whole.substr(0, cut));  // the write a crash cut short
    ASSERT_EQ(RunTool(ShortRun(file)).code, 0) << cut;
  }
  // Kills at random points of a run, the append among them.
  for (int k = 0; k < 6; ++k) RunTool(ShortRun(file), 5 + static_cast<int>(random() % 40), 240000, SIGKILL);
  ASSERT_EQ(RunTool(ShortRun(file)).code, 0);

  const std::vector<std::string> lines = Lines(sim::ReadFile(file));
  size_t records = 0, skipped = 0;
  std::vector<size_t> skipped_lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsRecord(lines[i])) {
      ++records;
    } else {
      ++skipped;
      skipped_lines.push_back(i + 1);
      EXPECT_EQ(whole.compare(0, lines[i].size(), lines[i]), 0) << "line " << i + 1 << ": " << lines[i];
    }
  }
  EXPECT_TRUE(IsRecord(lines.back()));
  EXPECT_GE(skipped, torn);  // the planted ones stay apart (a kill rarely cuts the one write)
  EXPECT_GE(records, 1 + cuts.size() + 1);
  const Result r = RunTool({"records", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), records + 1);  // a heading and a row per load
  std::string named;
  for (size_t n : skipped_lines) named += (named.empty() ? " " : ", ") + std::to_string(n);
  EXPECT_NE(r.err.find("records: " + std::to_string(skipped) +
                       " lines skipped, not a whole record (a write cut "
                       "short): lines" +
                       named + "\n"),
            std::string::npos)
      << r.err;
}

// A full disk and a file that cannot be written at the end: the file keeps
// what it held, the record goes whole to standard error, exit 5.
TEST_F(Records, ARecordThatCannotBeWrittenGoesToStandardErrorWithExit5) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  ASSERT_EQ(RunTool(ShortRun(file)).code, 0);
  const std::string one = sim::ReadFile(file);
  const std::string earlier = one + one + one;
  sim::WriteFile(file, earlier);
  // A file size limit stands in for a full disk: it stops the append part of
  // the way (a line is longer than the 512 bytes left; standard error's file
  // stays below the limit).
  ASSERT_GT(one.size(), 512u);
  std::string command =
      "trap '' XFSZ; ulimit -f " + std::to_string(earlier.size() / 512 + 1) + "; exec '" KVR_LOADER_CLI "'";
  for (const std::string& a : ShortRun(file)) command += " '" + a + "'";
  Result r = RunTool({"-c", command}, 0, 60000, SIGINT, "/bin/sh");
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_NE(r.err.find("could not take this run's record: File too large; the file keeps what it held, and this "
                       "run's record is not in it"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(RecordOnStandardError(r.err)["loads"][0]["result"], "stopped") << r.err;
  EXPECT_EQ(sim::ReadFile(file), earlier);  // what the cut write left is taken back

  if (geteuid() != 0) GTEST_SKIP() << "needs root (to run the tool as another user)";
  // The file is replaced, while the run waits for its lock, by one the run may not write.
  const int nobody = 65534;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  ASSERT_EQ(chown(file.c_str(), nobody, nobody), 0);
  const std::string locked_out = dir.File("replacement");
  sim::WriteFile(locked_out, one);
  ASSERT_EQ(chmod(locked_out.c_str(), 0444), 0);
  LockHolder other(file);
  test::ChildOptions o;
  o.argv = {KVR_LOADER_CLI};
  for (const std::string& a : ShortRun(file)) o.argv.push_back(a);
  o.uid = nobody;
  bool replaced = false;
  o.watch = [&](pid_t, const std::string& err) {
    if (replaced || err.find("waiting for the record file") == std::string::npos) return;
    replaced = true;
    std::filesystem::rename(locked_out, file);
    other.Release();
  };
  r = test::RunChild(o);
  if (r.code == 127) GTEST_SKIP() << "the user nobody cannot reach the build's programs";
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_NE(r.err.find("cannot be opened for writing: Permission denied"), std::string::npos) << r.err;
  EXPECT_TRUE(RecordOnStandardError(r.err).is_object()) << r.err;
  EXPECT_EQ(sim::ReadFile(file), one);
}

// 16 runs at once into a file of 100,000 records: every run recorded, the
// earlier lines byte for byte as they were.
TEST_F(Records, SixteenWritersAtOnceIntoAHundredThousandRecords) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  ASSERT_EQ(RunTool(ShortRun(file)).code, 0);
  const std::string one = sim::ReadFile(file);
  std::string earlier;
  earlier.reserve(one.size() * 100000);
  for (int k = 0; k < 100000; ++k) earlier += one;
  sim::WriteFile(file, earlier);
  std::vector<Result> results(16);
  std::vector<std::thread> writers;
  for (Result& r : results) writers.emplace_back([&r, &file] { r = RunTool(ShortRun(file)); });
  for (std::thread& t : writers) t.join();
  double slowest = 0;
  for (const Result& r : results) {
    EXPECT_EQ(r.code, 0) << r.err;
    slowest = std::max(slowest, r.seconds);
  }
  const std::string after = sim::ReadFile(file);
  ASSERT_GT(after.size(), earlier.size());
  EXPECT_EQ(after.compare(0, earlier.size(), earlier), 0);
  const std::vector<std::string> added = Lines(after.substr(earlier.size()));
  ASSERT_EQ(added.size(), 16u);
  for (const std::string& line : added) EXPECT_TRUE(IsRecord(line)) << line;
  std::cout << "16 writers into " << earlier.size() / 1e6 << " MB: the slowest run took " << slowest << " s\n";
}

// In a folder everyone may write to (sticky, as /tmp), a record file of
// another user that may be written takes the run; one that may not is
// refused before anything is sent.
TEST_F(Records, AnotherUsersFileInAStickyFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root (to run the tool as another user)";
  test::TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 01777), 0);
  const std::string shared = dir.File("shared.jsonl"), private_file = dir.File("private.jsonl");
  sim::WriteFile(shared, "");
  sim::WriteFile(private_file, "");
  ASSERT_EQ(chmod(shared.c_str(), 0666), 0);
  ASSERT_EQ(chmod(private_file.c_str(), 0644), 0);
  const int nobody = 65534;
  Result r = RunTool(ShortRun(shared), 0, 60000, SIGINT, KVR_LOADER_CLI, "", nobody);
  if (r.code == 127) GTEST_SKIP() << "the user nobody cannot reach the build's programs";
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(sim::ReadFile(shared)).size(), 1u);
  r = RunTool(ShortRun(private_file), 0, 60000, SIGINT, KVR_LOADER_CLI, "", nobody);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot be opened for writing: Permission denied; nothing was sent"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
}

// An image name that is not UTF-8 is recorded readable and exactly.
TEST_F(Records, ANameThatIsNotUtf8IsKeptExactly) {
  test::TempDir dir;
  const std::string name = "FW\xFF\xC3(.KVR", image = dir.File(name), file = dir.File("runs.jsonl");
  sim::WriteFile(image, sim::MakeUpdateFileText(77));
  const Result r = RunTool({"load", "--simulate", "--stop-after", "3", "--quiet", "--record", file, name}, 0, 60000,
                           SIGINT, KVR_LOADER_CLI, dir.Path());
  ASSERT_EQ(r.code, 0) << r.err;
  const json record = json::parse(sim::ReadFile(file));
  EXPECT_EQ(record["image"]["file"], "FW\\xFF\\xC3(.KVR");
  const std::string hex = record["image"]["file_hex"];
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  EXPECT_EQ(bytes, name);
  EXPECT_FALSE(record["loads"][0].contains("port_hex"));  // a name in UTF-8 has no copy
}

// `records`: filters, the four forms, torn lines named, the earlier report
// read and turned into record lines; what holds no records is refused.
TEST_F(Records, ReadingFiltersAndForms) {
  test::TempDir dir;
  const std::string file = dir.File("runs.jsonl");
  const auto load = [](const char* port, const char* started, const char* result, const char* serial,
                       const char* message) {
    json usb = serial ? json{{"vendor_id", "0403"},
                             {"product_id", "6001"},
                             {"manufacturer", "FTDI"},
                             {"product", "FT232R"},
                             {"serial_number", serial}}
                      : json(nullptr);
    return json{{"port", port},       {"device", std::string("/dev/") + port},
                {"by_id", nullptr},   {"usb", usb},
                {"started", started}, {"ended", started},
                {"commands", 41474},  {"page_retries", 0},
                {"result", result},   {"exit_code", std::string(result) == "complete" ? 0 : 3},
                {"message", message}};
  };
  const auto run = [](const char* sha, std::vector<json> loads) {
    return json{{"kvr_loader_record", 1},
                {"tool", "kvr-loader-cli 1.0.0"},
                {"started", loads[0]["started"]},
                {"ended", loads[0]["ended"]},
                {"exit_code", 0},
                {"image", {{"file", "FW.KVR"}, {"size", 1253378}, {"sha256", sha}}},
                {"loads", loads}};
  };
  const json runs[] = {
      run("aa", {load("ttyUSB0", "2026-12-01T08:00:00.000Z", "complete", "A10K5XYZ", "load complete"),
                 load("ttyUSB1", "2026-12-01T08:00:00.100Z", "no answer", "=HYPERLINK(\"x\")", "silent, \"DL:0\"")}),
      run("bb", {load("ttyUSB0", "2026-12-05T09:30:00.000Z", "complete", "A10K5XYZ", "load complete")}),
      run("cc", {load("pts/3", "2026-12-07T10:00:00.000Z", "port lost", nullptr, "lost \x1B[2J")}),
  };
  // Line 3 is cut short; line 5 nests so deep that printing it would overflow the stack.
  const std::string deep =
      "{\"kvr_loader_record\":1,\"loads\":[{\"port\":" + std::string(300000, '[') + std::string(300000, ']') + "}]}";
  const std::string lines = runs[0].dump() + "\n" + runs[1].dump() + "\n{\"kvr_loader_record\":1,\"to\n" +
                            runs[2].dump() + "\n" + deep + "\n";
  sim::WriteFile(file, lines);
  const std::string torn = "records: 2 lines skipped, not a whole record (a write cut short): lines 3, 5\n";
  struct Case {
    std::vector<std::string> options;
    size_t rows;           // table rows (or array entries, CSV rows) expected
    std::string contains;  // in standard output
  };
  const Case cases[] = {
      {{}, 4, "2026-12-01T08:00:00.000Z  ttyUSB0         A10K5XYZ      complete        aa"},
      {{"--port", "ttyUSB1"}, 1, "no answer"},
      {{"--port", "/dev/ttyUSB0"}, 2, "bb"},
      {{"--serial", "A10K5XYZ"}, 2, "A10K5XYZ"},
      {{"--result", "port lost"}, 1, "lost \\x1B[2J"},  // escaped, not sent to the terminal
      {{"--since", "2026-12-05"}, 2, "2026-12-05T09:30"},
      {{"--since", "2026-12-05T09:30:00.001Z"}, 1, "pts/3"},
      {{"--since", "2026-12-01 08:00:00.100"}, 3, "ttyUSB1"},
      {{"--json"}, 3, "\"sha256\": \"cc\""},
      {{"--json", "--serial", "A10K5XYZ"}, 2, "\"A10K5XYZ\""},
      {{"--csv"}, 4, "ttyUSB1,/dev/ttyUSB1,\"'=HYPERLINK(\"\"x\"\")\",no answer,3,"},
      {{"--lines", "--port", "pts/3"}, 1, "{\"kvr_loader_record\":1,"},
      {{"--csv", "--result", "interrupted"}, 0, "started,ended,port,"},  // the columns even without a row
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"records", file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = RunTool(args);
    const std::string form = c.options.empty() ? "" : c.options[0], shown = form.empty() ? "(table)" : form;
    EXPECT_EQ(r.code, 0) << shown << r.err;
    EXPECT_EQ(r.err, torn) << shown;
    EXPECT_NE(r.out.find(c.contains), std::string::npos) << shown << "\n" << r.out;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << shown;
    size_t rows = Lines(r.out).size() - 1;  // less the heading
    if (form == "--json") {
      const json array = json::parse(r.out, nullptr, false);
      ASSERT_TRUE(array.is_array()) << r.out;
      rows = array.size();
    }
    if (form == "--lines") rows = Lines(r.out).size();
    if (form == "--csv") {
      EXPECT_EQ(r.out.find("started,ended,port,"), 0u);
    }
    EXPECT_EQ(rows, c.rows) << shown << "\n" << r.out;
  }
  // A record without its image (written by hand, or by another tool) is
  // shown without one in every form.
  json imageless = runs[1];
  imageless.erase("image");
  const std::string bare = dir.File("bare.jsonl");
  sim::WriteFile(bare, imageless.dump() + "\n" + runs[2].dump() + "\n");
  for (const std::string form : {"", "--csv", "--json", "--lines"}) {
    std::vector<std::string> args = {"records", bare};
    if (!form.empty()) args.push_back(form);
    const Result shown = RunTool(args);
    EXPECT_EQ(shown.code, 0) << form << shown.err;
    EXPECT_NE(shown.out.find("ttyUSB0"), std::string::npos) << form << shown.out;
    EXPECT_NE(shown.out.find("pts/3"), std::string::npos) << form << shown.out;
  }

  // A result no load ends with is refused, naming those there are.
  Result r = RunTool({"records", file, "--json", "--result", "nothing like it"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("\"nothing like it\" is not how a load ends: complete, stopped, interrupted, no answer"),
            std::string::npos)
      << r.err;

  // The earlier report: read as it is, and turned into record lines.
  const std::string earlier = dir.File("runs.json");
  json old = {{"kvr_loader_report", 1}, {"runs", json::array()}};
  for (const json& one : runs) {
    json entry = one;
    entry.erase("kvr_loader_record");
    old["runs"].push_back(entry);
  }
  sim::WriteFile(earlier, old.dump(2) + "\n");
  r = RunTool({"records", earlier, "--lines"});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string converted = dir.File("converted.jsonl");
  sim::WriteFile(converted, r.out);
  EXPECT_EQ(RunTool({"records", converted}).out, RunTool({"records", file}).out);
  EXPECT_EQ(sim::ReadFile(earlier), old.dump(2) + "\n");  // read, never changed
  // The same report written on one line.
  const std::string one_line = dir.File("one-line.json");
  sim::WriteFile(one_line, old.dump() + "\n");
  r = RunTool({"records", one_line});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, RunTool({"records", file}).out);

  const std::string notes = dir.File("notes.txt"), fifo = dir.File("fifo.jsonl"), image = dir.File("TEST.KVR");
  sim::WriteFile(notes, "shopping list\n");
  sim::WriteFile(image, sim::MakeUpdateFileText(3));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // read, it would wait for a writer without end
  for (const auto& [path, words] : {std::pair{notes, std::string("holds no load records")},
                                    std::pair{image, std::string("holds no load records")},  // once, no line listed
                                    std::pair{dir.File("none.jsonl"), std::string("cannot be read: No such file")},
                                    std::pair{dir.Path(), std::string("is not a plain file")},
                                    std::pair{fifo, std::string("is not a plain file")}}) {
    r = RunTool({"records", path});
    EXPECT_EQ(r.code, 1) << path;
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("skipped"), std::string::npos) << r.err;
  }
  r = RunTool({"records", file, "--since", "yesterday"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("--since: \"yesterday\" is not a time YYYY-MM-DD[THH:MM[:SS]] (UTC)"), std::string::npos)
      << r.err;
  r = RunTool({"records", file, "--json", "--csv"});
  EXPECT_EQ(r.code, 1);
}

#ifdef KVR_LOADER
// The window records into the file stored once with --set-record.
TEST_F(Records, TheWindowRecordsItsLoadsInTheStoredFile) {
  test::TempDir dir;
  const auto window = [&](std::vector<std::string> args) {
    test::ChildOptions o;
    o.argv = {KVR_LOADER};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.cwd = dir.Path();
    o.env = {"XDG_CONFIG_HOME=" + dir.File("config"), "QT_QPA_PLATFORM=offscreen"};
    o.limit_ms = 120000;
    return test::RunChild(o);
  };
  Result r = window({"--set-record", "runs.jsonl"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "loads are recorded in " + dir.File("runs.jsonl") + "\n");
  r = window({"--simulate", "--fast", "--autostart", "--exit-at-end", image_});
  EXPECT_EQ(r.code, 0) << r.err;
  const json record = json::parse(sim::ReadFile(dir.File("runs.jsonl")), nullptr, false);
  ASSERT_TRUE(record.is_object());
  EXPECT_EQ(record["tool"], "kvr-loader " KVR_VERSION);
  EXPECT_EQ(record["loads"][0]["result"], "complete");
  EXPECT_FALSE(record["image"].contains("edited"));
  r = window({"--set-record", ""});
  EXPECT_EQ(r.out, "loads are no longer recorded\n");
  r = window({"--record", ""});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--record needs a file name"), std::string::npos) << r.err;
}
#endif

}  // namespace
}  // namespace kvr
