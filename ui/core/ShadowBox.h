// ui::ShadowBox: the box a window wraps its root in to draw a soft shadow in the margin around it.
#pragma once

#include "ui/core/Box.h"

namespace ui {

// UI thread only.
class ShadowBox : public Box {
 public:
  ShadowBox() = default;
  std::wstring GetType() const override { return L"ShadowBox"; }

 protected:
  void PaintBkImage(IRenderContext* context) override;

 private:
  // The part of the content its own opaque background covers whole, if it has one.
  bool OpaqueCore(RECT& core) const;
};

}  // namespace ui
