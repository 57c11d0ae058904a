// The update file in a folder whose name the ANSI code page cannot spell: the
// window and the command line hand the path over as UTF-8.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "page_table.h"
#include "update_file.h"

namespace kvr {
namespace {

class QuietUi final : public UpdateFileUi {
 public:
  void ClearLogs() override {}
  void WarnWrongSize() override { ++warnings; }
  void SetStatus(const std::string&) override {}
  int warnings = 0;
};

std::string Utf8(const std::wstring& wide) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

TEST(UpdateFilePath, FileInACyrillicFolderIsOpened) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"Обновления КВР";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring file = folder + L"\\ПРОШИВКА.KVR";
  std::FILE* f = _wfopen(file.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  char line[40];
  for (int n = 0; n < 36864; ++n) {
    std::snprintf(line, sizeof line, "%08X0123456789ABCDEF01234567\r\n", n);
    std::fputs(line, f);
  }
  std::fputs("\r\n", f);  // the closing empty line of a real update file
  std::fclose(f);

  PageTable table;
  UpdateFileState state;
  QuietUi ui;
  EXPECT_TRUE(OpenUpdateFile(Utf8(file), table, state, ui));
  EXPECT_TRUE(state.Opened);
  EXPECT_EQ(state.PageTotal, 2304);
  EXPECT_EQ(ui.warnings, 0);
  EXPECT_EQ(table.Cell(1, 36864), "00");
  EXPECT_EQ(table.Cell(3, 36864), "8F");
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace kvr
