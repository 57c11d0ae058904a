#include "gang_load.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "hex_text.h"
#include "image_geometry.h"
#include "monotonic_clock.h"
#include "va_dispatch.h"

namespace kvr::cli {

namespace {

// One port's hand-over to the queue the gang's ports share: the same queue,
// with the port's own reporter for the exceptions of its events. A posted
// call holds the hand-over weakly: the hand-over holds the queue, and a call
// still queued when the gang ends must not keep both alive.
class PortHandOver final : public va::TVaMainThread, public std::enable_shared_from_this<PortHandOver> {
 public:
  PortHandOver(std::shared_ptr<va::TVaCallQueue> queue, std::function<void(const std::string&)> report)
      : queue_(std::move(queue)), report_(std::move(report)) {}
  void Synchronize(const std::function<void()>& call) override { queue_->Synchronize(call); }
  void Post(std::function<void()> call) override {
    queue_->Post([weak = weak_from_this(), call = std::move(call)] {
      const std::shared_ptr<PortHandOver> self = weak.lock();
      if (!self) return;  // its load is over
      try {
        call();
      } catch (...) {
        self->HandleException(std::current_exception());
      }
    });
  }
  void HandleException(std::exception_ptr error) override { report_(va::ExceptionMessage(error)); }

 private:
  const std::shared_ptr<va::TVaCallQueue> queue_;
  const std::function<void(const std::string&)> report_;
};

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
  // Every port's events come to this thread through one queue.
  const auto queue = std::make_shared<va::TVaCallQueue>();
  queue->OnException = [](const std::string& m) { std::cerr << "error: " << m << "\n"; };
  std::vector<std::unique_ptr<PortLoad>> loads;
  for (const PortJob& job : jobs)
    loads.push_back(std::make_unique<PortLoad>(options, job, table, file, image_path, output));
  std::vector<PortOutcome> outcomes(jobs.size());
  std::vector<bool> ended(jobs.size(), false);
  size_t running = 0;

  size_t port_width = 4;
  for (const PortJob& job : jobs) port_width = std::max(port_width, WithoutControls(job.port).size());
  bool drawn = false;
  const auto draw = [&] {
    const size_t width = SizeOfTerminal().columns;
    std::string frame;
    if (drawn) frame += "\x1b[" + std::to_string(loads.size()) + "A";  // back to the first line
    for (size_t i = 0; i < loads.size(); ++i) {
      frame += '\r';
      frame += ViewLine(jobs[i].port, port_width, loads[i]->Snapshot(), outcomes[i].Result(), width);
      frame += "\x1b[K\n";  // the rest of a longer earlier line erased
    }
    std::cerr << frame << std::flush;
    drawn = true;
  };

  // The ports open one after the other, the image checked once for all.
  const ImageProblem checked = CheckImage(table, file);
  for (size_t i = 0; i < loads.size(); ++i) {
    PortLoad& load = *loads[i];
    const auto hand_over =
        std::make_shared<PortHandOver>(queue, [&load](const std::string& m) { load.ReportError(m); });
    if (const PortLoad::Phase prepared = load.Prepare(hand_over, &checked); !prepared) {
      outcomes[i] = prepared.error();
      ended[i] = true;
    }
  }
  // Then every load starts, none held up meanwhile by another's opening.
  for (size_t i = 0; i < loads.size(); ++i) {
    if (ended[i]) continue;
    if (const PortLoad::Phase started = loads[i]->Go(); !started) {
      outcomes[i] = started.error();
      ended[i] = true;
    } else {
      ++running;
    }
  }

  // One loop for every load: the ports' events until the earliest deadline of
  // any load, a look at all of them (interrupts, a lost port, progress) every
  // 20 ms, the view redrawn every 250 ms. A load's deadline is asked again
  // only when it stepped or its port's events reached it. The bytes that came
  // without a CR (a reply's come with it) are taken at every fifth look at a
  // load and whenever the load is due: asking each port every 20 ms costs
  // more than the rest of the look.
  using Clock = std::chrono::steady_clock;
  const auto look_every = std::chrono::milliseconds(kLookEveryMs);
  const auto draw_every = std::chrono::milliseconds(250);
  constexpr int kTakeEveryLooks = 5;
  const auto due_at = [&](size_t i) {
    const int64_t ms = loads[i]->MsUntilDue();
    return ms < 0 ? Clock::time_point::max() : base::MonotonicMsFromNow(ms);
  };
  Clock::time_point next_look = Clock::now();
  Clock::time_point next_draw = next_look + draw_every;
  if (view) draw();
  std::vector<Clock::time_point> due(loads.size(), next_look);
  int looks = 0;
  bool stopping = false;
  Clock::time_point wait_until = next_look;  // first the events that came while the ports opened
  while (running > 0) {
    queue->ProcessMessages(wait_until);
    const Clock::time_point now = Clock::now();
    const bool look = now >= next_look;
    if (look) {
      next_look = now + look_every;
      ++looks;
    }
    for (size_t i = 0; i < loads.size(); ++i) {
      if (ended[i]) continue;
      if (loads[i]->TakeMoved()) due[i] = due_at(i);
      if (!look && due[i] > now) continue;
      // A fifth of the loads at each look: no look asks every port at once.
      const bool take = look && (looks + static_cast<int>(i)) % kTakeEveryLooks == 0;
      if (std::optional<PortOutcome> outcome = loads[i]->Step(take)) {
        outcomes[i] = std::move(*outcome);
        ended[i] = true;
        --running;
        continue;
      }
      loads[i]->TakeMoved();
      due[i] = due_at(i);
    }
    if (view && Clock::now() >= next_draw) {
      next_draw = Clock::now() + draw_every;
      draw();
    }
    if (running == 0) break;
    // The handler only raises the flag; the stop requests go out from here.
    if (Interrupted() && !stopping) {
      stopping = true;
      for (const auto& load : loads) load->RequestStop();
    }
    Clock::time_point until = std::min(next_look, view ? next_draw : next_look);
    for (size_t i = 0; i < loads.size(); ++i)
      if (!ended[i]) until = std::min(until, due[i]);
    wait_until = until;
  }
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
