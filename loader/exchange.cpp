#include "exchange.h"

#include "hex_text.h"
#include "image_geometry.h"

namespace kvr {

namespace {

// Integer division rounded to the nearest integer, ties to even (num >= 0).
int64_t DivideRoundHalfEven(int64_t num, int64_t den) {
  const int64_t q = num / den;
  const int64_t twice_rest = 2 * (num % den);
  if (twice_rest > den || (twice_rest == den && (q & 1) != 0)) return q + 1;
  return q;
}

}  // namespace

int ProgressPercent(int64_t line_counter) {
  if (line_counter <= 0) return 0;
  if (line_counter >= ImageLines) return 100;
  return static_cast<int>(DivideRoundHalfEven(line_counter * 100, ImageLines));
}

std::string PageAddressCommand(int64_t line_counter) {
  return "DL:1:" + HexUpper(DivideRoundHalfEven(line_counter, PageLines), 4) + "00";
}

namespace {

enum class ReplyAction { kSend, kFirstPage, kDataLine, kPageEnd };

struct ReplyRow {
  std::string_view name;  // compared with the reply's first name.size() characters
  ReplyAction action;
  std::string_view command;  // the command, or the data-line command's name
  std::string_view due;      // the reply that command asks for
};

// The opening and the page address, and the replies they ask for.
constexpr std::string_view kOpening = "DL:0";
constexpr std::string_view kOpeningReply = "PL0";
constexpr std::string_view kAddressReply = "PL1";

// In the order the replies are tested; the names exclude one another.
constexpr ReplyRow ReplyTable[] = {
    {"PL0", ReplyAction::kSend, "DL:6", "PL6"},
    {"PL6", ReplyAction::kFirstPage, "DL:1:000000", kAddressReply},
    {"PL1", ReplyAction::kDataLine, "DL:20:", "PL20"},
    {"PL20", ReplyAction::kDataLine, "DL:21:", "PL21"},
    {"PL21", ReplyAction::kDataLine, "DL:22:", "PL22"},
    {"PL22", ReplyAction::kDataLine, "DL:23:", "PL23"},
    {"PL23", ReplyAction::kDataLine, "DL:24:", "PL24"},
    {"PL24", ReplyAction::kDataLine, "DL:25:", "PL25"},
    {"PL25", ReplyAction::kDataLine, "DL:26:", "PL26"},
    {"PL26", ReplyAction::kDataLine, "DL:27:", "PL27"},
    {"PL27", ReplyAction::kDataLine, "DL:28:", "PL28"},
    {"PL28", ReplyAction::kDataLine, "DL:29:", "PL29"},
    {"PL29", ReplyAction::kDataLine, "DL:2A:", "PL2A"},
    {"PL2A", ReplyAction::kDataLine, "DL:2B:", "PL2B"},
    {"PL2B", ReplyAction::kDataLine, "DL:2C:", "PL2C"},
    {"PL2C", ReplyAction::kDataLine, "DL:2D:", "PL2D"},
    {"PL2D", ReplyAction::kDataLine, "DL:2E:", "PL2E"},
    {"PL2E", ReplyAction::kDataLine, "DL:2F:", "PL2F"},
    {"PL2F", ReplyAction::kSend, "DL:7", "PL7"},
    {"PL7", ReplyAction::kPageEnd, "", kAddressReply},
};

}  // namespace

void Exchange::OnReply(std::string_view reply) {
  for (const ReplyRow& row : ReplyTable) {
    if (reply.substr(0, row.name.size()) != row.name) continue;
    switch (row.action) {
      case ReplyAction::kFirstPage:
        page_first_line_ = 0;
        Send(row.command, row.due);
        break;
      case ReplyAction::kSend:
        Send(row.command, row.due);
        break;
      case ReplyAction::kDataLine:
        SendDataLine(row.command, row.due);
        break;
      case ReplyAction::kPageEnd:
        PageEnd();
        break;
    }
    return;
  }
  // Anything else sends nothing. (The load engine hands over only the reply
  // that was due; another is a failed attempt at the page there.)
}

void Exchange::Open() {
  line_counter_ = 0;
  page_first_line_ = -1;
  Send(kOpening, kOpeningReply);
}

void Exchange::RestartPage() {
  if (page_first_line_ < 0) {
    Open();
    return;
  }
  line_counter_ = page_first_line_;
  Send(PageAddressCommand(page_first_line_), kAddressReply);
}

void Exchange::Send(std::string_view command, std::string_view due_reply) {
  due_reply_ = due_reply;
  link_.SendFrame(command);
}

void Exchange::SendDataLine(std::string_view name, std::string_view due_reply) {
  // Past the image there is no line to send: a load whose lines have run
  // ahead of its pages (repeated replies) stops here instead of sending rows
  // beyond the image and then reporting a shifted image as complete.
  if (line_counter_ >= ImageLines) return;
  std::string command(name);
  // Line i is table row i + 1; the row index takes the counter's low 32 bits.
  table_.AppendLineData(static_cast<int64_t>(static_cast<uint32_t>(line_counter_)) + 1, command);
  ++line_counter_;
  Send(command, due_reply);
}

void Exchange::PageEnd() {
  view_.SetProgress(ProgressPercent(line_counter_));
  // The load ends with the image, whatever the file's size, and never runs past it.
  if (line_counter_ >= ImageLines) {
    view_.SetStatus(std::string(kLoadCompleteStatus));
    view_.LoadEnded(LoadOutcome::kComplete, "load complete");
    return;
  }
  const std::string command = PageAddressCommand(line_counter_);
  page_first_line_ = line_counter_;
  view_.SetStatus(std::string(kPageStatus) + HexUpper(DivideRoundHalfEven(line_counter_, PageLines), 4) +
                  std::string(kPageStatusOf) + HexUpper(file_.PageTotal, 4));
  Send(command, kAddressReply);
}

}  // namespace kvr
