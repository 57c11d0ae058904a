// The stored port index read from the registry (under Wine: a fresh prefix's
// current-user hive).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "registry_settings.h"

namespace {

const char kSubkeyPath[] = "SOFTWARE\\ZENOVA\\KVR_LORVENT_LOADER";

void DeleteZenova() {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSubkeyPath);
  RegDeleteKeyA(HKEY_CURRENT_USER, kvr::kSettingsKey);
}

bool KeyExists(const char* path) {
  HKEY h;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

void Store(DWORD type, const void* data, DWORD size) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSubkeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(h, "COM", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(h);
}

int32_t StoredText(const std::string& text) {
  Store(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  return kvr::RegistrySettings().PortIndex();
}

TEST(RegistrySetting, MissingKeyIsCreatedAndGivesMinusOne) {
  DeleteZenova();
  ASSERT_FALSE(KeyExists(kvr::kSettingsKey));
  kvr::RegistrySettings settings;
  EXPECT_TRUE(KeyExists(kvr::kSettingsKey));  // created ...
  EXPECT_FALSE(KeyExists(kSubkeyPath));       // ... but not the subkey: nothing is written
  EXPECT_EQ(settings.PortIndex(), -1);
}

TEST(RegistrySetting, MissingValueGivesMinusOne) {
  DeleteZenova();
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSubkeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(kvr::RegistrySettings().PortIndex(), -1);
}

TEST(RegistrySetting, TextIsConvertedAsTheRuntimeConvertsIntegers) {
  EXPECT_EQ(StoredText("2"), 2);
  EXPECT_EQ(StoredText("$1F"), 31);
  EXPECT_EQ(StoredText("0x10"), 16);
  EXPECT_EQ(StoredText("  7"), 7);
  EXPECT_EQ(StoredText("abc"), -1);
  EXPECT_EQ(StoredText(""), -1);
}

TEST(RegistrySetting, TextWithoutItsTerminatingZeroIsReadWhole) {
  Store(REG_SZ, "12", 2);
  EXPECT_EQ(kvr::RegistrySettings().PortIndex(), 12);
}

TEST(RegistrySetting, ANumberStoredAsDwordIsAnInvalidDataType) {
  const DWORD value = 2;
  Store(REG_DWORD, &value, sizeof value);
  try {
    kvr::RegistrySettings().PortIndex();
    FAIL() << "a DWORD value was read as the index";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'COM'");
  }
}

TEST(RegistrySetting, TheKeyStaysOpenAndIsReadAgain) {
  kvr::RegistrySettings settings;
  EXPECT_EQ(StoredText("3"), 3);
  EXPECT_EQ(settings.PortIndex(), 3);
  Store(REG_SZ, "4", 2);
  EXPECT_EQ(settings.PortIndex(), 4);
  DeleteZenova();
}

}  // namespace
