// The boot-loader exchange: every complete reply is looked up in the reply
// table by its first characters and, as a rule, answered with one command.
// A load is an opening ("DL:0" by the start timer, "DL:6"), then for every
// 256-byte page one address command, sixteen data-line commands and one
// page-end command, until all 36864 lines of the image have been sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "command_link.h"
#include "load_view.h"
#include "page_table.h"
#include "update_file.h"

namespace kvr {

inline constexpr std::string_view kLoadCompleteStatus = "Загрузка завершена";
inline constexpr std::string_view kPageStatus = "Загрузка страницы: ";
inline constexpr std::string_view kPageStatusOf = " из ";

// Gauge value for a line count: lines * 100 / 36864, to the nearest integer
// with ties to even, never above 100.
int ProgressPercent(int64_t line_counter);

// "DL:1:" + page number (lines / 16, rounded half to even) in upper-case hex
// with at least four digits + "00".
std::string PageAddressCommand(int64_t line_counter);

class Exchange {
 public:
  Exchange(CommandLink& link, const PageTable& table, const UpdateFileState& file, LoadView& view)
      : link_(link), table_(table), file_(file), view_(view) {}

  // Before a load: no line sent, no command due.
  void Reset() {
    line_counter_ = 0;
    page_first_line_ = -1;
    due_reply_ = {};
  }
  // A load begins: the next data line is line 0, and the opening "DL:0" goes out.
  void Open();

  // Starts the current page again from its address command, its lines from
  // the page's first line; before any page address it starts the opening
  // again with "DL:0". (The load engine's page retries, in every front end.)
  void RestartPage();
  // The first line of the page being sent; -1 during the opening.
  int64_t PageFirstLine() const { return page_first_line_; }

  // Carries out the reply table's row for one complete reply. The end of the
  // last page reports a complete load to the view.
  void OnReply(std::string_view reply);

  int64_t LineCounter() const { return line_counter_; }
  // The reply the last command asks for ("PL0" for "DL:0", "PL1" for a page
  // address, ...); "" before the first.
  std::string_view DueReply() const { return due_reply_; }

 private:
  void Send(std::string_view command, std::string_view due_reply);
  void SendDataLine(std::string_view name, std::string_view due_reply);
  void PageEnd();

  CommandLink& link_;
  const PageTable& table_;
  const UpdateFileState& file_;
  LoadView& view_;
  int64_t line_counter_ = 0;
  int64_t page_first_line_ = -1;
  std::string_view due_reply_;
};

}  // namespace kvr
