// The open-file action on a standard-size update file, against one plain
// std::getline pass over the same file, measured in the same run; and the
// page table's memory once the file is in it.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "page_table.h"
#include "update_file.h"
#include "update_file_maker.h"

namespace {

using Clock = std::chrono::steady_clock;

struct QuietUi final : kvr::UpdateFileUi {
  void ClearLogs() override {}
  void WarnWrongSize() override {}
  void SetStatus(const std::string&) override {}
};

template <typename F>
double MedianMs(int runs, F&& body) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    body();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  const std::string path = (std::filesystem::temp_directory_path() / "kvr-bench-STANDARD.KVR").string();
  kvr::sim::WriteFile(path, kvr::sim::MakeUpdateFileText(1));
  constexpr int kRuns = 21;

  size_t getline_lines = 0;
  const double getline_ms = MedianMs(kRuns, [&] {
    std::ifstream in(path);
    std::string line;
    getline_lines = 0;
    while (std::getline(in, line)) ++getline_lines;
  });

  // Into the window's table, which has its headings from the start.
  QuietUi ui;
  kvr::UpdateFileState state;
  kvr::PageTable window_table;
  window_table.SetupHeadings();
  const double open_ms = MedianMs(kRuns, [&] { kvr::OpenUpdateFile(path, window_table, state, ui); });
  // The first load of all, into a table that has to grow its rows.
  const double first_ms = MedianMs(kRuns, [&] {
    kvr::PageTable table;
    table.SetupHeadings(0);
    kvr::OpenUpdateFile(path, table, state, ui);
  });

  // Heap in use by a table holding the whole file, headings included.
  const size_t heap_before = mallinfo2().uordblks;
  auto table = std::make_unique<kvr::PageTable>();
  table->SetupHeadings();
  kvr::OpenUpdateFile(path, *table, state, ui);
  const size_t heap_bytes = mallinfo2().uordblks - heap_before;

  std::printf("update file: %s, %zu lines by getline, %d data lines\n", path.c_str(), getline_lines,
              state.FileLineCount);
  std::printf("open-file action (size, two text passes, cells): %.2f ms (median of %d)\n", open_ms, kRuns);
  std::printf("  the same into a new, empty table:               %.2f ms (median of %d)\n", first_ms, kRuns);
  std::printf("plain std::getline pass:                          %.2f ms (median of %d)\n", getline_ms, kRuns);
  std::printf("ratio open-file / getline: %.2f (goal: at most 3)\n", open_ms / getline_ms);
  std::printf("page table memory: %zu bytes counted by the table, %zu bytes of heap in use (goal: at most 3 MB)\n",
              table->MemoryBytes(), heap_bytes);
  std::filesystem::remove(path);
  return 0;
}
