// kvr-loader-cli end to end, as a separate process over pseudo-terminals:
// full loads, fault options healed by page retries, a silent device, a lost
// port, Ctrl-C, and the usage, port and file errors with their exit codes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "child_process.h"
#include "cli_run.h"
#include "pty_device.h"
#include "serial_server.h"
#include "serial_test_support.h"
#include "sha256.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

class Cli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_dir_ = new test::TempDir;
    image_ = image_dir_->File("IMAGE.KVR");
    sim::WriteFile(image_, sim::MakeUpdateFileText(77));
  }
  static void TearDownTestSuite() { delete image_dir_; }
  static test::TempDir* image_dir_;
  static std::string image_;
};
test::TempDir* Cli::image_dir_ = nullptr;
std::string Cli::image_;

bool Equal(const Result& r) { return r.out.find("simulated device: image equal to the file") != std::string::npos; }

TEST_F(Cli, FullImageIntoTheSimulatedDevice) {
  const std::string log = image_dir_->File("replies.log");
  const Result r = RunTool({"load", "--simulate", "--pause-ms", "0", "--log", log, image_});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Equal(r)) << r.out;
  const std::string replies = sim::ReadFile(log);
  EXPECT_EQ(replies.substr(0, 9), " - > PL0\n");
  EXPECT_EQ(std::count(replies.begin(), replies.end(), '\n'), 41474);
  EXPECT_NE(r.out.find("41474 commands"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("page 0900/0900  100%"), std::string::npos) << r.err;  // plain progress lines
}

// Each fault option at a high rate still ends with the whole image in the device.
class CliFaults : public Cli, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliFaults, AreHealedByPageRetries) {
  const Result r = RunTool({"load", "--simulate", "--simulate-faults", GetParam(), "--pause-ms", "0", "--reply-timeout",
                            "0.05", "--retries", "20", "--quiet", image_});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Equal(r)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Each, CliFaults,
                         ::testing::Values("split=5,seed=1", "noise=0.02,seed=2", "drop=0.003,seed=3",
                                           "repeat=0.05,seed=4",
                                           // a reply longer than the 1024-byte buffer, a 5000-byte burst
                                           "noiseat=40:2000,noiseat=400:5000"));

TEST_F(Cli, SilentDeviceGivesExit3AfterTheRetries) {
  va::test::PtyPair far_end;  // nobody answers
  const Result r = RunTool(
      {"load", "--port", far_end.SlavePath(), "--reply-timeout", "0.3", "--retries", "2", "--pause-ms", "0", image_});
  EXPECT_EQ(r.code, 3) << r.err;  // a give-up that never comes is killed at RunTool's limit (-2)
  EXPECT_NE(r.err.find("the device stopped answering at opening, command DL:0"), std::string::npos) << r.err;
  // The command and its two retries, nothing else: a retry per reply time-out
  // (its length is counted on injected ticks in the command link's tests).
  EXPECT_EQ(far_end.Read(64, 200), "DL:0\xFA\rDL:0\xFA\rDL:0\xFA\r");
}

TEST_F(Cli, LostPortGivesExit4WithoutSpinning) {
  const Result r = RunTool({"load", "--simulate", "--simulate-faults", "hangup=500", "--pause-ms", "0", image_});
  EXPECT_EQ(r.code, 4) << r.err;
  // A lost port that goes unseen runs to RunTool's limit and is killed there (-2).
  EXPECT_NE(r.err.find("was lost at page"), std::string::npos) << r.err;
}

TEST_F(Cli, CtrlCGives130AfterClosingThePortAndThePausesSleep) {
  const Result r = RunTool({"load", "--simulate", image_}, 5000);
  EXPECT_EQ(r.code, 130) << r.err;
  // Where the load was depends on the machine's pace: about page 0004 after 5 s.
  EXPECT_NE(r.err.find("interrupted at page 000"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the port is closed"), std::string::npos);
  // Over 5 s at the real pace a spinning pause costs a whole core (at least
  // half of one on a busy 2-core machine); the sleeping one a few per cent,
  // start-up included (about 0.2 s under the sanitizers: the bound, 2 s, is
  // ten times that). This comparison stays: the pause loop is the
  // program's own, and a spinning one gives the same output and exit code,
  // only the processor time tells it.
  EXPECT_LT(r.cpu_seconds, 0.4 * r.seconds) << r.cpu_seconds << " s of CPU in " << r.seconds << " s";
}

// Ctrl-C, SIGTERM, a dropped session (SIGHUP) and a closed output pipe
// (SIGPIPE) all end the load the same way.
class CliSignal : public Cli, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignal, InALongPauseEndsItAtOnceClosesThePortAndSendsNothing) {
  va::test::PtyPair far_end;
  // Signalled once the load is under way (its first progress line), inside
  // a 60 s pause: it ends then (about 0.03 s later here), not when the pause
  // would, which is past the 30 s limit (killed there: -2). Reading the file
  // first takes long under the sanitizers.
  test::ChildOptions o;
  o.argv = {KVR_LOADER_CLI, "load", "--port", far_end.SlavePath(), "--pause-ms", "60000", image_};
  o.limit_ms = 30000;
  bool sent = false;
  o.watch = [&](pid_t pid, const std::string& err) {
    if (!sent && err.find("page 0000/0900") != std::string::npos) sent = kill(pid, GetParam()) == 0;
  };
  const Result r = test::RunChild(o);
  ASSERT_TRUE(sent) << r.err;
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_NE(r.err.find("the port is closed"), std::string::npos) << r.err;
  EXPECT_EQ(far_end.Read(6, 200), "");
}

INSTANTIATE_TEST_SUITE_P(Each, CliSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE));

// The record file's lines, each parsed (a line that is not JSON is discarded).
std::vector<nlohmann::json> ReadRecords(const std::string& path) {
  std::vector<nlohmann::json> records;
  std::istringstream lines(sim::ReadFile(path));
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line, nullptr, false));
  return records;
}

// Four loads at once, each device with its own fault: dropped replies are
// healed, the lost port and the silent device end alone, the combined exit
// code is the highest, and the record holds each load.
TEST_F(Cli, GangLoadKeepsEachFaultToItsOwnDevice) {
  test::TempDir dir;
  const std::string record = dir.File("runs.jsonl");
  const Result r = RunTool({"load", "--simulate", "--simulate-devices", "4", "--simulate-faults", "2:drop=0.003,seed=3",
                            "--simulate-faults", "3:hangup=500", "--simulate-faults", "4:drop=1", "--pause-ms", "0",
                            "--reply-timeout", "0.05", "--retries", "20", "--record", record, image_});
  EXPECT_EQ(r.code, 4) << r.err;  // the lost port's 4 over the silent device's 3
  for (const char* row : {"\nsim1  complete ", "\nsim2  complete ", "\nsim3  port lost ", "\nsim4  no answer "})
    EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out;
  EXPECT_NE(r.err.find("sim2: retry 1 of page"), std::string::npos);  // plain lines into a pipe, with the port

  const std::vector<nlohmann::json> records = ReadRecords(record);
  ASSERT_EQ(records.size(), 1u) << sim::ReadFile(record);
  const nlohmann::json& run = records[0];
  EXPECT_EQ(run["kvr_loader_record"], 1);
  EXPECT_EQ(run["exit_code"], 4);
  const std::string bytes = sim::ReadFile(image_);
  Sha256 sha;
  sha.Add(bytes.data(), bytes.size());
  EXPECT_EQ(run["image"]["sha256"], sha.FinishHex());
  EXPECT_EQ(run["image"]["size"], bytes.size());
  ASSERT_EQ(run["loads"].size(), 4u);
  const struct {
    const char* port;
    const char* result;
    int code;
  } want[] = {{"sim1", "complete", 0}, {"sim2", "complete", 0}, {"sim3", "port lost", 4}, {"sim4", "no answer", 3}};
  for (size_t i = 0; i < 4; ++i) {
    const nlohmann::json& load = run["loads"][i];
    EXPECT_EQ(load["port"], want[i].port);
    EXPECT_EQ(load["result"], want[i].result) << load["message"];
    EXPECT_EQ(load["exit_code"], want[i].code);
    EXPECT_LE(load["started"].get<std::string>(), load["ended"].get<std::string>());
    EXPECT_EQ(load["started"].get<std::string>().size(), 24u);  // 2026-12-08T12:34:56.789Z
    EXPECT_TRUE(load["usb"].is_null());                         // a pseudo-terminal
    if (want[i].code == 0) {
      EXPECT_NE(load["message"].get<std::string>().find("image equal to the file"), std::string::npos);
    }
  }
  EXPECT_GT(run["loads"][1]["page_retries"], 0);
  EXPECT_GE(run["loads"][0]["commands"], 41474);  // more when a busy machine let a reply miss 0.05 s
  EXPECT_LT(run["loads"][2]["commands"], 600);
  EXPECT_EQ(run["loads"][3]["page_retries"], 20);
}

// Ctrl-C during a gang load stops every load in its pause, closes every port
// and still records the run.
TEST_F(Cli, CtrlCStopsEveryLoadOfAGang) {
  test::TempDir dir;
  va::test::PtyPair ends[3];
  const std::string list = dir.File("ports.txt"), record = dir.File("runs.jsonl");
  sim::WriteFile(list, "# bench 2\n" + ends[1].SlavePath() + "\n\n  " + ends[2].SlavePath() + "  \n");
  const Result r = RunTool(
      {"load", "--port", ends[0].SlavePath(), "--ports-from", list, "--pause-ms", "60000", "--record", record, image_},
      1000, 30000);
  EXPECT_EQ(r.code, 130) << r.err;  // about 1.1 s here; the pauses would run past the 30 s limit (-2)
  const std::vector<nlohmann::json> records = ReadRecords(record);
  ASSERT_EQ(records.size(), 1u);
  const nlohmann::json& run = records[0];
  ASSERT_EQ(run["loads"].size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(run["loads"][i]["port"], ends[i].SlavePath());
    EXPECT_EQ(run["loads"][i]["exit_code"], 130);
    EXPECT_NE(run["loads"][i]["message"].get<std::string>().find("the port is closed"), std::string::npos);
    EXPECT_EQ(ends[i].Read(1, 200), "") << i;
  }
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;  // the table
}

// Every refused option value is named with what is allowed; nothing runs.
TEST_F(Cli, BadOptionValuesAreRefusedByName) {
  const std::string no_ports = image_dir_->File("no-ports.txt");
  sim::WriteFile(no_ports, "# bench 3: none yet\n\n");
  // The system would open "/dev/null" alone: another port than the one named.
  const std::string nul_port = image_dir_->File("nul-port.txt");
  sim::WriteFile(nul_port, std::string("/dev/zero\n/dev/null\0-bench-4\n", 29));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--baud", "0"}, "--baud: \"0\" is not a whole number from 50 to 4000000"},
      {{"--baud", "9600x"}, "--baud: \"9600x\" is not a whole number from 50 to 4000000"},
      {{"--baud", "-1"}, "--baud: \"-1\" is not a whole number"},
      {{"--pause-ms", "-1"}, "--pause-ms: \"-1\" is not a whole number from 0 to 60000"},
      {{"--reply-timeout", "nan"}, "--reply-timeout: \"nan\" is not a number from 0.01 to 3600"},
      {{"--reply-timeout", "-1"}, "--reply-timeout: \"-1\" is not a number"},
      {{"--reply-timeout", "1e9"}, "--reply-timeout: \"1e9\" is not a number"},
      {{"--reply-timeout", "0x10"}, "--reply-timeout: \"0x10\" is not a number"},
      {{"--reply-timeout", " 5"}, "--reply-timeout: \" 5\" is not a number"},
      {{"--baud", "\x1B[2J"}, "--baud: \"\\x1B[2J\" is not a whole number"},  // escaped, not sent to the terminal
      {{"--baud",
        "\xC2\x9B"
        "2J"},
       "--baud: \"\\xC2\\x9B2J\" is not a whole number"},  // the C1 form of the same
      {{"--port", ""}, "--port needs a device path"},
      {{"--log", ""}, "--log needs a file name"},
      {{"--retries", "-1"}, "--retries: \"-1\" is not a whole number from 0 to 100"},
      {{"--retries", "101"}, "--retries: \"101\" is not a whole number from 0 to 100"},
      {{"--simulate-faults", "split=0"}, "\"split=0\" wants split=N with N from 1 to 1024"},
      {{"--simulate-faults", "drop=2"}, "\"drop=2\" wants drop=RATE with RATE from 0 to 1"},
      {{"--simulate-faults", "bogus=1"}, "\"bogus=1\" is not one of"},
      {{"--simulate-faults", "line=10"}, "\"line=10\" wants line=BAUD with BAUD from 50 to 4000000"},
      {{"--port", "/dev/null", "--simulate"}, "--port excludes --simulate"},
      {{"--port", "/dev/null", "--port", "/dev/../dev/null"}, "the port /dev/../dev/null is named twice"},
      {{"--port", "/dev/null", "--port", "/dev/zero", "--log", "x"}, "--log is for one port"},
      {{"--ports-from", no_ports}, "--ports-from: " + no_ports + " names no port"},
      {{"--ports-from", "/no/such/list"}, "--ports-from: /no/such/list cannot be read: No such file or directory"},
      {{"--ports-from", nul_port}, "--ports-from: " + nul_port + " line 2 holds a NUL byte"},
      {{"--ports-from", "/dev/zero"}, "--ports-from: /dev/zero is not a plain file"},  // read without end
      {{"--simulate-devices", "0"}, "--simulate-devices: \"0\" is not a whole number from 1 to 64"},
      {{"--simulate-faults", "2:drop=1"}, "\"2:drop=1\" names a device from 1 to 1"},
      {{"--record", ""}, "--record needs a file name"},
      {{"--report", ""}, "--record needs a file name"},  // its older name
  };
  for (const auto& [options, message] : cases) {
    // --simulate unless the case names ports.
    std::vector<std::string> args = {"load", image_};
    if (options[0] != "--port" && options[0] != "--ports-from") args.push_back("--simulate");
    args.insert(args.end(), options.begin(), options.end());
    const Result r = RunTool(args);
    EXPECT_EQ(r.code, 1) << options[0] << " " << options[1];
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1B'), std::string::npos);
    EXPECT_EQ(r.err.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  const Result r = RunTool({"bogus"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("unknown command \"bogus\""), std::string::npos) << r.err;
}

// Options before and after the image, in both forms; one value each for the
// single options, one port per --port; the subcommands' own --help and --version.
TEST_F(Cli, OptionsComeInAnyOrder) {
  test::TempDir dir;
  const std::string dash = dir.File("-dash.KVR"), list = dir.File("bench.txt");
  sim::WriteFile(dash, sim::MakeUpdateFileText(77));
  sim::WriteFile(list, "# bench 1\n  /dev/no-such-1   # left socket\n/dev/no-such-2#right\n\n");
  // An existing update file is replaced only with --force.
  const std::string kept = dir.File("KEPT.KVR"), forced = dir.File("FORCED.KVR");
  sim::WriteFile(kept, "a real update file");
  sim::WriteFile(forced, "an old test image");
  const std::string stopped = "stopped: ";  // by --stop-after (a busy machine may send one more)
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out, err;
  };
  const std::vector<Case> cases = {
      {{"load", "--simulate", image_, "--pause-ms", "0", "--stop-after", "3", "--quiet"}, 0, stopped, ""},
      {{"load", "--simulate", "--pause-ms=0", image_, "--stop-after=3", "--quiet"}, 0, stopped, ""},
      {{"load", "--simulate", "--simulate-faults", "split=3", image_, "--pause-ms", "0", "--stop-after", "3"},
       0,
       stopped,
       ""},
      {{"load", "--simulate", "--stop-after", "3", "--pause-ms", "0", "--quiet", "--", dash}, 0, stopped, ""},
      // Both ports are taken and the image between them too: each is opened (and missing).
      {{"load", "--port", "/dev/no-such-1", image_, "--port=/dev/no-such-2", "--quiet"},
       2,
       "/dev/no-such-2  port error",
       "/dev/no-such-1: error: Specified device not found"},
      {{"load", "--ports-from", list, image_, "--quiet"}, 2, "/dev/no-such-2  port error", "(/dev/no-such-1)."},
      {{"load", "--simulate", "--pause-ms", "0", "--pause-ms", "5", image_}, 1, "", "--pause-ms given twice"},
      {{"load", "--simulate", image_, "--log", "a.log", "--log=b.log"}, 1, "", "--log given twice"},
      {{"load", "--version"}, 0, "kvr-loader-cli " KVR_VERSION, ""},
      {{"ports", "--version"}, 0, "kvr-loader-cli " KVR_VERSION, ""},
      {{"make-image", dir.File("made.txt")}, 1, "", "the name must end in .KVR"},
      {{"make-image", kept}, 1, "", "error: " + kept + " exists; --force replaces it"},
      {{"load", "--simulate", "-dash.KVR"},
       1,
       "",
       "hint: -dash.KVR starts with a dash: give it after --, as in kvr-loader-cli ... -- -dash.KVR"},
      {{"load", "--simulate", "--simulate-faults", "drop=1", "--retries", "1", "--reply-timeout", "0.05", "--pause-ms",
        "0", "--quiet", image_},
       3,
       "",
       "(no reply within 0.05 s, 1 retry used)"},
      {{"make-image", forced, "--force", "--seed", "5"}, 0, "", ""},
  };
  for (const Case& c : cases) {
    const Result r = RunTool(c.args);
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(r.code, c.code) << line << "\n" << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << line << "\n" << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
    EXPECT_EQ(r.out.find("left socket"), std::string::npos) << line;  // a comment is no part of a port's name
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("made.txt")));
  EXPECT_EQ(sim::ReadFile(kept), "a real update file");
  EXPECT_EQ(sim::ReadFile(forced), sim::MakeUpdateFileText(5));
  EXPECT_FALSE(std::filesystem::exists(forced + ".making"));
  // Each command's help ends with its own exit codes.
  for (const std::string command : {"ports", "make-image"}) {
    const Result r = RunTool({command, "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("the port was lost"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Exit codes: 0"), std::string::npos) << r.out;
  }
}

// Only a regular file is an image; the log is never the image; a log that
// cannot be written does not stop the load but changes its exit code.
TEST_F(Cli, ImageAndLogFilesAreChecked) {
  test::TempDir dir;
  const std::string fifo = dir.File("pipe.KVR"), device = dir.File("zero.KVR"), link = dir.File("link.log");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", device.c_str()), 0);
  // A socket cannot even be opened for reading: it is still named for what it is.
  const std::string socket_file = dir.File("socket.KVR");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_file.size(), sizeof address.sun_path);
  std::copy(socket_file.begin(), socket_file.end(), address.sun_path);
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  for (const auto& [file, words] : {std::pair{fifo, std::string(": not a regular file: a pipe")},
                                    std::pair{device, std::string(": not a regular file: a character device")},
                                    std::pair{socket_file, std::string(": not a regular file: a socket")}}) {
    const Result r = RunTool({"load", "--simulate", file}, 0, 20000);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find(file + words), std::string::npos) << r.err;
  }
  close(listener);
  ASSERT_EQ(symlink(image_.c_str(), link.c_str()), 0);
  Result r = RunTool({"load", "--simulate", "--log", link, image_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is the image file itself; nothing was sent"), std::string::npos) << r.err;
  EXPECT_EQ(sim::ReadFile(image_), sim::MakeUpdateFileText(77));
  // A pipe nobody reads is refused at once; a run that sends nothing keeps
  // the previous log.
  const std::string log_pipe = dir.File("log.pipe"), previous = dir.File("previous.log");
  ASSERT_EQ(mkfifo(log_pipe.c_str(), 0600), 0);
  r = RunTool({"load", "--simulate", "--log", log_pipe, image_}, 0, 20000);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("a pipe that nobody reads"), std::string::npos) << r.err;
  sim::WriteFile(previous, "earlier run\n");
  r = RunTool({"load", "--port", "/dev/no-such-port", "--log", previous, image_});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(sim::ReadFile(previous), "earlier run\n");
  r = RunTool({"load", "--simulate", "--pause-ms", "0", "--quiet", "--log", "/dev/full", image_});
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_TRUE(Equal(r)) << r.out;
  EXPECT_EQ(r.err,
            "warning: writing the log /dev/full failed (No space left on device); the load goes on, the log "
            "is incomplete\n");
}

TEST_F(Cli, BusyPortGivesExit2) {
  va::test::PtyPair line;
  va::TVaComm holder;
  holder.ClosePause = [](uint32_t) {};
  holder.SetDeviceName(line.SlavePath());
  holder.Open();
  const Result r = RunTool({"load", "--port", line.SlavePath(), image_});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("(Error 16, Device or resource busy)"), std::string::npos) << r.err;
}

// A port the user may not open: the component's text, then the group to join.
TEST_F(Cli, PortWithoutPermissionNamesTheGroupToJoin) {
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || !dialout) GTEST_SKIP() << "needs root (to run the tool as another user) and a dialout group";
  const gid_t dialout_gid = dialout->gr_gid;
  test::TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  const std::string image = dir.File("IMAGE.KVR");
  sim::WriteFile(image, sim::MakeUpdateFileText(77));
  ASSERT_EQ(chmod(image.c_str(), 0644), 0);
  va::test::PtyPair line;
  ASSERT_EQ(chown(line.SlavePath().c_str(), 0, dialout_gid), 0);
  ASSERT_EQ(chmod(line.SlavePath().c_str(), 0660), 0);
  const int nobody = 65534;
  const Result r = RunTool({"load", "--port", line.SlavePath(), image}, 0, 60000, SIGINT, KVR_LOADER_CLI, "", nobody);
  if (r.code == 127) GTEST_SKIP() << "the user nobody cannot reach the build's programs";
  EXPECT_EQ(r.code, 2) << r.err;
  const size_t error =
      r.err.find("error: Can't open specified device " + line.SlavePath() + " (Error 13, Permission denied)\n");
  const size_t hint = r.err.find("hint: you may not open " + line.SlavePath() +
                                 ": it belongs to the group \"dialout\". Join the group with \"sudo usermod -aG "
                                 "dialout nobody\", then log out and log in again\n");
  EXPECT_NE(error, std::string::npos) << r.err;
  EXPECT_NE(hint, std::string::npos) << r.err;
  EXPECT_LT(error, hint);
  EXPECT_EQ(line.Read(1, 200), "");
}

// Through a real serial server (ser2net on the loopback address in front of a
// pseudo-terminal, the simulated device behind it): a full load over raw TCP
// and over RFC 2217, the server stopped mid-load, a refused connection and a
// server that never answers the com-port option. Every wait is bounded.
TEST_F(Cli, LoadsThroughANetworkSerialServer) {
  sim::PtyDevice device;
  sim::SerialServer server(device.SlavePath());
  if (!server.Installed()) GTEST_SKIP() << server.Why();
  ASSERT_TRUE(server.Running()) << server.Why();
  for (const std::string& url : {server.RawUrl(), server.Rfc2217Url()}) {
    const Result r = RunTool({"load", "--port", url, "--pause-ms", "0", "--quiet", image_}, 0, 120000);
    EXPECT_EQ(r.code, 0) << url << ": " << r.err;
    EXPECT_TRUE(sim::ImageEqualsFile(device.Image(), image_)) << url;
  }
  const uint64_t loaded = device.FramesReceived();
  std::thread stopper([&] {  // once the load is under way (at most 30 s)
    for (int i = 0; i < 3000 && device.FramesReceived() < loaded + 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.Stop();
  });
  const Result lost = RunTool({"load", "--port", server.Rfc2217Url(), "--quiet", image_}, 0, 60000);
  stopper.join();
  EXPECT_EQ(lost.code, 4) << lost.err;
  EXPECT_NE(lost.err.find("the port " + server.Rfc2217Url() + " was lost"), std::string::npos) << lost.err;

  const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(sim::FreeLoopbackPort());
  Result r = RunTool({"load", "--port", refused, "--quiet", image_}, 0, 60000);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Can't open specified device " + refused + " (Error 111, Connection refused)"),
            std::string::npos)
      << r.err;
  // A listener that takes the connection and says nothing.
  int port = 0;
  const int silent = sim::ListenOnLoopback(port);
  ASSERT_GE(silent, 0);
  const std::string mute = "rfc2217://127.0.0.1:" + std::to_string(port);
  r = RunTool({"load", "--port", mute, "--quiet", image_}, 0, 60000);
  close(silent);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(mute + " (the server does not answer the RFC 2217 com-port option"), std::string::npos) << r.err;
  // A name the resolver does not know: its own words, no number of the component's.
  const std::string nowhere = "rfc2217://no-such-host.invalid:2217";
  r = RunTool({"load", "--port", nowhere, "--quiet", image_}, 0, 60000);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Can't open specified device " + nowhere + " (no-such-host.invalid: "), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Error 5368"), std::string::npos) << r.err;
}

TEST_F(Cli, PortAndFileErrors) {
  Result r = RunTool({"load", "--port", "/dev/no-such-port", image_});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Specified device not found (/dev/no-such-port)."), std::string::npos) << r.err;
  r = RunTool({"load", "--simulate", image_dir_->File("missing.KVR")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing.KVR: No such file or directory"), std::string::npos) << r.err;
  r = RunTool({"load", "--simulate", image_dir_->File("x.txt")});
  EXPECT_EQ(r.code, 1);
  // Images that cannot be right: nothing is opened or sent.
  va::test::PtyPair far_end;
  const std::string big = image_dir_->File("big.KVR"), short_file = image_dir_->File("short.KVR");
  sim::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 64LL * 1024 * 1024 + 1), 0);
  sim::WriteFile(short_file, sim::MakeUpdateFileText(77).substr(0, 34 * 100));
  // A right-sized file whose first line is a terminal command: named, escaped.
  const std::string escape = image_dir_->File("escape.KVR");
  sim::WriteFile(escape, "\x1B[2J" + sim::MakeUpdateFileText(77).substr(4));
  const std::string standard = " bytes, not the 1253378 of a standard update file";
  for (const auto& [file, words] :
       {std::pair{big, "warning: " + big + " is 67108865" + standard + "\nerror: " + big +
                           ": refused: an update file is at most 64 MiB"},
        std::pair{short_file, "warning: " + short_file + " is 3400" + standard +
                                  ": it holds 100 lines, not 36864; the image is not whole\nerror: " + short_file +
                                  ": line 101 of the image"},
        std::pair{escape, std::string("line 1 of the image is not 32 hexadecimal digits: \"\\x1B[2J")}}) {
    r = RunTool({"load", "--port", far_end.SlavePath(), file});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1B'), std::string::npos);
  }
  // Files of another size that still hold the whole image: what differs, and that it loads.
  const std::string standard_text = sim::MakeUpdateFileText(77);
  const auto ends_in = [&](char end) {
    std::string text;
    for (const char c : standard_text)
      if (c != '\r' && c != '\n') text += c;
      else if (c == '\n') text += end;
    return text;
  };
  const std::string lf = ends_in('\n'), cr = ends_in('\r'),
                    longer = standard_text + "00112233445566778899AABBCCDDEEFF\r\n";
  for (const auto& [name, text, words] :
       {std::tuple{"lf.KVR", lf, "is 1216513" + standard + ": its lines end in LF alone, not CR LF; the image itself "
                                 "is whole (36864 lines of 32 hex digits) and is loaded\n"},
        std::tuple{"cr.KVR", cr, "is 1216513" + standard + ": its lines end in CR alone, not CR LF; the image"},
        std::tuple{"longer.KVR", longer,
                   "is 1253412" + standard + ": it holds 36865 lines, not 36864 (those after that are not loaded)"}}) {
    const std::string file = image_dir_->File(name);
    sim::WriteFile(file, text);
    r = RunTool({"load", "--simulate", "--pause-ms", "0", "--stop-after", "3", "--quiet", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + file + " " + words), std::string::npos) << r.err;
  }
  EXPECT_EQ(far_end.Read(1, 200), "");
  r = RunTool({"load", image_});
  EXPECT_EQ(r.code, 1);  // neither --port nor --simulate
  r = RunTool({"load", "--simulate", "--retries"});
  EXPECT_EQ(r.code, 1);
  r = RunTool({});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("Exit codes"), std::string::npos);
}

// The helpers write only where told, never through a link, and --help writes
// nothing.
TEST_F(Cli, HelpersWriteOnlyWhereTold) {
  test::TempDir dir;
  for (const std::string& tool : {std::string(KVR_MAKEFILE), std::string(KVR_LOADER_CLI)}) {
    const Result r = RunTool({"--help"}, 0, 20000, SIGINT, tool, dir.Path());
    EXPECT_EQ(r.code, 0) << tool;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  const std::string victim = dir.File("victim"), planted = dir.File("planted.KVR");
  sim::WriteFile(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
  Result r = RunTool({planted}, 0, 20000, SIGINT, KVR_MAKEFILE);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("it is a symbolic link (refused)"), std::string::npos) << r.err;
  r = RunTool({"make-image", planted});
  EXPECT_EQ(r.code, 1);
  // A hard link planted there, and a pipe (which would block the open).
  const std::string hard = dir.File("hard.KVR"), pipe = dir.File("pipe.KVR");
  ASSERT_EQ(link(victim.c_str(), hard.c_str()), 0);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  for (const auto& [target, words] : {std::pair{hard, std::string("it has other hard links (refused)")},
                                      std::pair{pipe, std::string("not a regular file")}}) {
    r = RunTool({target}, 0, 20000, SIGINT, KVR_MAKEFILE);
    EXPECT_EQ(r.code, 1) << target;
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
  }
  EXPECT_EQ(sim::ReadFile(victim), "keep");
}

#ifdef KVR_LOADER
// The window run to the end of a load says why it did not complete.
TEST_F(Cli, WindowAtTheEndOfALoadSaysWhyItFailed) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string bad = image_dir_->File("bad.KVR");
  sim::WriteFile(bad, sim::MakeUpdateFileText(77).substr(0, 34 * 29) + "no hex here\n");
  for (const auto& [args, words] :
       {std::pair{std::vector<std::string>{"--simulate", "--autostart", "--exit-at-end", bad},
                  std::string("kvr-loader: the load did not complete: Ошибка в строке 30 файла обновления")},
        std::pair{std::vector<std::string>{"--simulate", "--autostart", "--exit-at-end"},
                  std::string("kvr-loader: the load did not complete: Файл для загрузки не открыт")}}) {
    const Result r = RunTool(args, 0, 60000, SIGINT, KVR_LOADER);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
  }
  const Result help = RunTool({"--help"}, 0, 20000, SIGINT, KVR_LOADER);
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Exit codes: 0"), std::string::npos) << help.out;
}
#endif

TEST_F(Cli, PortsAndMakeImage) {
  EXPECT_EQ(RunTool({"ports"}).code, 0);
  const Result listed = RunTool({"ports", "--json"});
  EXPECT_EQ(listed.code, 0);
  const nlohmann::json ports = nlohmann::json::parse(listed.out, nullptr, false);
  ASSERT_TRUE(ports.is_array()) << listed.out;
  for (const auto& port : ports) {
    EXPECT_TRUE(port["port"].is_string() && port["device"].is_string()) << port;
    EXPECT_TRUE(port["access"] == "ready" || port["access"] == "denied" || port["access"] == "busy") << port;
  }
  const std::string path = image_dir_->File("made.KVR");
  EXPECT_EQ(RunTool({"make-image", path, "--seed", "5"}).code, 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1253378);
  EXPECT_EQ(sim::ReadFile(path), sim::MakeUpdateFileText(5));
}

}  // namespace
}  // namespace kvr
