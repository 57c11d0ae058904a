// The data grid on Win32: a virtual list view over ImageGrid (the row
// headings in the first column, the sixteen cells after it), with a current
// cell moved by the mouse and the arrow keys and edited in place: a double
// click, F2 or Return, or a typed character opens a two-character editor over
// the cell; Return or leaving it stores the text, Escape drops it.
#pragma once

#include <string>

#include "image_grid.h"

struct HWND__;
struct tagNMHDR;

namespace kvr {

class DataGrid {
 public:
  explicit DataGrid(ImageGrid& grid) : grid_(grid) {}
  bool Create(HWND__* parent, int x, int y, int w, int h, int id, void* font);
  HWND__* Handle() const { return list_; }

  // The rows have changed wholesale.
  void Reset();
  // Cells' texts or marks have changed.
  void Redraw();
  // The editor's text goes into the image now (if it is open).
  void CommitEdit();
  // The parent's WM_NOTIFY from the list view; true with `result` set when handled.
  bool Notify(const tagNMHDR& header, long long& result);

  // The list view's and the editor's own messages (subclass procedures).
  long long ListMessage(unsigned msg, unsigned long long wparam, long long lparam, bool& handled);
  long long EditorMessage(unsigned msg, unsigned long long wparam, long long lparam, bool& handled);

  // Makes (row, column) the current cell and scrolls it into view; a cell
  // outside the grid is ignored.
  void SetCurrent(int row, int column);

 private:
  void OpenEditor(const std::wstring& typed, bool replace);
  void CloseEditor(bool store);
  void RedrawRow(int row);

  ImageGrid& grid_;
  HWND__* list_ = nullptr;
  HWND__* editor_ = nullptr;
  int row_ = 0, column_ = 0;          // the current cell (0-based cell column)
  int edit_row_ = -1, edit_column_ = -1;
  long long editors_ = 0;             // editors opened so far (a posted close names its own)
  std::wstring text_;                 // the text handed to the list view for a cell
};

}  // namespace kvr
