// kvr-loader.exe: the DATAFLASH loader's window on Windows.
//   kvr-loader [FILE.KVR] [--simulate] [--port NAME]... [--fast] [--autostart] [--exit-at-end]
//              [--record FILE] [--trace FILE]
//   kvr-loader --set-record FILE | --help | --version
// As the Linux window, except that --simulate runs the simulated boot loader
// inside the program (Windows has no pseudo-terminals) on the port "SIM".
// --trace writes what the window shows (status line, switch, progress, messages
// and questions) and the controls' places to FILE, a line each, for tests.
// The options are read by the rules both windows share (window_command_line.h).
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "gdi_text_painter.h"
#include "line_device.h"
#include "loader_window_win32.h"
#include "program_arguments.h"
#include "registry_settings.h"
#include "tool_options.h"
#include "update_file_maker.h"
#include "utf8_files.h"
#include "win32_flash_timer.h"
#include "win32_main_thread.h"
#include "window_command_line.h"
#include "window_start.h"
#include "window_texts.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <commctrl.h>
#include <timeapi.h>

namespace {

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
  kvr::WindowCommandLine asked;
  if (const std::optional<int> ended = kvr::ParseWindowCommandLine(
          kvr::Utf8Arguments(argc, argv), kvr::CommandLineHostOf(kvr::WindowHost::kWin32), asked))
    return *ended;
  kvr::RegistrySettings settings;  // HKEY_CURRENT_USER\SOFTWARE\ZENOVA, open for the life of the program
  if (asked.set_record) return kvr::StoreRecordFile(settings, *asked.set_record);
  TraceFile trace(asked.trace);
  if (trace.Failed(asked.trace)) {
    kvr::ReportRefusal("kvr-loader", "--trace: " + asked.trace + " cannot be written");
    return kvr::kWindowUsageExit;
  }

  // The load's deadlines and the port's waits end on the system's timer
  // step: at its default (15.6 ms) each would last up to a step longer.
  timeBeginPeriod(1);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                      ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  ab::win32::UseSystemColors();
  ab::win32::StartFlashTimer();

  HWND owner = nullptr;
  auto report = [&](const std::string& text) {
    std::cerr << text << std::endl;
    if (!asked.exit_at_end)
      MessageBoxW(owner, base::Wide(text).c_str(), base::Wide(kvr::kApplicationTitle).c_str(),
                  MB_OK | MB_ICONERROR);
  };
  auto main_thread = std::make_shared<kvr::Win32MainThread>(report);
  va::SetMainThread(main_thread);

  kvr::WindowOptions options = kvr::WindowOptionsFor(asked, settings);
  kvr::Win32WindowOptions win32;
  win32.report = report;
  if (asked.exit_at_end) win32.message = [](const std::string& text) { std::cerr << text << std::endl; };
  win32.stored_port_index = [&settings] { return settings.PortIndex(); };
  if (!asked.trace.empty()) win32.trace = [&trace](const std::string& line) { trace.Line(line); };
  std::unique_ptr<kvr::sim::InProcessDevice> device;
  if (asked.simulate) {
    device =
        std::make_unique<kvr::sim::InProcessDevice>(kvr::sim::LineDeviceOptions{{}, kvr::SimulatedLineBaud(asked) > 0});
    options.open_device = device->Opener();
    options.first_ports.push_back(kvr::sim::kSimulatedPortName);
    options.check_device = [&device](const std::string& port, const std::string& text) -> std::optional<bool> {
      if (port != kvr::sim::kSimulatedPortName) return std::nullopt;
      return kvr::sim::ImageEqualsText(device->Image(), text);
    };
  }
  for (const std::string& p : asked.ports) options.first_ports.push_back(p);

  int exit_code = 0;
  {
    kvr::LoaderWindowWin32 window(options, win32);
    owner = window.Handle();
    const kvr::WindowLoop loop{[&window](int ms, std::function<void()> job) { window.After(ms, std::move(job)); },
                               [&window] { DestroyWindow(window.Handle()); }};
    kvr::StartAsAsked(window.Logic(), asked, loop, exit_code);
    window.Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (window.NavigationMessage(&msg)) continue;
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
