// A window program's start as its command line asks, the same on both
// hosts: the file given is opened, --autostart presses the switch once the
// window is up, and --exit-at-end ends the program when the load ends (or
// soon after the start, when nothing started one).
#pragma once

#include <functional>
#include <string>

#include "loader_window_logic.h"
#include "stored_settings.h"
#include "window_command_line.h"

namespace kvr {

// The window's options the command line sets: no pauses with --fast, the
// program named in each record, the record file.
WindowOptions WindowOptionsFor(const WindowCommandLine& asked, const StoredSettings& settings);

// What the host's loop does for the start.
struct WindowLoop {
  std::function<void(int ms, std::function<void()> job)> after;  // runs `job` in the loop `ms` from now
  std::function<void()> quit;                                    // ends the loop (the window closes)
};

// Sets `logic` going as `asked` says. `exit_code` (which outlives the window)
// becomes 1 when the load does not end as asked (LoadEndVerdict), or when
// --exit-at-end finds that no load was started.
void StartAsAsked(LoaderWindowLogic& logic, const WindowCommandLine& asked, const WindowLoop& loop, int& exit_code);

}  // namespace kvr
