// ui::ListBox: a vertical box of items of which at most one is selected.
#pragma once

#include "ui/core/Box.h"

namespace ui {

// UI thread only. Items are usually ListContainerElement controls.
class ListBox : public Box {
 public:
  // Takes ownership of `layout`; null means a vertical layout.
  explicit ListBox(Layout* layout = nullptr);

  std::wstring GetType() const override { return L"ListBox"; }
  bool Remove(Control* child) override;
  void RemoveAll() override;

  int GetCurSel() const { return cur_sel_; }
  // Selects the item at `index` (−1 clears); "select" goes out only when `trigger_event`.
  bool SelectItem(int index, bool take_focus = false, bool trigger_event = true);

 private:
  int cur_sel_ = -1;
};

}  // namespace ui
