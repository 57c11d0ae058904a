#include "update_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "image_geometry.h"
#include "sha256.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

using test::RecordingView;
using test::TempDir;

class UpdateFileTest : public ::testing::Test {
 protected:
  void SetUp() override { table.SetupHeadings(); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    sim::WriteFile(path, text);
    return path;
  }

  TempDir dir;
  PageTable table;
  UpdateFileState state;
  RecordingView ui;
};

TEST(UpdateFileExtension, ComparedWithoutRegardToCase) {
  EXPECT_TRUE(HasUpdateFileExtension("IMAGE.KVR"));
  EXPECT_TRUE(HasUpdateFileExtension("/a/b/image.kvr"));
  EXPECT_TRUE(HasUpdateFileExtension("x.Kvr"));
  EXPECT_FALSE(HasUpdateFileExtension("image.kvr.bak"));
  EXPECT_FALSE(HasUpdateFileExtension("image"));
  EXPECT_FALSE(HasUpdateFileExtension("image.kv"));
  EXPECT_FALSE(HasUpdateFileExtension("image.kvrx"));
  EXPECT_FALSE(HasUpdateFileExtension("dir.kvr/file"));
}

TEST_F(UpdateFileTest, WrongExtensionDoesNothing) {
  const std::string path = Write("image.kvr.bak", sim::MakeUpdateFileText(1));
  EXPECT_FALSE(OpenUpdateFile(path, table, state, ui));
  EXPECT_EQ(ui.clears, 0);
  EXPECT_TRUE(ui.status.empty());
  EXPECT_EQ(state.UpdateFileSize, 0);
  EXPECT_EQ(table.Cell(1, 1), "");
}

TEST_F(UpdateFileTest, StandardFileFillsTheTable) {
  const std::string text = sim::MakeUpdateFileText(7);
  ASSERT_EQ(static_cast<int64_t>(text.size()), ExpectedFileSize);
  const std::string path = Write("image.kvr", text);
  ASSERT_TRUE(OpenUpdateFile(path, table, state, ui));

  EXPECT_EQ(ui.clears, 1);
  EXPECT_EQ(ui.warnings, 0);
  EXPECT_EQ(state.UpdateFileSize, ExpectedFileSize);
  EXPECT_EQ(state.FileLineCount, 36864);  // 36865 lines read, the last one empty
  EXPECT_EQ(state.PageTotal, 2304);
  ASSERT_EQ(ui.status.size(), 1u);
  EXPECT_EQ(ui.status[0], "Загрузка данных. Страниц для загрузки: 0900");

  for (int row : {1, 2, 4096, 36864}) {
    std::string data;
    table.AppendLineData(row, data);
    EXPECT_EQ(data, text.substr(static_cast<size_t>(row - 1) * 34, 32)) << "row " << row;
  }
  EXPECT_EQ(table.Cell(1, 36865), "");
  EXPECT_EQ(table.Cell(0, 36864), "y8FFF$");  // headings untouched
  // 626,705 cells: well under 3 MB without a heap object per cell.
  EXPECT_LT(table.MemoryBytes(), 3'000'000u);
}

TEST_F(UpdateFileTest, EmptyFileIsOneEmptyLine) {
  table.SetLine(1, std::string(32, 'A'));
  table.SetLine(2, std::string(32, 'B'));
  const std::string path = Write("empty.KVR", "");
  ASSERT_TRUE(OpenUpdateFile(path, table, state, ui));
  EXPECT_EQ(ui.warnings, 1);
  EXPECT_EQ(state.UpdateFileSize, 0);
  EXPECT_EQ(state.FileLineCount, 0);
  EXPECT_EQ(state.PageTotal, 0);
  EXPECT_EQ(ui.status.at(0), "Загрузка данных. Страниц для загрузки: 0000");
  EXPECT_EQ(table.Cell(1, 1), "");
  EXPECT_EQ(table.Cell(1, 2), "");
}

TEST_F(UpdateFileTest, LineEndsAndShortAndLongLines) {
  // LF alone, CR alone and CR LF all end a line; no end after the last line.
  const std::string text = std::string(30, '1') + "\n" + std::string(40, '2') + "\r" + "33\r\n" + "44";
  const std::string path = Write("mixed.kvr", text);
  ASSERT_TRUE(OpenUpdateFile(path, table, state, ui));
  EXPECT_EQ(ui.warnings, 1);
  EXPECT_EQ(state.FileLineCount, 3);  // four lines
  EXPECT_EQ(state.PageTotal, 1);
  EXPECT_EQ(table.Cell(15, 1), "11");
  EXPECT_EQ(table.Cell(16, 1), "");
  std::string data;
  table.AppendLineData(2, data);
  EXPECT_EQ(data, std::string(32, '2'));
  EXPECT_EQ(table.Cell(1, 3), "33");
  EXPECT_EQ(table.Cell(1, 4), "44");
}

TEST_F(UpdateFileTest, LinesAcrossReadBlocksAreWhole) {
  // The reader takes the file in 64 KiB blocks: put a CR LF across a block
  // boundary, a lone CR at a boundary and a line longer than a block.
  std::string text(65535, 'A');
  text += "\r\n";                                         // CR is byte 65535, LF the first of the next block
  text += std::string(131071 - text.size(), 'B') + "\r";  // a lone CR is the last byte of the second block
  text += "CD" + std::string(70000, 'E') + "\n";
  text += "FF";
  ASSERT_TRUE(OpenUpdateFile(Write("blocks.kvr", text), table, state, ui));
  EXPECT_EQ(state.FileLineCount, 3);  // four lines
  EXPECT_EQ(table.Cell(16, 1), "AA");
  EXPECT_EQ(table.Cell(1, 2), "BB");
  EXPECT_EQ(table.Cell(1, 3), "CD");
  EXPECT_EQ(table.Cell(2, 3), "EE");
  EXPECT_EQ(table.Cell(1, 4), "FF");
  EXPECT_EQ(table.Cell(1, 5), "");
}

TEST_F(UpdateFileTest, PageTotalRoundsPartialPagesUp) {
  std::string text;
  for (int i = 0; i < 17; ++i) text += std::string(32, 'F') + "\r\n";
  text += "\r\n";  // the extra line end the standard file has too
  ASSERT_TRUE(OpenUpdateFile(Write("p.kvr", text), table, state, ui));
  EXPECT_EQ(state.FileLineCount, 17);
  EXPECT_EQ(state.PageTotal, 2);
  EXPECT_EQ(ui.status.at(0), "Загрузка данных. Страниц для загрузки: 0002");
}

TEST_F(UpdateFileTest, ShorterFileLeavesNoRowsOfTheEarlierOne) {
  ASSERT_TRUE(OpenUpdateFile(Write("long.kvr", sim::MakeUpdateFileText(3)), table, state, ui));
  std::string shorter;
  for (int i = 0; i < 20; ++i) shorter += std::string(32, 'E') + "\r\n";
  ASSERT_TRUE(OpenUpdateFile(Write("short.kvr", shorter), table, state, ui));
  EXPECT_EQ(table.Cell(1, 20), "EE");
  EXPECT_EQ(table.Cell(1, 21), "");  // the empty 21st line
  for (int row : {22, 100, 36864, 36865}) {
    std::string data;
    table.AppendLineData(row, data);
    EXPECT_EQ(data, "") << "row " << row;
  }
  EXPECT_EQ(table.Cell(0, 36864), "y8FFF$");
}

TEST_F(UpdateFileTest, HugeFileIsRefusedWithNothingChanged) {
  ASSERT_TRUE(OpenUpdateFile(Write("good.kvr", sim::MakeUpdateFileText(4)), table, state, ui));
  const UpdateFileState before = state;
  const std::string first_row = table.Cell(1, 1);

  const std::string path = Write("huge.kvr", "");
  ASSERT_EQ(truncate(path.c_str(), MaxUpdateFileSize + 1), 0);  // sparse: nothing is written
  RecordingView ui2;
  ASSERT_TRUE(OpenUpdateFile(path, table, state, ui2));
  EXPECT_EQ(ui2.warnings, 1);
  EXPECT_TRUE(ui2.status.empty());
  EXPECT_EQ(state.UpdateFileSize, before.UpdateFileSize);
  EXPECT_EQ(state.FileLineCount, before.FileLineCount);
  EXPECT_EQ(state.PageTotal, before.PageTotal);
  EXPECT_EQ(table.Cell(1, 1), first_row);
}

TEST_F(UpdateFileTest, MissingFileRaisesFileNotFoundAfterClearingLogs) {
  try {
    OpenUpdateFile(dir.File("missing.KVR"), table, state, ui);
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
    EXPECT_EQ(e.ErrorCode(), 2);
  }
  EXPECT_EQ(ui.clears, 1);  // what happened before the failure stays
  EXPECT_TRUE(ui.status.empty());
}

TEST_F(UpdateFileTest, FolderNamedLikeAFileRaisesAnIoError) {
  const std::string path = dir.File("folder.kvr");
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  try {
    OpenUpdateFile(path, table, state, ui);
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "I/O error " + std::to_string(EISDIR));
  }
}

TEST_F(UpdateFileTest, OddFilesLoadAsTheRulesSay) {
  // Binary bytes: lines end at CR and LF bytes, every other byte lands in a cell as it is.
  std::string binary;
  for (int i = 0; i < 512; ++i) binary.push_back(static_cast<char>(i & 0xFF));
  ASSERT_TRUE(OpenUpdateFile(Write("bin.kvr", binary), table, state, ui));
  EXPECT_EQ(state.FileLineCount, 4);  // 10, 13 at 10/13 and 266/269: lines end at each
  EXPECT_EQ(table.Cell(1, 1), std::string("\0\1", 2));
  EXPECT_EQ(ui.warnings, 1);

  // Not hex: sent as it stands.
  ASSERT_TRUE(OpenUpdateFile(Write("text.kvr", "ZZ, hello!\r\n"), table, state, ui));
  EXPECT_EQ(table.Cell(1, 1), "ZZ");
  EXPECT_EQ(table.Cell(2, 1), ", ");

  // The same lines with CR, LF or CR LF ends.
  std::string crlf, cr, lf;
  for (int i = 0; i < 40; ++i) {
    const std::string line(32, static_cast<char>('A' + i % 6));
    crlf += line + "\r\n";
    cr += line + "\r";
    lf += line + "\n";
  }
  PageTable t2, t3;
  UpdateFileState s2, s3;
  ASSERT_TRUE(OpenUpdateFile(Write("crlf.kvr", crlf), table, state, ui));
  ASSERT_TRUE(OpenUpdateFile(Write("cr.kvr", cr), t2, s2, ui));
  ASSERT_TRUE(OpenUpdateFile(Write("lf.kvr", lf), t3, s3, ui));
  EXPECT_EQ(s2.FileLineCount, state.FileLineCount);
  EXPECT_EQ(s3.FileLineCount, state.FileLineCount);
  for (int r = 1; r <= 40; ++r) {
    EXPECT_EQ(t2.Cell(16, r), table.Cell(16, r));
    EXPECT_EQ(t3.Cell(16, r), table.Cell(16, r));
  }
}

TEST_F(UpdateFileTest, TwoGigabyteSparseFileIsRefused) {
  ASSERT_TRUE(OpenUpdateFile(Write("good.kvr", sim::MakeUpdateFileText(8)), table, state, ui));
  const std::string path = Write("big.kvr", "");
  ASSERT_EQ(truncate(path.c_str(), 2LL * 1024 * 1024 * 1024), 0);
  RecordingView ui2;
  ASSERT_TRUE(OpenUpdateFile(path, table, state, ui2));
  EXPECT_EQ(ui2.warnings, 1);
  EXPECT_TRUE(ui2.status.empty());
  EXPECT_EQ(state.UpdateFileSize, ExpectedFileSize);
  EXPECT_EQ(state.PageTotal, 2304);
}

TEST(UpdateFileErrors, ErrnoMapsToTheRuntimeLibraryTexts) {
  EXPECT_STREQ(InOutErrorFromErrno(ENOENT).what(), "File not found");
  EXPECT_STREQ(InOutErrorFromErrno(EACCES).what(), "File access denied");
  EXPECT_EQ(InOutErrorFromErrno(EACCES).ErrorCode(), 5);
  EXPECT_STREQ(InOutErrorFromErrno(EIO).what(), ("I/O error " + std::to_string(EIO)).c_str());
}

// These two run as an unprivileged user: root may read and write any file.
TEST_F(UpdateFileTest, ReadOnlyFileLoads) {
  const std::string path = Write("readonly.kvr", sim::MakeUpdateFileText(5));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  const int rc = test::RunUnprivileged([&] {
    if (access(path.c_str(), W_OK) == 0) return 10;  // the file must really be write-protected here
    OpenUpdateFile(path, table, state, ui);
    return state.PageTotal == 2304 && table.Cell(1, 36864).size() == 2 ? 0 : 11;
  });
  EXPECT_EQ(rc, 0);
}

TEST_F(UpdateFileTest, UnreadableFileRaisesAccessDenied) {
  const std::string path = Write("secret.kvr", sim::MakeUpdateFileText(6));
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  const int rc = test::RunUnprivileged([&] {
    try {
      OpenUpdateFile(path, table, state, ui);
    } catch (const EInOutError& e) {
      return std::string(e.what()) == "File access denied" && ui.clears == 1 ? 0 : 12;
    }
    return 13;
  });
  EXPECT_EQ(rc, 0);
}

// The digest is of the bytes laid into the table, to the file's end (a last
// line without its line end included).
TEST_F(UpdateFileTest, DigestCoversTheBytesReadIntoTheTable) {
  for (const std::string& text : {std::string("ab\r\ncd"), std::string("ab\ncd\n\n"), sim::MakeUpdateFileText(3)}) {
    Sha256 digest, expected;
    ASSERT_TRUE(OpenUpdateFile(Write("d.kvr", text), table, state, ui, &digest));
    expected.Add(text.data(), text.size());
    EXPECT_EQ(digest.Bytes(), text.size());
    EXPECT_EQ(digest.FinishHex(), expected.FinishHex()) << text.size() << " bytes";
  }
  Sha256 untouched;
  EXPECT_THROW(OpenUpdateFile(dir.File("missing.kvr"), table, state, ui, &untouched), EInOutError);
  EXPECT_EQ(untouched.Bytes(), 0u);
}

}  // namespace
}  // namespace kvr
