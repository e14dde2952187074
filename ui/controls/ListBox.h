// ui::ListBox: a vertical box of items of which at most one is selected.
#pragma once

#include "ui/core/Box.h"

namespace ui {

// UI thread only. Items are usually ListContainerElement controls. Items taller together than
// the box scroll: a vertical bar shows along the right edge, and the wheel, a press on the
// bar's track and a drag of its thumb move them.
class ListBox : public Box {
 public:
  // Takes ownership of `layout`; null means a vertical layout.
  explicit ListBox(Layout* layout = nullptr);

  std::wstring GetType() const override { return L"ListBox"; }
  bool Remove(Control* child) override;
  void RemoveAll() override;
  void SetPos(const RECT& rect) override;
  void Paint(IRenderContext* context, const RECT& paint_rect) override;

  int GetCurSel() const { return cur_sel_; }
  // Selects the item at `index` (−1 clears); "select" goes out only when `trigger_event`.
  bool SelectItem(int index, bool take_focus = false, bool trigger_event = true);

  bool IsVScrollBarShown() const { return vscroll_shown_; }
  // How far the items are scrolled up, in pixels, and how far they can be.
  int GetScrollPos() const { return scroll_pos_; }
  int GetScrollRange() const;
  void SetScrollPos(int pos);
  // Scrolls the least that shows the whole item.
  void EnsureVisible(int index);
  RECT GetVScrollTrack() const;
  RECT GetVScrollThumb() const;

 protected:
  void HandleMessage(EventArgs& args) override;

 private:
  int cur_sel_ = -1;
  bool vscroll_shown_ = false;
  int scroll_pos_ = 0;
  int content_height_ = 0;
  int thumb_grab_ = -1;  // where in the thumb a drag took it, -1 without a drag
};

}  // namespace ui
