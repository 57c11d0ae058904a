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

void Exchange::OnReply(std::string_view reply) {
  const std::string_view name3 = reply.substr(0, 3);
  if (name3 == "PL0") {
    link_.SendFrame("DL:6");
  } else if (name3 == "PL6") {
    link_.SendFrame("DL:1:000000");
  } else if (name3 == "PL1") {
    SendDataLine('0');
  } else if (reply.size() >= 4 && name3 == "PL2") {
    // "PL20".."PL2E" ask for the page's next line, "PL2F" ends the page.
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    const size_t k = kDigits.find(reply[3]);
    if (k == std::string_view::npos) return;
    if (k == 15)
      link_.SendFrame("DL:7");
    else
      SendDataLine(kDigits[k + 1]);
  } else if (name3 == "PL7") {
    PageEnd();
  }
}

void Exchange::SendDataLine(char name_digit) {
  std::string command = "DL:2";
  command += name_digit;
  command += ':';
  // Line i is table row i + 1; the row index takes the counter's low 32 bits.
  table_.AppendLineData(static_cast<int64_t>(static_cast<uint32_t>(line_counter_)) + 1, command);
  ++line_counter_;
  link_.SendFrame(command);
}

void Exchange::PageEnd() {
  view_.SetProgress(ProgressPercent(line_counter_));
  // The load ends with the image, whatever the file's size, and never runs past it.
  if (line_counter_ >= ImageLines) {
    view_.SetStatus(std::string(kLoadCompleteStatus));
    view_.SetSwitchChecked(false);
    return;
  }
  const std::string command = PageAddressCommand(line_counter_);
  view_.SetStatus(std::string(kPageStatus) + HexUpper(DivideRoundHalfEven(line_counter_, PageLines), 4) +
                  std::string(kPageStatusOf) + HexUpper(file_.PageTotal, 4));
  link_.SendFrame(command);
}

}  // namespace kvr
