#include "port_list.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

namespace kvr {

namespace {

constexpr int kDescriptionRole = Qt::UserRole + 1;

QString ToQString(const std::string& s) { return QString::fromUtf8(s.c_str()); }

// The open list shows each name with its description.
class PortItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString description = index.data(kDescriptionRole).toString();
    if (!description.isEmpty()) option->text += "   " + description;
  }
};

}  // namespace

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new PortItemDelegate(this));
  // The closed box tells the chosen port's identity too.
  connect(this, &QComboBox::currentIndexChanged, this, [this] { ShowChosenToolTip(); });
}

void PortListBox::SetPorts(const std::vector<PortEntry>& ports, int chosen) {
  clear();
  int width = 0;
  for (const PortEntry& port : ports) {
    const QString description = ToQString(port.description);
    addItem(ToQString(port.name));
    setItemData(count() - 1, description, kDescriptionRole);
    setItemData(count() - 1, ToQString(port.tooltip), Qt::ToolTipRole);
    width = std::max(width, fontMetrics().horizontalAdvance(ToQString(port.name) + "   " + description));
  }
  // Room for the description beside the name, up to a width the window's
  // screen surely has; a longer one is cut short with an ellipsis.
  view()->setMinimumWidth(std::min(width + 32, 480));
  setCurrentIndex(chosen);
  ShowChosenToolTip();  // the index may be where adding the first entry put it, with no tooltip then
}

void PortListBox::ShowChosenToolTip() {
  setToolTip(currentIndex() < 0 ? QString() : itemData(currentIndex(), Qt::ToolTipRole).toString());
}

void PortListBox::showPopup() {
  if (AboutToShow) AboutToShow();
  QComboBox::showPopup();
}

}  // namespace kvr
