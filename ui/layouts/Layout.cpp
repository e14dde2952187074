// Placement of overlapping children and the shared single-child placement.
#include "ui/layouts/Layout.h"

#include "base/NumberList.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"

namespace ui {

int ClampWidth(const Control* child, int width) {
  if (width < child->GetMinWidth()) width = child->GetMinWidth();
  if (child->GetMaxWidth() >= 0 && width > child->GetMaxWidth()) width = child->GetMaxWidth();
  return width;
}

int ClampHeight(const Control* child, int height) {
  if (height < child->GetMinHeight()) height = child->GetMinHeight();
  if (height > child->GetMaxHeight()) height = child->GetMaxHeight();
  return height;
}

bool Layout::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Value = const std::wstring&;
  static const AttributeTable<Layout> kTable = {
      {L"padding",
       [](Layout& self, Value value) {
         RECT padding = {};
         if (nbase::ParseRectList(value, &padding)) self.SetPadding(padding, true);
       }},
      {L"childmargin",
       [](Layout& self, Value value) {
         int margin = 0;
         if (nbase::ParseSingleInt(value, &margin)) {
           self.SetChildMargin(DpiManager::Instance().ScaleInt(margin));
         }
       }},
  };
  return kTable.Apply(*this, name, value);
}

void Layout::SetPadding(const RECT& padding, bool need_scale) {
  padding_ = padding;
  if (need_scale) DpiManager::Instance().ScaleRect(padding_);
  ArrangeOwner();
}

void Layout::SetChildMargin(int margin) {
  child_margin_ = margin;
  ArrangeOwner();
}

void Layout::ArrangeOwner() {
  if (owner_) owner_->Arrange();
}

SIZE Layout::PlaceChild(Control* child, RECT rect) {
  if (!child->IsVisible()) return SIZE();
  const RECT& margin = child->GetMargin();
  const RECT inner = {rect.left + margin.left, rect.top + margin.top, rect.right - margin.right,
                      rect.bottom - margin.bottom};
  const SIZE available = {inner.right - inner.left, inner.bottom - inner.top};
  SIZE size = child->EstimateSize(available);
  const LONG available_cx = available.cx < 0 ? 0 : available.cx;
  if (child->GetFixedWidth() == kDefaultAuto && child->GetFixedHeight() == kDefaultAuto &&
      child->GetMaxWidth() == kDefaultStretch && size.cx > available_cx) {
    // Too wide to fit: measure again at the width there is, so text can wrap.
    child->SetFixedWidth(available_cx, false, false);
    size = child->EstimateSize(available);
    child->SetFixedWidth(kDefaultAuto, false, false);
  }
  if (size.cx == kDefaultStretch) size.cx = available_cx;
  size.cx = ClampWidth(child, size.cx);
  if (size.cy == kDefaultStretch) size.cy = available.cy < 0 ? 0 : available.cy;
  size.cy = ClampHeight(child, size.cy);

  LONG left = 0;
  switch (child->GetHorAlignType()) {
    case kHorAlignLeft:
      left = inner.left;
      break;
    case kHorAlignRight:
      left = inner.right - size.cx;
      break;
    case kHorAlignCenter:
      left = inner.left + (inner.right - size.cx - inner.left) / 2;
      break;
    default:
      size.cx = 0;
      break;
  }
  LONG top = 0;
  switch (child->GetVerAlignType()) {
    case kVerAlignTop:
      top = inner.top;
      break;
    case kVerAlignBottom:
      top = inner.bottom - size.cy;
      break;
    case kVerAlignCenter:
      top = inner.top + (inner.bottom - size.cy - inner.top) / 2;
      break;
    default:
      size.cy = 0;
      break;
  }
  child->SetPos({left, top, left + size.cx, top + size.cy});
  return size;
}

SIZE Layout::ArrangeChildren(const std::vector<Control*>& items, RECT rect) {
  SIZE result = {};
  for (Control* child : items) {
    if (!child->IsVisible()) continue;
    const SIZE size = PlaceChild(child, rect);
    if (size.cx > result.cx) result.cx = size.cx;
    if (size.cy > result.cy) result.cy = size.cy;
  }
  return result;
}

SIZE Layout::EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) {
  SIZE result = {-9999, -9999};
  for (Control* child : items) {
    if (!child->IsVisible()) continue;
    SIZE size = child->EstimateSize(available);
    size.cx = ClampWidth(child, size.cx);
    size.cy = ClampHeight(child, size.cy);
    const RECT& margin = child->GetMargin();
    const LONG cx = size.cx + margin.left + margin.right;
    const LONG cy = size.cy + margin.top + margin.bottom;
    if (cx > result.cx) result.cx = cx;
    if (cy > result.cy) result.cy = cy;
  }
  result.cx += padding_.left + padding_.right;
  result.cy += padding_.top + padding_.bottom;
  return result;
}

}  // namespace ui
