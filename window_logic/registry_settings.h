// The window's stored settings on Windows: values of the subkey
// "KVR_LORVENT_LOADER" under HKEY_CURRENT_USER\SOFTWARE\ZENOVA. "COM" is the
// 0-based index of the port to preselect, only read, never written; "Record"
// the record file of loads. The key is opened with full access (and created
// when missing) and stays open while the object lives.
#pragma once

#include <cstdint>
#include <string>

#include "stored_settings.h"

namespace kvr {

inline constexpr char kSettingsKey[] = "SOFTWARE\\ZENOVA";
inline constexpr char kSettingsSubkey[] = "KVR_LORVENT_LOADER";
inline constexpr char kSettingsValue[] = "COM";
inline constexpr char kRecordValue[] = "Record";

class RegistrySettings final : public StoredSettings {
 public:
  explicit RegistrySettings(std::string key = kSettingsKey, std::string subkey = kSettingsSubkey);
  ~RegistrySettings() override;
  RegistrySettings(const RegistrySettings&) = delete;
  RegistrySettings& operator=(const RegistrySettings&) = delete;

  // The stored index: -1 when the subkey or the value is missing or its text
  // is not a number; throws std::runtime_error "Invalid data type for 'COM'"
  // when the value is stored as something other than text.
  int32_t PortIndex() const override;

  // "Record" beside "COM", as text (UTF-8 here).
  std::string RecordFile() const override;
  bool SetRecordFile(const std::string& path) override;

  std::string Place() const override { return "the registry"; }

 private:
  void* key_ = nullptr;  // the open key, null when it could not be opened
  std::string subkey_;
};

}  // namespace kvr
