// ui::BoxLayout: children in a row or a column, stretch children sharing the free length.
#pragma once

#include "ui/layouts/Layout.h"

namespace ui {

enum class FlowAxis { kHorizontal, kVertical };

// UI thread only. Children flow along the axis one after another; across it, each child is
// placed by its own alignment (vertical for a row, horizontal for a column).
class BoxLayout : public Layout {
 public:
  explicit BoxLayout(FlowAxis axis) : axis_(axis) {}

  FlowAxis GetAxis() const { return axis_; }

  SIZE ArrangeChildren(const std::vector<Control*>& items, RECT rect) override;
  SIZE EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) override;

 private:
  FlowAxis axis_;
};

// UI thread only. Left to right.
class HLayout : public BoxLayout {
 public:
  HLayout() : BoxLayout(FlowAxis::kHorizontal) {}
};

// UI thread only. Top to bottom.
class VLayout : public BoxLayout {
 public:
  VLayout() : BoxLayout(FlowAxis::kVertical) {}
};

}  // namespace ui
