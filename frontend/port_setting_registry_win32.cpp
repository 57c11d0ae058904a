#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "port_setting_registry.h"
#include "port_setting_text.h"

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

}  // namespace kvr
