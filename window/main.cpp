// kvr-loader: the DATAFLASH loader's window.
//   kvr-loader [FILE.KVR] [--simulate] [--port PATH]... [--fast] [--autostart] [--exit-at-end]
//              [--record FILE] [--screenshot FILE.png --screenshot-page N] [--trace FILE]
//   kvr-loader --set-record FILE | --help | --version
// FILE is opened at start as if chosen in the dialog. --simulate runs the
// simulated boot loader behind a pseudo-terminal, lists its port first and
// preselects it. --fast skips the protocol's pauses. --autostart presses the
// start switch once the window is up; --exit-at-end quits when the load ends
// (exit code 0 when the load completed and, with --simulate, the device's
// image equals the file; 1 with the reason on standard error otherwise).
// --record appends a record of each load to FILE; --set-record stores FILE
// as the record file of every later start ("" stops recording). --trace
// writes the controls' places once the window is up to FILE, a line each
// ("layout NAME X Y W H"), for tests that compare windows. The options are
// read by the rules both windows share (window_command_line.h).
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "loader_window.h"
#include "program_arguments.h"
#include "qt_flash_timer.h"
#include "qt_main_thread.h"
#include "tool_options.h"
#include "update_file_maker.h"
#include "utf8_files.h"
#include "window_command_line.h"
#include "window_start.h"
#include "window_texts.h"
#ifdef _WIN32
#include "registry_settings.h"
#else
#include "pty_device.h"
#include "qt_stored_settings.h"
#endif

namespace {

// The client area's place on the screen and each control's within it.
void WriteLayout(kvr::LoaderWindow& window, const std::string& path) {
  std::FILE* file = base::OpenFile(path, "wb");
  if (!file) {
    std::cerr << "kvr-loader: --trace: " << path << " cannot be written\n";
    return;
  }
  const QPoint origin = window.mapToGlobal(QPoint(0, 0));
  std::fprintf(file, "layout client %d %d %d %d\n", origin.x(), origin.y(), window.width(), window.height());
  const std::pair<const char*, QWidget*> controls[] = {
      {"file-label", window.FileLabel},     {"file-path", window.FilePath},     {"open-file", window.OpenFileButton},
      {"port-label", window.PortLabel},     {"port-list", window.PortList},     {"start-switch", window.StartSwitch},
      {"status-line", window.StatusLine},   {"pages", window.Pages},            {"data-grid", window.DataGrid},
      {"debug-log", window.DebugLog},       {"load-times", window.LoadTimes},   {"gauge", window.ProgressGauge},
      {"save-as", window.SaveAsButton},     {"revert", window.RevertButton},
  };
  for (const auto& [name, widget] : controls) {
    const QPoint at = widget->mapTo(&window, QPoint(0, 0));
    std::fprintf(file, "layout %s %d %d %d %d\n", name, at.x(), at.y(), widget->width(), widget->height());
  }
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  kvr::WindowCommandLine asked;
  if (const std::optional<int> ended = kvr::ParseWindowCommandLine(kvr::Utf8Arguments(argc, argv),
                                                                   kvr::CommandLineHostOf(kvr::WindowHost::kQt), asked))
    return *ended;
#ifdef _WIN32
  kvr::RegistrySettings settings;  // HKEY_CURRENT_USER\SOFTWARE\ZENOVA, open for the life of the program
#else
  kvr::QtStoredSettings settings;
#endif
  if (asked.set_record) return kvr::StoreRecordFile(settings, *asked.set_record);
#ifdef _WIN32
  if (asked.simulate) {
    kvr::ReportRefusal("kvr-loader", "--simulate needs a POSIX system");
    return kvr::kWindowUsageExit;
  }
#endif
#if defined(__linux__)
  // Qt aborts when it finds no display: say so instead.
  const auto unset = [](const char* name) { return !std::getenv(name) || !*std::getenv(name); };
  if (unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM")) {
    std::cerr << "kvr-loader: no display (DISPLAY is not set); kvr-loader-cli loads without one\n";
    return kvr::kWindowUsageExit;
  }
#endif
  QApplication app(argc, argv);
  // The desktop entry and icon the installed package brings: the shell shows
  // the window under them.
  QGuiApplication::setDesktopFileName("kvr-loader");
  QApplication::setWindowIcon(QIcon::fromTheme("kvr-loader"));

  ab::qt::StartFlashTimer();
  kvr::WindowOptions options = kvr::WindowOptionsFor(asked, settings);
  kvr::QtWindowOptions qt_options;
  kvr::LoaderWindow* window_ptr = nullptr;
  auto report = [&](const std::string& text) {
    std::cerr << text << "\n";
    if (!asked.exit_at_end)
      QMessageBox::critical(window_ptr, QString::fromUtf8(kvr::kApplicationTitle), QString::fromUtf8(text.c_str()));
  };
  qt_options.report = report;
  if (asked.exit_at_end) qt_options.message = [](const std::string& text) { std::cerr << text << "\n"; };
  qt_options.choose_file = [&window_ptr] { return kvr::ChooseUpdateFile(window_ptr); };
  qt_options.stored_port_index = [&settings] { return settings.PortIndex(); };
  va::SetMainThread(std::make_shared<kvr::QtMainThread>(report));

#ifndef _WIN32
  std::unique_ptr<kvr::sim::PtyDevice> device;
  if (asked.simulate) {
    kvr::sim::DeviceOptions simulated;
    simulated.line_baud = kvr::SimulatedLineBaud(asked);
    device = std::make_unique<kvr::sim::PtyDevice>(simulated);
    options.first_ports.push_back(kvr::PortName(device->SlavePath()));  // "pts/N"
    options.check_device = [&device](const std::string& port, const std::string& text) -> std::optional<bool> {
      if (port != kvr::PortName(device->SlavePath())) return std::nullopt;
      return kvr::sim::ImageEqualsText(device->Image(), text);
    };
  }
#endif
  for (const std::string& p : asked.ports) options.first_ports.push_back(kvr::PortName(p));

  int exit_code = 0;
  {
    kvr::LoaderWindow window(options, qt_options);
    window_ptr = &window;
    kvr::LoaderWindowLogic& logic = window.Logic();
    const kvr::WindowLoop loop{
        [&window](int ms, std::function<void()> job) { QTimer::singleShot(ms, &window, std::move(job)); },
        [&app] { app.quit(); }};
    kvr::StartAsAsked(logic, asked, loop, exit_code);
    if (!asked.screenshot.empty()) {
      auto* poll = new QTimer(&window);
      poll->setInterval(50);
      QObject::connect(poll, &QTimer::timeout, &window, [&window, &logic, poll, &asked] {
        if (logic.Progress().lines < static_cast<int64_t>(asked.screenshot_page) * 16) return;
        poll->stop();
        window.grab().save(QString::fromStdString(asked.screenshot));
        std::cout << "screenshot: " << asked.screenshot << std::endl;
      });
      poll->start();
    }
    window.show();
    if (!asked.trace.empty()) QTimer::singleShot(0, &window, [&window, &asked] { WriteLayout(window, asked.trace); });
    const int rc = app.exec();
    if (exit_code == 0) exit_code = rc;
    window_ptr = nullptr;
  }
  ab::qt::StopFlashTimer();
  va::SetMainThread(nullptr);
  return exit_code;
}
