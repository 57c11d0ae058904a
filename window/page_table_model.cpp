#include "page_table_model.h"

#include "cp1251.h"

namespace kvr {

namespace {
QString Text(const std::string& s) { return QString::fromStdString(Cp1251ToUtf8(s)); }
}  // namespace

QVariant PageTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return Text(table_.Cell(index.column() + 1, index.row() + 1));
}

bool PageTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || locked_) return false;
  table_.SetCell(index.column() + 1, index.row() + 1, Utf8ToCp1251(value.toString().toStdString()));
  edited_ = true;
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant PageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  return orientation == Qt::Horizontal ? Text(table_.Cell(section + 1, 0)) : Text(table_.Cell(0, section + 1));
}

Qt::ItemFlags PageTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  return locked_ ? flags : flags | Qt::ItemIsEditable;
}

}  // namespace kvr
