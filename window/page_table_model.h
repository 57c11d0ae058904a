// The data grid's view of the page table: rows 1..36864 of the table are the
// model's rows, columns 1..16 its columns; row 0 and column 0 of the table are
// the headings. Cells are Windows-1251 bytes; edits are stored as typed,
// except while the grid is locked (a load reads the table).
#pragma once

#include <QAbstractTableModel>

#include "page_table.h"

namespace kvr {

class PageTableModel final : public QAbstractTableModel {
 public:
  PageTableModel(PageTable& table, int shown_rows, QObject* parent = nullptr)
      : QAbstractTableModel(parent), table_(table), rows_(shown_rows) {}

  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 16; }
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The table is about to change / has changed wholesale.
  void BeginReset() {
    beginResetModel();
    edited_ = false;
  }
  void EndReset() { endResetModel(); }
  // While locked, cells cannot be edited.
  void SetLocked(bool locked) { locked_ = locked; }
  // Whether a cell was edited since the last reset (a file read).
  bool Edited() const { return edited_; }
  bool Locked() const { return locked_; }

 private:
  PageTable& table_;
  int rows_;
  bool locked_ = false;
  bool edited_ = false;
};

}  // namespace kvr
