// kvr-loader.exe: the DATAFLASH loader's window on Windows.
//   kvr-loader [FILE.KVR] [--simulate] [--port NAME]... [--fast] [--autostart] [--exit-at-end]
//              [--record FILE] [--trace FILE]
//   kvr-loader --set-record FILE | --help | --version
// As the Linux window, except that --simulate runs the simulated boot loader
// inside the program (Windows has no pseudo-terminals) on the port "SIM".
// --trace writes what the window shows (status line, switch, progress, messages
// and questions) and the controls' places to FILE, a line each, for tests.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "gdi_text_painter.h"
#include "line_device.h"
#include "load_end_verdict.h"
#include "loader_window_win32.h"
#include "registry_settings.h"
#include "tool_options.h"
#include "update_file_maker.h"
#include "utf8_files.h"
#include "win32_flash_timer.h"
#include "win32_main_thread.h"
#include "window_texts.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <commctrl.h>
#include <timeapi.h>

namespace {

constexpr int kOptionsMistake = 2;

const char* kExitCodes =
    "Exit codes: 0 the window was closed, or with --exit-at-end the load completed (and, with --simulate, the "
    "device's\nimage equals the file); 1 with --exit-at-end, the load did not complete or the image differs (the "
    "reason on\nstandard error); 2 a mistake in the options.\n";

struct Options {
  bool simulate = false, fast = false, autostart = false, exit_at_end = false;
  std::string file, record, set_record, trace;
  std::vector<std::string> ports;
};

// A program of the window subsystem has no console of its own: its output
// goes to the one it was started from, if any.
void UseParentConsole() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE) return;  // already redirected (a pipe, a file)
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
  std::cout.clear();
  std::cerr.clear();
}

int ParseOptions(int argc, char** argv, Options& o) {
  CLI::App app(kvr::kWindowCaption, "kvr-loader");
  app.set_version_flag("-v,--version", "kvr-loader " KVR_VERSION, "Show the version and exit.");
  app.set_help_flag("-h,--help", "Show this help and exit.");
  app.footer(kExitCodes);
  app.add_option("FILE.KVR", o.file, "Update file opened at start, as if chosen in the dialog.");
  app.add_flag("--simulate", o.simulate,
               "Run the simulated boot loader inside the program; its port SIM is listed first and preselected.");
  app.add_option("--port", o.ports, "List NAME (COM3, ...) first in the port list and preselect it (may be repeated).")
      ->type_name("NAME")
      ->check(CLI::Validator([](std::string& v) { return v.empty() ? "--port needs a port name" : ""; }, ""));
  app.add_flag("--fast", o.fast, "Skip the protocol's pauses (the reply time-outs still run in real time).");
  app.add_flag("--autostart", o.autostart, "Press the start switch once the window is up.");
  app.add_flag("--exit-at-end", o.exit_at_end,
               "Quit when the load ends (exit code 0 when it completed and, with --simulate, the device's image "
               "equals the file).");
  CLI::Option* record = app.add_option("--record", o.record,
                                       "Append a record of each load to FILE (one JSON line per load; read it with "
                                       "kvr-loader-cli records FILE). Without it, the stored record file is used.")
                            ->type_name("FILE");
  CLI::Option* set_record =
      app.add_option("--set-record", o.set_record,
                     "Store FILE as the record file of every later start (\"\" stops recording) and exit.")
          ->type_name("FILE");
  set_record->excludes(record);
  app.add_option("--trace", o.trace, "Write what the window shows, a line each, to FILE (for tests).")
      ->type_name("FILE");
  const int code = kvr::ParseToolOptions(app, argc, argv);
  if (code > 0) return kOptionsMistake;
  if (code == 0) return 0;
  if (record->count() && o.record.empty()) {
    kvr::ReportRefusal("kvr-loader", "--record needs a file name");
    return kOptionsMistake;
  }
  if (set_record->count()) {
    std::string stored;
    if (!o.set_record.empty()) {
      // Stored for every later start: a relative name would change with the folder the window starts in.
      const std::u8string full = kvr::RealPath(o.set_record).u8string();
      stored.assign(full.begin(), full.end());
    }
    kvr::RegistrySettings settings;
    if (!settings.SetRecordFile(stored)) {
      kvr::ReportRefusal("kvr-loader", "the setting could not be stored in the registry");
      return kOptionsMistake;
    }
    std::cout << (stored.empty() ? std::string("loads are no longer recorded") : "loads are recorded in " + stored)
              << "\n";
    return 0;
  }
  return -1;
}

// The trace file: each line written whole at once.
class TraceFile {
 public:
  explicit TraceFile(const std::string& path) {
    if (!path.empty()) file_ = base::OpenFile(path, "wb");
  }
  ~TraceFile() {
    if (file_) std::fclose(file_);
  }
  bool Failed(const std::string& path) const { return !path.empty() && !file_; }
  void Line(const std::string& line) {
    if (!file_) return;
    std::fputs((line + "\n").c_str(), file_);
    std::fflush(file_);
  }

 private:
  FILE* file_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  UseParentConsole();
  Options o;
  if (const int code = ParseOptions(argc, argv, o); code >= 0) return code;
  TraceFile trace(o.trace);
  if (trace.Failed(o.trace)) {
    kvr::ReportRefusal("kvr-loader", "--trace: " + o.trace + " cannot be written");
    return kOptionsMistake;
  }

  // The protocol's pauses and time-outs sleep: at the system's default
  // timer step (15.6 ms) each would last up to a step longer.
  timeBeginPeriod(1);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                      ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  ab::win32::UseSystemColors();
  ab::win32::StartFlashTimer();

  HWND owner = nullptr;
  auto report = [&](const std::string& text) {
    std::cerr << text << std::endl;
    if (!o.exit_at_end)
      MessageBoxW(owner, base::Wide(text).c_str(), base::Wide(kvr::kApplicationTitle).c_str(),
                  MB_OK | MB_ICONERROR);
  };
  auto main_thread = std::make_shared<kvr::Win32MainThread>(report);
  va::SetMainThread(main_thread);

  kvr::WindowOptions options;
  kvr::Win32WindowOptions win32;
  win32.report = report;
  if (o.exit_at_end) win32.message = [](const std::string& text) { std::cerr << text << std::endl; };
  kvr::RegistrySettings settings;  // HKEY_CURRENT_USER\SOFTWARE\ZENOVA, open for the life of the program
  win32.stored_port_index = [&settings] { return settings.PortIndex(); };
  if (!o.trace.empty()) win32.trace = [&trace](const std::string& line) { trace.Line(line); };
  kvr::SkippedPauseTicks fast_ticks;
  if (o.fast) options.ticks = &fast_ticks;
  options.tool = "kvr-loader " KVR_VERSION;
  options.record_file = o.record.empty() ? settings.RecordFile() : o.record;
  std::unique_ptr<kvr::sim::InProcessDevice> device;
  if (o.simulate) {
    device = std::make_unique<kvr::sim::InProcessDevice>();
    options.open_device = device->Opener();
    options.first_ports.push_back(kvr::sim::kSimulatedPortName);
  }
  for (const std::string& p : o.ports) options.first_ports.push_back(p);

  int exit_code = 0;
  {
    kvr::LoaderWindowWin32 window(options, win32);
    owner = window.Handle();
    kvr::LoaderWindowLogic& logic = window.Logic();
    if (!o.file.empty()) logic.OpenFile(o.file);
    logic.OnLoadEnded = [&](kvr::LoadResult result, const std::string& message) {
      std::function<bool()> device_image_equal;
      if (device && logic.LoadPort() == kvr::sim::kSimulatedPortName)
        device_image_equal = [&] { return kvr::sim::ImageEqualsFile(device->Image(), logic.FilePath()); };
      if (kvr::LoadEndVerdict(logic, result, message, o.exit_at_end, device_image_equal) != 0) exit_code = 1;
      if (o.exit_at_end) window.After(0, [&window] { DestroyWindow(window.Handle()); });
    };
    window.Show();
    if (o.autostart) window.After(200, [&logic] { logic.StartSwitchClicked(); });
    if (o.exit_at_end && !o.autostart) {
      // Nothing starts a load by itself: the program ends once the window is up.
      window.After(1000, [&] {
        if (logic.LoadRuns() || logic.LastResult() != kvr::LoadResult::kIdle) return;
        exit_code = 1;
        std::cerr << "kvr-loader: the load did not complete (no load was started)" << std::endl;
        DestroyWindow(window.Handle());
      });
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // The loop is over: the port's threads no longer wait for this thread.
    main_thread->Shutdown();
    owner = nullptr;
  }
  ab::win32::StopFlashTimer();
  va::SetMainThread(nullptr);
  timeEndPeriod(1);
  return exit_code;
}
