// The window's port list: each port by its name, with a short description in
// the open list and the full identity as a tooltip.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "loader_screen.h"
#include "va_ports.h"

namespace kvr {

// A port the operator may choose.
struct PortChoice {
  PortChoice(std::string port_name, va::TVaPortIdentity port_identity = {}, va::TVaPortAccess port_access = va::acReady)
      : name(std::move(port_name)), identity(std::move(port_identity)), access(port_access) {}
  std::string name;  // what the list shows and the load opens: ttyUSB0, pts/3, COM7
  va::TVaPortIdentity identity;
  va::TVaPortAccess access = va::acReady;
  std::string hint;  // for a port the user may not open: what to do
};

// The ports found on this machine that the operator may choose: those that
// open now, then those the user may not open (after the others, so that the
// stored index counts the ports that open, as it always did).
std::vector<PortChoice> FoundPortChoices();

// A port in a few words for the list: the adapter's own, or its kind.
std::string PortDescriptionText(const PortChoice& port);

// Everything known of the port, a line each, as the tooltip's rich text (the
// device's own strings escaped).
std::string PortToolTipText(const PortChoice& port);

// The list's entry for a port.
PortEntry EntryFor(const PortChoice& port);

// Text with the characters rich text gives a meaning (< > & ") escaped.
std::string EscapeHtml(const std::string& text);

// A tooltip's rich text as plain text, for a toolkit without rich text:
// paragraphs and line breaks become line ends, the other tags go, the
// escaped characters come back.
std::string PlainToolTipText(const std::string& html);

}  // namespace kvr
