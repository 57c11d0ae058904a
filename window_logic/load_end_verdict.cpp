#include "load_end_verdict.h"

#include <iostream>

namespace kvr {

int LoadEndVerdict(const LoaderWindowLogic& logic, LoadOutcome outcome, const std::string& message,
                   bool exit_at_end) {
  const bool ran_to_end = outcome == LoadOutcome::kComplete || outcome == LoadOutcome::kImageDiffers;
  if (ran_to_end && !logic.DeviceVerdictText().empty()) std::cout << logic.DeviceVerdictText() << std::endl;
  if (outcome == LoadOutcome::kImageDiffers) {
    std::cerr << "kvr-loader: the simulated device's image differs from the one loaded" << std::endl;
    return 1;
  }
  if (outcome == LoadOutcome::kComplete || !exit_at_end) return 0;
  std::cerr << "kvr-loader: the load did not complete: " << message << std::endl;
  return 1;
}

}  // namespace kvr
