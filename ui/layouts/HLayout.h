// ui::HLayout: children side by side, left to right, stretch children sharing the free width.
#pragma once

#include "ui/layouts/Layout.h"

namespace ui {

// UI thread only.
class HLayout : public Layout {
 public:
  SIZE ArrangeChildren(const std::vector<Control*>& items, RECT rect) override;
  SIZE EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) override;
};

}  // namespace ui
