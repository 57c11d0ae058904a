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
#include "program_run.h"
#include "pty_device.h"

namespace bench {

inline double SelfCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
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
