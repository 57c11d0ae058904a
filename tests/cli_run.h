// Runs the command line (or another of the built tools) as a child process.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "child_process.h"

namespace kvr {

using Result = test::ChildResult;

// Runs a tool (the command line by default) in `cwd` (or here), as the user
// `uid` (>= 0, when run by root); `signal_after_ms` > 0 sends `sig` after that long.
inline Result RunTool(const std::vector<std::string>& args, int signal_after_ms = 0, int limit_ms = 240000,
                      int sig = SIGINT, const std::string& tool = KVR_LOADER_CLI, const std::string& cwd = "",
                      int uid = -1) {
  test::ChildOptions o;
  o.argv = {tool};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.cwd = cwd;
  o.uid = uid;
  o.signal_after_ms = signal_after_ms;
  o.sig = sig;
  o.limit_ms = limit_ms;
  return test::RunChild(o);
}

}  // namespace kvr
