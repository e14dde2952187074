// ui::ListBox: keeps the one selected item in step with the items' own selected state.
#include "ui/controls/ListBox.h"

#include "ui/controls/ListContainerElement.h"
#include "ui/core/Window.h"
#include "ui/layouts/VLayout.h"

namespace ui {

ListBox::ListBox(Layout* layout) : Box(layout ? layout : new VLayout()) {}

bool ListBox::Remove(Control* child) {
  const int index = GetItemIndex(child);
  if (!Box::Remove(child)) return false;
  if (index == cur_sel_) cur_sel_ = -1;
  else if (index < cur_sel_) --cur_sel_;
  return true;
}

void ListBox::RemoveAll() {
  cur_sel_ = -1;
  Box::RemoveAll();
}

bool ListBox::SelectItem(int index, bool take_focus, bool trigger_event) {
  if (index < -1 || index >= static_cast<int>(GetCount())) return false;
  const int old = cur_sel_;
  if (old >= 0 && old != index) {
    if (auto* item = dynamic_cast<ListContainerElement*>(GetItemAt(static_cast<size_t>(old)))) {
      item->SetSelectedSilently(false);
    }
  }
  cur_sel_ = index;
  if (index < 0) return true;
  Control* chosen = GetItemAt(static_cast<size_t>(index));
  if (auto* item = dynamic_cast<ListContainerElement*>(chosen)) item->SetSelectedSilently(true);
  Window* window = GetWindow();
  if (take_focus && window) window->SetFocusControl(chosen);
  if (trigger_event && window) window->SendNotify(this, kEventSelect, index, old);
  return true;
}

}  // namespace ui
