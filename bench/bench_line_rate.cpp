// The loader's pace against a device that keeps a real line's timing: the
// simulated boot loader behind a pseudo-terminal, with frames taking their
// wire time (10 bits a byte) and replies coming back a byte at a time, a
// character time apart. The floor, measured in the same run against the same
// device, is the plainest loop: write a frame, read to its CR.
//   bench_line_rate [BAUD] [SECONDS]   (default 38400 baud, 20 s a measurement)
// Prints milliseconds per command and the ratio to the floor for the command
// line at pause 0 and at the real pause, the window (offscreen, the system's
// clock) at the real pause and a gang of four at the real pause, with the
// processor time, and the time a full image takes at that rate.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "command_link.h"
#include "hex_text.h"
#include "pty_device.h"
#include "qt_main_thread.h"
#include "serial_server.h"
#include "update_file_maker.h"
#include "window_load.h"

namespace {

constexpr double kPauseMs = 51;  // "more than 50 ms", to the millisecond boundary
constexpr int kLoadCommands = 41474;

// The load's first `count` command texts, in the order the exchange sends them.
std::vector<std::string> LoadCommands(const std::string& image_text, size_t count) {
  std::vector<std::string> lines;
  std::istringstream in(image_text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  std::vector<std::string> commands = {"DL:0", "DL:6"};
  for (size_t page = 0; commands.size() < count && page * 16 < lines.size(); ++page) {
    commands.push_back("DL:1:" + kvr::HexUpper(page, 4) + "00");
    for (size_t i = 0; i < 16; ++i) commands.push_back("DL:2" + kvr::HexUpper(i, 1) + ":" + lines[page * 16 + i]);
    commands.push_back("DL:7");
  }
  commands.resize(std::min(count, commands.size()));
  return commands;
}

// The floor: write a frame, read to its CR, nothing else. Milliseconds per command.
double FloorLoop(const std::vector<std::string>& commands, uint32_t baud) {
  kvr::sim::DeviceOptions options;
  options.line_baud = baud;
  kvr::sim::PtyDevice device(options);
  const int fd = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const auto t0 = std::chrono::steady_clock::now();
  for (const std::string& text : commands) {
    const std::vector<uint8_t> frame = kvr::BuildFrame(text);
    if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    for (uint8_t b = 0; b != 13;) {
      uint8_t buf[64];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) return -1;
      b = buf[n - 1];
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  close(fd);
  return ms / static_cast<double>(commands.size());
}

// The same floor over a raw TCP connection to a serial server.
double FloorOverTcp(const std::vector<std::string>& commands, const std::string& url) {
  const std::string host_port = url.substr(url.find("//") + 2);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(host_port.c_str() + host_port.find(':') + 1)));
  inet_pton(AF_INET, host_port.substr(0, host_port.find(':')).c_str(), &address.sin_addr);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const auto t0 = std::chrono::steady_clock::now();
  for (const std::string& text : commands) {
    const std::vector<uint8_t> frame = kvr::BuildFrame(text);
    if (send(fd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) break;
    for (uint8_t b = 0; b != 13;) {
      uint8_t buf[64];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return -1;
      setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
      b = buf[n - 1];
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  close(fd);
  return ms / static_cast<double>(commands.size());
}

struct Run {
  std::vector<double> ms_per_command;  // each load's own figure
  double cpu = 0, wall = 0;
};

// The command line as its own process: each load's "ms per command" from its
// output. Into `devices` simulated devices, or through `port` when given.
Run CommandLine(const std::string& image, uint32_t baud, size_t commands, bool pause, int devices,
                const std::string& port = "") {
  std::vector<std::string> args = {"load", "--quiet", "--stop-after", std::to_string(commands)};
  if (port.empty())
    args.insert(args.end(), {"--simulate", "--simulate-devices", std::to_string(devices), "--simulate-faults",
                             "line=" + std::to_string(baud)});
  else
    args.insert(args.end(), {"--port", port});
  if (!pause) args.insert(args.end(), {"--pause-ms", "0"});
  args.push_back(image);
  const bench::ProgramRun program = bench::RunProgram(KVR_LOADER_CLI, args);
  Run run;
  run.wall = program.wall;
  run.cpu = program.cpu;
  run.ms_per_command = bench::MsPerCommand(program.out);
  return run;
}

// The window: the switch pressed, the load runs for `seconds` at the real pause.
Run Window(const std::string& image, uint32_t baud, double seconds) {
  kvr::sim::DeviceOptions device_options;
  device_options.line_baud = baud;
  kvr::sim::PtyDevice device(device_options);
  const bench::WindowLoad load = bench::LoadByWindow(image, device, seconds);
  Run run;
  run.wall = load.wall;
  run.cpu = load.cpu;
  run.ms_per_command.push_back(load.commands ? load.wall * 1000 / static_cast<double>(load.commands) : 0);
  return run;
}

void Print(const char* who, const Run& run, double floor_ms) {
  for (size_t i = 0; i < run.ms_per_command.size(); ++i) {
    const double ms = run.ms_per_command[i];
    std::printf("%-22s %8.3f ms per command = %.4f x the floor (%.3f ms)", who, ms, ms / floor_ms, floor_ms);
    if (run.ms_per_command.size() > 1) std::printf("  load %zu", i + 1);
    std::printf("\n");
  }
  if (run.wall > 0)
    std::printf("%-22s %8.2f %% of a core (%.3f s CPU in %.1f s, the device's threads included)\n", "",
                100 * run.cpu / run.wall, run.cpu, run.wall);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const uint32_t baud = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 38400;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 20;
  QApplication app(argc, argv);
  QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  va::SetMainThread(
      std::make_shared<kvr::QtMainThread>([](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }));
  const std::string image = dir.path().toStdString() + "/LINE.KVR";
  const std::string text = kvr::sim::MakeUpdateFileText(9);
  kvr::sim::WriteFile(image, text);

  // The floor and the loads over the same first commands of a load.
  const size_t fast = static_cast<size_t>(seconds * 1000 / 12), paced = static_cast<size_t>(seconds * 1000 / 63);
  std::printf(
      "line rate %u baud, %.0f s a measurement (goals: command line 1.05 x at pause 0, 1.02 x at the real "
      "pause; window 1.02 x, 5 %% of a core; gang of 4 1.02 x each, 10 %% of a core)\n",
      baud, seconds);
  const double floor0 = FloorLoop(LoadCommands(text, fast), baud);
  const double floor_paced = FloorLoop(LoadCommands(text, paced), baud) + kPauseMs;
  std::printf("%-22s %8.3f ms per command (write a frame, read to CR); %.3f ms with the 51 ms pause\n", "floor", floor0,
              floor_paced);
  Print("command line, pause 0", CommandLine(image, baud, fast, false, 1), floor0);
  const Run cli = CommandLine(image, baud, paced, true, 1);
  Print("command line", cli, floor_paced);
  Print("window", Window(image, baud, seconds), floor_paced);
  Print("gang of 4", CommandLine(image, baud, paced, true, 4), floor_paced);
  {
    // Through a serial server on the loopback address, in front of the same kind of device.
    kvr::sim::DeviceOptions device_options;
    device_options.line_baud = baud;
    kvr::sim::PtyDevice device(device_options);
    kvr::sim::SerialServer server(device.SlavePath());
    if (server.Running()) {
      const double tcp_floor = FloorOverTcp(LoadCommands(text, fast), server.RawUrl());
      std::printf("%-22s %8.3f ms per command (the same loop over TCP through the server)\n", "floor, socket://",
                  tcp_floor);
      Print("socket://, pause 0", CommandLine(image, baud, fast, false, 1, server.RawUrl()), floor0);
      Print("rfc2217://, pause 0", CommandLine(image, baud, fast, false, 1, server.Rfc2217Url()), floor0);
    } else {
      std::printf("network ports: not measured (%s)\n", server.Why().c_str());
    }
  }
  if (!cli.ms_per_command.empty())
    std::printf("a full image (%d commands) at %u baud: %.1f min by the command line, %.1f min at the floor\n",
                kLoadCommands, baud, kLoadCommands * cli.ms_per_command[0] / 60000,
                kLoadCommands * floor_paced / 60000);
  va::SetMainThread(nullptr);
  return 0;
}
