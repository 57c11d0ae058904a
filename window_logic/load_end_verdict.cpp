#include "load_end_verdict.h"

#include <iostream>

namespace kvr {

int LoadEndVerdict(LoaderWindowLogic& logic, LoadOutcome outcome, const std::string& message, bool exit_at_end,
                   const std::function<bool()>& device_image_equal) {
  if (outcome != LoadOutcome::kComplete) {
    if (!exit_at_end) return 0;
    std::cerr << "kvr-loader: the load did not complete: " << message << std::endl;
    return 1;
  }
  if (!device_image_equal) return 0;
  const bool equal = device_image_equal();
  const std::string verdict =
      std::string("Simulated device: image ") + (equal ? "equal to the file" : "NOT equal to the file");
  logic.Log(verdict);
  std::cout << verdict << std::endl;
  if (equal) return 0;
  std::cerr << "kvr-loader: the simulated device's image differs from the file" << std::endl;
  return 1;
}

}  // namespace kvr
