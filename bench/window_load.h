// What the benchmarks of the window share: processor time, and a load by the
// window into a simulated device for a given time at the real pause.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

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

struct WindowLoad {
  double cpu = 0, wall = 0;  // seconds, from the first command on
  unsigned long long commands = 0;
};

// The window with the system's clock: the switch pressed, the load into
// `device` measured from its first command for `seconds`, then stopped.
inline WindowLoad LoadByWindow(const std::string& image, kvr::sim::PtyDevice& device, double seconds) {
  kvr::WindowOptions options;
  options.choose_file = [&image] { return image; };
  options.probe_ports = [] { return std::vector<kvr::PortChoice>{}; };
  options.first_ports = {device.SlavePath().substr(5)};
  kvr::LoaderWindow form(options);
  form.show();
  form.OpenFileClicked();
  QCoreApplication::processEvents();
  ab::PressAndRelease(form.StartSwitch);
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
  ab::PressAndRelease(form.StartSwitch);
  return run;
}

}  // namespace bench
