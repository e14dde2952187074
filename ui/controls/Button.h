// ui::ButtonTemplate: a label that reacts to clicks and to space or return with a click event.
#pragma once

#include "ui/controls/Label.h"

namespace ui {

// UI thread only.
template <typename InheritType = Control>
class ButtonTemplate : public LabelTemplate<InheritType> {
 public:
  ButtonTemplate() { this->text_style_ = 0x8125; }

  std::wstring GetType() const override {
    return std::is_base_of<Box, InheritType>::value ? L"ButtonBox" : L"Button";
  }
  bool WantsKey(UINT key) const override { return key == VK_SPACE || key == VK_RETURN; }
  void Activate() override {
    if (!this->IsActivatable()) return;
    if (Window* window = this->GetWindow()) {
      window->SendNotify(this, kEventClick);
    } else {
      this->HandleMessageTemplate(kEventClick);
    }
  }

 protected:
  void HandleMessage(EventArgs& args) override {
    // A disabled button is transparent to the mouse: its parent handles the event instead.
    if (!this->IsEnabled() && args.type >= kEventMouseMove && args.type <= kEventMouseScrollWheel) {
      if (Box* parent = this->GetParent()) parent->HandleMessageTemplate(args);
      return;
    }
    if (args.type == kEventKeyDown && this->IsKeyboardEnabled() &&
        (args.key == VK_SPACE || args.key == VK_RETURN)) {
      // A held key repeats: one press is one click.
      if ((args.lparam & (1 << 30)) == 0) Activate();
      return;
    }
    if (args.type == kEventInternalMenu) {
      if (this->IsContextMenuUsed()) {
        this->HandleMessageTemplate(kEventMouseMenu, args.wparam, args.lparam);
      }
      return;
    }
    LabelTemplate<InheritType>::HandleMessage(args);
  }
  int GetDefaultAccessibleRole() const override { return kRolePushButton; }
};

using Button = ButtonTemplate<Control>;
using ButtonBox = ButtonTemplate<Box>;

}  // namespace ui
