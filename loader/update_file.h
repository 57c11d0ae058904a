// The open-file action's logic: extension test, size, the two text passes that
// count the lines and fill the page table, and the status text; and the text
// a save writes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "page_table.h"
#include "sha256.h"

namespace kvr {

// Input/output failure of the update file, with the run-time library's texts:
// "File not found", "File access denied" or "I/O error <code>".
class EInOutError : public std::runtime_error {
 public:
  EInOutError(int error_code, const std::string& message, std::string reason = {})
      : std::runtime_error(message), error_code_(error_code), reason_(std::move(reason)) {}
  int ErrorCode() const { return error_code_; }
  // The cause in words (the system's text for it), for messages that name it;
  // what() is the classic text the window shows.
  std::string Reason() const { return reason_.empty() ? std::string(what()) : reason_; }

 private:
  int error_code_;
  std::string reason_;
};

// The EInOutError for an errno value of a failed open or read.
EInOutError InOutErrorFromErrno(int err);

// Results of the last file load that the exchange and the status lines use.
struct UpdateFileState {
  int32_t UpdateFileSize = 0;  // bytes
  int32_t FileLineCount = 0;   // lines read less one
  int64_t PageTotal = 0;       // 256-byte pages the data lines fill
  // The table holds the whole of the file named last: false before any file,
  // after a refused one and after a read that failed part way.
  bool Opened = false;
};

inline constexpr std::string_view kWrongFileMessage =
    "Неправильный файл обновления. Проверьте файл или запустите более свежаю версию этой программы обновления";
inline constexpr std::string_view kLoadingDataStatus = "Загрузка данных. Страниц для загрузки: ";

// What the open-file action needs of the window, called in this order.
class UpdateFileUi {
 public:
  virtual ~UpdateFileUi() = default;
  virtual void ClearLogs() = 0;                            // the debug log
  virtual void WarnWrongSize() = 0;                        // message box kWrongFileMessage
  virtual void SetStatus(const std::string& caption) = 0;  // the status line
};

// The update file's line rule: a line ends at CR LF, LF or a lone CR. Returns
// the line that starts at `at` in `text`, without its end, and moves `at`
// past that end (to text.size() after the last line).
std::string_view NextLine(std::string_view text, size_t& at);

// The update file `opened` (its bytes as read) with each line's first 32
// characters as row k of `table` holds them now: the same lines, line ends
// and characters past the 32nd, so that the text opens as the cells shown and
// loads the same bytes. Unedited, it is `opened` byte for byte.
std::string EditedFileText(std::string_view opened, const PageTable& table);

// True when the path's extension (from its last "." on) is ".KVR" in any case.
bool HasUpdateFileExtension(std::string_view path);

// The open-file action for a path (UTF-8) the operator picked. A wrong extension does
// nothing and returns false. Otherwise: logs cleared, size taken (read-only),
// a wrong size warned of (and a file over MaxUpdateFileSize then refused with
// nothing changed), the lines counted and laid into `table` (rows after the
// file's lines emptied), `state` and the status line set. I/O failures throw
// EInOutError; what was done before them stays. The file is read once:
// `digest`, when given, takes the bytes laid into the table (a record of what
// was loaded), and `bytes` the bytes themselves (what a save starts from).
bool OpenUpdateFile(const std::string& path, PageTable& table, UpdateFileState& state, UpdateFileUi& ui,
                    Sha256* digest = nullptr, std::string* bytes = nullptr);

}  // namespace kvr
