// A gang load: the same image into several ports at once, each load with its
// own port, engine and clock, so that a fault, a retry or a lost port on one
// never stops, slows or changes another. All loads run on one thread: one
// loop waits for every port's events until the earliest deadline of any
// load (nothing in a load waits, so none holds up another). One
// combined view on standard error (a line per port, redrawn in place on a
// terminal) and a table of the outcomes at the end.
#pragma once

#include <string>
#include <vector>

#include "port_load.h"

namespace kvr::cli {

// Runs every job to its end and returns the outcomes in the jobs' order.
// Ctrl-C (Interrupted) stops every load; each closes its port.
std::vector<PortOutcome> RunGang(const LoadOptions& options, const std::vector<PortJob>& jobs, const PageTable& table,
                                 const UpdateFileState& file, const std::string& image_path);

// 0 when every load completed, otherwise the highest exit code among the others.
int CombinedExitCode(const std::vector<PortOutcome>& outcomes);

// The closing table: port, result, duration, retries, message.
std::string OutcomeTable(const std::vector<PortOutcome>& outcomes);

// One line of the combined view (without line end), at most `width` characters.
std::string ViewLine(const std::string& port, size_t port_width, const PortProgress& p, const std::string& result,
                     size_t width);

}  // namespace kvr::cli
