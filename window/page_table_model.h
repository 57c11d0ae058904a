// The data grid's Qt model over the window logic's image grid.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include "image_grid.h"

namespace kvr {

class PageTableModel final : public QAbstractTableModel {
 public:
  explicit PageTableModel(ImageGrid& grid, QObject* parent = nullptr) : QAbstractTableModel(parent), grid_(grid) {}

  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : grid_.Rows(); }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : grid_.Columns(); }
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The table is about to change / has changed wholesale.
  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  // Every cell's text and mark may have changed.
  void Redraw() { emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1)); }

 private:
  ImageGrid& grid_;
};

// The grid's cell editor: two hexadecimal digits, shown upper-case as they
// are typed; other keys do nothing. The model refuses what is not two digits.
class HexCellDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The grid's view. A typed key opens a cell's editor; where no cell can be
// edited (during a load) it does nothing, rather than jump to a cell whose
// text starts with it.
class HexGridView final : public QTableView {
 public:
  using QTableView::QTableView;
  void keyboardSearch(const QString&) override {}
};

}  // namespace kvr
