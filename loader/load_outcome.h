// How a load ended, and what each end is called: its name in the record of
// loads, the command line's exit code for it, and its words for people
// (English for the command line, Russian for the window). Every front end and
// the record reader take these from this one table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvr {

enum class LoadOutcome {
  kIdle,          // not started
  kRunning,       // under way
  kComplete,      // the last page ended
  kStopped,       // ended after the number of commands asked for (benchmarks)
  kInterrupted,   // stopped by the operator: the switch, closing the window, Ctrl-C
  kNoAnswer,      // a page's retries are used up
  kPortLost,      // the port went away during the load
  kPortError,     // the port could not be opened, set up or written
  kImageError,    // the image cannot be right: nothing was sent
  kLogError,      // the reply log cannot be written: nothing was sent
  kRecordError,   // the record of loads cannot be written: nothing was sent
  kLogIncomplete, // complete, but the log or the record could not be written in full
  kImageDiffers,  // ran to its end, but the simulated device's image is not the file's
};

struct OutcomeFacts {
  LoadOutcome outcome;
  std::string_view record;   // the name in the record of loads ("" for a load that has not ended)
  int exit_code;             // the command line's
  std::string_view english;  // in a few words
  std::string_view russian;  // the window's words
};

const OutcomeFacts& FactsOf(LoadOutcome outcome);
// The outcome a record names; none for a name no load ends with.
std::optional<LoadOutcome> OutcomeNamed(std::string_view record);
// The names an ended load is recorded with, in the table's order: "complete, stopped, ...".
std::string OutcomeNames();
// A load that ran to its end and may be relied on.
inline bool Succeeded(LoadOutcome outcome) { return FactsOf(outcome).exit_code == 0; }

}  // namespace kvr
