// Any bytes as an update file: the open-file action must load them without
// failing, count the lines as the line reader does and lay each line into its
// row of two-character cells; saved unedited, they are the bytes read.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include <vector>

#include "image_geometry.h"
#include "page_table.h"
#include "update_file.h"
#include "update_file_maker.h"

namespace {

struct Ui : kvr::UpdateFileUi {
  void ClearLogs() override {}
  void WarnWrongSize() override { ++warnings; }
  void SetStatus(const std::string& s) override { status = s; }
  int warnings = 0;
  std::string status;
};

// The lines as the reader should see them: ends at CR LF, LF or a lone CR;
// an empty text is one empty line; text after the last end is one more line.
std::vector<std::string> Lines(const std::string& t) {
  std::vector<std::string> lines;
  size_t i = 0;
  do {
    size_t j = i;
    while (j < t.size() && t[j] != '\n' && t[j] != '\r') ++j;
    lines.push_back(t.substr(i, j - i));
    if (j < t.size()) j += (t[j] == '\r' && j + 1 < t.size() && t[j + 1] == '\n') ? 2 : 1;
    i = j;
  } while (i < t.size());
  return lines;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::string p = "/tmp/kvr-fuzz-" + std::to_string(getpid()) + ".KVR";
    static std::string keep = p;
    std::atexit([] { std::remove(keep.c_str()); });
    return p;
  }();
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvr::sim::WriteFile(path, text);
  kvr::PageTable table;
  table.SetupHeadings(40);
  table.SetLine(300, std::string(32, 'Z'));  // an earlier, longer file
  kvr::UpdateFileState state;
  Ui ui;
  Check(kvr::OpenUpdateFile(path, table, state, ui), "extension accepted");
  const std::vector<std::string> lines = Lines(text);
  Check(state.UpdateFileSize == static_cast<int32_t>(size), "size");
  Check(ui.warnings == (static_cast<int64_t>(size) != kvr::ExpectedFileSize ? 1 : 0), "size warning");
  Check(state.FileLineCount == static_cast<int32_t>(lines.size()) - 1, "line count");
  Check(state.PageTotal == (state.FileLineCount + 15) / 16, "page total");
  for (size_t k = 0; k < lines.size(); ++k)
    for (int c = 1; c <= 16; ++c) {
      const size_t at = 2 * static_cast<size_t>(c) - 2;
      const std::string want = at < lines[k].size() ? lines[k].substr(at, 2) : "";
      Check(table.Cell(c, static_cast<int>(k) + 1) == want, "cell text");
    }
  Check(table.Cell(1, 300) == "" || lines.size() >= 300, "stale row emptied");
  Check(table.Cell(0, 5) == "y004$", "headings kept");
  // Saved unedited, the file is what was read, byte for byte.
  Check(kvr::EditedFileText(text, table) == text, "saved as read");
  return 0;
}
