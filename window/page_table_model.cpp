#include "page_table_model.h"

#include "window_layout.h"

#include <QColor>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace kvr {

namespace {
QString Text(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QVariant PageTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::BackgroundRole && grid_.CellEdited(index.row(), index.column()))
    return QColor::fromRgb(layout::kEditedCellRgb);
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return Text(grid_.Cell(index.row(), index.column()));
}

bool PageTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  if (!grid_.Edit(index.row(), index.column(), value.toString().toStdString())) return false;
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole, Qt::BackgroundRole});
  return true;
}

QVariant PageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  return Text(orientation == Qt::Horizontal ? grid_.ColumnHeading(section) : grid_.RowHeading(section));
}

Qt::ItemFlags PageTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  return grid_.Locked() ? flags : flags | Qt::ItemIsEditable;
}

QWidget* HexCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const {
  auto* editor = new QLineEdit(parent);
  editor->setMaxLength(2);
  editor->setAlignment(Qt::AlignCenter);
  editor->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]{0,2}"), editor));
  QObject::connect(editor, &QLineEdit::textEdited, editor, [editor](const QString& text) {
    const int at = editor->cursorPosition();
    editor->setText(text.toUpper());
    editor->setCursorPosition(at);
  });
  return editor;
}

}  // namespace kvr
