#include "port_choices.h"

#include "hex_text.h"
#include "port_info.h"
#include "port_texts.h"
#include "window_texts.h"

namespace kvr {

std::vector<PortChoice> FoundPortChoices() {
  std::vector<PortChoice> ports;
  const std::vector<va::TVaPortFound> found = va::FindPorts();
  for (va::TVaPortAccess access : {va::acReady, va::acDenied})
    for (const va::TVaPortFound& port : found)
      if (port.Access == access) ports.push_back({PortName(port.Path), va::IdentifyPort(port.Path), port.Access});
  return ports;  // a port another program holds is not for this one
}

std::string PortDescriptionText(const PortChoice& port) {
  std::string text = PortKindText(port.identity, kRussianPortWords);
  if (port.access == va::acDenied) text += " — нет прав";
  return text;
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PortToolTipText(const PortChoice& port) {
  const va::TVaPortIdentity& id = port.identity;
  std::string lines;
  const auto line = [&](const std::string& label, const std::string& value) {
    if (value.empty()) return;
    if (!lines.empty()) lines += "<br>";
    lines += EscapeHtml(label + DeviceText(value, 80));
  };
  line("", va::DevicePathFor(port.name));
  line("", id.ById);
  if (id.IsUsb()) line("USB ", id.VendorId + ":" + id.ProductId);
  line("Изготовитель: ", id.Manufacturer);
  line("Изделие: ", id.Product);
  line("Серийный номер: ", id.SerialNumber);
  // A port not on USB: its kind, unless it is no known kind and the lines
  // above hold its description already (Windows' records of a card's port).
  if (!id.IsUsb() && (KindOf(id) != PortKind::kOther || (id.Product.empty() && id.Manufacturer.empty())))
    line("", PortDescriptionText(port));
  std::string text = "<p style='white-space:pre'>" + lines + "</p>";
  if (port.access == va::acDenied)  // a paragraph that wraps
    text += "<p>" + EscapeHtml(port.hint.empty() ? kNoPermissionToolTip : port.hint) + "</p>";
  return text;
}

std::string PlainToolTipText(const std::string& html) {
  std::string out;
  bool first_paragraph = true;
  for (size_t i = 0; i < html.size();) {
    if (html[i] == '<') {
      const size_t end = html.find('>', i);
      if (end == std::string::npos) break;
      const std::string tag = html.substr(i + 1, end - i - 1);
      if (tag == "br") out += "\r\n";
      if (tag.rfind("p", 0) == 0 && (tag.size() == 1 || tag[1] == ' ')) {
        if (!first_paragraph) out += "\r\n\r\n";
        first_paragraph = false;
      }
      i = end + 1;
      continue;
    }
    if (html[i] == '&') {
      static const std::pair<const char*, char> kEntities[] = {
          {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}};
      bool matched = false;
      for (const auto& [entity, c] : kEntities)
        if (html.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
          out += c;
          i += std::char_traits<char>::length(entity);
          matched = true;
          break;
        }
      if (matched) continue;
    }
    out += html[i++];
  }
  return out;
}

PortEntry EntryFor(const PortChoice& port) { return {port.name, PortDescriptionText(port), PortToolTipText(port)}; }

}  // namespace kvr
