// kvr-loader: the DATAFLASH loader's window.
//   kvr-loader [--simulate [FILE.KVR]] [--port PATH]... [--fast] [--autostart] [--exit-at-end]
//              [--screenshot FILE.png --screenshot-page N]
// --simulate runs the simulated boot loader behind a pseudo-terminal, lists
// its port first and preselects it; FILE is opened at start as if chosen.
// --fast runs the protocol's pauses on a fast clock. --autostart presses the
// start switch once the window is up; --exit-at-end quits when the load ends
// (exit code 0 when the device's image equals the file).
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QMouseEvent>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flash_timer.h"
#include "form1.h"
#include "qt_main_thread.h"
#include "update_file_maker.h"
#ifndef _WIN32
#include "pty_device.h"
#endif

namespace {

int Usage() {
  std::cerr << "usage: kvr-loader [--simulate [FILE.KVR]] [--port PATH]... [--fast] [--autostart] [--exit-at-end]\n"
               "                  [--screenshot FILE.png --screenshot-page N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kvr::kApplicationTitle));

  bool simulate = false, fast = false, autostart = false, exit_at_end = false;
  std::string sim_file, screenshot;
  int screenshot_page = 0;
  std::vector<std::string> ports;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--simulate") {
      simulate = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') sim_file = argv[++i];
    } else if (a == "--port" && i + 1 < argc) {
      ports.push_back(argv[++i]);
    } else if (a == "--fast") {
      fast = true;
    } else if (a == "--autostart") {
      autostart = true;
    } else if (a == "--exit-at-end") {
      exit_at_end = true;
    } else if (a == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (a == "--screenshot-page" && i + 1 < argc) {
      screenshot_page = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }

  ab::StartFlashTimer();
  kvr::FormOptions options;
  kvr::TForm1* form_ptr = nullptr;
  auto report = [&](const std::string& text) {
    std::cerr << text << "\n";
    if (!exit_at_end) QMessageBox::critical(form_ptr, QString(), QString::fromUtf8(text.c_str()));
  };
  options.report = report;
  if (exit_at_end) options.message = [](const std::string& text) { std::cerr << text << "\n"; };
  va::SetMainThread(std::make_shared<kvr::QtMainThread>(report));
  kvr::sim::SteppingTicks fast_ticks;
  if (fast) options.ticks = &fast_ticks;

#ifndef _WIN32
  std::unique_ptr<kvr::sim::PtyDevice> device;
  if (simulate) {
    device = std::make_unique<kvr::sim::PtyDevice>();
    options.first_ports.push_back(kvr::PortListName(device->SlavePath()));  // "pts/N"
  }
#else
  if (simulate) std::cerr << "--simulate needs a POSIX system\n";
#endif
  for (const std::string& p : ports) options.first_ports.push_back(kvr::PortListName(p));
  // The file given with --simulate comes first, as if chosen in the dialog.
  std::string pending_file = sim_file;
  options.choose_file = [&pending_file, &form_ptr]() -> std::string {
    if (!pending_file.empty()) return std::exchange(pending_file, std::string());
    return kvr::ChooseUpdateFile(form_ptr);
  };

  int exit_code = 0;
  {
    kvr::TForm1 form(options);
    form_ptr = &form;
    if (!sim_file.empty()) form.SpeedButton1Click();
    form.OnLoadComplete = [&] {
#ifndef _WIN32
      if (device) {
        const bool equal = kvr::sim::ImageEqualsFile(device->Image(), form.Edit1->text().toStdString());
        const std::string verdict =
            std::string("Simulated device: image ") + (equal ? "equal to the file" : "NOT equal to the file");
        form.Memo1->appendPlainText(QString::fromStdString(verdict));
        std::cout << verdict << std::endl;
        exit_code = equal ? 0 : 1;
      }
#endif
      if (exit_at_end) QTimer::singleShot(0, &app, [&app] { app.quit(); });
    };
    if (!screenshot.empty()) {
      auto* poll = new QTimer(&form);
      poll->setInterval(50);
      QObject::connect(poll, &QTimer::timeout, &form, [&form, poll, screenshot, screenshot_page] {
        if (form.TheExchange().LineCounter() < static_cast<int64_t>(screenshot_page) * 16) return;
        poll->stop();
        form.grab().save(QString::fromStdString(screenshot));
        std::cout << "screenshot: " << screenshot << std::endl;
      });
      poll->start();
    }
    form.show();
    if (autostart) QTimer::singleShot(200, &form, [&form] { ab::PressAndRelease(form.AbColBitBtn4); });
    if (exit_at_end) {
      // A load that stops without completing ends the program too.
      auto* watch = new QTimer(&form);
      watch->setInterval(500);
      QObject::connect(watch, &QTimer::timeout, &form, [&form, &app, &exit_code] {
        if (!form.AbColBitBtn4->Checked() && !form.VaComm1.Active()) {
          if (exit_code == 0 && form.Label2->text() != QString::fromUtf8(kvr::kLoadCompleteStatus.data())) exit_code = 1;
          app.quit();
        }
      });
      QTimer::singleShot(1000, &form, [watch] { watch->start(); });
    }
    const int rc = app.exec();
    if (exit_code == 0) exit_code = rc;
    form_ptr = nullptr;
  }
  ab::StopFlashTimer();
  va::SetMainThread(nullptr);
  return exit_code;
}
