#include "port_list.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

#include "hex_text.h"
#include "port_texts.h"

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

std::vector<PortChoice> FoundPortChoices() {
  std::vector<PortChoice> ports;
  const std::vector<va::TVaPortFound> found = va::FindPorts();
  for (va::TVaPortAccess access : {va::paReady, va::paDenied})
    for (const va::TVaPortFound& port : found)
      if (port.Access == access) ports.push_back({PortName(port.Path), va::IdentifyPort(port.Path), port.Access});
  return ports;  // a port another program holds is not for this one
}

std::string PortDescriptionText(const PortChoice& port) {
  std::string text = PortKindText(port.identity, kRussianPortWords);
  if (port.access == va::paDenied) text += " — нет прав";
  return text;
}

std::string PortToolTipText(const PortChoice& port) {
  const va::TVaPortIdentity& id = port.identity;
  QStringList lines;
  const auto line = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) lines << (ToQString(label) + ToQString(DeviceText(value, 80))).toHtmlEscaped();
  };
  line("", va::DevicePathFor(port.name));
  line("", id.ById);
  if (id.IsUsb()) line("USB ", id.VendorId + ":" + id.ProductId);
  line("Изготовитель: ", id.Manufacturer);
  line("Изделие: ", id.Product);
  line("Серийный номер: ", id.SerialNumber);
  if (!id.IsUsb()) line("", PortDescriptionText(port));
  QString text = "<p style='white-space:pre'>" + lines.join("<br>") + "</p>";
  if (port.access == va::paDenied)  // a paragraph that wraps
    text += "<p>" + ToQString(port.hint.empty() ? "Нет прав на этот порт." : port.hint).toHtmlEscaped() + "</p>";
  return text.toUtf8().toStdString();
}

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new PortItemDelegate(this));
  // The closed box tells the chosen port's identity too.
  connect(this, &QComboBox::currentIndexChanged, this, [this] { ShowChosenToolTip(); });
}

void PortListBox::SetPorts(const std::vector<PortChoice>& ports) {
  const QString chosen = currentIndex() < 0 ? QString() : currentText();
  clear();
  int width = 0;
  for (const PortChoice& port : ports) {
    const QString description = ToQString(PortDescriptionText(port));
    addItem(ToQString(port.name));
    setItemData(count() - 1, description, kDescriptionRole);
    setItemData(count() - 1, ToQString(PortToolTipText(port)), Qt::ToolTipRole);
    width = std::max(width, fontMetrics().horizontalAdvance(ToQString(port.name) + "   " + description));
  }
  // Room for the description beside the name, up to a width the window's
  // screen surely has; a longer one is cut short with an ellipsis.
  view()->setMinimumWidth(std::min(width + 32, 480));
  setCurrentIndex(chosen.isEmpty() ? -1 : findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive));
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
