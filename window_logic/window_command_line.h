// The window's command line, read the same way by both hosts and by the rules
// of kvr-loader-cli (tool_options.h): --port takes one value each time it is
// given and may be repeated, options stand before or after the file, "--" ends
// the options, and an option of one value given twice is refused. A mistake is
// named on standard error and the program exits with kWindowUsageExit; --help
// and --version print on standard output and exit 0.
//   kvr-loader [FILE.KVR] [--simulate] [--port PORT]... [--fast] [--autostart] [--exit-at-end]
//              [--record FILE] [--trace FILE] [host's own options]
//   kvr-loader --set-record FILE | --help | --version
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "stored_settings.h"

namespace kvr {

inline constexpr int kWindowUsageExit = 2;

// What the options ask of this start.
struct WindowCommandLine {
  std::string file;               // opened at start as if chosen in the dialog; "" for none
  std::vector<std::string> ports;  // listed first and preselected, in this order
  bool simulate = false, fast = false, autostart = false, exit_at_end = false;
  std::optional<std::string> record;      // --record: this start's record file (never "")
  std::optional<std::string> set_record;  // --set-record: the file to store ("" stops recording)
  std::string trace;                      // --trace's file; "" for none
  std::string screenshot;                 // --screenshot's picture; "" for none
  int screenshot_page = 0;                // the page at which it is taken
};

// What one host's command line says its own way.
struct WindowCommandLineHost {
  std::string version;        // --version's line: "kvr-loader 1.0.0"
  std::string simulate_help;  // where --simulate runs the simulated boot loader
  std::string port_name;      // --port's placeholder: PATH, NAME
  std::string port_help;
  std::string port_missing;  // what an empty --port lacks: "a device path"
  std::string trace_help;    // what --trace writes
  std::string exit_codes;    // the help's last paragraph
  bool screenshot = false;   // --screenshot FILE.png and --screenshot-page N
};

// The window hosts: Qt (its --simulate behind a pseudo-terminal, pictures
// of the window) and Win32 (its --simulate inside the program, a trace of
// what the window shows).
enum class WindowHost { kQt, kWin32 };

// What `host`'s command line says its own way.
WindowCommandLineHost CommandLineHostOf(WindowHost host);

// Reads `args` (the program's arguments after its name, in UTF-8) into `asked`.
// Returns the exit code when the program ends here: 0 after --help or
// --version, kWindowUsageExit after a mistake; nothing to go on.
std::optional<int> ParseWindowCommandLine(const std::vector<std::string>& args, const WindowCommandLineHost& host,
                                          WindowCommandLine& asked);

// --set-record: stores `file` as the record file of every later start (as a
// full path: the folder the window starts in changes; "" stops recording) and
// says so on standard output. The file is checked (and made, empty) as a load
// checks it first. Returns the exit code: 0, or kWindowUsageExit when it
// could not be taken or stored.
int StoreRecordFile(StoredSettings& settings, const std::string& file);

// The line rate the simulated device of --simulate keeps, on every system: a
// real 38400-baud line's timing, or none with --fast (0), which skips the
// protocol's pauses too.
inline uint32_t SimulatedLineBaud(const WindowCommandLine& asked) { return asked.fast ? 0 : 38400; }

// The record file of this start: --record's, else the stored one.
std::string RecordFileOf(const WindowCommandLine& asked, const StoredSettings& settings);

}  // namespace kvr
