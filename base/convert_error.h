// The conversion error of the run-time library: a settings object assigned
// from one of another class, a format that does not fit its argument.
#pragma once

#include <stdexcept>
#include <string>

namespace base {

class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace base
