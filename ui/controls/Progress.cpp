// ui::Progress: range normalisation, the filled rectangle and the drawing of the filled part.
#include "ui/controls/Progress.h"

#include <algorithm>
#include <cwchar>

#include "ui/core/AttributeTable.h"
#include "ui/core/DpiManager.h"

namespace ui {

Progress::Progress() {
  text_style_ = kTextCenter | kTextSingleLine;
}

void Progress::SetValue(double value) {
  const int before = GetPercent();
  value_ = value;
  Invalidate();
  if (GetPercent() != before) NotifyAccessible(EVENT_OBJECT_VALUECHANGE);
}

int Progress::GetPercent() const {
  const double span = static_cast<double>(max_) - min_;
  if (span <= 0) return 0;
  const double share = (std::min<double>(std::max<double>(value_, min_), max_) - min_) / span;
  return static_cast<int>(share * 100 + 0.5);
}

std::wstring Progress::GetAccessibleValue() const {
  return std::to_wstring(GetPercent()) + L"%";
}

void Progress::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = Progress;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = {
      {L"hor",
       [](Self& self, Value value) {
         const bool horizontal = value == L"true";
         if (horizontal != self.horizontal_) {
           self.horizontal_ = horizontal;
           self.Invalidate();
         }
       }},
      {L"min",
       [](Self& self, Value value) {
         self.min_ = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
         self.Invalidate();
       }},
      {L"max",
       [](Self& self, Value value) {
         self.max_ = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
         self.Invalidate();
       }},
      {L"value",
       [](Self& self, Value value) {
         self.SetValue(static_cast<double>(std::wcstol(value.c_str(), nullptr, 10)));
       }},
      {L"progressimage",
       [](Self& self, Value value) {
         self.progress_image_.SetImageString(value, DpiManager::Instance().GetAppliedScale());
         self.Invalidate();
       }},
      {L"isstretchfore",
       [](Self& self, Value value) {
         const bool stretch = value == L"true";
         if (stretch != self.stretch_fore_) {
           self.stretch_fore_ = stretch;
           self.Invalidate();
         }
       }},
      {L"progresscolor",
       [](Self& self, Value value) {
         size_t start = 0;
         while (start < value.size() && value[start] <= L' ') ++start;
         const std::wstring color = value.substr(start);
         if (color != self.progress_color_) {
           self.progress_color_ = color;
           self.Invalidate();
         }
       }},
  };
  if (!kTable.Apply(*this, name, value)) LabelTemplate<Control>::SetAttribute(name, value);
}

RECT Progress::GetProgressPos() {
  const double width = rect_.right - rect_.left;
  const double height = rect_.bottom - rect_.top;
  const double span = static_cast<double>(max_) - min_;
  RECT pos = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  if (span == 0) return pos;
  if (horizontal_) {
    pos.right = static_cast<LONG>(width * (value_ - min_) / span);
  } else {
    pos.top = static_cast<LONG>(height * (max_ - value_) / span);
  }
  return pos;
}

void Progress::PaintStatusImage(IRenderContext* context) {
  if (max_ <= min_) max_ = min_ + 1;
  if (value_ > max_) value_ = max_;
  if (value_ < min_) value_ = min_;
  const RECT pos = GetProgressPos();
  if (!progress_color_.empty()) {
    const DWORD color = GlobalManager::Instance().GetTextColor(progress_color_);
    if (color) {
      RECT filled = rect_;
      if (horizontal_)
        filled.right = rect_.left + pos.right;
      else
        filled.top = rect_.top + pos.top;
      context->DrawColor(filled, color | 0xFF000000u);
    }
  }
  // An empty filled part must not reach the image drawing, which reads an empty dest as the
  // whole control.
  if (progress_image_.IsEmpty() || ::IsRectEmpty(&pos)) return;
  if (stretch_fore_) {
    image_modifier_ = nbase::StringPrintf(
        L"destscale='false' dest='%d,%d,%d,%d'", static_cast<int>(pos.left),
        static_cast<int>(pos.top), static_cast<int>(pos.right), static_cast<int>(pos.bottom));
  } else {
    // The part of the image under the filled rectangle is drawn in place: the image is
    // uncovered as the value grows rather than squeezed into the filled part.
    image_modifier_ = nbase::StringPrintf(
        L"destscale='false' dest='%d,%d,%d,%d' source='%d,%d,%d,%d'", static_cast<int>(pos.left),
        static_cast<int>(pos.top), static_cast<int>(pos.right), static_cast<int>(pos.bottom),
        static_cast<int>(pos.left), static_cast<int>(pos.top), static_cast<int>(pos.right),
        static_cast<int>(pos.bottom));
  }
  DrawImage(context, progress_image_, image_modifier_);
}

}  // namespace ui
