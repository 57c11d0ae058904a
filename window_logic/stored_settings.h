// What the window keeps from one start to the next, under the key
// ZENOVA\KVR_LORVENT_LOADER: the index of the port to preselect (value "COM",
// only ever read) and the record file of loads (value "Record", written by
// --set-record). Each platform keeps them its own way: QSettings' file on
// Linux (window/qt_stored_settings.h), the registry on Windows
// (registry_settings.h).
#pragma once

#include <cstdint>
#include <string>

namespace kvr {

class StoredSettings {
 public:
  virtual ~StoredSettings() = default;

  // The stored index, counted from 0: -1 when none is stored or its text is
  // not a number (port_setting_text.h); throws std::runtime_error "Invalid
  // data type for 'COM'" when the value is stored as something other than text.
  virtual int32_t PortIndex() const = 0;

  // The record file of loads; "" when none is stored.
  virtual std::string RecordFile() const = 0;
  // Stores it ("" for none); false when it could not be stored.
  virtual bool SetRecordFile(const std::string& path) = 0;

  // Where the settings are kept, for a message: "the registry", a file's name.
  virtual std::string Place() const = 0;
};

}  // namespace kvr
