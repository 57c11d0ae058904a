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
// ("layout NAME X Y W H"), for tests that compare windows.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QMessageBox>
#include <QSettings>
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

#include "load_end_verdict.h"
#include "loader_window.h"
#include "program_arguments.h"
#include "qt_flash_timer.h"
#include "qt_main_thread.h"
#include "tool_options.h"
#include "update_file_maker.h"
#include "utf8_files.h"
#include "window_texts.h"
#ifndef _WIN32
#include "pty_device.h"
#endif

namespace {

const char* kExitCodes =
    "Exit codes: 0 the window was closed, or with --exit-at-end the load completed (and, with --simulate, the "
    "device's\nimage equals the file); 1 with --exit-at-end, the load did not complete or the image differs (the "
    "reason on\nstandard error); 2 a mistake in the options, or no display.\n";

struct Options {
  bool simulate = false, fast = false, autostart = false, exit_at_end = false;
  std::string file, screenshot, trace;
  bool record_given = false;
  std::string record;
  int screenshot_page = 0;
  std::vector<std::string> ports;
};

// Reads the options before any display is opened: --help, --version and
// mistakes are answered on the terminal. Returns -1 to go on, else the exit
// code.
int ParseOptions(const QStringList& args, Options& o) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kvr::kWindowCaption));
  parser.addPositionalArgument("FILE.KVR", "Update file opened at start, as if chosen in the dialog.", "[FILE.KVR]");
  const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
  const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
  const QCommandLineOption simulate(
      "simulate", "Run the simulated boot loader behind a pseudo-terminal; its port is listed first and preselected.");
  const QCommandLineOption port("port", "List PATH first in the port list and preselect it (may be repeated).", "PATH");
  const QCommandLineOption fast("fast", "Skip the protocol's pauses (the reply time-outs still run in real time).");
  const QCommandLineOption autostart("autostart", "Press the start switch once the window is up.");
  const QCommandLineOption exit_at_end("exit-at-end",
                                       "Quit when the load ends (exit code 0 when it completed and, with --simulate, "
                                       "the device's image equals the file).");
  const QCommandLineOption screenshot(
      "screenshot", "Save a picture of the window to FILE.png when the load reaches --screenshot-page.", "FILE.png");
  const QCommandLineOption screenshot_page("screenshot-page", "The page (0..2304) at which --screenshot is taken.", "N",
                                           "0");
  const QCommandLineOption record("record",
                                  "Append a record of each load to FILE (one JSON line per load; read it with "
                                  "kvr-loader-cli records FILE). Without it, the stored record file is used.",
                                  "FILE");
  const QCommandLineOption set_record(
      "set-record", "Store FILE as the record file of every later start (\"\" stops recording) and exit.", "FILE");
  const QCommandLineOption trace("trace", "Write the controls' places to FILE once the window is up (for tests).",
                                 "FILE");
  parser.addOptions({help, version, simulate, port, fast, autostart, exit_at_end, record, set_record, screenshot,
                     screenshot_page, trace});
  const auto fail = [](const QString& text) {
    kvr::ReportRefusal("kvr-loader", text.toStdString());
    return 2;
  };
  if (!parser.parse(args)) return fail(parser.errorText());
  if (parser.isSet(help)) {
    QString text = parser.helpText();
    text.replace("<executable_name>", "kvr-loader");
    std::cout << text.toStdString() << "\n" << kExitCodes;
    return 0;
  }
  if (parser.isSet(version)) {
    std::cout << "kvr-loader " KVR_VERSION "\n";
    return 0;
  }
  if (parser.isSet(set_record)) {
    const std::string file = parser.value(set_record).toStdString();
    // Stored beside the port index; a relative name would change with the folder the window starts in.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(kvr::Utf8Path(file), ec);
    const std::u8string full = std::filesystem::weakly_canonical(absolute, ec).u8string();
    const std::string stored = file.empty() ? "" : std::string(full.begin(), full.end());
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "ZENOVA", "KVR_LORVENT_LOADER");
    settings.setValue("Record", QString::fromStdString(stored));
    settings.sync();
    if (settings.status() != QSettings::NoError)
      return fail("the setting could not be stored in " + settings.fileName());
    std::cout << (stored.empty() ? std::string("loads are no longer recorded") : "loads are recorded in " + stored)
              << "\n";
    return 0;
  }
  o.record_given = parser.isSet(record);
  o.record = parser.value(record).toStdString();
  if (o.record_given && o.record.empty()) return fail("--record needs a file name");
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) return fail("one update file at most, not " + QString::number(files.size()));
  if (!files.isEmpty()) o.file = files[0].toStdString();
  o.simulate = parser.isSet(simulate);
  o.fast = parser.isSet(fast);
  o.autostart = parser.isSet(autostart);
  o.exit_at_end = parser.isSet(exit_at_end);
  o.screenshot = parser.value(screenshot).toStdString();
  o.trace = parser.value(trace).toStdString();
  const QString page = parser.value(screenshot_page);
  bool number = !page.isEmpty() && std::all_of(page.begin(), page.end(), [](QChar c) { return c.isDigit(); });
  if (number) o.screenshot_page = page.toInt(&number);
  if (!number || o.screenshot_page < 0 || o.screenshot_page > 2304)
    return fail("--screenshot-page must be a whole number from 0 to 2304, not \"" + parser.value(screenshot_page) +
                "\"");
  for (const QString& p : parser.values(port)) {
    if (p.isEmpty()) return fail("--port needs a device path");
    o.ports.push_back(p.toStdString());
  }
#ifdef _WIN32
  if (o.simulate) return fail("--simulate needs a POSIX system");
#endif
  return -1;
}

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
  };
  for (const auto& [name, widget] : controls) {
    const QPoint at = widget->mapTo(&window, QPoint(0, 0));
    std::fprintf(file, "layout %s %d %d %d %d\n", name, at.x(), at.y(), widget->width(), widget->height());
  }
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  QStringList args{"kvr-loader"};
  for (const std::string& a : kvr::Utf8Arguments(argc, argv)) args << QString::fromStdString(a);
  if (const int code = ParseOptions(args, o); code >= 0) return code;
#if defined(__linux__)
  // Qt aborts when it finds no display: say so instead.
  const auto unset = [](const char* name) { return !std::getenv(name) || !*std::getenv(name); };
  if (unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM")) {
    std::cerr << "kvr-loader: no display (DISPLAY is not set); kvr-loader-cli loads without one\n";
    return 2;
  }
#endif
  QApplication app(argc, argv);
  // The desktop entry and icon the installed package brings: the shell shows
  // the window under them.
  QGuiApplication::setDesktopFileName("kvr-loader");
  QApplication::setWindowIcon(QIcon::fromTheme("kvr-loader"));

  ab::qt::StartFlashTimer();
  kvr::WindowOptions options;
  kvr::QtWindowOptions qt_options;
  kvr::LoaderWindow* window_ptr = nullptr;
  auto report = [&](const std::string& text) {
    std::cerr << text << "\n";
    if (!o.exit_at_end)
      QMessageBox::critical(window_ptr, QString::fromUtf8(kvr::kApplicationTitle), QString::fromUtf8(text.c_str()));
  };
  qt_options.report = report;
  if (o.exit_at_end) qt_options.message = [](const std::string& text) { std::cerr << text << "\n"; };
  qt_options.choose_file = [&window_ptr] { return kvr::ChooseUpdateFile(window_ptr); };
  va::SetMainThread(std::make_shared<kvr::QtMainThread>(report));
  if (o.fast) options.load.pause_ms = 0;
  options.tool = "kvr-loader " KVR_VERSION;
  options.record_file = o.record;
  if (!o.record_given) {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "ZENOVA", "KVR_LORVENT_LOADER");
    options.record_file = settings.value("Record").toString().toStdString();
  }

#ifndef _WIN32
  std::unique_ptr<kvr::sim::PtyDevice> device;
  if (o.simulate) {
    device = std::make_unique<kvr::sim::PtyDevice>();
    options.first_ports.push_back(kvr::PortName(device->SlavePath()));  // "pts/N"
  }
#endif
  for (const std::string& p : o.ports) options.first_ports.push_back(kvr::PortName(p));

  int exit_code = 0;
  {
    kvr::LoaderWindow window(options, qt_options);
    window_ptr = &window;
    kvr::LoaderWindowLogic& logic = window.Logic();
    // The file given on the command line, as if chosen in the dialog.
    if (!o.file.empty()) logic.OpenFile(o.file);
    logic.OnLoadEnded = [&](kvr::LoadOutcome outcome, const std::string& message) {
      std::function<bool()> device_image_equal;
#ifndef _WIN32
      if (device && logic.LoadPort() == kvr::PortName(device->SlavePath()))
        device_image_equal = [&] { return kvr::sim::ImageEqualsFile(device->Image(), logic.FilePath()); };
#endif
      if (kvr::LoadEndVerdict(logic, outcome, message, o.exit_at_end, device_image_equal) != 0) exit_code = 1;
      if (o.exit_at_end) QTimer::singleShot(0, &app, [&app] { app.quit(); });
    };
    if (!o.screenshot.empty()) {
      auto* poll = new QTimer(&window);
      poll->setInterval(50);
      QObject::connect(poll, &QTimer::timeout, &window, [&window, &logic, poll, &o] {
        if (logic.Progress().lines < static_cast<int64_t>(o.screenshot_page) * 16) return;
        poll->stop();
        window.grab().save(QString::fromStdString(o.screenshot));
        std::cout << "screenshot: " << o.screenshot << std::endl;
      });
      poll->start();
    }
    window.show();
    if (!o.trace.empty()) QTimer::singleShot(0, &window, [&window, &o] { WriteLayout(window, o.trace); });
    if (o.autostart) QTimer::singleShot(200, &window, [&logic] { logic.StartSwitchClicked(); });
    if (o.exit_at_end && !o.autostart) {
      // Nothing starts a load by itself: the program ends once the window is up.
      QTimer::singleShot(1000, &window, [&app, &exit_code, &logic] {
        if (logic.LoadRuns() || logic.LastOutcome() != kvr::LoadOutcome::kIdle) return;
        exit_code = 1;
        std::cerr << "kvr-loader: the load did not complete (no load was started)\n";
        app.quit();
      });
    }
    const int rc = app.exec();
    if (exit_code == 0) exit_code = rc;
    window_ptr = nullptr;
  }
  ab::qt::StopFlashTimer();
  va::SetMainThread(nullptr);
  return exit_code;
}
