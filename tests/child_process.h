// Runs a program as a child process with a time limit, optionally sending it a
// signal after a delay, and captures its standard output and error.
#pragma once

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

namespace kvr::test {

struct ChildOptions {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::string cwd;                // empty: the current folder
  int uid = -1;                   // >= 0 (when run by root): run as this user and group, without other groups
  std::vector<std::string> env;   // NAME=value entries that replace or add to the inherited environment
  int signal_after_ms = 0;        // > 0: send `sig` once the child has run this long
  int sig = SIGINT;
  bool own_group = false;  // the child leads a process group of its own; the signal and the kill go to all of it
  int limit_ms = 240000;   // then the child is killed (code -2)
  // Called each time the child's standard error has grown, with the child's
  // process id and all it wrote there so far (to act on what it says).
  std::function<void(pid_t pid, const std::string& err)> watch;
};

struct ChildResult {
  int code = -1;           // the exit code; 128 + the signal when killed by one; -2 when killed at the limit
  int term_signal = 0;     // the signal that ended it, 0 when it exited
  bool signalled = false;  // `sig` was sent (the child was still running then)
  std::string out, err;
  double seconds = 0;
  double cpu_seconds = 0;  // user + system time of the child (and of its children it waited for)
};

ChildResult RunChild(const ChildOptions& options);

}  // namespace kvr::test
