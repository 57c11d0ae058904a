#include "image_grid.h"

#include "cp1251.h"

namespace kvr {

std::string ImageGrid::Cell(int row, int column) const { return Cp1251ToUtf8(table_.Cell(column + 1, row + 1)); }

std::string ImageGrid::ColumnHeading(int column) const { return Cp1251ToUtf8(table_.Cell(column + 1, 0)); }

std::string ImageGrid::RowHeading(int row) const { return Cp1251ToUtf8(table_.Cell(0, row + 1)); }

bool ImageGrid::Edit(int row, int column, const std::string& text) {
  if (locked_ || row < 0 || row >= Rows() || column < 0 || column >= Columns()) return false;
  table_.SetCell(column + 1, row + 1, Utf8ToCp1251(text));
  edited_ = true;
  return true;
}

}  // namespace kvr
