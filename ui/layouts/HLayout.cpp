// Horizontal flow: fixed widths first, then the rest split among stretch children.
#include "ui/layouts/HLayout.h"

#include "ui/core/Control.h"

namespace ui {

SIZE HLayout::ArrangeChildren(const std::vector<Control*>& items, RECT rect) {
  const SIZE available = {rect.right - rect.left, rect.bottom - rect.top};
  int stretch_count = 0;
  int flowed_count = 0;
  int fixed_total = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    const SIZE size = child->EstimateSize(available);
    const RECT& margin = child->GetMargin();
    if (size.cx == kDefaultStretch) {
      ++stretch_count;
      fixed_total += margin.left + margin.right;
    } else {
      fixed_total += ClampWidth(child, size.cx) + margin.left + margin.right;
    }
    ++flowed_count;
  }
  if (flowed_count > 0) fixed_total += child_margin_ * (flowed_count - 1);

  int share = 0;
  if (stretch_count > 0) {
    share = (available.cx - fixed_total) / stretch_count;
    if (share < 0) share = 0;
  }
  int remainder = available.cx - share * stretch_count - fixed_total;

  LONG x = rect.left;
  LONG remaining = available.cx;
  SIZE result = {};
  for (Control* child : items) {
    if (!child->IsVisible()) continue;
    if (child->IsFloat()) {
      PlaceChild(child, rect);
      continue;
    }
    const RECT& margin = child->GetMargin();
    remaining -= margin.left;
    SIZE size = child->EstimateSize({remaining, available.cy});
    if (size.cx == kDefaultStretch) {
      size.cx = share;
      if (remainder > 0) {
        ++size.cx;
        --remainder;
      }
    }
    size.cx = ClampWidth(child, size.cx);
    if (size.cy == kDefaultStretch) size.cy = available.cy - margin.top - margin.bottom;
    if (size.cy < 0) size.cy = 0;
    size.cy = ClampHeight(child, size.cy);

    LONG y = rect.top;
    switch (child->GetVerAlignType()) {
      case kVerAlignTop:
        y = rect.top + margin.top;
        break;
      case kVerAlignBottom:
        y = rect.bottom - margin.bottom - size.cy;
        break;
      case kVerAlignCenter:
        y = rect.top + (margin.top - margin.bottom - size.cy - rect.top + rect.bottom) / 2;
        break;
      default:
        y = 0;
        size.cy = 0;
        break;
    }
    child->SetPos({x + margin.left, y, x + margin.left + size.cx, y + size.cy});
    x += margin.left + size.cx + margin.right + child_margin_;
    remaining -= size.cx + margin.right + child_margin_;
    result.cx += margin.left + size.cx + margin.right;
    if (size.cy > result.cy) result.cy = size.cy;
  }
  if (flowed_count > 0) result.cx += child_margin_ * (flowed_count - 1);
  return result;
}

SIZE HLayout::EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) {
  SIZE result = {};
  int count = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    SIZE size = child->EstimateSize(available);
    size.cx = ClampWidth(child, size.cx);
    size.cy = ClampHeight(child, size.cy);
    const RECT& margin = child->GetMargin();
    result.cx += size.cx + margin.left + margin.right;
    if (size.cy + margin.top + margin.bottom > result.cy) {
      result.cy = size.cy + margin.top + margin.bottom;
    }
    ++count;
  }
  if (count >= 2) result.cx += child_margin_ * (count - 1);
  result.cx += padding_.left + padding_.right;
  result.cy += padding_.top + padding_.bottom;
  return result;
}

}  // namespace ui
