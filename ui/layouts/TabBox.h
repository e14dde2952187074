// ui::TabBox: a box that shows exactly one of its children (a page) at a time.
#pragma once

#include "ui/core/Box.h"

namespace ui {

// UI thread only.
class TabBox : public Box {
 public:
  TabBox() = default;

  std::wstring GetType() const override { return L"TabBox"; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

  bool Add(Control* page) override;
  bool AddAt(Control* page, size_t index) override;
  bool Remove(Control* page) override;
  void RemoveAll() override;

  // False for an index out of range; true and nothing else for the current one.
  bool SelectItem(int index);
  bool SelectItem(Control* page);
  int GetCurSel() const { return current_sel_; }
  bool IsFadeSwitch() const { return fade_switch_; }

 private:
  static void ShowPage(Control* page);
  void HidePage(Control* page);

  int current_sel_ = -1;
  bool fade_switch_ = false;
};

}  // namespace ui
