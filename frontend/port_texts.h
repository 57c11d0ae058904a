// What the programs say of a port: its kind in a few words and what to do
// about a port the user may not open. Each question is decided once here; the
// words come from a catalogue per language (English for the command line,
// Russian for the window).
#pragma once

#include <string>

#include "port_info.h"
#include "va_ports.h"

namespace kvr {

// The words of one language. The hints take {port}, {user}, {owner},
// {device_group} and {group}.
struct PortWords {
  const char* built_in;
  const char* pseudo_terminal;
  const char* bluetooth;
  const char* network;
  const char* other;
  const char* ask_administrator;  // the device's permissions keep everyone but its owner and group out
  const char* log_in_again;       // the user joined the group after this login began
  const char* join_group;         // joining the device's group gives access
};

extern const PortWords kEnglishPortWords;
extern const PortWords kRussianPortWords;

// A port in a few words: a USB adapter's own, or its kind.
std::string PortKindText(const va::TVaPortIdentity& identity, const PortWords& words);

// What stands between the user and the port, and so what the hint says.
enum class PermissionFix { kNone, kAskAdministrator, kLogInAgain, kJoinGroup };
PermissionFix FixFor(const PortPermission& permission);

// The hint for `port` (a name or a path, shown with its controls escaped);
// "" when the device's permissions are not what stands in the way.
std::string PermissionHintText(const std::string& port, const PortPermission& permission, const PortWords& words);

}  // namespace kvr
