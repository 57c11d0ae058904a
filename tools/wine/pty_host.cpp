// kvr-ptyhost: the native far end of a Windows program under Wine. It makes a
// pseudo-terminal, points a Wine COM port at it (a symbolic link in the
// prefix's dosdevices folder) and plays one of two devices:
//
//   kvr-ptyhost echo LINK
//     sends back every byte; the text "~HANGUP~" closes the far end instead
//     (the program sees the device vanish), and after 300 ms a fresh
//     pseudo-terminal takes the link over.
//   kvr-ptyhost device LINK FILE.KVR
//     the simulated boot loader; when standard input closes it prints whether
//     its image equals the file (exit 0 when equal).
//
// "ready" on standard output means the link is in place.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "pty_device.h"
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

int Device(const std::string& link, const std::string& file) {
  kvr::sim::PtyDevice device;
  if (!Link(device.SlavePath(), link)) {
    std::perror("kvr-ptyhost: link");
    return 1;
  }
  std::cout << "ready" << std::endl;
  char c;
  while (read(0, &c, 1) > 0) {
  }
  const bool equal = kvr::sim::ImageEqualsFile(device.Image(), file);
  std::cout << "device: " << device.FramesReceived() << " frames, image "
            << (equal ? "equal to the file" : "NOT equal to the file") << std::endl;
  return equal ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "echo" && argc == 3) return Echo(argv[2]);
  if (mode == "device" && argc == 4) return Device(argv[2], argv[3]);
  std::cerr << "usage: kvr-ptyhost echo LINK | kvr-ptyhost device LINK FILE.KVR\n";
  return 2;
}
