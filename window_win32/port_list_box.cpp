#include "port_list_box.h"

#include <algorithm>

#include "gdi_text_painter.h"
#include "port_choices.h"
#include "utf8_files.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <commctrl.h>

namespace kvr {

using base::Wide;

bool PortListBox::Create(HWND parent, int x, int y, int w, int h, int id, void* font) {
  box_ = CreateWindowExW(0, WC_COMBOBOXW, L"",
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED |
                             CBS_HASSTRINGS,
                         x, y, w, h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
  if (!box_) return false;
  SendMessageW(box_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (GetComboBoxInfo(box_, &info)) list_ = info.hwndList;
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  if (tips_) {
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 480);  // several lines
    for (HWND tool : {box_, list_}) {
      if (!tool) continue;
      TOOLINFOW ti{};
      ti.cbSize = sizeof(ti);
      ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      ti.hwnd = parent;
      ti.uId = reinterpret_cast<UINT_PTR>(tool);
      ti.lpszText = const_cast<wchar_t*>(L"");
      SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
  }
  return true;
}

void PortListBox::SetTip(HWND tool, const std::string& html) {
  if (!tips_ || !tool) return;
  const std::wstring text = Wide(PlainToolTipText(html));
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = GetParent(box_);
  ti.uId = reinterpret_cast<UINT_PTR>(tool);
  ti.lpszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void PortListBox::SetPorts(const std::vector<PortEntry>& ports, int chosen) {
  ports_ = ports;
  SendMessageW(box_, CB_RESETCONTENT, 0, 0);
  HDC dc = GetDC(box_);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box_, WM_GETFONT, 0, 0)));
  int width = 0;
  for (const PortEntry& port : ports_) {
    const std::wstring name = Wide(port.name);
    SendMessageW(box_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    const std::wstring shown = Wide(port.name + "   " + port.description);
    SIZE size{};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    width = std::max(width, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(box_, dc);
  // Room for the description beside the name, up to a width the window's
  // screen surely has; a longer one is cut short with an ellipsis.
  RECT r{};
  GetWindowRect(box_, &r);
  SendMessageW(box_, CB_SETDROPPEDWIDTH, std::max<int>(r.right - r.left, std::min(width + 32, 480)), 0);
  SendMessageW(box_, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
  hot_ = -1;
  ShowChosenToolTip();
}

int PortListBox::Chosen() const { return static_cast<int>(SendMessageW(box_, CB_GETCURSEL, 0, 0)); }

void PortListBox::ShowChosenToolTip() {
  const int chosen = Chosen();
  SetTip(box_, chosen >= 0 && chosen < static_cast<int>(ports_.size()) ? ports_[chosen].tooltip : "");
}

void PortListBox::Measure(MEASUREITEMSTRUCT& item) const {
  // The items 16 pixels high; the closed box's field one less, so that the
  // box with its frame is 21 pixels high.
  item.itemHeight = item.itemID == static_cast<UINT>(-1) ? 15 : 16;
}

void PortListBox::Draw(const DRAWITEMSTRUCT& item) {
  const bool selected = item.itemState & ODS_SELECTED;
  const bool in_list = !(item.itemState & ODS_COMBOBOXEDIT);
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int index = static_cast<int>(item.itemID);
  if (index < 0 || index >= static_cast<int>(ports_.size())) return;
  const PortEntry& port = ports_[static_cast<size_t>(index)];
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  // The open list tells each port's description beside its name.
  const std::wstring text = Wide(in_list && !port.description.empty() ? port.name + "   " + port.description : port.name);
  RECT r = item.rcItem;
  r.left += 2;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
  if (in_list && selected && index != hot_) {
    hot_ = index;
    SetTip(list_, port.tooltip);
  }
}

}  // namespace kvr
