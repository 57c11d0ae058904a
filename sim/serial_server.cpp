#include "serial_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kvr::sim {

namespace {

// Whether something listens on the loopback port, seen in the kernel's table
// rather than by connecting: a connection would make the server open its line.
bool Listening(int port) {
  std::ifstream table("/proc/net/tcp");
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == want && state == "0A") return true;  // TCP_LISTEN
  }
  return false;
}

}  // namespace

int ListenOnLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

int FreeLoopbackPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port);
  if (fd < 0) return 0;
  close(fd);
  return port;
}

SerialServer::SerialServer(const std::string& line_path) {
  const std::string program = "/usr/sbin/ser2net";
  if (access(program.c_str(), X_OK) != 0) {
    why_ = "ser2net is not installed";
    return;
  }
  char folder[] = "/tmp/kvr-ser2net.XXXXXX";
  if (!mkdtemp(folder)) {
    why_ = "no folder for the server's files";
    return;
  }
  dir_ = folder;
  installed_ = true;
  // A free port may be taken by someone else before the server binds it:
  // then again with others.
  for (int attempt = 0; attempt < 3; ++attempt) {
    raw_port_ = FreeLoopbackPort();
    do telnet_port_ = FreeLoopbackPort();
    while (telnet_port_ == raw_port_);
    const std::string config = dir_ + "/ser2net.yaml", log = dir_ + "/ser2net.log";
    // chardelay off: the server passes bytes on as they come instead of
    // gathering them for a character time of the line's rate.
    std::ofstream(config) << "connection: &rfc2217\n"
                          << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnet_port_ << "\n"
                          << "  connector: serialdev," << line_path << ",38400n81,local\n"
                          << "  options:\n    kickolduser: true\n    chardelay: false\n"
                          << "connection: &raw\n"
                          << "  accepter: tcp,127.0.0.1," << raw_port_ << "\n"
                          << "  connector: serialdev," << line_path << ",38400n81,local\n"
                          << "  options:\n    kickolduser: true\n    chardelay: false\n";
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      execl(program.c_str(), "ser2net", "-n", "-d", "-c", config.c_str(), "-P", (dir_ + "/ser2net.pid").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {  // up to 5 s
      if (Listening(raw_port_) && Listening(telnet_port_)) return;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;  // ended (a port taken): nothing to stop
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
  }
  why_ = "ser2net did not come up";
}

SerialServer::~SerialServer() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

void SerialServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  bool reaped = false;
  for (int i = 0; i < 300 && !(reaped = waitpid(pid_, nullptr, WNOHANG) == pid_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!reaped) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

}  // namespace kvr::sim
