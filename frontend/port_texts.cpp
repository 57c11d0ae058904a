#include "port_texts.h"

#include <initializer_list>
#include <utility>

#include "hex_text.h"

namespace kvr {

const PortWords kEnglishPortWords = {
    "built-in serial port",
    "pseudo-terminal",
    "Bluetooth serial port",
    "port on a network serial server",
    "serial port",
    "the permissions of {port} (owner {owner}, group {device_group}) do not let {user} read and write it; ask your "
    "administrator for access (for instance a udev rule that gives the group dialout read and write)",
    "you are a member of the group \"{group}\" that may open {port}, but this login began before you joined it: log "
    "out and log in again",
    "you may not open {port}: it belongs to the group \"{group}\". Join the group with \"sudo usermod -aG {group} "
    "{user}\", then log out and log in again",
};

const PortWords kRussianPortWords = {
    "встроенный порт",
    "псевдотерминал",
    "порт Bluetooth",
    "порт сетевого сервера",
    "последовательный порт",
    "Нет прав на порт {port}: права устройства (владелец {owner}, группа {device_group}) не дают пользователю {user} "
    "читать и писать в него. Попросите администратора дать доступ (например, правилом udev для группы dialout).",
    "Нет прав на порт {port}. Пользователь {user} уже в группе «{group}», которой порт доступен, но этот сеанс начат "
    "раньше: выйдите из системы и войдите заново.",
    "Нет прав на порт {port}. Порт доступен группе «{group}»: добавьте пользователя {user} в эту группу (sudo usermod "
    "-aG {group} {user}) и войдите в систему заново.",
};

namespace {

// The template with each {name} replaced by its value (values are not
// searched again).
std::string Fill(const std::string& text, std::initializer_list<std::pair<const char*, std::string>> values) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '{')
      for (const auto& [name, value] : values) {
        const std::string key = std::string("{") + name + "}";
        if (text.compare(i, key.size(), key) == 0) {
          out += value;
          i += key.size();
          replaced = true;
          break;
        }
      }
    if (!replaced) out += text[i++];
  }
  return out;
}

}  // namespace

std::string PortKindText(const va::TVaPortIdentity& identity, const PortWords& words) {
  switch (KindOf(identity)) {
    case PortKind::kUsb: return UsbDescription(identity);
    case PortKind::kBuiltIn: return words.built_in;
    case PortKind::kPseudoTerminal: return words.pseudo_terminal;
    case PortKind::kBluetooth: return words.bluetooth;
    case PortKind::kNetwork: return words.network;
    default:  // in the words of the system's records where it has them (Windows: a card's or a driver's name)
      return identity.Product.empty() && identity.Manufacturer.empty() ? words.other : UsbDescription(identity);
  }
}

PermissionFix FixFor(const PortPermission& p) {
  if (!p.denied) return PermissionFix::kNone;
  if (p.group.empty()) return PermissionFix::kAskAdministrator;
  return p.listed_in_group ? PermissionFix::kLogInAgain : PermissionFix::kJoinGroup;
}

std::string PermissionHintText(const std::string& port, const PortPermission& p, const PortWords& words) {
  const char* text = nullptr;
  switch (FixFor(p)) {
    case PermissionFix::kNone: return "";
    case PermissionFix::kAskAdministrator: text = words.ask_administrator; break;
    case PermissionFix::kLogInAgain: text = words.log_in_again; break;
    case PermissionFix::kJoinGroup: text = words.join_group; break;
  }
  return Fill(text, {{"port", WithoutControls(port)},
                     {"user", p.user},
                     {"owner", p.owner},
                     {"device_group", p.device_group},
                     {"group", p.group}});
}

}  // namespace kvr
