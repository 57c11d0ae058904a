#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>
#include <string>

#include "port_setting_text.h"
#include "registry_settings.h"
#include "utf8_files.h"

namespace kvr {

RegistrySettings::RegistrySettings(std::string key, std::string subkey) : subkey_(std::move(subkey)) {
  HKEY h = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h,
                      nullptr) == ERROR_SUCCESS)
    key_ = h;
}

RegistrySettings::~RegistrySettings() {
  if (key_) RegCloseKey(static_cast<HKEY>(key_));
}

int32_t RegistrySettings::PortIndex() const {
  if (!key_) return -1;
  HKEY sub = nullptr;
  if (RegOpenKeyExA(static_cast<HKEY>(key_), subkey_.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return -1;
  struct Closer {
    HKEY h;
    ~Closer() { RegCloseKey(h); }
  } closer{sub};
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(sub, kSettingsValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return -1;
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw std::runtime_error(std::string("Invalid data type for '") + kSettingsValue + "'");
  std::string text(size, '\0');
  if (size > 0 && RegQueryValueExA(sub, kSettingsValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
                      ERROR_SUCCESS)
    return -1;
  text.resize(std::min<size_t>(size, text.size()));
  // Stored text usually ends with its terminating zero.
  const size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return SettingIndexOrMinusOne(text);
}

std::string RegistrySettings::RecordFile() const {
  if (!key_) return "";
  const std::wstring subkey = base::Wide(subkey_), value = base::Wide(kRecordValue);
  DWORD type = 0, size = 0;
  if (RegGetValueW(static_cast<HKEY>(key_), subkey.c_str(), value.c_str(), RRF_RT_REG_SZ, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0)
    return "";
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(static_cast<HKEY>(key_), subkey.c_str(), value.c_str(), RRF_RT_REG_SZ, &type, text.data(),
                   &size) != ERROR_SUCCESS)
    return "";
  text.resize(wcsnlen(text.c_str(), text.size()));
  return base::Utf8(text);
}

bool RegistrySettings::SetRecordFile(const std::string& path) {
  if (!key_) return false;
  HKEY sub = nullptr;
  if (RegCreateKeyExW(static_cast<HKEY>(key_), base::Wide(subkey_).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &sub, nullptr) != ERROR_SUCCESS)
    return false;
  const std::wstring text = base::Wide(path);
  const LONG stored = RegSetValueExW(sub, base::Wide(kRecordValue).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(sub);
  return stored == ERROR_SUCCESS;
}

}  // namespace kvr
