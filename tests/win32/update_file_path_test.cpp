// The update file in a folder whose name the ANSI code page cannot spell: the
// window and the command line hand the path over as UTF-8.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "page_table.h"
#include "update_file.h"
#include "utf8_files.h"

namespace kvr {
namespace {

class QuietUi final : public UpdateFileUi {
 public:
  void ClearLogs() override {}
  void WarnWrongSize() override { ++warnings; }
  void SetStatus(const std::string&) override {}
  int warnings = 0;
};

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
  EXPECT_TRUE(OpenUpdateFile(base::Utf8(file), table, state, ui));
  EXPECT_TRUE(state.Opened);
  EXPECT_EQ(state.PageTotal, 2304);
  EXPECT_EQ(ui.warnings, 0);
  EXPECT_EQ(table.Cell(1, 36864), "00");
  EXPECT_EQ(table.Cell(3, 36864), "8F");
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

// The program's one conversion between UTF-8 and the wide API, and files
// opened by UTF-8 names through it.
TEST(Utf8Files, ConvertsBothWaysAndOpensByCyrillicNames) {
  const struct {
    std::string utf8;
    std::wstring wide;
  } cases[] = {{"", L""},
               {"COM3", L"COM3"},
               {"Обновления", L"Обновления"},  // narrow literals are UTF-8, as the source
               {"\xF0\x9F\x99\x82", L"\xD83D\xDE42"}};  // outside the basic plane: a surrogate pair
  for (const auto& c : cases) {
    EXPECT_EQ(base::Wide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(base::Utf8(c.wide), c.utf8) << c.utf8;
  }
  EXPECT_EQ(base::Wide("a\xFF" "b"), L"a\xFFFD" L"b");  // no UTF-8: replaced, not cut short
  EXPECT_EQ(base::Utf8(std::wstring(1, L'\xD800')), "\xEF\xBF\xBD");

  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::string name = base::Utf8(temp) + "Журнал.txt";
  std::FILE* f = base::OpenFile(name, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  std::fclose(f);
  EXPECT_NE(GetFileAttributesW(base::Wide(name).c_str()), INVALID_FILE_ATTRIBUTES);
  f = base::OpenFile(name, "rb");
  ASSERT_NE(f, nullptr);
  char back[8] = {};
  EXPECT_EQ(std::fread(back, 1, sizeof back, f), 5u);  // "b": no CR added
  std::fclose(f);
  EXPECT_TRUE(std::filesystem::exists(base::Utf8Path(name)));
  DeleteFileW(base::Wide(name).c_str());
}

}  // namespace
}  // namespace kvr
