#include "page_table.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "hex_text.h"

namespace kvr {

namespace {

void CheckAddress(int col, int row) {
  if (col < 0 || col >= PageTable::ColumnCount || row < 0)
    throw std::out_of_range("PageTable: cell (" + std::to_string(col) + ", " + std::to_string(row) +
                            ") is outside the table");
}

}  // namespace

template <size_t N>
std::string PageTable::Read(const Slot<N>& slot, int col, int row) const {
  if (slot.len != kLong) return std::string(slot.text, slot.len);
  auto it = long_.find(Key(col, row));
  return it == long_.end() ? std::string() : it->second;
}

template <size_t N>
void PageTable::Write(Slot<N>& slot, int col, int row, std::string_view text) {
  if (text.size() <= N) {
    if (slot.len == kLong) {
      long_.erase(Key(col, row));
      if (col > 0) --long_data_cells_;
    }
    slot.len = static_cast<uint8_t>(text.size());
    std::memcpy(slot.text, text.data(), text.size());
    return;
  }
  if (slot.len != kLong && col > 0) ++long_data_cells_;
  slot.len = kLong;
  long_[Key(col, row)] = std::string(text);
}

std::string PageTable::Cell(int col, int row) const {
  CheckAddress(col, row);
  const auto r = static_cast<size_t>(row);
  if (col == 0) return r < heads_.size() ? Read(heads_[r], col, row) : std::string();
  return r < rows_.size() ? Read(rows_[r][col - 1], col, row) : std::string();
}

void PageTable::SetCell(int col, int row, std::string_view text) {
  CheckAddress(col, row);
  const auto r = static_cast<size_t>(row);
  if (col == 0) {
    if (r >= heads_.size()) {
      if (text.empty()) return;
      heads_.resize(r + 1);
    }
    Write(heads_[r], col, row, text);
  } else {
    if (r >= rows_.size()) {
      if (text.empty()) return;
      rows_.resize(r + 1);
    }
    Write(rows_[r][col - 1], col, row, text);
  }
}

void PageTable::SetupHeadings(int last_row) {
  for (int c = 1; c <= DataColumns; ++c) SetCell(c, 0, "$xxx" + HexUpper(c - 1, 1));
  if (last_row >= 0 && static_cast<size_t>(last_row) >= heads_.size()) heads_.resize(last_row + 1);
  std::string heading;
  for (int r = 1; r <= last_row; ++r) {
    heading.assign(1, 'y');
    heading += HexUpper(r - 1, 3);
    heading += '$';
    SetCell(0, r, heading);
  }
}

void PageTable::EraseLongData(int row) {
  for (int c = 1; c <= DataColumns && long_data_cells_ > 0; ++c)
    if (rows_[row][c - 1].len == kLong) {
      long_.erase(Key(c, row));
      --long_data_cells_;
    }
}

void PageTable::SetLine(int row, std::string_view line) {
  CheckAddress(1, row);
  const auto r = static_cast<size_t>(row);
  if (r >= rows_.size()) {
    if (line.empty()) return;
    rows_.resize(r + 1);
  }
  if (long_data_cells_ > 0) EraseLongData(row);
  DataRow& cells = rows_[r];
  for (size_t c = 0; c < DataColumns; ++c) {
    const size_t at = 2 * c;
    const size_t n = at < line.size() ? std::min<size_t>(2, line.size() - at) : 0;
    cells[c].len = static_cast<uint8_t>(n);
    if (n > 0) std::memcpy(cells[c].text, line.data() + at, n);
  }
}

void PageTable::AppendLineData(int64_t row, std::string& out) const {
  if (row < 0 || static_cast<uint64_t>(row) >= rows_.size()) return;
  const DataRow& cells = rows_[static_cast<size_t>(row)];
  for (int c = 0; c < DataColumns; ++c) {
    const auto& slot = cells[c];
    if (slot.len != kLong)
      out.append(slot.text, slot.len);
    else
      out += Read(slot, c + 1, static_cast<int>(row));
  }
}

void PageTable::ClearDataRowsFrom(int first_row) {
  if (first_row < 0) first_row = 0;
  if (static_cast<size_t>(first_row) >= rows_.size()) return;
  for (size_t r = first_row; r < rows_.size() && long_data_cells_ > 0; ++r)
    EraseLongData(static_cast<int>(r));
  rows_.resize(first_row);
}

void PageTable::ReserveRows(int last_row) {
  if (last_row >= 0) rows_.reserve(static_cast<size_t>(last_row) + 1);
}

int PageTable::StoredRows() const { return static_cast<int>(std::max(heads_.size(), rows_.size())); }

size_t PageTable::MemoryBytes() const {
  size_t bytes = sizeof(*this) + heads_.capacity() * sizeof(Slot<7>) + rows_.capacity() * sizeof(DataRow) +
                 long_.bucket_count() * sizeof(void*);
  for (const auto& [key, text] : long_)
    bytes += sizeof(std::pair<const uint64_t, std::string>) + sizeof(void*) +
             (text.capacity() > 15 ? text.capacity() + 1 : 0);
  return bytes;
}

}  // namespace kvr
