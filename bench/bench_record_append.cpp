// One append to the record file of loads, into files of 10^3, 10^5 and 10^6
// records (and more or fewer when given): the time it takes and the peak
// memory of the process that makes it, beside an append into an empty file
// measured in the same run. Each append runs in a child process of its own,
// so that its peak memory is its own.
//   bench_record_append [FOLDER] [COUNTS...]   (default: /tmp, 1000 100000 1000000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "load_record.h"

namespace {

// A single port's run, as the command line records it.
std::string TypicalLine() {
  kvr::RunRecord run;
  run.tool = "kvr-loader-cli 1.0.0";
  run.image = {"/srv/line2/FW_2_14.KVR", 1253378, std::string(64, 'f')};
  run.started = run.ended = std::chrono::system_clock::now();
  kvr::LoadRecord load;
  load.port = load.device = "/dev/ttyUSB0";
  load.identity.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0";
  load.identity.VendorId = "0403";
  load.identity.ProductId = "6001";
  load.identity.Manufacturer = "FTDI";
  load.identity.Product = "FT232R USB UART";
  load.identity.SerialNumber = "A10K5XYZ";
  load.started = load.ended = run.started;
  load.commands = 41474;
  load.result = "complete";
  load.message = "load complete: 41474 commands in 2115.2 s (19.6 commands/s, 51.0 ms per command)";
  run.loads = {load};
  return kvr::RecordLine(run);
}

struct Figure {
  double ms = 0;
  long peak_kib = 0;
};

// One append in a child process: its wall time and peak resident memory.
Figure AppendOnce(const std::string& path, const std::string& line) {
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    _exit(kvr::AppendRecord(path, line, nullptr) ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Figure f;
  f.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  f.peak_kib = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "the append into %s failed\n", path.c_str());
  return f;
}

// The median of five appends (each one line more in the file).
Figure Measure(const std::string& path, const std::string& line) {
  std::vector<Figure> runs;
  for (int k = 0; k < 5; ++k) runs.push_back(AppendOnce(path, line));
  std::sort(runs.begin(), runs.end(), [](const Figure& a, const Figure& b) { return a.ms < b.ms; });
  Figure median = runs[2];
  for (const Figure& f : runs) median.peak_kib = std::max(median.peak_kib, f.peak_kib);
  return median;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  std::vector<long> counts;
  for (int i = 2; i < argc; ++i) counts.push_back(std::atol(argv[i]));
  if (counts.empty()) counts = {1000, 100000, 1000000};
  const std::string line = TypicalLine();
  const std::string path = folder + "/bench-records-" + std::to_string(getpid()) + ".jsonl";
  std::filesystem::remove(path);
  const Figure empty = Measure(path, line);
  std::printf("a record line: %zu bytes\n", line.size());
  std::printf("%10s  %10s  %9s  %8s  %9s  %8s\n", "records", "file MB", "append ms", "x empty", "peak KiB", "x empty");
  std::printf("%10d  %10.3f  %9.3f  %8.2f  %9ld  %8.2f\n", 0, 0.0, empty.ms, 1.0, empty.peak_kib, 1.0);
  for (const long count : counts) {
    {
      // The file made in large writes: its making is not measured.
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      std::string block;
      for (int k = 0; k < 1000; ++k) block += line;
      long left = count;
      for (; left >= 1000; left -= 1000) out << block;
      for (; left > 0; --left) out << line;
    }
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    const Figure f = Measure(path, line);
    std::printf("%10ld  %10.3f  %9.3f  %8.2f  %9ld  %8.2f\n", count, mb, f.ms, f.ms / empty.ms, f.peak_kib,
                static_cast<double>(f.peak_kib) / static_cast<double>(empty.peak_kib));
  }
  std::filesystem::remove(path);
  return 0;
}
