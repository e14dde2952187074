// Child ownership, layout delegation, hit testing and painting of boxes.
#include "ui/core/Box.h"

#include <algorithm>
#include <cwchar>

#include "ui/core/AttributeTable.h"
#include "ui/core/Window.h"

namespace ui {

Box::Box(Layout* layout) : layout_(layout ? layout : new Layout()) {
  layout_->SetOwner(this);
}

Box::~Box() {
  for (Control* child : children_) delete child;
}

void Box::SetWindow(Window* window, Box* parent, bool init) {
  Control::SetWindow(window, parent, init);
  for (Control* child : children_) child->SetWindow(window, this, init);
}

void Box::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (layout_->SetAttribute(name, value)) return;
  static const AttributeTable<Box> kTable = {
      {L"mousechild",
       [](Box& self, const std::wstring& enabled) {
         self.SetMouseChildEnabled(enabled == L"true");
       }},
  };
  if (!kTable.Apply(*this, name, value)) Control::SetAttribute(name, value);
}

Control* Box::GetItemAt(size_t index) const {
  return index < children_.size() ? children_[index] : nullptr;
}

int Box::GetItemIndex(const Control* child) const {
  const auto found = std::find(children_.begin(), children_.end(), child);
  return found == children_.end() ? -1 : static_cast<int>(found - children_.begin());
}

bool Box::SetItemIndex(Control* child, size_t index) {
  const int current = GetItemIndex(child);
  if (current < 0 || index >= children_.size()) return false;
  Arrange();
  children_.erase(children_.begin() + current);
  children_.insert(children_.begin() + static_cast<ptrdiff_t>(index), child);
  return true;
}

bool Box::Add(Control* child) {
  return Box::AddAt(child, children_.size());
}

bool Box::AddAt(Control* child, size_t index) {
  if (!child || index > children_.size()) return false;
  child->SetWindow(GetWindow(), this, true);
  if (IsVisible()) {
    Arrange();
  } else {
    child->SetInternVisible(false);
  }
  children_.insert(children_.begin() + static_cast<ptrdiff_t>(index), child);
  return true;
}

bool Box::Remove(Control* child) {
  const auto found = std::find(children_.begin(), children_.end(), child);
  if (found == children_.end()) return false;
  Arrange();
  children_.erase(found);
  if (auto_destroy_) DestroyChild(child);
  return true;
}

bool Box::RemoveAt(size_t index) {
  return Remove(GetItemAt(index));
}

void Box::RemoveAll() {
  std::vector<Control*> children;
  children.swap(children_);
  if (auto_destroy_) {
    for (Control* child : children) DestroyChild(child);
  }
  Arrange();
}

void Box::DestroyChild(Control* child) {
  // A child may be removed from inside its own event handler: a window defers the delete to a
  // later message so the handler's caller never touches freed memory.
  if (delayed_destroy_ && GetWindow()) {
    GetWindow()->AddDelayedCleanup(child);
  } else {
    delete child;
  }
}

void Box::ReSetLayout(Layout* layout) {
  if (!layout) return;
  layout_.reset(layout);
  layout_->SetOwner(this);
  Arrange();
}

RECT Box::GetPaddingPos() const {
  const RECT& padding = layout_->GetPadding();
  RECT rect = GetPos();
  rect.left += padding.left;
  rect.top += padding.top;
  rect.right -= padding.right;
  rect.bottom -= padding.bottom;
  return rect;
}

SIZE Box::EstimateSize(SIZE available) {
  SIZE size = {GetFixedWidth(), GetFixedHeight()};
  if (size.cx != kDefaultAuto && size.cy != kDefaultAuto) return size;
  if (!IsReEstimateSize()) return GetEstimateCache();
  const RECT& padding = layout_->GetPadding();
  const SIZE inner = {available.cx - padding.left - padding.right,
                      available.cy - padding.top - padding.bottom};
  const SIZE by_children = layout_->EstimateSizeByChildren(children_, inner);
  if (size.cx == kDefaultAuto) size.cx = by_children.cx;
  if (size.cy == kDefaultAuto) size.cy = by_children.cy;
  // Stay stale while an auto-sized child is stale, so the next pass measures again.
  SetReEstimateSize(false);
  for (Control* child : children_) {
    if (!child->IsVisible()) continue;
    if ((child->GetFixedWidth() == kDefaultAuto || child->GetFixedHeight() == kDefaultAuto) &&
        child->IsReEstimateSize()) {
      SetReEstimateSize(true);
      break;
    }
  }
  SetEstimateCache(size);
  return size;
}

void Box::SetPos(const RECT& rect) {
  Control::SetPos(rect);
  if (!children_.empty()) layout_->ArrangeChildren(children_, GetPaddingPos());
}

Control* Box::FindControl(const FindFilter& filter, POINT point, UINT flags) {
  if ((flags & kFindVisible) && !IsVisible()) return nullptr;
  if ((flags & kFindEnabled) && !IsEnabled()) return nullptr;
  const bool hit_test = (flags & kFindHitTest) != 0;
  if (hit_test && !::PtInRect(&GetPos(), point)) return nullptr;
  if (hit_test && !mouse_child_enabled_) return Control::FindControl(filter, point, flags);
  if (flags & kFindMeFirst) {
    if (Control* me = Control::FindControl(filter, point, flags)) return me;
  }
  const RECT inner = GetPaddingPos();
  auto try_child = [&](Control* child) -> Control* {
    Control* found = child->FindControl(filter, point, flags);
    if (!found) return nullptr;
    if (hit_test && !child->IsFloat() && !::PtInRect(&inner, point)) return nullptr;
    return found;
  };
  if (flags & kFindTopFirst) {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
      if (Control* found = try_child(*it)) return found;
    }
  } else {
    for (Control* child : children_) {
      if (Control* found = try_child(child)) return found;
    }
  }
  if (!(flags & kFindMeFirst)) return Control::FindControl(filter, point, flags);
  return nullptr;
}

Control* Box::FindControlAt(POINT point) {
  return FindControl(nullptr, point, kFindVisible | kFindHitTest | kFindTopFirst);
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

void Box::ForEachControl(const std::function<void(Control*)>& visit) {
  visit(this);
  for (Control* child : children_) {
    if (child->IsBox()) {
      static_cast<Box*>(child)->ForEachControl(visit);
    } else {
      visit(child);
    }
  }
}

void Box::SetVisible(bool visible) {
  Control::SetVisible(visible);
  for (Control* child : children_) child->SetInternVisible(IsVisible());
}

void Box::SetInternVisible(bool visible) {
  Control::SetInternVisible(visible);
  for (Control* child : children_) child->SetInternVisible(IsVisible());
}

void Box::SetEnabled(bool enabled) {
  if (IsEnabled() == enabled) return;
  Control::SetEnabled(enabled);
  for (Control* child : children_) child->SetEnabled(enabled);
  Invalidate();
}

void Box::Paint(IRenderContext* context, const RECT& paint_rect) {
  RECT visible = {};
  if (!IsVisible() || !::IntersectRect(&visible, &paint_rect, &GetPos())) return;
  Control::Paint(context, paint_rect);
  for (Control* child : children_) {
    if (child->IsVisible()) child->AlphaPaint(context, visible);
  }
}

void Box::RescaleDpi(int from_scale, int to_scale) {
  Control::RescaleDpi(from_scale, to_scale);
  if (from_scale <= 0 || to_scale <= 0 || from_scale == to_scale) return;
  if (layout_) {
    const RECT p = layout_->GetPadding();
    layout_->SetPadding(
        {::MulDiv(p.left, to_scale, from_scale), ::MulDiv(p.top, to_scale, from_scale),
         ::MulDiv(p.right, to_scale, from_scale), ::MulDiv(p.bottom, to_scale, from_scale)},
        false);
    layout_->SetChildMargin(::MulDiv(layout_->GetChildMargin(), to_scale, from_scale));
  }
  for (Control* child : children_) child->RescaleDpi(from_scale, to_scale);
}

}  // namespace ui
