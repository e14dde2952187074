// ui::CComboWnd: places the popup by the combo, lends it the list and closes on focus loss.
#include "ui/controls/ComboWnd.h"

#include "ui/controls/Combo.h"
#include "ui/controls/ListBox.h"
#include "ui/core/Box.h"
#include "ui/core/WindowAccessible.h"

namespace ui {

void CComboWnd::Init(Combo* owner) {
  owner_ = owner;
  old_sel_ = owner->GetCurSel();
  const RECT anchor = owner->GetPos();
  const SIZE drop = owner->GetDropBoxSize();
  int height = drop.cy;
  const auto width_from = [&](LONG left) { return drop.cx > 0 ? left + drop.cx : anchor.right; };
  RECT rect = {anchor.left, anchor.bottom + 1, width_from(anchor.left), anchor.bottom + 1 + height};

  // Never leave empty space below the last item; the 2 is the list's border.
  ListBox* list = owner->GetListBox();
  const SIZE available = {rect.right - rect.left, rect.bottom - rect.top};
  int items_height = 0;
  for (size_t i = 0; i < list->GetCount(); ++i) {
    Control* item = list->GetItemAt(i);
    if (item->IsVisible()) items_height += item->EstimateSize(available).cy;
  }
  if (items_height + 2 < height) {
    height = items_height + 2;
    rect.bottom = rect.top + height;
  }

  HWND owner_hwnd = owner->GetWindow() ? owner->GetWindow()->GetHWND() : nullptr;
  ::MapWindowPoints(owner_hwnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(owner_hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
  if (rect.bottom > monitor.rcWork.bottom || owner->IsPopupTop()) {
    rect = {anchor.left, anchor.top - height, width_from(anchor.left), anchor.top};
    ::MapWindowPoints(owner_hwnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
  }

  if (!Create(owner_hwnd, L"", WS_POPUP, WS_EX_TOOLWINDOW, false, rect)) {
    owner_->popup_ = nullptr;
    delete this;
    return;
  }
  // The main window keeps its active look while the popup holds the focus.
  HWND top = owner_hwnd;
  while (HWND parent = ::GetParent(top)) top = parent;
  ::ShowWindow(GetHWND(), SW_SHOW);
  ::SendMessageW(top, WM_NCACTIVATE, TRUE, 0);
  NotifyAccessible(EVENT_OBJECT_SHOW, nullptr);
  AnnounceHighlight();
}

int CComboWnd::GetAccessibleClientRole() const {
  return kRoleList;
}

std::wstring CComboWnd::GetAccessibleClientName() const {
  return owner_ ? WindowAccessible::NameOf(owner_) : std::wstring();
}

void CComboWnd::AnnounceHighlight() {
  ListBox* list = owner_->GetListBox();
  const int current = list->GetCurSel();
  if (current < 0 || current >= static_cast<int>(list->GetCount())) return;
  Control* item = list->GetItemAt(static_cast<size_t>(current));
  NotifyAccessible(EVENT_OBJECT_SELECTION, item);
  NotifyAccessible(EVENT_OBJECT_FOCUS, item);
}

void CComboWnd::OnInitLayout() {
  owner_->GetListBox()->EnsureVisible(owner_->GetCurSel());
}

void CComboWnd::ReturnList() {
  Box* root = static_cast<Box*>(GetRoot());
  ListBox* list = owner_->GetListBox();
  if (!root || root->GetItemIndex(list) < 0) return;
  root->Remove(list);
  list->SetWindow(owner_->GetWindow(), owner_, false);
}

bool CComboWnd::OnKeyDown(WPARAM key) {
  ListBox* list = owner_->GetListBox();
  const int count = static_cast<int>(list->GetCount());
  const int current = list->GetCurSel();
  switch (key) {
    case VK_UP:
    case VK_DOWN: {
      const int step = key == VK_DOWN ? 1 : -1;
      int at = current < 0 ? (step > 0 ? -1 : count) : current;
      // Hidden and disabled items are stepped over; the ends do not wrap around.
      for (at += step; at >= 0 && at < count; at += step) {
        Control* item = list->GetItemAt(static_cast<size_t>(at));
        if (item->IsVisible() && item->IsEnabled()) break;
      }
      if (at >= 0 && at < count && at != current) {
        list->SelectItem(at, false, false);
        AnnounceHighlight();
      }
      return true;
    }
    case VK_RETURN:
      // Choosing goes the same way as a click, so the combo sees its "select" as usual.
      if (current >= 0) {
        list->SelectItem(current, false, true);
      } else {
        ::PostMessageW(GetHWND(), WM_KILLFOCUS, 0, 0);
      }
      return true;
    case VK_ESCAPE:
      // Closing takes over a highlight that differs from the combo's choice: undo it first.
      list->SelectItem(old_sel_ < count ? old_sel_ : -1, false, false);
      ::PostMessageW(GetHWND(), WM_KILLFOCUS, 0, 0);
      return true;
    default:
      return false;
  }
}

LRESULT CComboWnd::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
      if (!closing_ && OnKeyDown(wparam)) return 0;
      break;
    case WM_CREATE: {
      auto* root = new Box();
      root->SetAutoDestroy(false);
      root->Add(owner_->GetListBox());
      AttachRoot(root);
      return 0;
    }
    case WM_KILLFOCUS:
      if (reinterpret_cast<HWND>(wparam) == GetHWND() || closing_) break;
      closing_ = true;
      ::PostMessageW(GetHWND(), WM_CLOSE, 0, 0);
      {
        const int chosen = owner_->GetListBox()->GetCurSel();
        if (chosen >= 0 && chosen != owner_->GetCurSel()) owner_->SelectItem(chosen);
      }
      ReturnList();
      break;
    case WM_CLOSE:
      owner_->SetWindow(owner_->GetWindow(), owner_->GetParent(), false);
      owner_->SetPos(owner_->GetPos());
      if (Window* window = owner_->GetWindow()) window->SetFocusControl(owner_);
      break;
    default:
      break;
  }
  // Once closing, the list is gone: the tree must not see further input.
  if (closing_) return ::DefWindowProcW(GetHWND(), message, wparam, lparam);
  return Window::HandleMessage(message, wparam, lparam);
}

void CComboWnd::OnFinalMessage(HWND) {
  ReturnList();
  owner_->popup_ = nullptr;
  owner_->SetWindow(owner_->GetWindow(), owner_->GetParent(), false);
  owner_->Invalidate();
  delete this;
}

}  // namespace ui
