// ui::ListContainerElement: hands clicks to the owning list box.
#include "ui/controls/ListContainerElement.h"

#include "ui/controls/ListBox.h"

namespace ui {

ListBox* ListContainerElement::GetOwnerList() const {
  return dynamic_cast<ListBox*>(GetParent());
}

void ListContainerElement::SetSelectedSilently(bool selected) {
  selected_ = selected;
  Invalidate();
}

void ListContainerElement::Activate() {
  if (!IsActivatable()) return;
  ListBox* list = GetOwnerList();
  if (!list) {
    OptionTemplate<Box>::Activate();
    return;
  }
  if (Window* window = GetWindow()) window->SendNotify(this, kEventClick);
  list->SelectItem(list->GetItemIndex(this), true, true);  // may close a popup around the list
}

}  // namespace ui
