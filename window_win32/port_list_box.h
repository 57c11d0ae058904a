// The window's port list on Win32: a drop-down list of owner-drawn fixed
// 16-pixel items, each port by its name with its description in the open
// list; the chosen port's identity (and in the open list the one under the
// mouse) as a tooltip. The window logic makes the entries again each time
// the list opens.
#pragma once

#include <string>
#include <vector>

#include "loader_screen.h"

struct HWND__;
struct tagDRAWITEMSTRUCT;
struct tagMEASUREITEMSTRUCT;

namespace kvr {

class PortListBox {
 public:
  bool Create(HWND__* parent, int x, int y, int w, int h, int id, void* font);
  HWND__* Handle() const { return box_; }

  // Replaces the entries and selects `chosen` (-1 for none).
  void SetPorts(const std::vector<PortEntry>& ports, int chosen);
  int Chosen() const;
  // The selection changed (CBN_SELCHANGE).
  void ChosenChanged() { ShowChosenToolTip(); }
  // The parent's owner-draw messages for the box.
  void Measure(tagMEASUREITEMSTRUCT& item) const;
  void Draw(const tagDRAWITEMSTRUCT& item);

 private:
  void ShowChosenToolTip();
  void SetTip(HWND__* tool, const std::string& html);

  HWND__* box_ = nullptr;
  HWND__* tips_ = nullptr;
  HWND__* list_ = nullptr;  // the open list's own window
  std::vector<PortEntry> ports_;
  int hot_ = -1;  // the open list's item under the mouse, whose tooltip shows
};

}  // namespace kvr
