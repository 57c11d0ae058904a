// The data grid's cell store: the update file laid out as rows of sixteen
// two-character cells, with row headings in column 0 and column headings in
// row 0. Cells are addressed (column, row) and keep their text until
// overwritten; any row may be stored, shown in the grid or not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kvr {

class PageTable {
 public:
  static constexpr int ColumnCount = 17;  // column 0: row headings, 1..16: line bytes
  static constexpr int DataColumns = 16;

  // Text of cell (col, row); empty for a cell never written. Throws
  // std::out_of_range for a column outside 0..16 or a negative row.
  std::string Cell(int col, int row) const;
  void SetCell(int col, int row, std::string_view text);

  // Row 0 gets "$xxx0".."$xxxF" in columns 1..16, column 0 of rows 1..last_row
  // gets "y" + (row - 1) in hex (at least three digits) + "$".
  void SetupHeadings(int last_row = 36866);

  // Sets columns 1..16 of `row` from one file line: cell c takes characters
  // 2c-1 and 2c, shorter or empty where the line is shorter; characters after
  // the 32nd are ignored.
  void SetLine(int row, std::string_view line);

  // Appends the texts of columns 1..16 of `row`, joined in column order.
  void AppendLineData(int64_t row, std::string& out) const;

  // Empties columns 1..16 of every row from `first_row` on (headings stay).
  void ClearDataRowsFrom(int first_row);

  // Makes room for rows up to `last_row` at once.
  void ReserveRows(int last_row);

  // One past the last row that holds data or a heading.
  int StoredRows() const;

  // Bytes held by the store (slots, long texts and their index).
  size_t MemoryBytes() const;

 private:
  // A cell's text lives inline when it fits; a longer one goes to long_ and the
  // slot's length byte says so.
  static constexpr uint8_t kLong = 0xFF;
  template <size_t N>
  struct Slot {
    uint8_t len = 0;
    char text[N] = {};
  };
  using DataRow = std::array<Slot<2>, DataColumns>;

  static uint64_t Key(int col, int row) {
    return (static_cast<uint64_t>(row) << 5) | static_cast<uint64_t>(col);
  }
  template <size_t N>
  std::string Read(const Slot<N>& slot, int col, int row) const;
  template <size_t N>
  void Write(Slot<N>& slot, int col, int row, std::string_view text);
  void EraseLongData(int row);

  std::vector<Slot<7>> heads_;  // column 0 of each row
  std::vector<DataRow> rows_;   // columns 1..16 of each row
  std::unordered_map<uint64_t, std::string> long_;
  size_t long_data_cells_ = 0;  // entries of long_ in columns 1..16
};

}  // namespace kvr
