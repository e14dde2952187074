// ui::ListBox: keeps the one selected item in step with the items' own selected state, and
// scrolls items that do not fit.
#include "ui/controls/ListBox.h"

#include <algorithm>

#include "ui/controls/ListContainerElement.h"
#include "ui/core/DpiManager.h"
#include "ui/core/Window.h"
#include "ui/layouts/BoxLayout.h"
#include "ui/render/RenderContext.h"

namespace ui {
namespace {

int BarWidth() {
  return DpiManager::Instance().ScaleInt(8);
}

}  // namespace

ListBox::ListBox(Layout* layout) : Box(layout ? layout : new VLayout()) {}

bool ListBox::Remove(Control* child) {
  const int index = GetItemIndex(child);
  if (!Box::Remove(child)) return false;
  if (index == cur_sel_)
    cur_sel_ = -1;
  else if (index < cur_sel_)
    --cur_sel_;
  return true;
}

void ListBox::RemoveAll() {
  cur_sel_ = -1;
  Box::RemoveAll();
}

bool ListBox::SelectItem(int index, bool take_focus, bool trigger_event) {
  if (index < -1 || index >= static_cast<int>(GetCount())) return false;
  const int old = cur_sel_;
  if (old >= 0 && old != index) {
    if (auto* item = dynamic_cast<ListContainerElement*>(GetItemAt(static_cast<size_t>(old)))) {
      item->SetSelectedSilently(false);
    }
  }
  cur_sel_ = index;
  if (index < 0) return true;
  Control* chosen = GetItemAt(static_cast<size_t>(index));
  if (auto* item = dynamic_cast<ListContainerElement*>(chosen)) item->SetSelectedSilently(true);
  EnsureVisible(index);
  Window* window = GetWindow();
  if (take_focus && window) window->SetFocusControl(chosen);
  if (trigger_event && window) window->SendNotify(this, kEventSelect, index, old);
  return true;
}

void ListBox::SetPos(const RECT& rect) {
  Control::SetPos(rect);
  RECT inner = GetPaddingPos();
  const int view = inner.bottom - inner.top;
  const SIZE available = {inner.right - inner.left, 99999};
  // The layout's estimate counts its padding too; the items' height is what scrolls.
  const RECT& padding = GetLayout()->GetPadding();
  content_height_ =
      children().empty()
          ? 0
          : static_cast<int>(GetLayout()->EstimateSizeByChildren(children(), available).cy) -
                padding.top - padding.bottom;
  vscroll_shown_ = view > 0 && content_height_ > view;
  if (vscroll_shown_) inner.right -= BarWidth();
  scroll_pos_ = std::max(0, std::min(scroll_pos_, GetScrollRange()));
  if (children().empty()) return;
  // The items are laid out at their full height and moved up by the scroll position.
  const RECT items = {inner.left, inner.top - scroll_pos_, inner.right,
                      inner.top - scroll_pos_ + std::max(view, content_height_)};
  GetLayout()->ArrangeChildren(children(), items);
}

int ListBox::GetScrollRange() const {
  const RECT inner = GetPaddingPos();
  return std::max(0, content_height_ - static_cast<int>(inner.bottom - inner.top));
}

void ListBox::SetScrollPos(int pos) {
  pos = std::max(0, std::min(pos, GetScrollRange()));
  if (pos == scroll_pos_) return;
  scroll_pos_ = pos;
  SetPos(GetPos());
  Invalidate();
}

void ListBox::EnsureVisible(int index) {
  if (!vscroll_shown_ || index < 0 || index >= static_cast<int>(GetCount())) return;
  const RECT inner = GetPaddingPos();
  const RECT& item = GetItemAt(static_cast<size_t>(index))->GetPos();
  if (item.top < inner.top) {
    SetScrollPos(scroll_pos_ - (inner.top - item.top));
  } else if (item.bottom > inner.bottom) {
    SetScrollPos(scroll_pos_ + (item.bottom - inner.bottom));
  }
}

RECT ListBox::GetVScrollTrack() const {
  if (!vscroll_shown_) return RECT();
  const RECT inner = GetPaddingPos();
  return {inner.right - BarWidth(), inner.top, inner.right, inner.bottom};
}

RECT ListBox::GetVScrollThumb() const {
  const RECT track = GetVScrollTrack();
  const int track_height = track.bottom - track.top;
  if (track_height <= 0 || content_height_ <= 0) return RECT();
  // Never shorter than the bar is wide, so there is always something to take hold of.
  const int length = std::max<int>(
      track.right - track.left,
      static_cast<int>(static_cast<long long>(track_height) * track_height / content_height_));
  const int range = GetScrollRange();
  const int top =
      range > 0
          ? static_cast<int>(static_cast<long long>(track_height - length) * scroll_pos_ / range)
          : 0;
  return {track.left, track.top + top, track.right, track.top + top + length};
}

void ListBox::Paint(IRenderContext* context, const RECT& paint_rect) {
  RECT visible = {};
  if (!IsVisible() || !::IntersectRect(&visible, &paint_rect, &GetPos())) return;
  Control::Paint(context, paint_rect);
  // Items scrolled partly out stay inside the padding, clear of the border.
  RECT inner = GetPaddingPos();
  RECT items = {};
  if (::IntersectRect(&items, &visible, &inner)) {
    for (Control* child : children()) {
      if (child->IsVisible()) child->AlphaPaint(context, items);
    }
  }
  if (!vscroll_shown_) return;
  // Translucent greys read on any list background the skin chooses.
  RECT part = {};
  const RECT track = GetVScrollTrack();
  if (::IntersectRect(&part, &track, &visible)) context->DrawColor(part, 0x18000000);
  const RECT thumb = GetVScrollThumb();
  if (::IntersectRect(&part, &thumb, &visible)) {
    context->DrawColor(part, thumb_grab_ >= 0 ? 0xA0000000 : 0x70000000);
  }
}

void ListBox::HandleMessage(EventArgs& args) {
  if (vscroll_shown_) {
    switch (args.type) {
      case kEventMouseScrollWheel: {
        // Three items' worth of pixels a notch, as the system scrolls lines by default.
        const int notches = GET_WHEEL_DELTA_WPARAM(args.wparam) / WHEEL_DELTA;
        const int step = GetCount() > 0 ? GetItemAt(0)->GetPos().bottom - GetItemAt(0)->GetPos().top
                                        : DpiManager::Instance().ScaleInt(20);
        SetScrollPos(scroll_pos_ - notches * 3 * step);
        return;
      }
      case kEventMouseButtonDown: {
        const RECT track = GetVScrollTrack();
        if (!::PtInRect(&track, args.mouse_point)) break;
        RECT thumb = GetVScrollThumb();
        if (!::PtInRect(&thumb, args.mouse_point)) {
          // A press on the track pages towards it.
          const RECT inner = GetPaddingPos();
          const int page = inner.bottom - inner.top;
          SetScrollPos(scroll_pos_ + (args.mouse_point.y < thumb.top ? -page : page));
          thumb = GetVScrollThumb();
        }
        thumb_grab_ = args.mouse_point.y - thumb.top;
        Box::HandleMessage(args);  // the base captures the mouse for the drag
        return;
      }
      case kEventMouseMove:
        if (thumb_grab_ < 0) break;
        {
          const RECT track = GetVScrollTrack();
          const RECT thumb = GetVScrollThumb();
          const int room = (track.bottom - track.top) - (thumb.bottom - thumb.top);
          const int top = std::min(
              room, std::max(0, static_cast<int>(args.mouse_point.y - track.top - thumb_grab_)));
          if (room > 0) {
            SetScrollPos(static_cast<int>(static_cast<long long>(GetScrollRange()) * top / room));
          }
        }
        return;
      case kEventMouseButtonUp:
        if (thumb_grab_ < 0) break;
        thumb_grab_ = -1;
        Box::HandleMessage(args);
        Invalidate();
        return;
      default:
        break;
    }
  }
  Box::HandleMessage(args);
}

}  // namespace ui
