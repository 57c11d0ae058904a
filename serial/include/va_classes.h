// Base classes of the serial port component: the root object, the component
// base, the settings-object base with change notification, and the errors.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "convert_error.h"

namespace va {

class TVaObject {
 public:
  virtual ~TVaObject() = default;
  virtual const char* ClassName() const = 0;
};

using TNotifyEvent = std::function<void(TVaObject* Sender)>;

// The serial component's error (message only).
class EVaCommError : public std::runtime_error {
 public:
  explicit EVaCommError(const std::string& message) : std::runtime_error(message) {}
};

// Refuses a value outside lo..hi with EVaCommError "Invalid value V for NAME
// (LO..HI)": for settings that index a table or size a buffer, so a bad value
// is never stored.
void CheckSettingRange(const char* name, int64_t value, int64_t lo, int64_t hi);

// Assign between objects of different classes; a bad format.
using base::EConvertError;

class TVaComponent : public TVaObject {
 public:
  const char* ClassName() const override { return "TVaComponent"; }
};

// Settings object with a change notification to its owner: once per change,
// or once per batch between BeginUpdate and the outermost EndUpdate.
class TVaPersistent : public TVaObject {
 public:
  TNotifyEvent OnChange;

  // Copies `source` into this object; a source of another class is refused
  // with EConvertError and nothing changes.
  virtual void Assign(const TVaPersistent& source);

  void BeginUpdate() { ++UpdateCount; }
  void EndUpdate() {
    if (UpdateCount > 0) --UpdateCount;
    Changed();
  }
  void Changed() {
    if (UpdateCount == 0 && OnChange) OnChange(this);
  }
  int32_t GetUpdateCount() const { return UpdateCount; }

 protected:
  // The base refusal; derived classes call it for a source they cannot take.
  [[noreturn]] void AssignError(const TVaPersistent& source) const;

  int32_t UpdateCount = 0;
};

}  // namespace va
