#include "update_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#include "hex_text.h"
#include "image_geometry.h"

namespace kvr {

EInOutError InOutErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return EInOutError(2, "File not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return EInOutError(5, "File access denied");
    default:
      return EInOutError(err, "I/O error " + std::to_string(err));
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

File OpenForReading(const std::string& path) {
  errno = 0;
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) throw InOutErrorFromErrno(errno != 0 ? errno : EIO);
  return f;
}

int64_t FileSize(const std::string& path) {
  File f = OpenForReading(path);
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(f.get()), &st) != 0) throw InOutErrorFromErrno(errno);
  if ((st.st_mode & _S_IFDIR) != 0) throw InOutErrorFromErrno(EISDIR);
#else
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0) throw InOutErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) throw InOutErrorFromErrno(EISDIR);
#endif
  return static_cast<int64_t>(st.st_size);
}

// Reads a file as text lines: a line ends at CR LF, LF or a lone CR. Eof() is
// true once every byte has been consumed.
class LineReader {
 public:
  explicit LineReader(const std::string& path) : file_(OpenForReading(path)), buf_(1 << 16) { Fill(); }

  bool Eof() const { return pos_ == end_; }

  // Reads one line into `line` (without its end), or skips it when `line` is
  // null; at the end of the file the line is empty.
  void ReadLine(std::string* line) {
    if (line) line->clear();
    while (pos_ < end_) {
      const char* start = buf_.data() + pos_;
      const char* limit = buf_.data() + end_;
      const char* stop = start;
      while (stop < limit && *stop != '\n' && *stop != '\r') ++stop;
      if (line) line->append(start, stop);
      pos_ += static_cast<size_t>(stop - start);
      if (stop < limit) {
        const char ender = *stop;
        Advance();
        if (ender == '\r' && pos_ < end_ && buf_[pos_] == '\n') Advance();
        return;
      }
      Fill();
    }
  }

 private:
  void Advance() {
    if (++pos_ == end_) Fill();
  }

  void Fill() {
    errno = 0;
    const size_t n = std::fread(buf_.data(), 1, buf_.size(), file_.get());
    if (n == 0 && std::ferror(file_.get())) throw InOutErrorFromErrno(errno != 0 ? errno : EIO);
    pos_ = 0;
    end_ = n;
  }

  File file_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

}  // namespace

bool OpenUpdateFile(const std::string& path, PageTable& table, UpdateFileState& state, UpdateFileUi& ui) {
  if (!HasUpdateFileExtension(path)) return false;
  ui.ClearLogs();

  const int64_t size = FileSize(path);
  if (size != ExpectedFileSize) ui.WarnWrongSize();
  if (size > MaxUpdateFileSize) return true;  // refused: the table and the state stay as they were
  state.UpdateFileSize = static_cast<int32_t>(size);

  // First pass: count the lines, the count taken after each read.
  int64_t lines = 0;
  {
    LineReader reader(path);
    do {
      reader.ReadLine(nullptr);
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
    LineReader reader(path);
    std::string line;
    for (int64_t k = 1; k <= lines; ++k) {
      reader.ReadLine(&line);
      table.SetLine(static_cast<int>(k), line);
    }
  }

  ui.SetStatus(std::string(kLoadingDataStatus) + HexUpper(state.PageTotal, 4));
  return true;
}

}  // namespace kvr
