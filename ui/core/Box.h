// ui::Box, a control that owns an ordered list of child controls.
#pragma once

#include <memory>
#include <vector>

#include "ui/core/Control.h"

namespace ui {

// UI thread only. Children are placed by the layouts that build on this; here the box owns,
// finds and paints them.
class Box : public Control {
 public:
  Box() = default;
  ~Box() override;

  std::wstring GetType() const override { return L"Box"; }
  bool IsBox() const override { return true; }
  void SetWindow(Window* window, Box* parent, bool init = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

  virtual bool Add(Control* child);
  virtual bool AddAt(Control* child, size_t index);
  virtual bool Remove(Control* child);
  bool RemoveAt(size_t index) { return Remove(GetItemAt(index)); }
  void RemoveAll();
  Control* GetItemAt(size_t index) const;
  int GetItemIndex(const Control* child) const;
  size_t GetCount() const { return children_.size(); }

  bool IsAutoDestroy() const { return auto_destroy_; }
  void SetAutoDestroy(bool auto_destroy) { auto_destroy_ = auto_destroy; }
  bool IsMouseChildEnabled() const { return mouse_child_enabled_; }

  // The deepest visible, mouse-enabled control at the point, or null.
  Control* FindControlAt(POINT point);
  Control* FindControlByName(const std::wstring& name);

  void Paint(IRenderContext* context, const RECT& paint_rect) override;

 private:
  std::vector<Control*> children_;  // owned
  bool auto_destroy_ = true;
  bool mouse_child_enabled_ = true;
};

}  // namespace ui
