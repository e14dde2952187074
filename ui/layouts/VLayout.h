// ui::VLayout: children stacked top to bottom, stretch children sharing the free height.
#pragma once

#include "ui/layouts/Layout.h"

namespace ui {

// UI thread only.
class VLayout : public Layout {
 public:
  SIZE ArrangeChildren(const std::vector<Control*>& items, RECT rect) override;
  SIZE EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available) override;
};

}  // namespace ui
