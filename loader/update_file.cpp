#include "update_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "hex_text.h"
#include "image_geometry.h"
#include "sha256.h"
#include "update_file_io.h"

namespace kvr {

EInOutError InOutErrorFromErrno(int err) {
  const std::string reason = std::strerror(err);
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return EInOutError(2, "File not found", reason);
    case EACCES:
    case EPERM:
    case EROFS:
      return EInOutError(5, "File access denied", reason);
    default:
      return EInOutError(err, "I/O error " + std::to_string(err), reason);
  }
}

std::string_view NextLine(std::string_view text, size_t& at) {
  const size_t from = std::min(at, text.size());
  const size_t end = text.find_first_of("\r\n", from);
  if (end == std::string_view::npos) {
    at = text.size();
    return text.substr(from);
  }
  at = end + 1;
  if (text[end] == '\r' && at < text.size() && text[at] == '\n') ++at;
  return text.substr(from, end - from);
}

std::string EditedFileText(std::string_view opened, const PageTable& table) {
  std::string out;
  out.reserve(opened.size());
  size_t at = 0;
  int64_t row = 0;
  do {
    const size_t from = at;
    const std::string_view line = NextLine(opened, at);
    table.AppendLineData(++row, out);
    if (line.size() > 2 * PageTable::DataColumns) out.append(line.substr(2 * PageTable::DataColumns));
    out.append(opened.substr(from + line.size(), at - from - line.size()));  // the line's own end
  } while (at < opened.size());
  return out;
}

bool HasUpdateFileExtension(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ext = path.substr(dot);
  if (ext.size() != 4) return false;
  static constexpr char kExt[] = ".KVR";
  for (size_t i = 0; i < 4; ++i) {
    char c = ext[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kExt[i]) return false;
  }
  return true;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file and takes its size.
File OpenForReading(const std::string& path, int64_t& size) {
  File f(OpenFileForReading(path));
  size = RegularFileSize(f.get());
  return f;
}

// The first `limit` bytes of the open file `f` (a file that grows while it
// is read is not followed): one read, so both passes see the same bytes.
std::string ReadText(std::FILE* f, int64_t limit) {
  std::string text(static_cast<size_t>(limit), '\0');
  size_t got = 0;
  while (got < text.size()) {
    errno = 0;
    const size_t n = std::fread(text.data() + got, 1, text.size() - got, f);
    if (n == 0) {
      if (std::ferror(f)) throw InOutErrorFromErrno(errno != 0 ? errno : EIO);
      break;  // shorter than it was a moment ago
    }
    got += n;
  }
  text.resize(got);
  return text;
}

}  // namespace

bool OpenUpdateFile(const std::string& path, PageTable& table, UpdateFileState& state, UpdateFileUi& ui,
                    Sha256* digest, std::string* bytes) {
  if (!HasUpdateFileExtension(path)) return false;
  ui.ClearLogs();
  // Until the whole file is in, the table does not hold the file named (a
  // refused or unreadable file leaves the table as it was).
  state.Opened = false;

  int64_t size = 0;
  const File file = OpenForReading(path, size);
  if (size != ExpectedFileSize) ui.WarnWrongSize();
  if (size > MaxUpdateFileSize) return true;
  const std::string read = ReadText(file.get(), size);
  const std::string_view text = read;
  state.UpdateFileSize = static_cast<int32_t>(size);

  // First pass: count the lines (an empty file is one empty line).
  int64_t lines = 0;
  size_t at = 0;
  do {
    NextLine(text, at);
    ++lines;
  } while (at < text.size());
  state.FileLineCount = static_cast<int32_t>(lines - 1);
  state.PageTotal = (static_cast<int64_t>(state.FileLineCount) + PageLines - 1) / PageLines;

  // Second pass: line k fills row k. Rows after the file's lines are emptied
  // first, so no line of an earlier, longer file can be sent with this image.
  table.ClearDataRowsFrom(static_cast<int>(lines) + 1);
  table.ReserveRows(static_cast<int>(lines));
  at = 0;
  for (int64_t k = 1; k <= lines; ++k) table.SetLine(static_cast<int>(k), NextLine(text, at));
  if (digest) digest->Add(text.data(), text.size());
  if (bytes) *bytes = read;

  state.Opened = true;
  ui.SetStatus(std::string(kLoadingDataStatus) + HexUpper(state.PageTotal, 4));
  return true;
}

}  // namespace kvr
