#include "image_grid.h"

#include <optional>

#include "cp1251.h"

namespace kvr {

std::string ImageGrid::Cell(int row, int column) const { return Cp1251ToUtf8(table_.Cell(column + 1, row + 1)); }

std::string ImageGrid::ColumnHeading(int column) const { return Cp1251ToUtf8(table_.Cell(column + 1, 0)); }

std::string ImageGrid::RowHeading(int row) const { return Cp1251ToUtf8(table_.Cell(0, row + 1)); }

namespace {

// What a typed cell is stored as ("ab" is "AB"); nothing when it is not two
// hexadecimal digits.
std::optional<std::string> CellValue(const std::string& typed) {
  if (typed.size() != 2) return std::nullopt;
  std::string value = typed;
  for (char& c : value) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return std::nullopt;
  }
  return value;
}

}  // namespace

bool ImageGrid::Edit(int row, int column, const std::string& text) {
  if (locked_ || row < 0 || row >= Rows() || column < 0 || column >= Columns()) return false;
  const std::optional<std::string> value = CellValue(text);
  if (!value) return false;
  table_.SetCell(column + 1, row + 1, *value);
  edited_ = true;
  return true;
}

}  // namespace kvr
