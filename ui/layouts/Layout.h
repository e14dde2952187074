// ui::Layout, the plain layout: children overlap, each placed inside the box by its alignment.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

class Box;
class Control;

// UI thread only. Owned by its box.
class Layout {
 public:
  Layout() = default;
  virtual ~Layout() = default;
  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;

  void SetOwner(Box* owner) { owner_ = owner; }
  Box* GetOwner() const { return owner_; }

  // True when the name was one of the layout's attributes.
  virtual bool SetAttribute(const std::wstring& name, const std::wstring& value);
  // Places the children inside `rect`; returns the size they occupy.
  virtual SIZE ArrangeChildren(const std::vector<Control*>& items, RECT rect);
  // The size the children need inside `available`, padding included.
  virtual SIZE EstimateSizeByChildren(const std::vector<Control*>& items, SIZE available);

  const RECT& GetPadding() const { return padding_; }
  void SetPadding(const RECT& padding, bool need_scale = true);
  int GetChildMargin() const { return child_margin_; }
  void SetChildMargin(int margin);

  // Places one child in `rect` by its own margin, size rules and alignment; returns its size.
  static SIZE PlaceChild(Control* child, RECT rect);

 protected:
  void ArrangeOwner();

  RECT padding_ = {};
  int child_margin_ = 0;
  Box* owner_ = nullptr;
};

// Height and width clamps that every layout applies the same way: the minimum always, the
// maximum width only when it is not negative, the maximum height always.
int ClampWidth(const Control* child, int width);
int ClampHeight(const Control* child, int height);

}  // namespace ui
