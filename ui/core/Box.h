// ui::Box, a control that owns an ordered list of child controls placed by its layout.
#pragma once

#include <memory>
#include <vector>

#include "ui/core/Control.h"
#include "ui/layouts/Layout.h"

namespace ui {

// UI thread only. Owns its children and its layout.
class Box : public Control {
 public:
  // Takes ownership of `layout`; null means the plain layout.
  explicit Box(Layout* layout = nullptr);
  ~Box() override;

  std::wstring GetType() const override { return L"Box"; }
  bool IsBox() const override { return true; }
  void SetWindow(Window* window, Box* parent, bool init = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void RescaleDpi(int from_scale, int to_scale) override;

  virtual Control* GetItemAt(size_t index) const;
  virtual int GetItemIndex(const Control* child) const;
  virtual bool SetItemIndex(Control* child, size_t index);
  virtual size_t GetCount() const { return children_.size(); }
  virtual bool Add(Control* child);
  virtual bool AddAt(Control* child, size_t index);
  virtual bool Remove(Control* child);
  virtual bool RemoveAt(size_t index);
  virtual void RemoveAll();

  bool IsAutoDestroy() const { return auto_destroy_; }
  void SetAutoDestroy(bool auto_destroy) { auto_destroy_ = auto_destroy; }
  bool IsDelayedDestroy() const { return delayed_destroy_; }
  void SetDelayedDestroy(bool delayed) { delayed_destroy_ = delayed; }
  bool IsMouseChildEnabled() const { return mouse_child_enabled_; }
  void SetMouseChildEnabled(bool enabled) { mouse_child_enabled_ = enabled; }

  Layout* GetLayout() const { return layout_.get(); }
  void ReSetLayout(Layout* layout);
  // The box's rectangle less the layout's padding.
  RECT GetPaddingPos() const;

  SIZE EstimateSize(SIZE available) override;
  void SetPos(const RECT& rect) override;
  Control* FindControl(const FindFilter& filter, POINT point, UINT flags) override;
  void SetVisible(bool visible) override;
  void SetInternVisible(bool visible) override;
  void SetEnabled(bool enabled) override;
  void Paint(IRenderContext* context, const RECT& paint_rect) override;

  // The topmost visible, mouse-enabled control at the point, or null.
  Control* FindControlAt(POINT point);
  // The first control of the subtree whose name matches ignoring case, or null.
  Control* FindControlByName(const std::wstring& name);
  // Every control of the subtree, this box first.
  void ForEachControl(const std::function<void(Control*)>& visit);

 protected:
  const std::vector<Control*>& children() const { return children_; }

 private:
  void DestroyChild(Control* child);

  std::unique_ptr<Layout> layout_;
  bool auto_destroy_ = true;
  bool delayed_destroy_ = true;
  bool mouse_child_enabled_ = true;
  std::vector<Control*> children_;  // owned
};

}  // namespace ui
