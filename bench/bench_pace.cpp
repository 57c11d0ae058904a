// The loader at the real pace, the window and the command line in one run,
// each into the simulated boot loader behind a pseudo-terminal:
//   - processor time per minute of load (goal: at most 5 % of a core, 3 s/min),
//   - time per command against the 51 ms floor (goal: at most 1.02 x).
// bench_pace [SECONDS]   (default 20 s of load each)
// The figures include the simulated device's own thread, which runs in the
// measured process; the command line's include its start-up.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "qt_main_thread.h"
#include "update_file_maker.h"
#include "window_load.h"

namespace {

void Print(const char* who, double cpu, double wall, double ms_per_command, unsigned long long commands) {
  std::printf(
      "%-12s %6.3f s CPU per minute of load (%.2f %% of a core), %.3f ms per command = %.4f x the 51 ms floor "
      "(%llu commands in %.1f s)\n",
      who, cpu / wall * 60, 100 * cpu / wall, ms_per_command, ms_per_command / 51.0, commands, wall);
}

// The window: the switch pressed, the load runs for `seconds`.
void Window(const std::string& image, double seconds) {
  kvr::sim::PtyDevice device;
  const bench::WindowLoad run = bench::LoadByWindow(image, device, seconds);
  Print("window", run.cpu, run.wall, run.commands ? run.wall * 1000 / static_cast<double>(run.commands) : 0,
        run.commands);
}

// The command line as its own process, stopped after as many commands as
// `seconds` take at the floor.
void CommandLine(const std::string& image, double seconds) {
  const unsigned long long commands = static_cast<unsigned long long>(seconds * 1000 / 51);
  const bench::ProgramRun run = bench::RunProgram(
      KVR_LOADER_CLI, {"load", "--simulate", "--quiet", "--stop-after", std::to_string(commands), image});
  const std::vector<double> ms = bench::MsPerCommand(run.out);
  Print("command line", run.cpu, run.wall, ms.empty() ? 0 : ms[0], commands);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
  QApplication app(argc, argv);
  QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  va::SetMainThread(
      std::make_shared<kvr::QtMainThread>([](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }));
  const std::string image = dir.path().toStdString() + "/PACE.KVR";
  kvr::sim::WriteFile(image, kvr::sim::MakeUpdateFileText(9));
  std::printf("real-pace load, %.0f s each (goals: at most 3 s CPU per minute = 5 %% of a core; at most 1.02 x)\n",
              seconds);
  Window(image, seconds);
  CommandLine(image, seconds);
  va::SetMainThread(nullptr);
  return 0;
}
