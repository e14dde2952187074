// ui::OptionTemplate: a check box that, within a named group of a window, excludes the others.
#pragma once

#include "ui/controls/CheckBox.h"

namespace ui {

// UI thread only.
template <typename InheritType = Control>
class OptionTemplate : public CheckBoxTemplate<InheritType> {
 public:
  OptionTemplate() = default;
  ~OptionTemplate() override {
    if (!group_.empty() && this->GetWindow()) this->GetWindow()->RemoveOptionGroup(group_, this);
  }

  std::wstring GetType() const override {
    return std::is_base_of<Box, InheritType>::value ? L"OptionBox" : L"Option";
  }
  void SetWindow(Window* window, Box* parent, bool init = true) override {
    if (window != this->GetWindow() && !group_.empty() && this->GetWindow()) {
      this->GetWindow()->RemoveOptionGroup(group_, this);
    }
    CheckBoxTemplate<InheritType>::SetWindow(window, parent, init);
    if (!group_.empty() && window) window->AddOptionGroup(group_, this);
  }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override {
    using Self = OptionTemplate<InheritType>;
    static const AttributeTable<Self> kTable = {
        {L"group", [](Self& self, const std::wstring& group) { self.SetGroup(group); }},
    };
    if (!kTable.Apply(*this, name, value)) CheckBoxTemplate<InheritType>::SetAttribute(name, value);
  }

  const std::wstring& GetGroup() const { return group_; }
  void SetGroup(const std::wstring& group) {
    if (group.empty() && group_.empty()) return;
    if (group == group_) return;
    Window* window = this->GetWindow();
    if (!group_.empty() && window) window->RemoveOptionGroup(group_, this);
    group_ = group;
    if (!group_.empty() && window) window->AddOptionGroup(group_, this);
    Selected(this->selected_, true);
  }

  // Unlike a check box, an option re-applies an unchanged value (a click on a selected option
  // selects it again), and clearing always reports "unselect".
  void Selected(bool selected, bool trigger_event) override {
    if (this->selected_ != selected) {
      this->selected_ = selected;
      this->NotifyAccessible(EVENT_OBJECT_STATECHANGE);
    }
    if (Window* window = this->GetWindow()) {
      if (!selected) {
        window->SendNotify(this, kEventUnSelect);
      } else {
        if (!group_.empty()) {
          // A copy: deselecting may make handlers change the group.
          const std::vector<Control*> members = window->GetOptionGroup(group_);
          for (Control* member : members) {
            if (member == this) continue;
            // A group may mix leaf options and option boxes.
            if (auto* leaf = dynamic_cast<OptionTemplate<Control>*>(member)) {
              leaf->Selected(false, trigger_event);
            } else if (auto* box = dynamic_cast<OptionTemplate<Box>*>(member)) {
              box->Selected(false, trigger_event);
            }
          }
        }
        if (trigger_event) window->SendNotify(this, kEventSelect);
      }
    }
    this->Invalidate();
  }

  void Activate() override {
    if (!this->IsActivatable()) return;
    if (Window* window = this->GetWindow()) window->SendNotify(this, kEventClick);
    Selected(true, true);
  }

 protected:
  int GetDefaultAccessibleRole() const override { return kRoleRadioButton; }

 private:
  std::wstring group_;
};

using Option = OptionTemplate<Control>;
using OptionBox = OptionTemplate<Box>;

}  // namespace ui
