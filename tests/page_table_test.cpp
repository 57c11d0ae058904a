#include "page_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kvr {
namespace {

TEST(PageTableHeadings, ColumnAndRowHeadingsFollowTheirPattern) {
  PageTable t;
  t.SetupHeadings();
  EXPECT_EQ(t.Cell(1, 0), "$xxx0");
  EXPECT_EQ(t.Cell(11, 0), "$xxxA");
  EXPECT_EQ(t.Cell(16, 0), "$xxxF");
  EXPECT_EQ(t.Cell(0, 0), "");
  EXPECT_EQ(t.Cell(0, 1), "y000$");
  EXPECT_EQ(t.Cell(0, 4096), "yFFF$");
  EXPECT_EQ(t.Cell(0, 4097), "y1000$");
  EXPECT_EQ(t.Cell(0, 36864), "y8FFF$");
  EXPECT_EQ(t.Cell(0, 36865), "y9000$");
  EXPECT_EQ(t.Cell(0, 36866), "y9001$");
  EXPECT_EQ(t.Cell(0, 36867), "");
  EXPECT_EQ(t.StoredRows(), 36867);
}

TEST(PageTableCells, KeepAnyTextUntilOverwritten) {
  PageTable t;
  EXPECT_EQ(t.Cell(5, 100), "");  // never written, beyond the stored rows
  t.SetCell(5, 100, "AB");
  t.SetCell(6, 100, "ABC");  // longer than the common two characters
  const std::string long_text(300, 'x');
  t.SetCell(7, 100, long_text);
  t.SetCell(0, 100, "heading-too-long");
  EXPECT_EQ(t.Cell(5, 100), "AB");
  EXPECT_EQ(t.Cell(6, 100), "ABC");
  EXPECT_EQ(t.Cell(7, 100), long_text);
  EXPECT_EQ(t.Cell(0, 100), "heading-too-long");

  t.SetCell(6, 100, "Z");
  t.SetCell(7, 100, "");
  EXPECT_EQ(t.Cell(6, 100), "Z");
  EXPECT_EQ(t.Cell(7, 100), "");
  t.SetCell(6, 100, "LONGER");
  EXPECT_EQ(t.Cell(6, 100), "LONGER");
  // Bytes are kept as they are, NUL included.
  t.SetCell(8, 100, std::string("\0\xFF", 2));
  EXPECT_EQ(t.Cell(8, 100), std::string("\0\xFF", 2));
}

TEST(PageTableCells, AddressesOutsideTheTableAreRefused) {
  PageTable t;
  EXPECT_THROW(t.Cell(17, 1), std::out_of_range);
  EXPECT_THROW(t.Cell(-1, 1), std::out_of_range);
  EXPECT_THROW(t.SetCell(3, -1, "AA"), std::out_of_range);
  EXPECT_THROW(t.SetLine(-2, "AA"), std::out_of_range);
}

TEST(PageTableLines, LineFillsSixteenTwoCharacterCells) {
  PageTable t;
  t.SetLine(1, "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(t.Cell(1, 1), "00");
  EXPECT_EQ(t.Cell(16, 1), "FF");

  t.SetLine(2, std::string(30, '7'));  // cell 16 stays empty
  EXPECT_EQ(t.Cell(15, 2), "77");
  EXPECT_EQ(t.Cell(16, 2), "");

  t.SetLine(3, std::string(32, 'A') + "BBBBBBBB");  // the last 8 characters are lost
  std::string data;
  t.AppendLineData(3, data);
  EXPECT_EQ(data, std::string(32, 'A'));

  t.SetLine(4, "123");  // odd length: a one-character cell
  EXPECT_EQ(t.Cell(1, 4), "12");
  EXPECT_EQ(t.Cell(2, 4), "3");
  EXPECT_EQ(t.Cell(3, 4), "");
}

TEST(PageTableLines, LineDataJoinsCellsAsTheyStand) {
  PageTable t;
  t.SetLine(9, std::string(32, '0'));
  t.SetCell(3, 9, "ABC");
  t.SetCell(4, 9, "");
  std::string data = "DL:20:";
  t.AppendLineData(9, data);
  EXPECT_EQ(data, "DL:20:0000ABC" + std::string(24, '0'));
  EXPECT_EQ(data.size(), 6u + 31u);

  // A new line replaces a long cell too.
  t.SetLine(9, std::string(32, '1'));
  EXPECT_EQ(t.Cell(3, 9), "11");
  data.clear();
  t.AppendLineData(12345, data);  // a row never stored
  EXPECT_EQ(data, "");
}

TEST(PageTableLines, ClearingRowsKeepsHeadingsAndDropsLongCells) {
  PageTable t;
  t.SetupHeadings(20);
  for (int r = 1; r <= 20; ++r) t.SetLine(r, std::string(32, 'C'));
  t.SetCell(2, 15, "LONG");
  t.ClearDataRowsFrom(11);
  EXPECT_EQ(t.Cell(1, 10), "CC");
  EXPECT_EQ(t.Cell(1, 11), "");
  EXPECT_EQ(t.Cell(2, 15), "");
  EXPECT_EQ(t.Cell(0, 15), "y00E$");
  EXPECT_EQ(t.Cell(1, 0), "$xxx0");
  // A cleared long cell does not come back when its row is written again.
  t.SetCell(1, 15, "AA");
  EXPECT_EQ(t.Cell(2, 15), "");
}

}  // namespace
}  // namespace kvr
