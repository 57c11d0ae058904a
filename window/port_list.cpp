#include "port_list.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

#include "hex_text.h"

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

std::string PortListName(const std::string& path) { return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path; }

std::vector<PortChoice> FoundPortChoices() {
  std::vector<PortChoice> ports;
  for (const va::TVaPortFound& found : va::FindPorts()) {
    if (found.Access == va::paBusy) continue;  // another program's: not for this one
    ports.push_back({PortListName(found.Path), va::IdentifyPort(found.Path), found.Access});
  }
  return ports;
}

std::string PortDescriptionText(const PortChoice& port) {
  std::string text;
  switch (KindOf(port.identity)) {
    case PortKind::kUsb:
      text = WithoutControls(UsbDescription(port.identity));
      break;
    case PortKind::kBuiltIn:
      text = "встроенный порт";
      break;
    case PortKind::kPseudoTerminal:
      text = "псевдотерминал";
      break;
    case PortKind::kBluetooth:
      text = "порт Bluetooth";
      break;
    default:
      text = "последовательный порт";
      break;
  }
  if (port.access == va::paDenied) text += " — нет прав";
  return text;
}

std::string PortToolTipText(const PortChoice& port) {
  const va::TVaPortIdentity& id = port.identity;
  QStringList lines;
  const auto line = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) lines << (ToQString(label) + ToQString(WithoutControls(value))).toHtmlEscaped();
  };
  line("", va::DevicePathFor(port.name));
  line("", id.ById);
  if (id.IsUsb()) line("USB ", id.VendorId + ":" + id.ProductId);
  line("Изготовитель: ", id.Manufacturer);
  line("Изделие: ", id.Product);
  line("Серийный номер: ", id.SerialNumber);
  if (!id.IsUsb()) line("", PortDescriptionText(port));
  if (port.access == va::paDenied) {
    const std::string hint = PermissionHintText(port.name, CheckPortPermission(va::DevicePathFor(port.name)));
    line("", hint.empty() ? "Нет прав на этот порт." : hint);
  }
  return ("<p style='white-space:pre'>" + lines.join("<br>") + "</p>").toUtf8().toStdString();
}

std::string PermissionHintText(const std::string& port_name, const PortPermission& p) {
  if (!p.denied) return "";
  const std::string port = WithoutControls(port_name);
  if (p.group.empty())
    return "Нет прав на порт " + port + ": открыть его может только " + p.owner +
           ". Попросите администратора дать доступ к порту группе dialout (правило udev).";
  if (p.listed_in_group)
    return "Нет прав на порт " + port + ". Пользователь " + p.user + " уже в группе «" + p.group +
           "», которой порт доступен, но этот сеанс начат раньше: выйдите из системы и войдите заново.";
  return "Нет прав на порт " + port + ". Порт доступен группе «" + p.group + "»: добавьте пользователя " + p.user +
         " в эту группу (sudo usermod -aG " + p.group + " " + p.user + ") и войдите в систему заново.";
}

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new PortItemDelegate(this));
  // The closed box tells the chosen port's identity too.
  connect(this, &QComboBox::currentIndexChanged, this,
          [this](int index) { setToolTip(index < 0 ? QString() : itemData(index, Qt::ToolTipRole).toString()); });
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
  view()->setMinimumWidth(width + 32);  // room for the description beside the name
  setCurrentIndex(chosen.isEmpty() ? -1 : findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void PortListBox::showPopup() {
  if (AboutToShow) AboutToShow();
  QComboBox::showPopup();
}

}  // namespace kvr
