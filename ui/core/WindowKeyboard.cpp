// The window's keyboard path: focus order, the default button, Escape and the focus mark.
#include <algorithm>

#include "ui/core/Box.h"
#include "ui/core/Control.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/render/RenderContext.h"

namespace ui {
namespace {

// Every control of the tree in the markup's order, which is the order a page reads in.
std::vector<Control*> TreeOrder(Control* root) {
  std::vector<Control*> controls;
  if (!root) return controls;
  if (root->IsBox()) {
    static_cast<Box*>(root)->ForEachControl([&](Control* control) { controls.push_back(control); });
  } else {
    controls.push_back(root);
  }
  return controls;
}

bool KeyHeld(int key) {
  return ::GetKeyState(key) < 0;
}

}  // namespace

bool Window::MoveFocus(bool backward) {
  const std::vector<Control*> controls = TreeOrder(root_.get());
  const int count = static_cast<int>(controls.size());
  if (count == 0) return false;
  // From the focused control, or from before the first (after the last) when there is none; a
  // focused control that is no tab stop (a box clicked on) still marks the place.
  int at = backward ? count : -1;
  if (focus_) {
    const auto found = std::find(controls.begin(), controls.end(), focus_);
    if (found != controls.end()) at = static_cast<int>(found - controls.begin());
  }
  const int step = backward ? -1 : 1;
  for (int i = 1; i <= count; ++i) {
    Control* candidate = controls[static_cast<size_t>(((at + step * i) % count + count) % count)];
    if (candidate == focus_ || !candidate->IsTabStop()) continue;
    SetFocusControl(candidate);
    return focus_ == candidate;
  }
  return false;
}

Control* Window::GetDefaultButton() const {
  for (Control* control : TreeOrder(root_.get())) {
    if (control->IsDefaultButton() && control->IsVisible() && control->IsEnabled()) return control;
  }
  return nullptr;
}

void Window::ShowFocusMark(bool show) {
  if (focus_mark_shown_ == show) return;
  focus_mark_shown_ = show;
  InvalidateFocusMark(focus_);
}

RECT Window::GetFocusMarkRect(const Control* control) const {
  RECT mark = control ? control->GetPos() : RECT();
  const int outset = DpiManager::Instance().ScaleInt(3);
  ::InflateRect(&mark, outset, outset);
  // The mark stays on what the window shows: for a control at its edge (the close button in
  // the corner) it is drawn just inside rather than in the shadow margin.
  if (root_ && root_->IsBox()) {
    const RECT inside = static_cast<const Box*>(root_.get())->GetPaddingPos();
    mark.left = std::max(mark.left, inside.left);
    mark.top = std::max(mark.top, inside.top);
    mark.right = std::min(mark.right, inside.right);
    mark.bottom = std::min(mark.bottom, inside.bottom);
  }
  return mark;
}

void Window::InvalidateFocusMark(const Control* control) {
  if (control && hwnd_) Invalidate(GetFocusMarkRect(control));
}

void Window::PaintFocusMark(IRenderContext* context, const RECT& update) {
  if (!focus_mark_shown_ || !focus_ || !focus_->IsVisible() || !focus_->IsTabStop()) return;
  const std::wstring& color_name = GlobalManager::Instance().GetFocusColor();
  // Without a skin color the mark is the text color most skins read well on.
  const DWORD color =
      color_name.empty() ? 0xFF000000u : GlobalManager::Instance().GetTextColor(color_name);
  if (!color) return;
  const RECT mark = GetFocusMarkRect(focus_);
  const LONG width = DpiManager::Instance().ScaleInt(2);
  const RECT edges[] = {
      {mark.left, mark.top, mark.right, mark.top + width},
      {mark.left, mark.bottom - width, mark.right, mark.bottom},
      {mark.left, mark.top + width, mark.left + width, mark.bottom - width},
      {mark.right - width, mark.top + width, mark.right, mark.bottom - width},
  };
  for (const RECT& edge : edges) {
    RECT clipped = {};
    // A partial repaint must change nothing outside its rectangle.
    if (::IntersectRect(&clipped, &edge, &update)) context->DrawColor(clipped, color);
  }
}

bool Window::OnKeyDown(UINT message, WPARAM key, LPARAM lparam) {
  swallow_char_ = 0;
  const bool alt = message == WM_SYSKEYDOWN;
  Control* focus = focus_;
  const bool wanted = focus && focus->WantsKey(static_cast<UINT>(key));
  if (!alt && !wanted) {
    if (key == VK_TAB && !KeyHeld(VK_CONTROL)) {
      swallow_char_ = L'\t';
      ShowFocusMark(true);
      MoveFocus(KeyHeld(VK_SHIFT));
      return true;
    }
    if (key == VK_ESCAPE) {
      swallow_char_ = 0x1B;
      if (OnEscapeKey()) return true;
    }
    if (key == VK_RETURN) {
      swallow_char_ = L'\r';
      // The focused control hears the key first (a field reports "return"), then the page's
      // main button is pressed, as a dialog does.
      const std::weak_ptr<nbase::WeakFlag> window_alive = GetWeakFlag();
      if (focus)
        focus->HandleMessageTemplate(kEventKeyDown, key, lparam, static_cast<wchar_t>(key));
      if (window_alive.expired()) return true;
      const bool repeat = (lparam & (1 << 30)) != 0;
      Control* button = GetDefaultButton();
      if (button && !repeat) button->Activate();
      return true;
    }
  }
  if (!focus) return false;
  // A control Alt+key means nothing to is left to the system (Alt+F4, Alt+Space).
  if (alt && !wanted) return false;
  focus->HandleMessageTemplate(alt ? kEventSystemKey : kEventKeyDown, key, lparam,
                               static_cast<wchar_t>(key));
  return true;
}

}  // namespace ui
