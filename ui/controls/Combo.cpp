// ui::Combo: item storage through the list, the popup's opening and the chosen item's text.
#include "ui/controls/Combo.h"

#include "base/NumberList.h"
#include "ui/controls/ComboWnd.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/render/RenderContext.h"

namespace ui {

Combo::Combo() : list_(new ListBox()) {
  const int one = DpiManager::Instance().ScaleInt(1);
  list_->GetLayout()->SetPadding({one, one, one, one}, false);
  list_->SetAttribute(L"bordersize", L"1");
  // Items taken out of the combo go back to the caller, who may add them again.
  list_->SetAutoDestroy(false);
  list_->ApplyAttributeList(drop_box_attributes_);
  list_->AttachEvent(kEventSelect,
                     ToWeakCallback([this](EventArgs& args) { return OnListSelect(args); }));
}

Combo::~Combo() {
  if (popup_ && popup_->GetHWND()) ::DestroyWindow(popup_->GetHWND());
}

void Combo::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = Combo;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = {
      {L"dropbox",
       [](Self& self, Value value) {
         self.drop_box_attributes_ = value;
         self.list_->ApplyAttributeList(value);
       }},
      {L"vscrollbar",
       [](Self&, Value) {
         // The list always scrolls vertically.
       }},
      {L"dropboxsize",
       [](Self& self, Value value) {
         SIZE size = {};
         if (!nbase::ParseSizeList(value, &size)) return;
         DpiManager::Instance().ScaleSize(size);
         self.drop_size_ = size;
       }},
      {L"popuptop", [](Self& self, Value value) { self.popup_top_ = value == L"true"; }},
  };
  if (!kTable.Apply(*this, name, value)) Box::SetAttribute(name, value);
}

void Combo::SetWindow(Window* window, Box* parent, bool init) {
  Box::SetWindow(window, parent, init);
  // While the popup is open the list belongs to the popup's window.
  if (!popup_) list_->SetWindow(window, this, init);
}

void Combo::Activate() {
  if (!IsActivatable() || popup_) return;
  popup_ = new CComboWnd();
  popup_->Init(this);
  if (popup_ && GetWindow()) GetWindow()->SendNotify(this, kEventClick);
  Invalidate();
}

bool Combo::Add(Control* item) {
  const bool added = list_->Add(item);
  cur_sel_ = list_->GetCurSel();
  return added;
}

bool Combo::Remove(Control* item) {
  const bool removed = list_->Remove(item);
  cur_sel_ = list_->GetCurSel();
  return removed;
}

bool Combo::RemoveAt(size_t index) {
  const bool removed = list_->RemoveAt(index);
  cur_sel_ = list_->GetCurSel();
  return removed;
}

void Combo::RemoveAll() {
  list_->RemoveAll();
  cur_sel_ = -1;
}

bool Combo::SelectItem(int index) {
  if (index < 0 || index >= static_cast<int>(GetCount()) || index == cur_sel_) return false;
  cur_sel_ = index;
  list_->SelectItem(index, false, false);
  Invalidate();
  NotifyAccessible(EVENT_OBJECT_VALUECHANGE);
  return true;
}

void Combo::HandleMessage(EventArgs& args) {
  if (args.type == kEventKeyDown && IsKeyboardEnabled() && IsEnabled()) {
    if (args.wparam == VK_F4) {
      Activate();
      return;
    }
    if (args.wparam == VK_UP || args.wparam == VK_DOWN) {
      StepSelection(args.wparam == VK_DOWN ? 1 : -1);
      return;
    }
  }
  if (args.type == kEventSystemKey && IsKeyboardEnabled() && IsEnabled() &&
      (args.wparam == VK_DOWN || args.wparam == VK_UP)) {
    Activate();
    return;
  }
  Box::HandleMessage(args);
}

void Combo::StepSelection(int step) {
  const int count = static_cast<int>(GetCount());
  int at = cur_sel_ < 0 ? (step > 0 ? -1 : count) : cur_sel_;
  // Hidden and disabled items are stepped over; the ends do not wrap, as in the open list.
  for (at += step; at >= 0 && at < count; at += step) {
    Control* item = list_->GetItemAt(static_cast<size_t>(at));
    if (item->IsVisible() && item->IsEnabled()) break;
  }
  if (at < 0 || at >= count || !SelectItem(at)) return;
  if (Window* window = GetWindow()) window->SendNotify(this, kEventSelect, cur_sel_, -1);
}

ListContainerElement* Combo::SelectedItem() const {
  if (cur_sel_ < 0) return nullptr;
  return dynamic_cast<ListContainerElement*>(list_->GetItemAt(static_cast<size_t>(cur_sel_)));
}

std::wstring Combo::GetText() const {
  ListContainerElement* item = SelectedItem();
  return item ? item->GetText() : std::wstring();
}

bool Combo::OnListSelect(EventArgs&) {
  // Closing is posted so that the popup outlives this event.
  if (popup_ && popup_->GetHWND()) ::PostMessageW(popup_->GetHWND(), WM_KILLFOCUS, 0, 0);
  cur_sel_ = list_->GetCurSel();
  if (ListContainerElement* item = SelectedItem()) item->SetState(kControlStateNormal);
  NotifyAccessible(EVENT_OBJECT_VALUECHANGE);
  if (popup_ && GetWindow()) GetWindow()->SendNotify(this, kEventSelect, cur_sel_, -1);
  Invalidate();
  return true;
}

void Combo::PaintText(IRenderContext* context) {
  ListContainerElement* item = SelectedItem();
  if (!item || item->GetOwnerList() != list_.get()) return;
  const std::wstring text = GetText();
  if (text.empty()) return;
  const RECT& padding = item->GetTextPadding();
  const RECT rect = {rect_.left + padding.left, rect_.top + padding.top,
                     rect_.right - padding.right, rect_.bottom - padding.bottom};
  const DWORD color =
      GlobalManager::Instance().GetTextColor(item->GetStateTextColor(kControlStateNormal));
  context->DrawText(rect, text, color, GlobalManager::Instance().GetFont(item->GetFont()),
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS, 255, false);
}

}  // namespace ui
