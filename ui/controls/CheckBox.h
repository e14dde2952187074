// ui::CheckBoxTemplate: a button that toggles a selected flag with its own colors and images.
#pragma once

#include "ui/controls/Button.h"

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
  static const wchar_t* const kStates[] = {L"normal", L"hot", L"pushed", L"disabled"};
  if (name == L"selected") {
    Selected(value == L"true", true);
    return;
  }
  if (name == L"selectedtextcolor") {
    selected_text_color_ = value;
    this->Invalidate();
    return;
  }
  for (int i = 0; i < 4; ++i) {
    const std::wstring state = kStates[i];
    if (name == L"selected" + state + L"image") {
      selected_images_[i].SetImageString(value, DpiManager::Instance().GetAppliedScale());
      if (i == kControlStateNormal &&
          (this->GetFixedWidth() == kDefaultAuto || this->GetFixedHeight() == kDefaultAuto)) {
        this->Arrange();
      } else {
        this->Invalidate();
      }
      return;
    }
    if (name == L"selected" + state + L"color") {
      selected_colors_[i] = value;
      this->Invalidate();
      return;
    }
    if (name == L"selectedfore" + state + L"image") {
      selected_fore_images_[i].SetImageString(value, DpiManager::Instance().GetAppliedScale());
      this->Invalidate();
      return;
    }
  }
  ButtonTemplate<InheritType>::SetAttribute(name, value);
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
