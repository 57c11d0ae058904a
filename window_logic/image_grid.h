// The data grid's view of the page table, for any toolkit's grid: rows
// 1..36864 of the table are the grid's rows 0..36863, columns 1..16 its
// columns; row 0 and column 0 of the table are the headings. Cells are
// Windows-1251 bytes in the table and UTF-8 here (a file may hold anything).
// A typed cell is two hexadecimal digits, stored upper-case; anything else is
// refused and the cell keeps its value, so that a bad line can only come from
// a file. Nothing is stored while a load reads the table. The grid knows
// which cells differ from the file they were read from, and puts them back.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "page_table.h"

namespace kvr {

inline constexpr int kShownRows = 36864;

// A place in the grid an operator asked to go to, or why there is none.
struct GridPlace {
  int row = -1, column = 0;  // row -1: none (`refusal` says why)
  std::string refusal;
};

// What the operator typed to go to: a byte address of the image in hex
// ("0x1230" or "1230": row 0x123, column 0) or a line of the file, counted
// from 1 as the status line's "Ошибка в строке N" counts ("#100").
GridPlace FindGridPlace(const std::string& typed);

class ImageGrid {
 public:
  explicit ImageGrid(PageTable& table) : table_(table) {}

  int Rows() const { return kShownRows; }
  int Columns() const { return 16; }
  std::string Cell(int row, int column) const;
  std::string ColumnHeading(int column) const;
  std::string RowHeading(int row) const;
  // Stores a typed cell; false (and nothing stored) while locked, when
  // `text` is not two hexadecimal digits, or when the cell is empty: no byte
  // of the file is there, and a load joins a line's cells, so a byte typed
  // there would go out at another address than the one shown.
  bool Edit(int row, int column, const std::string& text);

  bool Locked() const { return locked_; }
  void SetLocked(bool locked) { locked_ = locked; }
  // Whether any cell differs from the file the table was read from.
  bool Edited() const { return !originals_.empty(); }
  bool CellEdited(int row, int column) const { return originals_.count({row, column}) != 0; }
  // Every edited cell back to the file's text.
  void Revert();
  // The table is the file's now (read, or saved as it is): nothing is edited.
  void TableRead() { originals_.clear(); }

 private:
  PageTable& table_;
  bool locked_ = false;
  std::map<std::pair<int, int>, std::string> originals_;  // (row, column) of an edited cell: the file's text
};

}  // namespace kvr
