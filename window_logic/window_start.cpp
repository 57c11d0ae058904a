#include "window_start.h"

#include <iostream>

#include "load_end_verdict.h"

namespace kvr {

WindowOptions WindowOptionsFor(const WindowCommandLine& asked, const StoredSettings& settings) {
  WindowOptions options;
  if (asked.fast) options.load.pause_ms = 0;
  options.tool = "kvr-loader " KVR_VERSION;
  options.record_file = RecordFileOf(asked, settings);
  return options;
}

void StartAsAsked(LoaderWindowLogic& logic, const WindowCommandLine& asked, const WindowLoop& loop, int& exit_code) {
  // The file given on the command line, as if chosen in the dialog.
  if (!asked.file.empty()) logic.OpenFile(asked.file);
  const bool exit_at_end = asked.exit_at_end;
  logic.OnLoadEnded = [&logic, &exit_code, loop, exit_at_end](LoadOutcome outcome, const std::string& message) {
    if (LoadEndVerdict(logic, outcome, message, exit_at_end) != 0) exit_code = 1;
    if (exit_at_end) loop.after(0, loop.quit);
  };
  if (asked.autostart) loop.after(200, [&logic] { logic.StartSwitchClicked(); });
  if (asked.exit_at_end && !asked.autostart) {
    // Nothing starts a load by itself: the program ends once the window is up.
    loop.after(1000, [&logic, &exit_code, loop] {
      if (logic.LoadRuns() || logic.LastOutcome() != LoadOutcome::kIdle) return;
      exit_code = 1;
      std::cerr << "kvr-loader: the load did not complete (no load was started)" << std::endl;
      loop.quit();
    });
  }
}

}  // namespace kvr
