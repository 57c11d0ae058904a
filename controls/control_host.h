// What a painted control needs from the toolkit that shows it: repaints, the
// mouse capture, its size and visibility, what lies under it, the text
// painter and its sibling controls. The toolkit implements one host per
// control and passes the mouse, the keys and the focus to the control's
// entry points.
#pragma once

#include <vector>

#include "bitmap.h"
#include "text_painter.h"

namespace ab {

class TAbBinGControl;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// The keys a control acts on, as the toolkit names them to it (kOther: any
// other key).
enum class TKey { kSpace, kEnter, kOther };

struct TSize {
  int Width = 0, Height = 0;
  bool operator==(const TSize&) const = default;
};

class TControlHost {
 public:
  virtual ~TControlHost() = default;
  // Paints the control now (its paint entry point is called before this returns).
  virtual void Repaint() = 0;
  // Paints the control at the toolkit's next chance.
  virtual void Invalidate() = 0;
  virtual TSize Size() const = 0;
  virtual bool Visible() const = 0;
  // Some control holds the mouse (a button is down over it).
  virtual bool MouseCaptured() const = 0;
  // What the parent paints under the control: its background, at the control's size.
  virtual TBitmap Background() = 0;
  // The painter for the control's text (none: no text).
  virtual TTextPainter* TextPainter() = 0;
  // The two-state controls sharing the control's owner, in the owner's order
  // (the control itself among them).
  virtual std::vector<TAbBinGControl*> Siblings() = 0;
  // The control takes mouse input, or no longer does.
  virtual void EnabledChanged(bool enabled) { (void)enabled; }
};

}  // namespace ab
