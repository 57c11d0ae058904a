// The window's port list: each port by its name, with a short description in
// the open list and the full identity as a tooltip; the window logic makes
// the entries again each time the list opens.
#pragma once

#include <QComboBox>
#include <functional>
#include <vector>

#include "loader_screen.h"

namespace kvr {

class PortListBox final : public QComboBox {
 public:
  explicit PortListBox(QWidget* parent);

  // Runs before the list opens.
  std::function<void()> AboutToShow;

  // Replaces the entries and selects `chosen` (-1 for none).
  void SetPorts(const std::vector<PortEntry>& ports, int chosen);

  void showPopup() override;

 private:
  void ShowChosenToolTip();
};

}  // namespace kvr
