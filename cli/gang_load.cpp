#include "gang_load.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "hex_text.h"
#include "image_geometry.h"

namespace kvr::cli {

namespace {

struct TerminalSize {
  size_t columns = 80, rows = 24;
};

// The terminal on standard error (80 x 24 when it does not say).
TerminalSize SizeOfTerminal() {
  TerminalSize size;
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    size.columns = static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    size.rows = static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
  }
#else
  winsize ws{};
  if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    size.columns = ws.ws_col;
    size.rows = ws.ws_row;
  }
#endif
  return size;
}

std::string Fit(std::string text, size_t width) {
  if (text.size() > width) text.resize(width);
  return text;
}

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string ViewLine(const std::string& port, size_t port_width, const PortProgress& p, const std::string& result,
                     size_t width) {
  char figures[128];
  std::snprintf(figures, sizeof figures, "page %s/%s %3d%%  retries %-3d", HexUpper(p.pages_done, 4).c_str(),
                HexUpper(ImagePages, 4).c_str(), p.percent, p.retries);
  std::string line = Pad(WithoutControls(port), port_width) + "  " + figures;
  if (result.empty()) {
    std::snprintf(figures, sizeof figures, " %6.0f B/s  remaining %s", p.bytes_per_second,
                  ClockText(p.remaining_ms).c_str());
    line += figures;
  } else {
    line += " " + result;  // an ended load has no rate or time left
  }
  // A line wider than the terminal would wrap and spoil the redraw.
  return Fit(line, width > 1 ? width - 1 : width);
}

std::vector<PortOutcome> RunGang(const LoadOptions& options, const std::vector<PortJob>& jobs, const PageTable& table,
                                 const UpdateFileState& file, const std::string& image_path) {
  // The view redraws its lines in place; more lines than the terminal has
  // rows cannot be reached again, so then every load writes plain lines.
  const bool tty = ErrIsTerminal();
  const bool view = tty && !options.quiet && jobs.size() < SizeOfTerminal().rows;
  const LoadOutput output = view || (tty && options.quiet) ? LoadOutput::kGangView : LoadOutput::kGangLines;
  std::vector<std::unique_ptr<PortLoad>> loads;
  for (const PortJob& job : jobs)
    loads.push_back(std::make_unique<PortLoad>(options, job, table, file, image_path, output));
  std::vector<PortOutcome> outcomes(jobs.size());
  std::mutex mutex;
  std::condition_variable ended;
  size_t done = 0;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < loads.size(); ++i) {
    threads.emplace_back([&, i] {
      PortOutcome outcome = loads[i]->Run();
      std::lock_guard<std::mutex> lock(mutex);
      outcomes[i] = std::move(outcome);
      ++done;
      ended.notify_all();
    });
  }

  size_t port_width = 4;
  for (const PortJob& job : jobs) port_width = std::max(port_width, WithoutControls(job.port).size());
  bool drawn = false;
  const auto draw = [&] {
    const size_t width = SizeOfTerminal().columns;
    std::string frame;
    if (drawn) frame += "\x1b[" + std::to_string(loads.size()) + "A";  // back to the first line
    for (size_t i = 0; i < loads.size(); ++i) {
      std::string result;
      {
        std::lock_guard<std::mutex> lock(mutex);
        result = outcomes[i].Result();
      }
      frame += '\r';
      frame += ViewLine(jobs[i].port, port_width, loads[i]->Snapshot(), result, width);
      frame += "\x1b[K\n";  // the rest of a longer earlier line erased
    }
    std::cerr << frame << std::flush;
    drawn = true;
  };

  bool stopping = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      ended.wait_for(lock, std::chrono::milliseconds(view ? 250 : 50));
      if (done == loads.size()) break;
    }
    // The handler only raises the flag; the stop requests go out from here.
    if (Interrupted() && !stopping) {
      stopping = true;
      for (const auto& load : loads) load->RequestStop();
    }
    if (view) draw();
  }
  for (std::thread& t : threads) t.join();
  if (view) draw();
  return outcomes;
}

int CombinedExitCode(const std::vector<PortOutcome>& outcomes) {
  int code = kOk;
  for (const PortOutcome& o : outcomes) code = std::max(code, o.ExitCode());
  return code;
}

std::string OutcomeTable(const std::vector<PortOutcome>& outcomes) {
  size_t port_width = 4, result_width = 6;
  for (const PortOutcome& o : outcomes) {
    port_width = std::max(port_width, WithoutControls(o.port).size());
    result_width = std::max(result_width, o.Result().size());
  }
  std::string table = Pad("PORT", port_width) + "  " + Pad("RESULT", result_width) + "  DURATION  RETRIES  MESSAGE\n";
  for (const PortOutcome& o : outcomes) {
    char figures[32];
    std::snprintf(figures, sizeof figures, "%8s  %7d", ClockText(static_cast<int64_t>(o.seconds * 1000)).c_str(),
                  o.page_retries);
    table += Pad(WithoutControls(o.port), port_width) + "  " + Pad(o.Result(), result_width) + "  " + figures + "  " +
             WithoutControls(o.message) + "\n";
  }
  std::vector<std::string> hints;  // each once: several ports may be refused for one reason
  for (const PortOutcome& o : outcomes)
    if (!o.hint.empty() && std::find(hints.begin(), hints.end(), o.hint) == hints.end()) hints.push_back(o.hint);
  for (const std::string& hint : hints) table += "hint: " + hint + "\n";
  return table;
}

}  // namespace kvr::cli
