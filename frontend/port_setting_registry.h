// The program's one stored setting on Windows: value "COM" of the subkey
// "KVR_LORVENT_LOADER" under HKEY_CURRENT_USER\SOFTWARE\ZENOVA, the 0-based
// index of the port to preselect. The key is opened with full access (and
// created when missing) and stays open while the object lives; the value is
// only read, never written.
#pragma once

#include <cstdint>
#include <string>

namespace kvr {

inline constexpr char kSettingsKey[] = "SOFTWARE\\ZENOVA";
inline constexpr char kSettingsSubkey[] = "KVR_LORVENT_LOADER";
inline constexpr char kSettingsValue[] = "COM";
inline constexpr char kRecordValue[] = "Record";

class RegistrySettings {
 public:
  explicit RegistrySettings(std::string key = kSettingsKey, std::string subkey = kSettingsSubkey);
  ~RegistrySettings();
  RegistrySettings(const RegistrySettings&) = delete;
  RegistrySettings& operator=(const RegistrySettings&) = delete;

  // The stored index: -1 when the subkey or the value is missing or its text
  // is not a number; throws std::runtime_error "Invalid data type for 'COM'"
  // when the value is stored as something other than text.
  int32_t PortIndex() const;

  // The window's record file of loads: value "Record" beside "COM", as text
  // (UTF-8 here); "" when none is stored. SetRecordFile stores it, false when
  // it could not be stored.
  std::string RecordFile() const;
  bool SetRecordFile(const std::string& path);

 private:
  void* key_ = nullptr;  // the open key, null when it could not be opened
  std::string subkey_;
};

}  // namespace kvr
