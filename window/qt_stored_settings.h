// The window's stored settings through QSettings: the native format in the
// user's scope, organisation "ZENOVA", application "KVR_LORVENT_LOADER"
// (on Linux ~/.config/ZENOVA/KVR_LORVENT_LOADER.conf).
#pragma once

#include <cstdint>
#include <string>

#include "stored_settings.h"

namespace kvr {

class QtStoredSettings final : public StoredSettings {
 public:
  int32_t PortIndex() const override;
  std::string RecordFile() const override;
  bool SetRecordFile(const std::string& path) override;
  std::string Place() const override;  // the settings file's name
};

}  // namespace kvr
