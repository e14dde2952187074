// Flow along one axis: fixed lengths first, then the rest split among stretch children.
#include "ui/layouts/BoxLayout.h"

#include "ui/core/Control.h"

namespace ui {
namespace {

// Both alignment kinds count start, centre and end alike, so one switch serves either axis.
static_assert(int{kHorAlignLeft} == int{kVerAlignTop} &&
                  int{kHorAlignCenter} == int{kVerAlignCenter} &&
                  int{kHorAlignRight} == int{kVerAlignBottom},
              "alignments across a row and a column must share their values");

// Sizes and rectangles seen along the flow ("main") and across it ("cross").
class Flow {
 public:
  explicit Flow(FlowAxis axis) : horizontal_(axis == FlowAxis::kHorizontal) {}

  LONG Main(const SIZE& size) const { return horizontal_ ? size.cx : size.cy; }
  LONG Cross(const SIZE& size) const { return horizontal_ ? size.cy : size.cx; }
  SIZE MakeSize(LONG main, LONG cross) const {
    return horizontal_ ? SIZE{main, cross} : SIZE{cross, main};
  }

  LONG MainStart(const RECT& rect) const { return horizontal_ ? rect.left : rect.top; }
  LONG MainEnd(const RECT& rect) const { return horizontal_ ? rect.right : rect.bottom; }
  LONG CrossStart(const RECT& rect) const { return horizontal_ ? rect.top : rect.left; }
  LONG CrossEnd(const RECT& rect) const { return horizontal_ ? rect.bottom : rect.right; }
  RECT MakeRect(LONG main_start, LONG cross_start, LONG main_end, LONG cross_end) const {
    return horizontal_ ? RECT{main_start, cross_start, main_end, cross_end}
                       : RECT{cross_start, main_start, cross_end, main_end};
  }

  int ClampMain(const Control* child, int length) const {
    return horizontal_ ? ClampWidth(child, length) : ClampHeight(child, length);
  }
  int ClampCross(const Control* child, int length) const {
    return horizontal_ ? ClampHeight(child, length) : ClampWidth(child, length);
  }
  int CrossAlign(const Control* child) const {
    return horizontal_ ? child->GetVerAlignType() : child->GetHorAlignType();
  }

 private:
  bool horizontal_;
};

}  // namespace

SIZE BoxLayout::ArrangeChildren(const std::vector<Control*>& items, RECT rect) {
  const Flow flow(axis_);
  const SIZE available = {rect.right - rect.left, rect.bottom - rect.top};
  const LONG length = flow.Main(available);
  const LONG breadth = flow.Cross(available);
  int stretch_count = 0;
  int flowed_count = 0;
  int fixed_total = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    const SIZE size = child->EstimateSize(available);
    const RECT& margin = child->GetMargin();
    const int margins = flow.MainStart(margin) + flow.MainEnd(margin);
    if (flow.Main(size) == kDefaultStretch) {
      ++stretch_count;
      fixed_total += margins;
    } else {
      fixed_total += flow.ClampMain(child, flow.Main(size)) + margins;
    }
    ++flowed_count;
  }
  if (flowed_count > 0) fixed_total += child_margin_ * (flowed_count - 1);

  int share = 0;
  if (stretch_count > 0) {
    share = (length - fixed_total) / stretch_count;
    if (share < 0) share = 0;
  }
  // The pixels the division leaves over go one each to the first stretch children.
  int remainder = length - share * stretch_count - fixed_total;

  const LONG cross_low = flow.CrossStart(rect);
  const LONG cross_high = flow.CrossEnd(rect);
  LONG at = flow.MainStart(rect);
  LONG remaining = length;
  LONG used = 0;
  LONG widest = 0;
  for (Control* child : items) {
    if (!child->IsVisible()) continue;
    if (child->IsFloat()) {
      PlaceChild(child, rect);
      continue;
    }
    const RECT& margin = child->GetMargin();
    const LONG before = flow.MainStart(margin);
    const LONG after = flow.MainEnd(margin);
    remaining -= before;
    const SIZE estimate = child->EstimateSize(flow.MakeSize(remaining, breadth));
    LONG main = flow.Main(estimate);
    LONG cross = flow.Cross(estimate);
    if (main == kDefaultStretch) {
      main = share;
      if (remainder > 0) {
        ++main;
        --remainder;
      }
    }
    main = flow.ClampMain(child, main);
    if (cross == kDefaultStretch) cross = breadth - flow.CrossStart(margin) - flow.CrossEnd(margin);
    if (cross < 0) cross = 0;
    cross = flow.ClampCross(child, cross);

    LONG offset = cross_low;
    switch (flow.CrossAlign(child)) {
      case kHorAlignLeft:
        offset = cross_low + flow.CrossStart(margin);
        break;
      case kHorAlignRight:
        offset = cross_high - flow.CrossEnd(margin) - cross;
        break;
      case kHorAlignCenter:
        offset =
            cross_low +
            (flow.CrossStart(margin) - flow.CrossEnd(margin) - cross - cross_low + cross_high) / 2;
        break;
      default:
        offset = 0;
        cross = 0;
        break;
    }
    child->SetPos(flow.MakeRect(at + before, offset, at + before + main, offset + cross));
    at += before + main + after + child_margin_;
    remaining -= main + after + child_margin_;
    used += before + main + after;
    if (cross > widest) widest = cross;
  }
  if (flowed_count > 0) used += child_margin_ * (flowed_count - 1);
  return flow.MakeSize(used, widest);
}

SIZE BoxLayout::EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) {
  const Flow flow(axis_);
  LONG used = 0;
  LONG widest = 0;
  int count = 0;
  for (Control* child : items) {
    if (!child->IsVisible() || child->IsFloat()) continue;
    SIZE size = child->EstimateSize(available);
    size.cx = ClampWidth(child, size.cx);
    size.cy = ClampHeight(child, size.cy);
    const RECT& margin = child->GetMargin();
    used += flow.Main(size) + flow.MainStart(margin) + flow.MainEnd(margin);
    const LONG across = flow.Cross(size) + flow.CrossStart(margin) + flow.CrossEnd(margin);
    if (across > widest) widest = across;
    ++count;
  }
  if (count >= 2) used += child_margin_ * (count - 1);
  SIZE result = flow.MakeSize(used, widest);
  result.cx += padding_.left + padding_.right;
  result.cy += padding_.top + padding_.bottom;
  return result;
}

}  // namespace ui
