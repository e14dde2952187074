// ui::ListContainerElement: one item of a list box, selected by a click.
#pragma once

#include "ui/controls/Option.h"

namespace ui {

class ListBox;

// UI thread only. Its parent, when it is a ListBox, decides about the selection.
class ListContainerElement : public OptionTemplate<Box> {
 public:
  std::wstring GetType() const override { return L"ListContainerElement"; }
  void Activate() override;
  // Changes the look only: the owning list does the bookkeeping and the events.
  void SetSelectedSilently(bool selected);
  ListBox* GetOwnerList() const;

 protected:
  int GetDefaultAccessibleRole() const override { return kRoleListItem; }
};

}  // namespace ui
