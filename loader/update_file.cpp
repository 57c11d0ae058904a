#include "update_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hex_text.h"
#include "image_geometry.h"
#include "sha256.h"
#include "update_file_open.h"

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

// Opens a regular file; its size goes to `size` when asked for.
File OpenForReading(const std::string& path, int64_t* size = nullptr) {
  File f(OpenFileForReading(path));
  const int64_t found = RegularFileSize(f.get());
  if (size) *size = found;
  return f;
}

// The size of the regular file at `path`.
int64_t FileSize(const std::string& path) {
  int64_t size = 0;
  OpenForReading(path, &size);
  return size;
}

// Reads the first `limit` bytes of a file as text lines (a file that grows
// while it is read is not followed): a line ends at CR LF, LF or a lone CR.
class LineReader {
 public:
  // `digest`, when given, takes every byte read.
  LineReader(const std::string& path, int64_t limit, Sha256* digest = nullptr)
      : file_(OpenForReading(path)), buf_(1 << 16), left_(limit), digest_(digest) {}

  // True once every byte has been consumed.
  bool Eof() {
    if (pos_ == end_) Fill();
    return pos_ == end_;
  }

  // The next line without its end (empty at the end of the file). The view
  // stays valid until the next call on the reader.
  std::string_view ReadLine() {
    carry_.clear();
    for (;;) {
      if (pos_ == end_ && !Fill()) return carry_;
      const char* p = buf_.data() + pos_;
      const size_t n = end_ - pos_;
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
      size_t span = lf ? static_cast<size_t>(lf - p) : n;
      const auto* cr = static_cast<const char*>(std::memchr(p, '\r', span));
      if (cr) span = static_cast<size_t>(cr - p);
      if (!cr && !lf) {  // the line goes on in the next block
        carry_.append(p, n);
        pos_ = end_;
        continue;
      }
      std::string_view line(p, span);
      pos_ += span + 1;
      if (!carry_.empty() || (cr && pos_ == end_)) {
        carry_.append(line);
        line = carry_;
      }
      if (cr && (pos_ < end_ || Fill()) && buf_[pos_] == '\n') ++pos_;
      return line;
    }
  }

 private:
  // Reads the next block; false at the end of the file.
  bool Fill() {
    errno = 0;
    const size_t want = static_cast<size_t>(std::min<int64_t>(left_, static_cast<int64_t>(buf_.size())));
    const size_t n = want == 0 ? 0 : std::fread(buf_.data(), 1, want, file_.get());
    left_ -= static_cast<int64_t>(n);
    if (digest_) digest_->Add(buf_.data(), n);
    if (n == 0 && std::ferror(file_.get())) throw InOutErrorFromErrno(errno != 0 ? errno : EIO);
    pos_ = 0;
    end_ = n;
    return n > 0;
  }

  File file_;
  std::vector<char> buf_;
  std::string carry_;
  size_t pos_ = 0;
  size_t end_ = 0;
  int64_t left_;  // bytes still to read
  Sha256* digest_;
};

}  // namespace

bool OpenUpdateFile(const std::string& path, PageTable& table, UpdateFileState& state, UpdateFileUi& ui,
                    Sha256* digest) {
  if (!HasUpdateFileExtension(path)) return false;
  ui.ClearLogs();
  // Until the whole file is in, the table does not hold the file named (a
  // refused or unreadable file leaves the table as it was).
  state.Opened = false;

  const int64_t size = FileSize(path);
  if (size != ExpectedFileSize) ui.WarnWrongSize();
  if (size > MaxUpdateFileSize) return true;
  state.UpdateFileSize = static_cast<int32_t>(size);

  // First pass: count the lines, the count taken after each read.
  int64_t lines = 0;
  {
    LineReader reader(path, size);
    do {
      reader.ReadLine();
      ++lines;
    } while (!reader.Eof());
  }
  state.FileLineCount = static_cast<int32_t>(lines - 1);
  state.PageTotal = (static_cast<int64_t>(state.FileLineCount) + PageLines - 1) / PageLines;

  // Second pass: line k fills row k. Rows after the file's lines are emptied
  // first, so no line of an earlier, longer file can be sent with this image.
  table.ClearDataRowsFrom(static_cast<int>(lines) + 1);
  table.ReserveRows(static_cast<int>(lines));
  {
    LineReader reader(path, size, digest);
    for (int64_t k = 1; k <= lines; ++k) table.SetLine(static_cast<int>(k), reader.ReadLine());
    while (digest && !reader.Eof()) reader.ReadLine();  // the digest covers the file to its end
  }

  state.Opened = true;
  ui.SetStatus(std::string(kLoadingDataStatus) + HexUpper(state.PageTotal, 4));
  return true;
}

}  // namespace kvr
