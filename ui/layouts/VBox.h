// ui::VBox and ui::HBox: boxes whose children flow vertically or horizontally.
#pragma once

#include "ui/core/Box.h"
#include "ui/layouts/BoxLayout.h"

namespace ui {

// UI thread only.
class VBox : public Box {
 public:
  VBox() : Box(new VLayout()) {}
  std::wstring GetType() const override { return L"VBox"; }
};

// UI thread only.
class HBox : public Box {
 public:
  HBox() : Box(new HLayout()) {}
  std::wstring GetType() const override { return L"HBox"; }
};

}  // namespace ui
