// The documents' commands run as written against the programs built here.
// A usage line becomes its forms (usage_forms.h) with the placeholders
// filled from the caller's table. Each command runs through /bin/sh in a
// fresh folder with the built programs first in PATH; a serial device it
// names is a simulated boot loader behind a pseudo-terminal (behind ser2net
// for rfc2217:// and socket:// URLs), an image it reads is made up, a list
// of ports it reads (kPortsFile) names two stand-ins, a record file it reads
// before writing one holds one load. A "$ " block's commands run in one
// folder, in order. A command that ends must exit 0 (or as the expectation
// table says); one still running at the bound (a load at the real pace takes
// 35 minutes) must, on Ctrl-C, exit 130 having been loading into every port
// it names; the window must still be running with nothing on standard
// error. A completed load leaves the image in the stand-in device; sample
// output must appear in the output (output_shape.h). A command that cannot
// run here must be in the skip table with the reason.
#pragma once

#include <string>
#include <vector>

#include "doc_command.h"
#include "usage_forms.h"

namespace kvr::docs {

// The name of the port list a --ports-from reads, written into the folder of each job that names it.
inline constexpr char kPortsFile[] = "ports.txt";

// Commands that are not run here (a regular expression searched in the command as written), and why.
struct Skip {
  const char* pattern;
  const char* reason;
};

// Commands whose exit code is not 0 (a regular expression searched in the command without its comment).
struct ExpectedExit {
  const char* pattern;
  int code;
};

struct Tables {
  std::vector<Skip> skips;
  std::vector<ExpectedExit> expected;
  Placeholders placeholders;
};

struct Totals {
  int passed = 0, failed = 0, skipped = 0;
};

// Runs the commands, prints the list of every command as written and as run
// with its result, and reports each fault as a test failure; the totals of
// this run. The totals of all runs are printed when the test program ends.
Totals RunAndList(const std::vector<DocCommand>& commands, const Tables& tables);

}  // namespace kvr::docs
