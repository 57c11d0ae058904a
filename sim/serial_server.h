// A real network serial server for tests and benchmarks: Debian's ser2net, started on the
// loopback address in front of a pseudo-terminal, with one raw TCP port and
// one telnet port with the RFC 2217 com-port option.
#pragma once

#include <sys/types.h>

#include <string>

namespace kvr::sim {

class SerialServer {
 public:
  explicit SerialServer(const std::string& line_path);
  ~SerialServer();
  SerialServer(const SerialServer&) = delete;
  SerialServer& operator=(const SerialServer&) = delete;

  bool Installed() const { return installed_; }
  // False when ser2net is not installed or did not come up (the reason in Why).
  bool Running() const { return pid_ > 0; }
  const std::string& Why() const { return why_; }
  std::string RawUrl() const { return "socket://127.0.0.1:" + std::to_string(raw_port_); }
  std::string Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(telnet_port_); }
  // Ends the server (its connections drop).
  void Stop();

 private:
  std::string dir_;  // the server's configuration, log and pid file
  bool installed_ = false;
  pid_t pid_ = -1;
  int raw_port_ = 0, telnet_port_ = 0;
  std::string why_;
};

// A loopback TCP port that nothing listens on now.
int FreeLoopbackPort();

// A socket listening on a free loopback port (its number into `port`); -1
// when none could be made.
int ListenOnLoopback(int& port);

}  // namespace kvr::sim
