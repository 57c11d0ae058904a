// kvr-loader-cli end to end, as a separate process over pseudo-terminals:
// full loads, fault options healed by page retries, a silent device, a lost
// port, Ctrl-C, and the usage, port and file errors with their exit codes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial_test_support.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

struct Result {
  int code = -1;
  std::string out, err;
  double seconds = 0;
  double cpu_seconds = 0;
};


// Runs the tool; `signal_after_ms` > 0 sends SIGINT after that long.
Result RunTool(const std::vector<std::string>& args, int signal_after_ms = 0, int limit_ms = 240000) {
  test::TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    std::string tool = KVR_LOADER_CLI;
    argv.push_back(tool.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(tool.c_str(), argv.data());
    _exit(127);
  }
  Result r;
  bool signalled = false;
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    if (done == pid) {
      r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      r.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      break;
    }
    if (signal_after_ms > 0 && !signalled && ms >= signal_after_ms) {
      kill(pid, SIGINT);
      signalled = true;
    }
    if (ms > limit_ms) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      r.code = -2;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.out = sim::ReadFile(out);
  r.err = sim::ReadFile(err);
  return r;
}

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
  const Result r = RunTool({"load", "--simulate", "--simulate-faults", GetParam(), "--pause-ms", "0",
                            "--reply-timeout", "0.05", "--retries", "20", "--quiet", image_});
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
  const Result r = RunTool({"load", "--port", far_end.SlavePath(), "--reply-timeout", "0.3", "--retries", "2",
                        "--pause-ms", "0", image_});
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_NE(r.err.find("the device stopped answering at opening, command DL:0"), std::string::npos) << r.err;
  EXPECT_GE(r.seconds, 0.9);  // three waits of 0.3 s
  EXPECT_LT(r.seconds, 5.0);
}

TEST_F(Cli, LostPortGivesExit4WithoutSpinning) {
  const Result r = RunTool({"load", "--simulate", "--simulate-faults", "hangup=500", "--pause-ms", "0", image_});
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_NE(r.err.find("was lost at page"), std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 10.0);
}

TEST_F(Cli, CtrlCGives130AfterClosingThePortAndThePausesSleep) {
  const Result r = RunTool({"load", "--simulate", image_}, 2500);
  EXPECT_EQ(r.code, 130) << r.err;
  // Where the load was depends on the machine's pace: about page 0002 after 2.5 s.
  EXPECT_NE(r.err.find("interrupted at page 000"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the port is closed"), std::string::npos);
  // Over 2.5 s at the real pace a spinning pause costs a whole core; the
  // sleeping one a few per cent (start-up included; the margin is for a busy
  // or instrumented machine).
  EXPECT_LT(r.cpu_seconds, 0.4 * r.seconds) << r.cpu_seconds << " s of CPU in " << r.seconds << " s";
}

TEST_F(Cli, CtrlCInALongPauseEndsItAtOnceAndSendsNothing) {
  va::test::PtyPair far_end;
  // Interrupted 1 s into a 30 s pause: it ends then, not when the pause would.
  const Result r = RunTool({"load", "--port", far_end.SlavePath(), "--pause-ms", "30000", image_}, 1000);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_LT(r.seconds, 10.0);
  EXPECT_EQ(far_end.Read(6, 200), "");
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

TEST_F(Cli, PortAndFileErrors) {
  Result r = RunTool({"load", "--port", "/dev/no-such-port", image_});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Specified device not found (/dev/no-such-port)."), std::string::npos) << r.err;
  r = RunTool({"load", "--simulate", image_dir_->File("missing.KVR")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("File not found"), std::string::npos) << r.err;
  r = RunTool({"load", "--simulate", image_dir_->File("x.txt")});
  EXPECT_EQ(r.code, 1);
  // Images that cannot be right: nothing is opened or sent.
  va::test::PtyPair far_end;
  const std::string big = image_dir_->File("big.KVR"), short_file = image_dir_->File("short.KVR");
  sim::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 64LL * 1024 * 1024 + 1), 0);
  sim::WriteFile(short_file, sim::MakeUpdateFileText(77).substr(0, 34 * 100));
  for (const auto& [file, words] : {std::pair{big, std::string("refused: an update file is at most 64 MiB")},
                                    std::pair{short_file, std::string("line 101 of the image")}}) {
    r = RunTool({"load", "--port", far_end.SlavePath(), file});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
  }
  EXPECT_EQ(far_end.Read(1, 200), "");
  r = RunTool({"load", image_});
  EXPECT_EQ(r.code, 1);  // neither --port nor --simulate
  r = RunTool({"load", "--simulate", "--retries"});
  EXPECT_EQ(r.code, 1);
  r = RunTool({});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("exit codes"), std::string::npos);
}

TEST_F(Cli, PortsAndMakeImage) {
  EXPECT_EQ(RunTool({"ports"}).code, 0);
  const std::string path = image_dir_->File("made.KVR");
  EXPECT_EQ(RunTool({"make-image", path, "--seed", "5"}).code, 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1253378);
  EXPECT_EQ(sim::ReadFile(path), sim::MakeUpdateFileText(5));
}

}  // namespace
}  // namespace kvr
