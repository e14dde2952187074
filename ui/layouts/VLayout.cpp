// Vertical flow: fixed heights first, then the rest split among stretch children.
#include "ui/layouts/VLayout.h"

#include "ui/core/Control.h"

namespace ui {

SIZE VLayout::ArrangeChildren(const std::vector<Control*>& items, RECT rect) {
  const SIZE available = {rect.right - rect.left, rect.bottom - rect.top};
  int stretch_count = 0;
  int flowed_count = 0;
  int fixed_total = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    const SIZE size = child->EstimateSize(available);
    const RECT& margin = child->GetMargin();
    if (size.cy == kDefaultStretch) {
      ++stretch_count;
      fixed_total += margin.top + margin.bottom;
    } else {
      fixed_total += ClampHeight(child, size.cy) + margin.top + margin.bottom;
    }
    ++flowed_count;
  }
  if (flowed_count > 0) fixed_total += child_margin_ * (flowed_count - 1);

  int share = 0;
  if (stretch_count > 0) {
    share = (available.cy - fixed_total) / stretch_count;
    if (share < 0) share = 0;
  }
  // The pixels the division leaves over go one each to the first stretch children.
  int remainder = available.cy - share * stretch_count - fixed_total;

  LONG y = rect.top;
  LONG remaining = available.cy;
  SIZE result = {};
  for (Control* child : items) {
    if (!child->IsVisible()) continue;
    if (child->IsFloat()) {
      PlaceChild(child, rect);
      continue;
    }
    const RECT& margin = child->GetMargin();
    remaining -= margin.top;
    SIZE size = child->EstimateSize({available.cx, remaining});
    if (size.cy == kDefaultStretch) {
      size.cy = share;
      if (remainder > 0) {
        ++size.cy;
        --remainder;
      }
    }
    size.cy = ClampHeight(child, size.cy);
    if (size.cx == kDefaultStretch) size.cx = available.cx - margin.left - margin.right;
    if (size.cx < 0) size.cx = 0;
    size.cx = ClampWidth(child, size.cx);

    LONG x = rect.left;
    switch (child->GetHorAlignType()) {
      case kHorAlignLeft:
        x = rect.left + margin.left;
        break;
      case kHorAlignRight:
        x = rect.right - margin.right - size.cx;
        break;
      case kHorAlignCenter:
        x = rect.left + (margin.left - margin.right - size.cx - rect.left + rect.right) / 2;
        break;
      default:
        x = 0;
        size.cx = 0;
        break;
    }
    child->SetPos({x, y + margin.top, x + size.cx, y + margin.top + size.cy});
    y += margin.top + size.cy + margin.bottom + child_margin_;
    remaining -= size.cy + margin.bottom + child_margin_;
    if (size.cx > result.cx) result.cx = size.cx;
    result.cy += margin.top + size.cy + margin.bottom;
  }
  if (flowed_count > 0) result.cy += child_margin_ * (flowed_count - 1);
  return result;
}

SIZE VLayout::EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) {
  SIZE result = {};
  int count = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    SIZE size = child->EstimateSize(available);
    size.cx = ClampWidth(child, size.cx);
    size.cy = ClampHeight(child, size.cy);
    const RECT& margin = child->GetMargin();
    if (size.cx + margin.left + margin.right > result.cx) {
      result.cx = size.cx + margin.left + margin.right;
    }
    result.cy += size.cy + margin.top + margin.bottom;
    ++count;
  }
  if (count >= 2) result.cy += child_margin_ * (count - 1);
  result.cx += padding_.left + padding_.right;
  result.cy += padding_.top + padding_.bottom;
  return result;
}

}  // namespace ui
