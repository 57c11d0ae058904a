#include "data_grid.h"

#include "gdi_text_painter.h"
#include "utf8_files.h"
#include "window_layout.h"

// The system's headers last: their macros (RGB, DrawText) would rename ours.
#include <windows.h>
#include <commctrl.h>

namespace kvr {

using base::Utf8;
using base::Wide;

namespace {

constexpr int kHeadingWidth = 64;  // the row headings' column
constexpr int kCellWidth = 44;
constexpr int kRowHeight = 24;
constexpr UINT_PTR kListSubclass = 1, kEditorSubclass = 2;
// Posted to the list view: close editor number lparam, storing its text when
// wparam is 1 (an editor is not destroyed inside its own messages).
constexpr UINT kCloseEditor = WM_APP + 10;

LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  bool handled = false;
  const long long result = reinterpret_cast<DataGrid*>(data)->ListMessage(msg, wparam, lparam, handled);
  return handled ? static_cast<LRESULT>(result) : DefSubclassProc(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK EditorProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  bool handled = false;
  const long long result = reinterpret_cast<DataGrid*>(data)->EditorMessage(msg, wparam, lparam, handled);
  return handled ? static_cast<LRESULT>(result) : DefSubclassProc(hwnd, msg, wparam, lparam);
}

// A cell takes hexadecimal digits only; typing one opens the cell's editor.
bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

}  // namespace

bool DataGrid::Create(HWND parent, int x, int y, int w, int h, int id, void* font) {
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | LVS_REPORT | LVS_OWNERDATA |
                              LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                          x, y, w, h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  if (!list_) return false;
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  // A list view's rows are as high as its small images: a blank image list sets 24 pixels.
  HIMAGELIST rows = ImageList_Create(1, kRowHeight, ILC_COLOR32, 1, 0);
  ListView_SetImageList(list_, rows, LVSIL_SMALL);
  for (int c = 0; c <= grid_.Columns(); ++c) {
    const std::wstring heading = c == 0 ? std::wstring() : Wide(grid_.ColumnHeading(c - 1));
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = c == 0 ? kHeadingWidth : kCellWidth;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  ListView_SetItemCountEx(list_, grid_.Rows(), LVSICF_NOSCROLL);
  SetWindowSubclass(list_, ListProc, kListSubclass, reinterpret_cast<DWORD_PTR>(this));
  return true;
}

void DataGrid::Reset() {
  CloseEditor(false);
  for (int c = 1; c <= grid_.Columns(); ++c) {
    const std::wstring heading = Wide(grid_.ColumnHeading(c - 1));
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    SendMessageW(list_, LVM_SETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  ListView_SetItemCountEx(list_, grid_.Rows(), LVSICF_NOSCROLL);
  InvalidateRect(list_, nullptr, TRUE);
}

void DataGrid::Redraw() { InvalidateRect(list_, nullptr, FALSE); }

void DataGrid::RedrawRow(int row) { ListView_RedrawItems(list_, row, row); }

void DataGrid::SetCurrent(int row, int column) {
  if (row < 0 || row >= grid_.Rows() || column < 0 || column >= grid_.Columns()) return;
  const int before = row_;
  row_ = row;
  column_ = column;
  ListView_SetItemState(list_, row_, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  ListView_EnsureVisible(list_, row_, FALSE);
  RedrawRow(before);
  RedrawRow(row_);
}

void DataGrid::OpenEditor(const std::wstring& typed, bool replace) {
  if (grid_.Locked()) return;
  CloseEditor(true);
  RECT r{};
  ListView_EnsureVisible(list_, row_, FALSE);
  if (!ListView_GetSubItemRect(list_, row_, column_ + 1, LVIR_BOUNDS, &r)) return;
  editor_ = CreateWindowExW(0, WC_EDITW, L"",
                            WS_CHILD | WS_VISIBLE | WS_BORDER | ES_CENTER | ES_AUTOHSCROLL | ES_UPPERCASE, r.left,
                            r.top, r.right - r.left, r.bottom - r.top, list_, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (!editor_) return;
  ++editors_;
  edit_row_ = row_;
  edit_column_ = column_;
  SendMessageW(editor_, WM_SETFONT, SendMessageW(list_, WM_GETFONT, 0, 0), FALSE);
  SendMessageW(editor_, EM_SETLIMITTEXT, 2, 0);  // a cell holds two hexadecimal characters
  const std::wstring text = replace ? typed : Wide(grid_.Cell(row_, column_));
  SetWindowTextW(editor_, text.substr(0, 2).c_str());
  SendMessageW(editor_, EM_SETSEL, replace ? 2 : 0, 2);
  SetWindowSubclass(editor_, EditorProc, kEditorSubclass, reinterpret_cast<DWORD_PTR>(this));
  SetFocus(editor_);
}

void DataGrid::CloseEditor(bool store) {
  if (!editor_) return;
  HWND editor = editor_;
  editor_ = nullptr;  // leaving the focus below comes back here
  if (store) {
    wchar_t text[8] = {};
    GetWindowTextW(editor, text, 8);
    grid_.Edit(edit_row_, edit_column_, Utf8(text));
  }
  RemoveWindowSubclass(editor, EditorProc, kEditorSubclass);
  const bool had_focus = GetFocus() == editor;
  DestroyWindow(editor);
  if (had_focus) SetFocus(list_);
  RedrawRow(edit_row_);
  edit_row_ = edit_column_ = -1;
}

void DataGrid::CommitEdit() { CloseEditor(true); }

bool DataGrid::Notify(const NMHDR& header, long long& result) {
  if (header.hwndFrom != list_) return false;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
      if (info.item.mask & LVIF_TEXT) {
        const int row = info.item.iItem, sub = info.item.iSubItem;
        text_ = Wide(sub == 0 ? grid_.RowHeading(row) : grid_.Cell(row, sub - 1));
        lstrcpynW(info.item.pszText, text_.c_str(), info.item.cchTextMax);
      }
      result = 0;
      return true;
    }
    case NM_CLICK:
    case NM_DBLCLK: {
      // The notice names the cell only for a click on the first column: the
      // cell under the mouse is looked up.
      LVHITTESTINFO hit{};
      hit.pt = reinterpret_cast<const NMITEMACTIVATE&>(header).ptAction;
      if (ListView_SubItemHitTest(list_, &hit) >= 0 && hit.iItem >= 0 && hit.iSubItem >= 1) {
        SetCurrent(hit.iItem, hit.iSubItem - 1);
        if (header.code == NM_DBLCLK) OpenEditor(L"", false);
      }
      result = 0;
      return true;
    }
    case NM_CUSTOMDRAW: {
      auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
      switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT: result = CDRF_NOTIFYITEMDRAW; return true;
        case CDDS_ITEMPREPAINT:
          // The grid marks its current cell, not the row the list view selects.
          draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
          result = CDRF_NOTIFYSUBITEMDRAW;
          return true;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
          const int row = static_cast<int>(draw.nmcd.dwItemSpec);
          const bool heading = draw.iSubItem == 0;
          const bool current = row == row_ && draw.iSubItem == column_ + 1;
          const bool edited = !heading && grid_.CellEdited(row, draw.iSubItem - 1);
          constexpr unsigned kRgb = layout::kEditedCellRgb;
          draw.clrTextBk = current  ? GetSysColor(COLOR_HIGHLIGHT)
                           : edited ? RGB(kRgb >> 16, (kRgb >> 8) & 0xFF, kRgb & 0xFF)
                                    : GetSysColor(heading ? COLOR_BTNFACE : COLOR_WINDOW);
          draw.clrText = GetSysColor(current ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
          result = CDRF_NEWFONT;
          return true;
        }
        default: result = CDRF_DODEFAULT; return true;
      }
    }
    default: return false;
  }
}

long long DataGrid::ListMessage(unsigned msg, unsigned long long wparam, long long lparam, bool& handled) {
  switch (msg) {
    case WM_NOTIFY: {
      // The headings drawn without the header's padding: "$xxx0" fits a cell's width.
      const auto& header = *reinterpret_cast<const NMHDR*>(lparam);
      if (header.hwndFrom != ListView_GetHeader(list_) || header.code != NM_CUSTOMDRAW) return 0;
      const auto& draw = reinterpret_cast<const NMCUSTOMDRAW&>(header);
      handled = true;
      if (draw.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (draw.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
      RECT r = draw.rc;
      FillRect(draw.hdc, &r, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(draw.hdc, &r, BDR_RAISEDINNER, BF_RECT);
      const int column = static_cast<int>(draw.dwItemSpec);
      const std::wstring text = column == 0 ? std::wstring() : Wide(grid_.ColumnHeading(column - 1));
      SetBkMode(draw.hdc, TRANSPARENT);
      SetTextColor(draw.hdc, GetSysColor(COLOR_BTNTEXT));
      DrawTextW(draw.hdc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      return CDRF_SKIPDEFAULT;
    }
    case kCloseEditor:
      if (lparam == editors_) CloseEditor(wparam == 1);
      handled = true;
      return 0;
    case WM_GETDLGCODE: {
      // Return opens the cell's editor: the dialog navigation would take it
      // for the window's default button. Tab moves on to the next control.
      handled = true;
      const auto* key = reinterpret_cast<const MSG*>(lparam);
      const bool enter = key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN;
      return DLGC_WANTARROWS | DLGC_WANTCHARS | (enter ? DLGC_WANTMESSAGE : 0);
    }
    case WM_KEYDOWN:
      switch (wparam) {
        case VK_LEFT: SetCurrent(row_, column_ - 1); handled = true; return 0;
        case VK_RIGHT: SetCurrent(row_, column_ + 1); handled = true; return 0;
        case VK_UP: SetCurrent(row_ - 1, column_); handled = true; return 0;
        case VK_DOWN: SetCurrent(row_ + 1, column_); handled = true; return 0;
        case VK_F2:
        case VK_RETURN: OpenEditor(L"", false); handled = true; return 0;
        default: return 0;
      }
    case WM_CHAR:
      if (IsHexDigit(static_cast<wchar_t>(wparam))) {
        OpenEditor(std::wstring(1, static_cast<wchar_t>(wparam)), true);
        handled = true;
      }
      return 0;
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL:
      CloseEditor(true);  // the cell moves away under the editor
      return 0;
    default: return 0;
  }
}

long long DataGrid::EditorMessage(unsigned msg, unsigned long long wparam, long long, bool& handled) {
  switch (msg) {
    case WM_GETDLGCODE:
      handled = true;
      return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      if (wparam == VK_RETURN || wparam == VK_ESCAPE) {
        PostMessageW(list_, kCloseEditor, wparam == VK_RETURN, editors_);
        handled = true;
      }
      return 0;
    case WM_CHAR:
      handled = wparam == VK_RETURN || wparam == VK_ESCAPE;  // no beep
      if (wparam >= 0x20 && wparam != 0x7F && !IsHexDigit(static_cast<wchar_t>(wparam))) {
        MessageBeep(MB_OK);  // refused at the cell
        handled = true;
      }
      return 0;
    case WM_KILLFOCUS: PostMessageW(list_, kCloseEditor, 1, editors_); return 0;
    default: return 0;
  }
}

}  // namespace kvr
