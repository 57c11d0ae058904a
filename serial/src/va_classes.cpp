#include "va_classes.h"

namespace va {

void TVaPersistent::Assign(const TVaPersistent& source) { AssignError(source); }

void TVaPersistent::AssignError(const TVaPersistent& source) const {
  throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}

void CheckSettingRange(const char* name, int64_t value, int64_t lo, int64_t hi) {
  if (value >= lo && value <= hi) return;
  throw EVaCommError("Invalid value " + std::to_string(value) + " for " + name + " (" + std::to_string(lo) + ".." +
                     std::to_string(hi) + ")");
}

}  // namespace va
