#include "window_command_line.h"

#include <filesystem>
#include <iostream>

#include "load_record.h"
#include "tool_options.h"
#include "window_texts.h"

namespace kvr {
namespace {

constexpr char kProgram[] = "kvr-loader";
constexpr int kLastPage = 2304;

int Refuse(const std::string& problem) {
  ReportRefusal(kProgram, problem);
  return kWindowUsageExit;
}

}  // namespace

WindowCommandLineHost CommandLineHostOf(WindowHost which) {
  const bool qt = which == WindowHost::kQt;
  WindowCommandLineHost host;
  host.version = "kvr-loader " KVR_VERSION;
  host.simulate_help = qt ? "Run the simulated boot loader behind a pseudo-terminal; its port is listed first and "
                            "preselected."
                          : "Run the simulated boot loader inside the program; its port SIM is listed first and "
                            "preselected.";
  host.port_name = qt ? "PATH" : "NAME";
  host.port_help = qt ? "List PATH first in the port list and preselect it (may be repeated)."
                      : "List NAME (COM3, ...) first in the port list and preselect it (may be repeated).";
  host.port_missing = qt ? "a device path" : "a port name";
  host.trace_help = qt ? "Write the controls' places to FILE once the window is up (for tests)."
                       : "Write what the window shows, a line each, to FILE (for tests).";
  host.exit_codes = std::string(
                        "Exit codes: 0 the window was closed, or with --exit-at-end the load completed (and, with "
                        "--simulate, the device's\nimage equals the file); 1 with --exit-at-end, the load did not "
                        "complete or the image differs (the reason on\nstandard error); 2 a mistake in the options") +
                    (qt ? ", or no display.\n" : ".\n");
  host.screenshot = qt;
  return host;
}

std::optional<int> ParseWindowCommandLine(const std::vector<std::string>& args, const WindowCommandLineHost& host,
                                          WindowCommandLine& asked) {
  CLI::App app(kWindowCaption, kProgram);
  app.set_version_flag("-v,--version", host.version, "Show the version and exit.");
  app.set_help_flag("-h,--help", "Show this help and exit.");
  app.footer(host.exit_codes);
  app.add_option("FILE.KVR", asked.file, "Update file opened at start, as if chosen in the dialog.");
  app.add_flag("--simulate", asked.simulate, host.simulate_help);
  app.add_option("--port", asked.ports, host.port_help)
      ->type_name(host.port_name)
      ->allow_extra_args(false);  // one port per --port: the file may follow
  app.add_flag("--fast", asked.fast,
               "Skip the protocol's pauses and, with --simulate, the simulated line's timing (the reply time-outs "
               "still run in real time).");
  app.add_flag("--autostart", asked.autostart, "Press the start switch once the window is up.");
  app.add_flag("--exit-at-end", asked.exit_at_end,
               "Quit when the load ends (exit code 0 when it completed and, with --simulate, the device's image "
               "equals the file).");
  std::string record, set_record;
  CLI::Option* record_option = app.add_option("--record", record,
                                              "Append a record of each load to FILE (one JSON line per load; read it "
                                              "with kvr-loader-cli records FILE). Without it, the stored record file "
                                              "is used.")
                                   ->type_name("FILE");
  CLI::Option* set_record_option =
      app.add_option("--set-record", set_record,
                     "Store FILE as the record file of every later start (\"\" stops recording) and exit.")
          ->type_name("FILE");
  set_record_option->excludes(record_option);
  if (host.screenshot) {
    app.add_option("--screenshot", asked.screenshot,
                   "Save a picture of the window to FILE.png when the load reaches --screenshot-page.")
        ->type_name("FILE.png");
    app.add_option("--screenshot-page", asked.screenshot_page, "The page (0..2304) at which --screenshot is taken.")
        ->type_name("N")
        ->check(WholeNumber(0, kLastPage));
  }
  app.add_option("--trace", asked.trace, host.trace_help)->type_name("FILE");

  if (const std::optional<int> ended = ParseToolOptions(app, args)) return *ended == 0 ? 0 : kWindowUsageExit;
  for (const std::string& port : asked.ports)
    if (port.empty()) return Refuse("--port needs " + host.port_missing);
  if (record_option->count()) {
    if (record.empty()) return Refuse("--record needs a file name");
    asked.record = record;
  }
  if (set_record_option->count()) asked.set_record = set_record;
  return std::nullopt;
}

int StoreRecordFile(StoredSettings& settings, const std::string& file) {
  std::string stored;
  if (!file.empty()) {
    // Links and ".." resolved as far as the path exists.
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(Utf8Path(file), ec);
    if (ec) full = Utf8Path(file);
    const std::filesystem::path real = std::filesystem::weakly_canonical(full, ec);
    if (!ec) full = real;
    const std::u8string text = full.u8string();
    stored.assign(text.begin(), text.end());
    // What every load would check first, checked now: a file the loads could
    // not be recorded in is not stored.
    if (const base::Status checked = CheckRecordFile(stored, "", ""); !checked) return Refuse(checked.error().text);
  }
  if (!settings.SetRecordFile(stored)) return Refuse("the setting could not be stored in " + settings.Place());
  std::cout << (stored.empty() ? std::string("loads are no longer recorded") : "loads are recorded in " + stored)
            << "\n";
  return 0;
}

std::string RecordFileOf(const WindowCommandLine& asked, const StoredSettings& settings) {
  return asked.record ? *asked.record : settings.RecordFile();
}

}  // namespace kvr
