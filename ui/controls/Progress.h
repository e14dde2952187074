// ui::Progress: a bar filled in proportion to a value between a minimum and a maximum.
#pragma once

#include <string>

#include "ui/controls/Label.h"

namespace ui {

// UI thread only.
class Progress : public LabelTemplate<Control> {
 public:
  Progress();

  std::wstring GetType() const override { return L"Progress"; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

  bool IsHorizontal() const { return horizontal_; }
  int GetMinValue() const { return min_; }
  int GetMaxValue() const { return max_; }
  double GetValue() const { return value_; }
  // Not range-checked here: painting brings the value back into the range and keeps it.
  void SetValue(double value);
  // The filled part, relative to the control's top-left corner.
  virtual RECT GetProgressPos();
  // The filled share in whole percent of the range.
  int GetPercent() const;
  std::wstring GetAccessibleValue() const override;

 protected:
  void PaintStatusImage(IRenderContext* context) override;
  int GetDefaultAccessibleRole() const override { return kRoleProgressBar; }

 private:
  bool horizontal_ = true;
  bool stretch_fore_ = true;
  int max_ = 100;
  int min_ = 0;
  double value_ = 0.0;
  Image progress_image_;
  std::wstring progress_color_;
  std::wstring image_modifier_;
};

}  // namespace ui
