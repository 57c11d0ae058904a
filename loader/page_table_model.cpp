#include "page_table_model.h"

namespace kvr {

namespace {
// Cell texts are bytes, one character each.
QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }
}  // namespace

QVariant PageTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return Text(table_.Cell(index.column() + 1, index.row() + 1));
}

bool PageTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  const QByteArray bytes = value.toString().toLatin1();
  table_.SetCell(index.column() + 1, index.row() + 1, std::string_view(bytes.constData(), bytes.size()));
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant PageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  return orientation == Qt::Horizontal ? Text(table_.Cell(section + 1, 0)) : Text(table_.Cell(0, section + 1));
}

Qt::ItemFlags PageTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::NoItemFlags;
}

}  // namespace kvr
