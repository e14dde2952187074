// Page switching of TabBox and keeping the selection on the same page as pages come and go.
#include "ui/layouts/TabBox.h"

#include "base/NumberList.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/Window.h"

namespace ui {

void TabBox::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = TabBox;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = {
      {L"selectedid",
       [](Self& self, Value value) {
         int index = 0;
         // Read before the pages exist, so only the number is kept; Add hides the others.
         if (nbase::ParseSingleInt(value, &index)) self.current_sel_ = index;
       }},
      {L"fadeswitch", [](Self& self, Value value) { self.fade_switch_ = value == L"true"; }},
  };
  if (!kTable.Apply(*this, name, value)) Box::SetAttribute(name, value);
}

void TabBox::ShowPage(Control* page) {
  page->SetMouseEnabled(true);
  if (page->IsBox()) static_cast<Box*>(page)->SetMouseChildEnabled(true);
  page->SetAlpha(255);
  page->SetFadeVisible(true);
}

void TabBox::HidePage(Control* page) {
  if (!fade_switch_) page->SetFadeVisible(false);
  page->SetMouseEnabled(false);
  if (page->IsBox()) static_cast<Box*>(page)->SetMouseChildEnabled(false);
  page->SetAlpha(0);
}

bool TabBox::Add(Control* page) {
  if (!Box::Add(page)) return false;
  const int index = static_cast<int>(GetCount()) - 1;
  if (current_sel_ == -1 && page->IsOwnVisible()) current_sel_ = index;
  if (current_sel_ != index) HidePage(page);
  return true;
}

bool TabBox::AddAt(Control* page, size_t index) {
  if (!Box::AddAt(page, index)) return false;
  const int at = static_cast<int>(index);
  if (current_sel_ == -1 && page->IsOwnVisible()) {
    current_sel_ = at;
  } else if (current_sel_ != -1 && at <= current_sel_) {
    ++current_sel_;
  }
  if (current_sel_ != at) HidePage(page);
  return true;
}

bool TabBox::Remove(Control* page) {
  const int index = GetItemIndex(page);
  if (index < 0) return false;
  if (!Box::Remove(page)) return false;
  if (index == current_sel_) {
    if (GetCount() == 0) {
      current_sel_ = -1;
    } else {
      current_sel_ = 0;
      ShowPage(GetItemAt(0));
    }
    Arrange();
  } else if (index < current_sel_) {
    --current_sel_;
  }
  return true;
}

void TabBox::RemoveAll() {
  current_sel_ = -1;
  Box::RemoveAll();
  Arrange();
}

bool TabBox::SelectItem(int index) {
  if (index < 0 || index >= static_cast<int>(GetCount())) return false;
  if (index == current_sel_) return true;
  const int old = current_sel_;
  current_sel_ = index;
  // Sliding pages are not animated: with fade switch on, pages swap at once like without it.
  for (int i = 0; i < static_cast<int>(GetCount()); ++i) {
    Control* page = GetItemAt(static_cast<size_t>(i));
    if (i == index) {
      ShowPage(page);
    } else {
      HidePage(page);
      page->SetFadeVisible(false);
    }
  }
  Arrange();
  if (Window* window = GetWindow()) {
    window->SendNotify(this, kEventSelect, static_cast<WPARAM>(index), static_cast<LPARAM>(old));
  }
  return true;
}

bool TabBox::SelectItem(Control* page) {
  const int index = GetItemIndex(page);
  return index >= 0 && SelectItem(index);
}

}  // namespace ui
