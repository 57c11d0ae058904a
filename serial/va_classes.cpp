#include "va_classes.h"

namespace va {

void TVaPersistent::Assign(const TVaPersistent& source) { AssignError(source); }

void TVaPersistent::AssignError(const TVaPersistent& source) const {
  throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}

}  // namespace va
