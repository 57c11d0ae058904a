#include "image_grid.h"

#include <cstdint>
#include <optional>

#include "cp1251.h"
#include "window_texts.h"

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

GridPlace FindGridPlace(const std::string& typed) {
  std::string text = typed;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  GridPlace place;
  const bool line = !text.empty() && text.front() == '#';
  std::string digits = line ? text.substr(1) : text;
  if (!line && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
  const int base = line ? 10 : 16;
  int64_t value = 0;
  // Up to 12 digits: far past the image and far from overflowing.
  bool number = !digits.empty() && digits.size() <= 12;
  for (const char c : number ? digits : std::string()) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) {
      number = false;
      break;
    }
    value = value * base + digit;
  }
  if (!number) {
    place.refusal = FillIn(kNotAPlace, 1, typed);
    return place;
  }
  constexpr int64_t kImageBytes = static_cast<int64_t>(kShownRows) * 16;
  if (line && (value < 1 || value > kShownRows)) {
    place.refusal = FillIn(kNoSuchLine, 1, digits);
    return place;
  }
  if (!line && value >= kImageBytes) {
    place.refusal = FillIn(kNoSuchAddress, 1, text);
    return place;
  }
  place.row = static_cast<int>(line ? value - 1 : value / 16);
  place.column = line ? 0 : static_cast<int>(value % 16);
  return place;
}

bool ImageGrid::Edit(int row, int column, const std::string& text) {
  if (locked_ || row < 0 || row >= Rows() || column < 0 || column >= Columns()) return false;
  const std::optional<std::string> value = CellValue(text);
  const std::string before = table_.Cell(column + 1, row + 1);
  if (!value || before.empty()) return false;
  // The file's text is kept at the first edit; typed back, the cell is the file's again.
  const auto kept = originals_.try_emplace({row, column}, before).first;
  if (kept->second == *value) originals_.erase(kept);
  table_.SetCell(column + 1, row + 1, *value);
  return true;
}

void ImageGrid::Revert() {
  for (const auto& [cell, text] : originals_) table_.SetCell(cell.second + 1, cell.first + 1, text);
  originals_.clear();
}

}  // namespace kvr
