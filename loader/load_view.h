// What a front end shows of a load, and how the load ended: the one view the
// exchange, the load engine and the front ends share. The progress and status
// calls are the exchange's (gauge, status line); the rest come from the
// engine's supervision.
#pragma once

#include <string>

#include "load_outcome.h"

namespace kvr {

class LoadView {
 public:
  virtual ~LoadView() = default;
  virtual void SetProgress(int percent) = 0;
  virtual void SetStatus(const std::string& caption) = 0;
  // A page starts again; `attempt` counts from 1.
  virtual void LoadRetry(int attempt, const std::string& where, const std::string& why) {
    (void)attempt, (void)where, (void)why;
  }
  // The load ended; `message` says why and where.
  virtual void LoadEnded(LoadOutcome outcome, const std::string& message) = 0;
};

}  // namespace kvr
