// Child ownership, lookup and painting of boxes.
#include "ui/core/Box.h"

#include <algorithm>
#include <cwchar>

namespace ui {

Box::~Box() {
  for (Control* child : children_) delete child;
}

void Box::SetWindow(Window* window, Box* parent, bool init) {
  Control::SetWindow(window, parent, init);
  for (Control* child : children_) child->SetWindow(window, this, init);
}

void Box::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"mousechild") {
    mouse_child_enabled_ = value == L"true";
  } else {
    Control::SetAttribute(name, value);
  }
}

bool Box::Add(Control* child) {
  return AddAt(child, children_.size());
}

bool Box::AddAt(Control* child, size_t index) {
  if (!child || index > children_.size()) return false;
  child->SetWindow(GetWindow(), this);
  children_.insert(children_.begin() + static_cast<ptrdiff_t>(index), child);
  Arrange();
  return true;
}

bool Box::Remove(Control* child) {
  const auto found = std::find(children_.begin(), children_.end(), child);
  if (found == children_.end()) return false;
  children_.erase(found);
  Arrange();
  if (auto_destroy_) delete child;
  return true;
}

void Box::RemoveAll() {
  std::vector<Control*> children;
  children.swap(children_);
  if (auto_destroy_) {
    for (Control* child : children) delete child;
  }
  Arrange();
}

Control* Box::GetItemAt(size_t index) const {
  return index < children_.size() ? children_[index] : nullptr;
}

int Box::GetItemIndex(const Control* child) const {
  const auto found = std::find(children_.begin(), children_.end(), child);
  return found == children_.end() ? -1 : static_cast<int>(found - children_.begin());
}

Control* Box::FindControlAt(POINT point) {
  if (!IsVisible() || !::PtInRect(&GetPos(), point)) return nullptr;
  if (mouse_child_enabled_) {
    // Later children paint on top, so they are hit first.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
      Control* child = *it;
      if (child->IsBox()) {
        if (Control* hit = static_cast<Box*>(child)->FindControlAt(point)) return hit;
      } else if (child->IsVisible() && child->IsMouseEnabled() &&
                 ::PtInRect(&child->GetPos(), point)) {
        return child;
      }
    }
  }
  return IsMouseEnabled() ? this : nullptr;
}

Control* Box::FindControlByName(const std::wstring& name) {
  if (_wcsicmp(GetName().c_str(), name.c_str()) == 0) return this;
  for (Control* child : children_) {
    if (child->IsBox()) {
      if (Control* found = static_cast<Box*>(child)->FindControlByName(name)) return found;
    } else if (_wcsicmp(child->GetName().c_str(), name.c_str()) == 0) {
      return child;
    }
  }
  return nullptr;
}

void Box::Paint(IRenderContext* context, const RECT& paint_rect) {
  RECT visible = {};
  if (!IsVisible() || !::IntersectRect(&visible, &paint_rect, &GetPos())) return;
  Control::Paint(context, paint_rect);
  for (Control* child : children_) child->Paint(context, visible);
}

}  // namespace ui
