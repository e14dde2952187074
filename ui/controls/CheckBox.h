// ui::CheckBoxTemplate: a button that toggles a selected flag with its own colors and images.
#pragma once

#include "ui/controls/Button.h"
#include "ui/core/AttributeTable.h"

namespace ui {

// UI thread only.
template <typename InheritType = Control>
class CheckBoxTemplate : public ButtonTemplate<InheritType> {
 public:
  CheckBoxTemplate() = default;

  std::wstring GetType() const override {
    return std::is_base_of<Box, InheritType>::value ? L"CheckBoxBox" : L"CheckBox";
  }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

  bool IsSelected() const { return selected_; }
  bool IsAccessibleChecked() const override { return selected_; }
  virtual void Selected(bool selected, bool trigger_event);

  void Activate() override {
    if (this->IsActivatable()) Selected(!selected_, true);
  }
  bool HasHotState() const override {
    return ButtonTemplate<InheritType>::HasHotState() ||
           !selected_images_[kControlStateHot].IsEmpty() ||
           !selected_colors_[kControlStateHot].empty();
  }

 protected:
  void PaintBkColor(IRenderContext* context) override;
  void PaintStatusImage(IRenderContext* context) override;
  void PaintText(IRenderContext* context) override;
  int GetDefaultAccessibleRole() const override { return kRoleCheckButton; }
  void Notify(int type) {
    if (Window* window = this->GetWindow()) window->SendNotify(this, type);
  }

  bool selected_ = false;
  std::wstring selected_text_color_;
  std::wstring selected_colors_[4];
  Image selected_images_[4];
  Image selected_fore_images_[4];
};

using CheckBox = CheckBoxTemplate<Control>;
using CheckBoxBox = CheckBoxTemplate<Box>;

template <typename InheritType>
void CheckBoxTemplate<InheritType>::SetAttribute(const std::wstring& name,
                                                 const std::wstring& value) {
  using Self = CheckBoxTemplate<InheritType>;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = [] {
    AttributeTable<Self> table = {
        {L"selected", [](Self& self, Value value) { self.Selected(value == L"true", true); }},
        {L"selectedtextcolor",
         [](Self& self, Value value) {
           self.selected_text_color_ = value;
           self.Invalidate();
         }},
    };
    static const wchar_t* const kStates[] = {L"normal", L"hot", L"pushed", L"disabled"};
    for (int state = 0; state < 4; ++state) {
      const std::wstring name = kStates[state];
      table.Add(L"selected" + name + L"image", [state](Self& self, Value value) {
        self.selected_images_[state].SetImageString(value,
                                                    DpiManager::Instance().GetAppliedScale());
        if (state == kControlStateNormal &&
            (self.GetFixedWidth() == kDefaultAuto || self.GetFixedHeight() == kDefaultAuto)) {
          self.Arrange();
        } else {
          self.Invalidate();
        }
      });
      table.Add(L"selected" + name + L"color", [state](Self& self, Value value) {
        self.selected_colors_[state] = value;
        self.Invalidate();
      });
      table.Add(L"selectedfore" + name + L"image", [state](Self& self, Value value) {
        self.selected_fore_images_[state].SetImageString(value,
                                                         DpiManager::Instance().GetAppliedScale());
        self.Invalidate();
      });
    }
    return table;
  }();
  if (!kTable.Apply(*this, name, value)) ButtonTemplate<InheritType>::SetAttribute(name, value);
}

template <typename InheritType>
void CheckBoxTemplate<InheritType>::Selected(bool selected, bool trigger_event) {
  if (selected_ == selected) return;
  selected_ = selected;
  this->NotifyAccessible(EVENT_OBJECT_STATECHANGE);
  if (trigger_event) Notify(selected ? kEventSelect : kEventUnSelect);
  this->Invalidate();
}

template <typename InheritType>
void CheckBoxTemplate<InheritType>::PaintBkColor(IRenderContext* context) {
  if (!selected_) {
    ButtonTemplate<InheritType>::PaintBkColor(context);
    return;
  }
  const std::wstring& name = selected_colors_[this->GetState() & 3];
  if (name.empty()) return;
  const DWORD color = GlobalManager::Instance().GetTextColor(name);
  if (color) context->DrawColor(this->GetPos(), color);
}

template <typename InheritType>
void CheckBoxTemplate<InheritType>::PaintStatusImage(IRenderContext* context) {
  if (!selected_) {
    ButtonTemplate<InheritType>::PaintStatusImage(context);
    return;
  }
  const int state = this->GetState() & 3;
  if (!this->DrawImage(context, selected_images_[state]) && state != kControlStateNormal) {
    this->DrawImage(context, selected_images_[kControlStateNormal]);
  }
  this->DrawImage(context, selected_fore_images_[state]);
}

template <typename InheritType>
void CheckBoxTemplate<InheritType>::PaintText(IRenderContext* context) {
  if (!selected_) {
    ButtonTemplate<InheritType>::PaintText(context);
    return;
  }
  std::wstring color = selected_text_color_.empty() ? this->GetStateTextColor(kControlStateNormal)
                                                    : selected_text_color_;
  if (!this->IsEnabled()) color = this->GetStateTextColor(kControlStateDisabled);
  this->DrawLabelText(context, color, false);
}

}  // namespace ui
