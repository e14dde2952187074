// ui::LabelTemplate: text on a control or a box, with per-state text colors and alignment words.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "base/NumberList.h"
#include "base/StringUtil.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/render/RenderContext.h"
#include "ui/render/RenderFactory.h"

namespace ui {

// Text style bits, the system's DrawText values.
constexpr UINT kTextCenter = DT_CENTER;             // 0x1
constexpr UINT kTextRight = DT_RIGHT;               // 0x2
constexpr UINT kTextVCenter = DT_VCENTER;           // 0x4
constexpr UINT kTextBottom = DT_BOTTOM;             // 0x8
constexpr UINT kTextSingleLine = DT_SINGLELINE;     // 0x20
constexpr UINT kTextNoClip = DT_NOCLIP;             // 0x100
constexpr UINT kTextEndEllipsis = DT_END_ELLIPSIS;  // 0x8000

// UI thread only.
template <typename InheritType = Control>
class LabelTemplate : public InheritType {
 public:
  LabelTemplate();

  std::wstring GetType() const override {
    return std::is_base_of<Box, InheritType>::value ? L"LabelBox" : L"Label";
  }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void RescaleDpi(int from_scale, int to_scale) override {
    InheritType::RescaleDpi(from_scale, to_scale);
    if (from_scale <= 0 || to_scale <= 0 || from_scale == to_scale) return;
    const RECT& p = text_padding_;
    text_padding_ = {::MulDiv(p.left, to_scale, from_scale), ::MulDiv(p.top, to_scale, from_scale),
                     ::MulDiv(p.right, to_scale, from_scale),
                     ::MulDiv(p.bottom, to_scale, from_scale)};
  }

  // The literal text, or when there is none the language string of the text id.
  virtual std::wstring GetText() const;
  virtual std::string GetUTF8Text() const { return nbase::UTF16ToUTF8(GetText()); }
  virtual void SetText(const std::wstring& text);
  virtual void SetUTF8Text(const std::string& text) { SetText(nbase::UTF8ToUTF16(text)); }
  virtual void SetTextId(const std::wstring& id);
  virtual void SetUTF8TextId(const std::string& id) { SetTextId(nbase::UTF8ToUTF16(id)); }

  UINT GetTextStyle() const { return text_style_; }
  void SetTextStyle(UINT style) {
    text_style_ = style;
    this->Invalidate();
  }
  const RECT& GetTextPadding() const { return text_padding_; }
  void SetTextPadding(const RECT& padding);
  const std::wstring& GetFont() const { return font_id_; }
  bool IsSingleLine() const { return single_line_; }
  std::wstring GetStateTextColor(int state) const;
  void SetStateTextColor(int state, const std::wstring& color);

  SIZE EstimateText(SIZE available) override;
  bool HasHotState() const override;
  std::wstring GetAccessibleName() const override {
    const std::wstring text = GetText();
    return text.empty() ? InheritType::GetAccessibleName() : text;
  }

 protected:
  void PaintText(IRenderContext* context) override;
  // A leaf label is text to a screen reader; a label box is only a container.
  int GetDefaultAccessibleRole() const override {
    return std::is_base_of<Box, InheritType>::value ? kRoleNone : kRoleStaticText;
  }
  // The color name for the current state after the fallbacks of missing colors.
  std::wstring GetPaintStateTextColor() const;
  void ForceSingleLineBit();
  void ChangeSizeOrInvalidate();
  void DrawLabelText(IRenderContext* context, const std::wstring& color, bool line_limit,
                     BYTE alpha = 255);

  std::wstring text_;
  UINT text_style_ = kTextEndEllipsis | kTextNoClip | kTextSingleLine;
  bool single_line_ = true;
  bool line_limit_ = false;
  RECT text_padding_ = {};
  std::wstring font_id_;
  std::wstring text_id_;
  std::map<int, std::wstring> text_colors_;
};

using Label = LabelTemplate<Control>;
using LabelBox = LabelTemplate<Box>;

template <typename InheritType>
LabelTemplate<InheritType>::LabelTemplate() {
  const GlobalManager& global = GlobalManager::Instance();
  text_colors_[kControlStateNormal] = global.GetDefaultFontColor();
  text_colors_[kControlStateDisabled] = global.GetDefaultDisabledFontColor();
  // A leaf label sizes to its text; a label box fills its place like any box.
  const int length = std::is_base_of<Box, InheritType>::value ? kDefaultStretch : kDefaultAuto;
  this->SetFixedWidth(length, false, false);
  this->SetFixedHeight(length, false);
}

template <typename InheritType>
void LabelTemplate<InheritType>::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = LabelTemplate<InheritType>;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = {
      {L"align",
       [](Self& self, Value value) {
         // Words are found as substrings, so "vcenter" also counts as "center".
         if (value.find(L"left") != std::wstring::npos) self.text_style_ &= ~0x27u;
         if (value.find(L"center") != std::wstring::npos) {
           self.text_style_ &= ~0x2u;
           self.text_style_ |= 0x1u;
         }
         if (value.find(L"right") != std::wstring::npos) {
           self.text_style_ &= ~0x25u;
           self.text_style_ |= 0x2u;
         }
         if (value.find(L"top") != std::wstring::npos) {
           self.text_style_ &= ~0xCu;
           self.text_style_ |= 0x20u;
         }
         if (value.find(L"vcenter") != std::wstring::npos) {
           self.text_style_ &= ~0x8u;
           self.text_style_ |= 0x25u;
         }
         if (value.find(L"bottom") != std::wstring::npos) {
           self.text_style_ &= ~0x4u;
           self.text_style_ |= 0x28u;
         }
         self.Invalidate();
       }},
      {L"endellipsis",
       [](Self& self, Value value) {
         if (value == L"true")
           self.text_style_ |= kTextEndEllipsis;
         else
           self.text_style_ &= ~kTextEndEllipsis;
       }},
      {L"linelimit",
       [](Self& self, Value value) {
         const bool limit = value == L"true";
         if (limit != self.line_limit_) {
           self.line_limit_ = limit;
           self.Invalidate();
         }
       }},
      {L"singleline",
       [](Self& self, Value value) {
         const bool single = value == L"true";
         if (single != self.single_line_) {
           self.single_line_ = single;
           self.Invalidate();
         }
       }},
      {L"text", [](Self& self, Value value) { self.SetText(value); }},
      {L"textid", [](Self& self, Value value) { self.SetTextId(value); }},
      {L"font",
       [](Self& self, Value value) {
         self.font_id_ = value;
         self.Invalidate();
       }},
      {L"normaltextcolor",
       [](Self& self, Value value) {
         self.text_colors_[kControlStateNormal] = value;
         self.Invalidate();
       }},
      {L"hottextcolor",
       [](Self& self, Value value) { self.SetStateTextColor(kControlStateHot, value); }},
      {L"pushedtextcolor",
       [](Self& self, Value value) {
         self.text_colors_[kControlStatePushed] = value;
         self.Invalidate();
       }},
      {L"disabledtextcolor",
       [](Self& self, Value value) {
         self.text_colors_[kControlStateDisabled] = value;
         self.Invalidate();
       }},
      {L"textpadding",
       [](Self& self, Value value) {
         RECT padding = {};
         if (nbase::ParseRectList(value, &padding)) {
           DpiManager::Instance().ScaleRect(padding);
           self.SetTextPadding(padding);
         }
       }},
  };
  if (!kTable.Apply(*this, name, value)) InheritType::SetAttribute(name, value);
}

template <typename InheritType>
std::wstring LabelTemplate<InheritType>::GetText() const {
  if (text_.empty() && !text_id_.empty()) {
    return GlobalManager::Instance().GetLanguageText(text_id_);
  }
  return text_;
}

template <typename InheritType>
void LabelTemplate<InheritType>::ChangeSizeOrInvalidate() {
  if (this->GetFixedWidth() == kDefaultAuto || this->GetFixedHeight() == kDefaultAuto) {
    this->Arrange();
  } else {
    this->Invalidate();
  }
}

template <typename InheritType>
void LabelTemplate<InheritType>::SetText(const std::wstring& text) {
  if (text_ == text) return;
  text_ = text;
  ChangeSizeOrInvalidate();
  this->NotifyAccessible(EVENT_OBJECT_NAMECHANGE);
}

template <typename InheritType>
void LabelTemplate<InheritType>::SetTextId(const std::wstring& id) {
  if (text_id_ == id) return;
  text_id_ = id;
  ChangeSizeOrInvalidate();
  this->NotifyAccessible(EVENT_OBJECT_NAMECHANGE);
}

template <typename InheritType>
void LabelTemplate<InheritType>::SetTextPadding(const RECT& padding) {
  text_padding_ = padding;
  ChangeSizeOrInvalidate();
}

template <typename InheritType>
std::wstring LabelTemplate<InheritType>::GetStateTextColor(int state) const {
  const auto found = text_colors_.find(state);
  return found == text_colors_.end() ? std::wstring() : found->second;
}

template <typename InheritType>
void LabelTemplate<InheritType>::SetStateTextColor(int state, const std::wstring& color) {
  text_colors_[state] = color;
  if (state == kControlStateHot) this->SetHotFade(true);
  this->Invalidate();
}

template <typename InheritType>
bool LabelTemplate<InheritType>::HasHotState() const {
  return !GetStateTextColor(kControlStateHot).empty() || InheritType::HasHotState();
}

template <typename InheritType>
void LabelTemplate<InheritType>::ForceSingleLineBit() {
  if (single_line_)
    text_style_ |= kTextSingleLine;
  else
    text_style_ &= ~kTextSingleLine;
}

template <typename InheritType>
SIZE LabelTemplate<InheritType>::EstimateText(SIZE available) {
  ForceSingleLineBit();
  const int fixed_width = this->GetFixedWidth();
  const int width_limit = fixed_width < 0 ? 0 : fixed_width;
  const std::wstring text = GetText();
  if (text.empty()) return SIZE();

  // Measuring needs a device context: the window's surface when there is one.
  std::unique_ptr<IRenderContext> own_context;
  IRenderContext* context = this->GetWindow() ? this->GetWindow()->GetRenderContext() : nullptr;
  if (!context) {
    IRenderFactory* factory = GlobalManager::Instance().GetRenderFactory();
    if (!factory) return SIZE();
    own_context = factory->CreateRenderContext();
    context = own_context.get();
  }
  const HFONT font = GlobalManager::Instance().GetFont(font_id_);
  RECT measured = context->MeasureText(text, font, text_style_, width_limit);
  LONG width = measured.right - measured.left;
  SIZE size = {this->GetFixedWidth(), this->GetFixedHeight()};
  const LONG padding_x = text_padding_.left + text_padding_.right;
  if (fixed_width == kDefaultAuto) size.cx = padding_x + width;
  if (this->GetFixedHeight() == kDefaultAuto) {
    if (!single_line_ && fixed_width == kDefaultAuto && this->GetMaxWidth() == kDefaultStretch) {
      this->SetReEstimateSize(true);
      const LONG room = available.cx - padding_x;
      if (room < width) {
        measured = context->MeasureText(text, font, text_style_, room);
        width = measured.right - measured.left;
      }
    }
    size.cy = text_padding_.top + text_padding_.bottom + (measured.bottom - measured.top);
    size.cx = padding_x + width;
  }
  return size;
}

template <typename InheritType>
std::wstring LabelTemplate<InheritType>::GetPaintStateTextColor() const {
  int state = this->GetState() & 3;
  if (state == kControlStatePushed && GetStateTextColor(state).empty()) state = kControlStateHot;
  if (state == kControlStateHot && GetStateTextColor(state).empty()) state = kControlStateNormal;
  if (state == kControlStateDisabled && GetStateTextColor(state).empty()) {
    state = kControlStateNormal;
  }
  return GetStateTextColor(state);
}

template <typename InheritType>
void LabelTemplate<InheritType>::DrawLabelText(IRenderContext* context, const std::wstring& color,
                                               bool line_limit, BYTE alpha) {
  const std::wstring text = GetText();
  if (text.empty()) return;
  RECT rect = this->GetPos();
  rect.left += text_padding_.left;
  rect.top += text_padding_.top;
  rect.right -= text_padding_.right;
  rect.bottom -= text_padding_.bottom;
  ForceSingleLineBit();
  const DWORD argb = GlobalManager::Instance().GetTextColor(color);
  context->DrawText(rect, text, argb, GlobalManager::Instance().GetFont(font_id_), text_style_,
                    alpha, line_limit);
}

template <typename InheritType>
void LabelTemplate<InheritType>::PaintText(IRenderContext* context) {
  const int state = this->GetState() & 3;
  const std::wstring hot = GetStateTextColor(kControlStateHot);
  const int hot_alpha = this->GetHotAlpha();
  if (this->GetFadeSettings().hot && !hot.empty() && hot_alpha < 255 &&
      (state == kControlStateNormal || state == kControlStateHot)) {
    // Mid-fade the hot color is laid over the normal one at the hot alpha.
    DrawLabelText(context, GetStateTextColor(kControlStateNormal), line_limit_);
    if (hot_alpha > 0) DrawLabelText(context, hot, line_limit_, static_cast<BYTE>(hot_alpha));
    return;
  }
  DrawLabelText(context, GetPaintStateTextColor(), line_limit_);
}

}  // namespace ui
