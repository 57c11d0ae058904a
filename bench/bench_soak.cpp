// Soak: whole loads by the command-line loader (a subprocess, --pause-ms 0,
// a short reply time-out) into a simulated device behind a pseudo-terminal
// that misbehaves at random, seeded: replies cut into pieces, garbage before
// them, dropped, repeated, late (after the time-out), wrongly named, stale
// (the previous command's or page's again first), commands ignored, and
// silences of 2 to 5 s. Each run is checked from the device's side:
//   - exit 0 only when the device's image equals the file;
//   - a non-zero exit is one of the loader's and its last line names why;
//   - a page that gives up does so within the README's bound: (retries + 1) x
//     (time-out + quiet period + pause) after the device's last right answer
//     on time (its first command when none came), and (retries + 1) x
//     (18 x (time-out + pause) + quiet period) after its first command, with
//     kMarginMs for the process to end;
//   - the device never sees a data line without its page's address, lines
//     out of order or a short page.
// Every run prints its seed, rate, exit, faults and retries; a check that
// fails prints SOAK FAILURE with the seed that reproduces it, and the exit code is 1.
//
//   bench_soak [--loads N] [--first-seed S] [--rates R,R,...] [--reply-timeout SECONDS] [--retries N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "image_geometry.h"
#include "load_engine.h"
#include "program_run.h"
#include "pty_device.h"
#include "update_file_maker.h"

namespace {

constexpr int64_t kMarginMs = 150;  // the loader's exit after its give-up, on a busy machine

struct Settings {
  int loads = 40;
  uint32_t first_seed = 1;
  std::vector<double> rates = {0.00005, 0.0002, 0.0005};
  double timeout_s = 0.2;
  int retries = 3;
};

struct Exit {
  int code = -1;
  std::string err;
  int64_t ended_ms = 0;  // on the device's clock
  double wall = 0;       // seconds
};

// Runs the loader with `args` and notes when it ended on the device's clock.
Exit RunLoader(const std::vector<std::string>& args, kvr::sim::PtyDevice& device) {
  const int64_t started_ms = device.NowMs();
  const bench::ProgramRun run = bench::RunProgram(KVR_LOADER_CLI, args, true);
  return {run.code, run.err, started_ms + std::llround(run.wall * 1000), run.wall};
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  const size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<double> Rates(const char* text) {
  std::vector<double> rates;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) rates.push_back(std::atof(item.c_str()));
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  const auto usage = [] {
    std::fprintf(stderr, "usage: bench_soak [--loads N] [--first-seed S] [--rates R,R,...] "
                         "[--reply-timeout SECONDS] [--retries N]\n");
    return 2;
  };
  if (argc % 2 == 0) return usage();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--loads") s.loads = std::atoi(argv[i + 1]);
    else if (opt == "--first-seed") s.first_seed = static_cast<uint32_t>(std::atol(argv[i + 1]));
    else if (opt == "--rates") s.rates = Rates(argv[i + 1]);
    else if (opt == "--reply-timeout") s.timeout_s = std::atof(argv[i + 1]);
    else if (opt == "--retries") s.retries = std::atoi(argv[i + 1]);
    else return usage();
  }
  if (s.loads < 1 || s.rates.empty() || s.timeout_s < 0.01 || s.retries < 0) return usage();

  char dir[] = "/tmp/bench_soak_image_XXXXXX";
  if (!mkdtemp(dir)) return 2;
  const std::string image = std::string(dir) + "/SOAK.KVR";
  kvr::sim::WriteFile(image, kvr::sim::MakeUpdateFileText(7));

  const int64_t timeout = static_cast<int64_t>(s.timeout_s * 1000 + 0.5);
  const int64_t quiet = kvr::QuietPeriodMs(static_cast<uint32_t>(timeout)), pause = 0;
  const int64_t after_last = (s.retries + 1) * (timeout + quiet + pause) + kMarginMs;
  const int64_t in_all = (s.retries + 1) * (18 * (timeout + pause) + quiet) + kMarginMs;
  std::printf("soak: %d whole loads, --reply-timeout %.3f --retries %d --pause-ms 0; a page gives up within %lld ms "
              "of its last answer, %lld ms of its start (%lld ms margin)\n",
              s.loads, s.timeout_s, s.retries, static_cast<long long>(after_last), static_cast<long long>(in_all),
              static_cast<long long>(kMarginMs));

  const auto load_args = [&](const std::string& port) {
    return std::vector<std::string>{"load",    port, "--pause-ms", "0", "--reply-timeout", std::to_string(s.timeout_s),
                                    "--retries", std::to_string(s.retries), image};
  };
  // The reference: the same load into a device without faults.
  double reference = 0;
  {
    kvr::sim::PtyDevice device;
    const Exit e = RunLoader(load_args("--port=" + device.SlavePath()), device);
    reference = e.wall;
    std::printf("reference: a load without faults: exit %d in %.2f s\n", e.code, e.wall);
    if (e.code != 0) return 1;
  }

  int failed = 0, complete = 0, gave_up = 0;
  uint64_t faults = 0, retries = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int run = 0; run < s.loads; ++run) {
    const uint32_t seed = s.first_seed + static_cast<uint32_t>(run);
    const double rate = s.rates[static_cast<size_t>(run) % s.rates.size()];
    std::mt19937 pick(seed);
    kvr::sim::DeviceOptions o;
    o.seed = seed;
    o.pieces = 1 + static_cast<int>(pick() % 3);
    o.noise_rate = o.drop_rate = o.repeat_rate = o.wrong_rate = o.stale_rate = o.ignore_rate = o.late_rate = rate;
    o.late_ms = static_cast<uint32_t>(timeout + timeout / 2 + 20);  // past the time-out, before the next attempt ends
    o.silence_rate = rate / 8;
    o.silence_ms = 2000 + pick() % 3001;
    kvr::sim::PtyDevice device(o);
    const Exit e = RunLoader(load_args("--port=" + device.SlavePath()), device);
    struct Seen {
      std::vector<uint8_t> image;
      uint64_t faults, protocol;
      std::string first;
      int64_t page, start, answer;
    };
    const Seen seen = device.Inspect([](const kvr::sim::BootLoaderDevice& d) {
      return Seen{d.Image(), d.FaultsMade(), d.ProtocolFaults(), d.FirstProtocolFault(), d.PageAddress(),
                  d.PageStartMs(), d.LastAnswerMs()};
    });
    const size_t run_retries = Count(e.err, "\nretry ") + (e.err.rfind("retry ", 0) == 0 ? 1 : 0);
    faults += seen.faults;
    retries += run_retries;
    std::vector<std::string> wrong;
    const bool equal = kvr::sim::ImageEqualsFile(seen.image, image);
    if (e.code == 0 && !equal) wrong.push_back("exit 0 but the device's image differs from the file");
    if (e.code != 0 && e.code != 3 && e.code != 4)
      wrong.push_back("exit " + std::to_string(e.code) + " is not one a load into a working port ends with");
    if (e.code != 0 && LastLine(e.err).rfind("error: ", 0) != 0)
      wrong.push_back("exit " + std::to_string(e.code) + " without its reason: \"" + LastLine(e.err) + "\"");
    if (seen.protocol > 0)
      wrong.push_back(std::to_string(seen.protocol) + " commands out of protocol, the first: " + seen.first);
    if (e.code == 3) {
      if (e.ended_ms - seen.answer > after_last)
        wrong.push_back("gave up " + std::to_string(e.ended_ms - seen.answer) + " ms after the last answer");
      if (e.ended_ms - seen.start > in_all)
        wrong.push_back("gave up " + std::to_string(e.ended_ms - seen.start) + " ms after the page's start");
    }
    complete += e.code == 0;
    gave_up += e.code == 3;
    std::printf("seed %u rate %g: exit %d in %.2f s (%.2fx the reference), %llu faults, %zu retries", seed, rate,
                e.code, e.wall, e.wall / reference, static_cast<unsigned long long>(seen.faults), run_retries);
    if (e.code == 3)
      std::printf(", gave up at page %04llX %lld ms after its last answer, %lld ms after its start",
                  static_cast<long long>(seen.page < 0 ? 0 : seen.page / 256),
                  static_cast<long long>(e.ended_ms - seen.answer), static_cast<long long>(e.ended_ms - seen.start));
    if (e.code != 0) std::printf(": %s", LastLine(e.err).c_str());
    std::printf("\n");
    for (const std::string& w : wrong) std::printf("  SOAK FAILURE (seed %u, rate %g): %s\n", seed, rate, w.c_str());
    failed += static_cast<int>(wrong.size());
    std::fflush(stdout);
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("soak: %d loads in %.0f s: %d complete, %d gave up, %d other; %llu faults, %llu retries; "
              "%d check%s failed\n",
              s.loads, wall, complete, gave_up, s.loads - complete - gave_up, static_cast<unsigned long long>(faults),
              static_cast<unsigned long long>(retries), failed, failed == 1 ? "" : "s");
  unlink(image.c_str());
  rmdir(dir);
  return failed == 0 ? 0 : 1;
}
