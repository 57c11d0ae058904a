// kvr-ptyhost: the native far end of a Windows program under Wine. It makes a
// pseudo-terminal, points a Wine COM port at it (a symbolic link in the
// prefix's dosdevices folder) and plays one of two devices:
//
//   kvr-ptyhost echo LINK
//     sends back every byte; the text "~HANGUP~" closes the far end instead
//     (the program sees the device vanish), and after 300 ms a fresh
//     pseudo-terminal takes the link over.
//   kvr-ptyhost device LINK FILE.KVR [--line-baud N] [--serial-server]
//     the simulated boot loader (with --line-baud at a real line's timing);
//     when standard input closes it prints the frames it took, the time from
//     the first to the last, and whether its image equals the file (exit 0
//     when equal) or else the first line that differs. An "h" on standard
//     input hangs the device up (the program sees the port vanish). With
//     --serial-server a network serial server (ser2net on the loopback
//     address) stands in front of the device: "server RAW-URL RFC2217-URL"
//     names its ports, and an "s" on standard input stops it.
//   kvr-ptyhost silent
//     listens on a free loopback port, "ready PORT", and never says a word
//     to whoever connects, until standard input closes.
//
// "ready" on standard output means the link (or the server) is in place.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "pty_device.h"
#include "serial_server.h"
#include "update_file_maker.h"

namespace {

constexpr char kHangup[] = "~HANGUP~";

bool Link(const std::string& target, const std::string& link) {
  const std::string tmp = link + ".new";
  unlink(tmp.c_str());
  return symlink(target.c_str(), tmp.c_str()) == 0 && rename(tmp.c_str(), link.c_str()) == 0;
}

void ClosePty(kvr::sim::RawPty& pty) {
  close(pty.holder);
  close(pty.master);
}

int Echo(const std::string& link) {
  bool announced = false;
  for (;;) {
    kvr::sim::RawPty pty;
    try {
      pty = kvr::sim::OpenRawPty();
    } catch (const std::exception& e) {
      std::cerr << "kvr-ptyhost: " << e.what() << "\n";
      return 1;
    }
    if (!Link(pty.slave_path, link)) {
      std::perror("kvr-ptyhost: link");
      return 1;
    }
    if (!announced) {
      std::cout << "ready" << std::endl;
      announced = true;
    }
    std::string recent;  // the tail of what came, to spot the hang-up text across reads
    for (;;) {
      pollfd p[2] = {{pty.master, POLLIN, 0}, {0, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents) {
        char c;
        if (read(0, &c, 1) <= 0) return 0;  // the driver is done
      }
      if (!(p[0].revents & POLLIN)) continue;
      char buf[4096];
      const ssize_t n = read(pty.master, buf, sizeof buf);
      if (n <= 0) continue;
      recent.append(buf, static_cast<size_t>(n));
      const size_t at = recent.find(kHangup);
      if (at != std::string::npos) break;
      if (recent.size() > sizeof kHangup) recent.erase(0, recent.size() - sizeof kHangup);
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(pty.master, buf + done, static_cast<size_t>(n - done));
        if (w > 0) done += w;
        else poll(nullptr, 0, 1);
      }
    }
    ClosePty(pty);
    usleep(300 * 1000);
  }
}

// The first 16-byte line where `image` and the file's image differ, as
// "line N: HEX"; "" when none does.
std::string FirstDifference(const std::vector<uint8_t>& image, const std::string& file) {
  const std::vector<uint8_t> wanted = kvr::sim::ImageFromUpdateText(kvr::sim::ReadFile(file));
  for (size_t line = 0; line * 16 < std::min(image.size(), wanted.size()); ++line) {
    if (std::equal(image.begin() + line * 16, image.begin() + line * 16 + 16, wanted.begin() + line * 16)) continue;
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = line * 16; i < line * 16 + 16; ++i) hex += {kHex[image[i] >> 4], kHex[image[i] & 15]};
    return "line " + std::to_string(line) + ": " + hex;
  }
  return "";
}

int Device(const std::string& link, const std::string& file, uint32_t line_baud, bool serial_server) {
  kvr::sim::DeviceOptions options;
  options.line_baud = line_baud;
  kvr::sim::PtyDevice device(options);
  if (!Link(device.SlavePath(), link)) {
    std::perror("kvr-ptyhost: link");
    return 1;
  }
  std::unique_ptr<kvr::sim::SerialServer> server;
  if (serial_server) {
    server = std::make_unique<kvr::sim::SerialServer>(device.SlavePath());
    if (!server->Running()) {
      std::cerr << "kvr-ptyhost: no serial server: " << server->Why() << "\n";
      return 1;
    }
    std::cout << "server " << server->RawUrl() << " " << server->Rfc2217Url() << std::endl;
  }
  std::cout << "ready " << device.SlavePath() << std::endl;
  // The frames are watched every 2 ms for the time from the first to the last.
  using Clock = std::chrono::steady_clock;
  Clock::time_point first{}, last{};
  uint64_t frames = 0;
  for (;;) {
    pollfd p{0, POLLIN, 0};
    const int ready = poll(&p, 1, 2);
    const uint64_t now_frames = device.FramesReceived();
    if (now_frames != frames) {
      if (frames == 0) first = Clock::now();
      last = Clock::now();
      frames = now_frames;
    }
    if (ready <= 0) continue;
    char c;
    if (read(0, &c, 1) <= 0) break;
    if (c == 'h') device.Hangup();
    if (c == 's' && server) server->Stop();
  }
  const std::vector<uint8_t> image = device.Image();
  const bool equal = kvr::sim::ImageEqualsFile(image, file);
  const double span = std::chrono::duration<double>(last - first).count();
  std::cout << "device: " << device.FramesReceived() << " frames, " << std::fixed << std::setprecision(3) << span
            << " s from the first to the last, image " << (equal ? "equal to the file" : "NOT equal to the file")
            << std::endl;
  if (!equal) std::cout << "first difference: " << FirstDifference(image, file) << std::endl;
  return equal ? 0 : 1;
}

// A loopback listener that takes connections (the system completes them)
// and never answers.
int Silent() {
  int port = 0;
  const int listener = kvr::sim::ListenOnLoopback(port);
  if (listener < 0) {
    std::perror("kvr-ptyhost: listen");
    return 1;
  }
  std::cout << "ready " << port << std::endl;
  char c;
  while (read(0, &c, 1) > 0) {
  }
  close(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  CLI::App app("the native far end of a Windows program's COM port under Wine", "kvr-ptyhost");
  app.require_subcommand(1);
  std::string link, file;
  uint32_t line_baud = 0;
  bool serial_server = false;
  CLI::App* echo = app.add_subcommand("echo", "send back every byte");
  echo->add_option("LINK", link, "the COM port's link in dosdevices")->required();
  CLI::App* device = app.add_subcommand("device", "the simulated boot loader");
  device->add_option("LINK", link, "the COM port's link in dosdevices")->required();
  device->add_option("FILE", file, "the update file the image is checked against")->required();
  device->add_option("--line-baud", line_baud, "a real line's timing at this rate");
  device->add_flag("--serial-server", serial_server, "a network serial server in front of the device");
  CLI::App* silent = app.add_subcommand("silent", "a loopback listener that never answers");
  CLI11_PARSE(app, argc, argv);
  if (echo->parsed()) return Echo(link);
  if (silent->parsed()) return Silent();
  return Device(link, file, line_baud, serial_server);
}
