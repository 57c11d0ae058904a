// Request/reply round trips over a pseudo-terminal: through the serial
// component (queued write, write thread, event thread, OnRxChar on the main
// thread, ReadBuf) against a plain blocking write/read loop on the same kind
// of pseudo-terminal, with the same far end; and through the component over
// the network, to a serial server (ser2net on the loopback address) in front
// of the same far end, raw (socket://) and with RFC 2217 (rfc2217://).
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "serial_server.h"
#include "va_comm.h"
#include "va_dispatch.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kFrame = "DL:0\xFA\r";
const std::string kReply = "PL0\r";

// A pseudo-terminal whose master answers every frame (ended by CR) with a reply.
class FarEnd {
 public:
  FarEnd() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
    slave_ = ptsname(master_);
    // Held open so that the master reads block until the far end is closed.
    holder_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    thread_ = std::thread([this] {
      char buf[256];
      for (;;) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;  // every slave descriptor is closed
        for (ssize_t i = 0; i < n; ++i)
          if (buf[i] == '\r' && write(master_, kReply.data(), kReply.size()) < 0) return;
      }
    });
  }
  // Call once the side under test has closed the slave.
  ~FarEnd() {
    close(holder_);
    thread_.join();
    close(master_);
  }
  const std::string& Slave() const { return slave_; }

 private:
  int master_;
  int holder_;
  std::string slave_;
  std::thread thread_;
};

double PlainLoop(int trips) {
  FarEnd far;
  const int fd = open(far.Slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
  const auto t0 = Clock::now();
  for (int i = 0; i < trips; ++i) {
    if (write(fd, kFrame.data(), kFrame.size()) != static_cast<ssize_t>(kFrame.size())) std::abort();
    size_t got = 0;
    char buf[64];
    while (got < kReply.size()) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) std::abort();
      got += static_cast<size_t>(n);
    }
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  close(fd);
  return trips / s;
}

enum class Way { kLocal, kSocket, kRfc2217 };

// Round trips per second; 0 when the serial server cannot be started.
double ComponentLoop(int trips, Way way = Way::kLocal) {
  FarEnd far;
  std::unique_ptr<kvr::sim::SerialServer> server;
  std::string name = far.Slave();
  if (way != Way::kLocal) {
    server = std::make_unique<kvr::sim::SerialServer>(far.Slave());
    if (!server->Running()) return 0;
    name = way == Way::kSocket ? server->RawUrl() : server->Rfc2217Url();
  }
  auto queue = std::make_shared<va::TVaCallQueue>();
  va::SetMainThread(queue);
  va::TVaComm comm;
  comm.ClosePause = [](uint32_t) {};
  comm.SetDeviceName(name);
  comm.SetBaudrate(va::br38400);
  comm.Buffers().SetReadTimeout(5000);
  comm.Buffers().SetWriteTimeout(0);
  size_t got = 0;
  comm.OnRxChar = [&](va::TVaObject*, int count) {
    char buf[64];
    got += static_cast<size_t>(comm.ReadBuf(buf, std::min(count, 64)));
  };
  comm.Open();
  const auto t0 = Clock::now();
  for (int i = 0; i < trips; ++i) {
    got = 0;
    comm.WriteBuf(kFrame.data(), static_cast<int>(kFrame.size()));
    while (got < kReply.size()) queue->ProcessMessages(100);
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  comm.Close();
  queue->Shutdown();
  va::SetMainThread(nullptr);
  return trips / s;
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::atoi(argv[1]) : 5000;
  // Alternate the two and keep the better run of each, so that a busy moment
  // of the machine does not decide the ratio.
  double plain = 0, component = 0, raw = 0, telnet = 0;
  for (int round = 0; round < 3; ++round) {
    plain = std::max(plain, PlainLoop(trips));
    component = std::max(component, ComponentLoop(trips));
    raw = std::max(raw, ComponentLoop(trips, Way::kSocket));
    telnet = std::max(telnet, ComponentLoop(trips, Way::kRfc2217));
  }
  std::printf("round trips (%d per run, best of 3): plain blocking loop %.0f/s, component %.0f/s\n", trips, plain,
              component);
  std::printf("ratio component / plain: %.2f (goal: at least 0.6)\n", component / plain);
  if (raw == 0 || telnet == 0) {
    std::printf("network: ser2net is not installed or did not start\n");
    return 0;
  }
  std::printf(
      "through ser2net on the loopback address: socket:// %.0f/s (%.3f ms each), rfc2217:// %.0f/s (%.3f ms each)\n",
      raw, 1000 / raw, telnet, 1000 / telnet);
  std::printf("ratio to the local port: socket:// %.2f, rfc2217:// %.2f\n", raw / component, telnet / component);
  return 0;
}
