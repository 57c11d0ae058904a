// What the pace benchmarks share: processor time, the command line run as a
// process of its own, and a load by the window into a simulated device for a
// given time at the real pause.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loader_window.h"
#include "pty_device.h"

namespace bench {

inline double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double SelfCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

struct ProgramRun {
  std::string out;           // its standard output
  double cpu = 0, wall = 0;  // seconds
};

// Runs `program` with `args` and waits for it; its standard output goes
// through a temporary file (a pipe could fill while nobody reads it).
inline ProgramRun RunProgram(const char* program, const std::vector<std::string>& args) {
  char out_path[] = "/tmp/bench_run_XXXXXX";
  const int out = mkstemp(out_path);
  std::vector<const char*> argv = {program};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, 1);
    execv(program, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  ProgramRun run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.cpu = CpuSeconds(u);
  run.out.resize(1 << 16);
  lseek(out, 0, SEEK_SET);
  const ssize_t n = read(out, run.out.data(), run.out.size());
  run.out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  close(out);
  unlink(out_path);
  return run;
}

// Each load's "ms per command" from the command line's output
// ("... (R commands/s, M ms per command)").
inline std::vector<double> MsPerCommand(const std::string& out) {
  std::vector<double> ms;
  for (size_t at = out.find("commands/s, "); at != std::string::npos; at = out.find("commands/s, ", at + 1))
    ms.push_back(std::atof(out.c_str() + at + 12));
  return ms;
}

struct WindowLoad {
  double cpu = 0, wall = 0;  // seconds, from the first command on
  unsigned long long commands = 0;
};

// The window with the system's clock: the switch pressed, the load into
// `device` measured from its first command for `seconds`, then stopped.
inline WindowLoad LoadByWindow(const std::string& image, kvr::sim::PtyDevice& device, double seconds) {
  kvr::WindowOptions options;
  options.probe_ports = [] { return std::vector<kvr::PortChoice>{}; };
  options.first_ports = {device.SlavePath().substr(5)};
  kvr::LoaderWindow form(options);
  form.show();
  form.Logic().OpenFile(image);
  QCoreApplication::processEvents();
  ab::qt::PressAndRelease(form.StartSwitch);
  QElapsedTimer t;
  t.start();
  while (device.FramesReceived() == 0 && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const uint64_t frames0 = device.FramesReceived();
  const double cpu0 = SelfCpuSeconds();
  t.restart();
  QEventLoop loop;  // waits as the program's own loop does
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
  WindowLoad run;
  run.wall = t.nsecsElapsed() / 1e9;
  run.cpu = SelfCpuSeconds() - cpu0;
  run.commands = device.FramesReceived() - frames0;
  ab::qt::PressAndRelease(form.StartSwitch);
  return run;
}

}  // namespace bench
