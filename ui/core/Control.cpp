// Attribute handling, state transitions, event dispatch and base painting of controls.
#include "ui/core/Control.h"

#include <algorithm>
#include <cwchar>
#include <cstdlib>
#include <optional>

#include "base/NumberList.h"
#include "base/TimerQueue.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/render/GdiPlusApi.h"
#include "ui/render/RenderContext.h"
#include "ui/render/RenderFactory.h"

namespace ui {
namespace {

int Scale(int value) {
  return DpiManager::Instance().ScaleInt(value);
}

// A number as markup writes a length, scaled.
int ScaledNumber(const std::wstring& value) {
  return Scale(static_cast<int>(std::wcstol(value.c_str(), nullptr, 10)));
}

// "stretch", "auto" or a number, scaled when it is one.
int ParseLength(const std::wstring& value) {
  if (value == L"stretch") return kDefaultStretch;
  if (value == L"auto") return kDefaultAuto;
  return ScaledNumber(value);
}

// Attribute names of the per-state colours and images start with these, in state order.
const wchar_t* const kStateNames[] = {L"normal", L"hot", L"pushed", L"disabled"};

}  // namespace

EventType EventTypeFromString(const std::wstring& name) {
  static const struct {
    const wchar_t* name;
    EventType type;
  } kNames[] = {{L"all", kEventAll},
                {L"keydown", kEventKeyDown},
                {L"keyup", kEventKeyUp},
                {L"char", kEventChar},
                {L"syskey", kEventSystemKey},
                {L"mousemove", kEventMouseMove},
                {L"mouseenter", kEventMouseEnter},
                {L"mouseleave", kEventMouseLeave},
                {L"mousehover", kEventMouseHover},
                {L"buttondown", kEventMouseButtonDown},
                {L"buttonup", kEventMouseButtonUp},
                {L"rbuttondown", kEventMouseRightButtonDown},
                {L"doubleclick", kEventMouseDoubleClick},
                {L"menu", kEventMouseMenu},
                {L"scrollwheel", kEventMouseScrollWheel},
                {L"setfocus", kEventSetFocus},
                {L"killfocus", kEventKillFocus},
                {L"windowclose", kEventWindowClose},
                {L"setcursor", kEventSetCursor},
                {L"select", kEventSelect},
                {L"unselect", kEventUnSelect},
                {L"return", kEventReturn},
                {L"tab", kEventTab},
                {L"scrollchange", kEventScrollChange},
                {L"valuechange", kEventValueChange}};
  for (const auto& entry : kNames) {
    if (name == entry.name) return entry.type;
  }
  return kEventNone;
}

Control::Control() = default;

Control::~Control() {
  if (window_) window_->OnControlDestroyed(this);
}

void Control::SetWindow(Window* window, Box* parent, bool init) {
  (void)init;
  window_ = window;
  parent_ = parent;
}

bool Control::IsAncestorOf(const Control* other) const {
  for (const Control* at = other ? other->GetParent() : nullptr; at; at = at->GetParent()) {
    if (at == this) return true;
  }
  return false;
}

void Control::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = Control;
  using Value = const std::wstring&;
  static const AttributeTable<Control> kTable = [] {
    const auto bk_color = [](Self& self, Value value) {
      const size_t start = value.find_first_not_of(L' ');
      self.SetBkColor(start == std::wstring::npos ? std::wstring() : value.substr(start));
    };
    AttributeTable<Control> table = {
        {L"class", [](Self& self, Value value) { self.SetClass(value); }},
        {L"halign",
         [](Self& self, Value value) {
           if (value == L"left")
             self.halign_ = kHorAlignLeft;
           else if (value == L"center")
             self.halign_ = kHorAlignCenter;
           else if (value == L"right")
             self.halign_ = kHorAlignRight;
           self.Arrange();
         }},
        {L"valign",
         [](Self& self, Value value) {
           if (value == L"top")
             self.valign_ = kVerAlignTop;
           else if (value == L"center")
             self.valign_ = kVerAlignCenter;
           else if (value == L"bottom")
             self.valign_ = kVerAlignBottom;
           self.Arrange();
         }},
        {L"margin",
         [](Self& self, Value value) {
           RECT margin = {};
           if (nbase::ParseRectList(value, &margin)) self.SetMargin(margin);
         }},
        {L"bkcolor", bk_color},
        {L"bkcolor1", bk_color},
        {L"bordersize",
         [](Self& self, Value value) {
           if (value.find(L',') != std::wstring::npos) {
             RECT sizes = {};
             if (!nbase::ParseRectList(value, &sizes)) return;
             sizes.left = Scale(sizes.left);
             sizes.top = Scale(sizes.top);
             sizes.right = Scale(sizes.right);
             sizes.bottom = Scale(sizes.bottom);
             self.border_sizes_ = sizes;
           } else {
             self.border_size_ = ScaledNumber(value);
             self.border_sizes_ = RECT();
           }
           self.Invalidate();
         }},
        {L"borderround",
         [](Self& self, Value value) {
           SIZE round = {};
           if (!nbase::ParseSizeList(value, &round)) return;
           DpiManager::Instance().ScaleSize(round);
           self.border_round_ = round;
           self.Invalidate();
         }},
        {L"width", [](Self& self, Value value) { self.SetFixedWidth(ParseLength(value), false); }},
        {L"height",
         [](Self& self, Value value) { self.SetFixedHeight(ParseLength(value), false); }},
        {L"maxwidth",
         [](Self& self, Value value) {
           self.max_width_ = ParseLength(value);
           self.Arrange();
         }},
        {L"maxheight",
         [](Self& self, Value value) {
           self.max_height_ = ParseLength(value);
           self.Arrange();
         }},
        {L"minwidth",
         [](Self& self, Value value) {
           self.min_width_ = ScaledNumber(value);
           self.Arrange();
         }},
        {L"minheight",
         [](Self& self, Value value) {
           self.min_height_ = ScaledNumber(value);
           self.Arrange();
         }},
        {L"state",
         [](Self& self, Value value) {
           if (value == L"normal") {
             self.SetState(kControlStateNormal);
             self.hot_alpha_ = 0;
           } else if (value == L"hot") {
             self.SetState(kControlStateHot);
             self.hot_alpha_ = 255;
           } else if (value == L"pushed") {
             self.SetState(kControlStatePushed);
           } else if (value == L"disabled") {
             self.SetState(kControlStateDisabled);
           }
         }},
        {L"cursortype",
         [](Self& self, Value value) {
           if (value == L"arrow")
             self.cursor_type_ = kCursorArrow;
           else if (value == L"hand")
             self.cursor_type_ = kCursorHand;
           else if (value == L"ibeam")
             self.cursor_type_ = kCursorHandIbeam;
         }},
        {L"renderoffset",
         [](Self& self, Value value) {
           SIZE offset = {};
           if (!nbase::ParseSizeList(value, &offset)) return;
           self.render_offset_ = {Scale(offset.cx), Scale(offset.cy)};
           self.Invalidate();
         }},
        {L"bordercolor",
         [](Self& self, Value value) {
           self.border_color_ = value;
           self.Invalidate();
         }},
        {L"leftbordersize",
         [](Self& self, Value value) {
           self.border_sizes_.left = ScaledNumber(value);
           self.Invalidate();
         }},
        {L"topbordersize",
         [](Self& self, Value value) {
           self.border_sizes_.top = ScaledNumber(value);
           self.Invalidate();
         }},
        {L"rightbordersize",
         [](Self& self, Value value) {
           self.border_sizes_.right = ScaledNumber(value);
           self.Invalidate();
         }},
        {L"bottombordersize",
         [](Self& self, Value value) {
           self.border_sizes_.bottom = ScaledNumber(value);
           self.Invalidate();
         }},
        {L"bkimage",
         [](Self& self, Value value) {
           self.StopImagePlay();
           self.image_play_finished_ = false;
           self.image_loops_done_ = 0;
           self.bk_image_.SetImageString(value, DpiManager::Instance().GetAppliedScale());
           if (self.fixed_width_ == kDefaultAuto || self.fixed_height_ == kDefaultAuto) {
             self.Arrange();
           } else {
             self.Invalidate();
           }
         }},
        {L"name", [](Self& self, Value value) { self.name_ = value; }},
        {L"tooltiptext", [](Self& self, Value value) { self.tooltip_text_ = value; }},
        {L"tooltiptextid",
         [](Self& self, Value value) {
           self.tooltip_text_id_ = value;
           self.tooltip_text_ = GlobalManager::Instance().GetLanguageText(value);
         }},
        {L"dataid", [](Self& self, Value value) { self.data_id_ = value; }},
        {L"enabled", [](Self& self, Value value) { self.SetEnabled(value == L"true"); }},
        {L"mouse", [](Self& self, Value value) { self.mouse_enabled_ = value == L"true"; }},
        {L"keyboard", [](Self& self, Value value) { self.keyboard_enabled_ = value == L"true"; }},
        {L"visible", [](Self& self, Value value) { self.SetVisible(value == L"true"); }},
        {L"fadevisible", [](Self& self, Value value) { self.SetFadeVisible(value == L"true"); }},
        {L"float",
         [](Self& self, Value value) {
           self.float_ = value == L"true";
           self.Arrange();
         }},
        {L"menu", [](Self& self, Value value) { self.menu_used_ = value == L"true"; }},
        {L"cache", [](Self& self, Value value) { self.use_cache_ = value == L"true"; }},
        // The value is deliberately not read: "false" also opts out.
        {L"nofocus", [](Self& self, Value) { self.no_focus_ = true; }},
        {L"alpha",
         [](Self& self, Value value) {
           self.SetAlpha(static_cast<int>(std::wcstol(value.c_str(), nullptr, 10)));
         }},
        {L"fadealpha", [](Self& self, Value value) { self.fade_.alpha = value == L"true"; }},
        {L"fadehot", [](Self& self, Value value) { self.fade_.hot = value == L"true"; }},
        {L"fadewidth", [](Self& self, Value value) { self.fade_.width = value == L"true"; }},
        {L"fadeheight", [](Self& self, Value value) { self.fade_.height = value == L"true"; }},
        {L"fadeinoutxfromleft",
         [](Self& self, Value value) { self.fade_.from_left = value == L"true"; }},
        {L"fadeinoutxfromright",
         [](Self& self, Value value) { self.fade_.from_right = value == L"true"; }},
        {L"fadeinoutyfromtop",
         [](Self& self, Value value) { self.fade_.from_top = value == L"true"; }},
        {L"fadeinoutyfrombottom",
         [](Self& self, Value value) { self.fade_.from_bottom = value == L"true"; }},
        {L"receivepointer",
         [](Self& self, Value value) { self.receive_pointer_ = value == L"true"; }},
        {L"default", [](Self& self, Value value) { self.default_button_ = value == L"true"; }},
        {L"role",
         [](Self& self, Value value) {
           static const struct {
             const wchar_t* name;
             AccessibleRole role;
           } kRoles[] = {{L"none", kRoleNone},
                         {L"button", kRolePushButton},
                         {L"checkbox", kRoleCheckButton},
                         {L"radio", kRoleRadioButton},
                         {L"combobox", kRoleComboBox},
                         {L"edit", kRoleEditableText},
                         {L"progress", kRoleProgressBar},
                         {L"text", kRoleStaticText},
                         {L"link", kRoleLink},
                         {L"listitem", kRoleListItem}};
           for (const auto& entry : kRoles) {
             if (value == entry.name) self.accessible_role_ = entry.role;
           }
         }},
    };
    for (int state = 0; state < 4; ++state) {
      const std::wstring prefix = kStateNames[state];
      table.Add(prefix + L"color", [state](Self& self, Value value) {
        self.state_colors_[state] = value;
        self.Invalidate();
      });
      table.Add(prefix + L"image", [state](Self& self, Value value) {
        self.state_images_[state].SetImageString(value, DpiManager::Instance().GetAppliedScale());
        self.Invalidate();
      });
      table.Add(L"fore" + prefix + L"image", [state](Self& self, Value value) {
        self.fore_state_images_[state].SetImageString(value,
                                                      DpiManager::Instance().GetAppliedScale());
        if (state == kControlStateHot) self.fade_.hot = true;
        self.Invalidate();
      });
    }
    return table;
  }();
  kTable.Apply(*this, name, value);
}

void Control::ApplyAttributeList(const std::wstring& list) {
  size_t pos = 0;
  const size_t size = list.size();
  while (pos < size) {
    const size_t equals = list.find(L'=', pos);
    if (equals == std::wstring::npos || equals + 1 >= size || list[equals + 1] != L'"') return;
    const std::wstring name = list.substr(pos, equals - pos);
    const size_t value_start = equals + 2;
    const size_t value_end = list.find(L'"', value_start);
    if (value_end == std::wstring::npos) return;
    SetAttribute(name, list.substr(value_start, value_end - value_start));
    pos = value_end + 1;
    if (pos + 1 >= size || list[pos] != L' ') return;
    ++pos;
  }
}

void Control::SetClass(const std::wstring& class_names) {
  size_t pos = 0;
  while (pos < class_names.size()) {
    const size_t blank = class_names.find(L' ', pos);
    const size_t end = blank == std::wstring::npos ? class_names.size() : blank;
    const std::wstring name = class_names.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty()) continue;
    std::wstring attributes = GlobalManager::Instance().GetClassAttributes(name);
    if (attributes.empty() && window_) attributes = window_->GetClassAttributes(name);
    if (!attributes.empty()) ApplyAttributeList(attributes);
  }
}

void Control::SetFixedWidth(int width, bool need_scale, bool arrange) {
  if (need_scale && width > 0) width = Scale(width);
  if (fixed_width_ == width) return;
  fixed_width_ = width;
  reestimate_size_ = true;
  if (arrange) Arrange();
}

void Control::SetFixedHeight(int height, bool need_scale) {
  if (need_scale && height > 0) height = Scale(height);
  if (fixed_height_ == height) return;
  fixed_height_ = height;
  reestimate_size_ = true;
  Arrange();
}

void Control::SetMargin(const RECT& margin, bool need_scale) {
  margin_ = margin;
  if (need_scale) {
    margin_.left = Scale(margin.left);
    margin_.top = Scale(margin.top);
    margin_.right = Scale(margin.right);
    margin_.bottom = Scale(margin.bottom);
  }
  Arrange();
}

void Control::SetPos(const RECT& rect) {
  rect_ = rect;
  is_arranged_ = false;
  Invalidate();
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  // Invalidate while still visible so the area it leaves is repainted too.
  if (!visible) Invalidate();
  visible_ = visible;
  if (!visible && window_) window_->OnControlHidden(this);
  Arrange();
}

void Control::SetInternVisible(bool visible) {
  if (intern_visible_ == visible) return;
  intern_visible_ = visible;
  if (!visible && window_) window_->OnControlHidden(this);
}

void Control::SetFadeVisible(bool visible) {
  alpha_fade_flag_.Cancel();
  const bool was_fading = alpha_fading_;
  alpha_fading_ = false;
  if (!fade_.alpha || !window_) {
    if (was_fading) SetAlpha(255);
    SetVisible(visible);
    return;
  }
  if (visible) {
    if (!IsOwnVisible()) {
      SetAlpha(0);
      SetVisible(true);
    }
  } else if (!IsOwnVisible()) {
    return;
  }
  constexpr uint32_t kStepMs = 16;
  alpha_fading_ = nbase::TimerQueue::GetInstance()->AddCancelableTimer(
      alpha_fade_flag_.GetWeakFlag(), [this, visible] { StepAlphaFade(visible); }, kStepMs, -1);
  if (!alpha_fading_) {
    SetAlpha(255);
    SetVisible(visible);
  }
}

void Control::StepAlphaFade(bool fade_in) {
  // About a fifth of a second either way; a reversal starts from the alpha reached.
  constexpr int kStep = 21;
  const int alpha = fade_in ? std::min(255, alpha_ + kStep) : std::max(0, alpha_ - kStep);
  SetAlpha(alpha);
  if (alpha != (fade_in ? 255 : 0)) return;
  alpha_fading_ = false;
  alpha_fade_flag_.Cancel();
  if (!fade_in) {
    // Hidden at full alpha, so that showing it plainly later shows it whole.
    SetVisible(false);
    alpha_ = 255;
  }
}

void Control::SetAlpha(int alpha) {
  alpha_ = alpha & 0xFF;
  Invalidate();
}

SIZE Control::EstimateSize(SIZE available) {
  SIZE size = {fixed_width_, fixed_height_};
  if (size.cx != kDefaultAuto && size.cy != kDefaultAuto) return size;
  if (!reestimate_size_) return estimate_size_;
  reestimate_size_ = false;  // measuring text may ask for another round
  SIZE image = {};
  if (!bk_image_.IsEmpty()) {
    if (!bk_image_.GetInfo()) {
      bk_image_.SetInfo(
          GlobalManager::Instance().GetImage(ResolveImagePath(bk_image_.GetAttribute().file)));
    }
    if (const auto& info = bk_image_.GetInfo()) {
      image = {::MulDiv(info->width, 100, info->scale_percent),
               ::MulDiv(info->height, 100, info->scale_percent)};
    }
  }
  const SIZE text = EstimateText(available);
  if (size.cx == kDefaultAuto) size.cx = image.cx > text.cx ? image.cx : text.cx;
  if (size.cy == kDefaultAuto) size.cy = image.cy > text.cy ? image.cy : text.cy;
  estimate_size_ = size;
  return size;
}

SIZE Control::EstimateText(SIZE available) {
  (void)available;
  return SIZE();
}

Control* Control::FindControl(const FindFilter& filter, POINT point, UINT flags) {
  if ((flags & kFindVisible) && !IsVisible()) return nullptr;
  if ((flags & kFindEnabled) && !IsEnabled()) return nullptr;
  if ((flags & kFindHitTest) && (!mouse_enabled_ || !::PtInRect(&rect_, point))) return nullptr;
  if (filter && !filter(this)) return nullptr;
  return this;
}

void Control::SetEnabled(bool enabled) {
  const bool changed = enabled_ != enabled;
  enabled_ = enabled;
  SetState(enabled ? kControlStateNormal : kControlStateDisabled);
  if (changed) NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

std::wstring Control::GetToolTipText() const {
  if (!tooltip_text_id_.empty()) {
    const std::wstring text = GlobalManager::Instance().GetLanguageText(tooltip_text_id_);
    if (!text.empty()) return text;
  }
  return tooltip_text_;
}

int Control::GetAccessibleRole() const {
  return accessible_role_ >= 0 ? accessible_role_ : GetDefaultAccessibleRole();
}

bool Control::IsTabStop() const {
  switch (GetAccessibleRole()) {
    case kRolePushButton:
    case kRoleCheckButton:
    case kRoleRadioButton:
    case kRoleComboBox:
    case kRoleEditableText:
    case kRoleLink:
      break;
    default:
      return false;
  }
  return IsVisible() && IsEnabled() && keyboard_enabled_ && !no_focus_;
}

void Control::NotifyAccessible(DWORD event) {
  if (window_) window_->NotifyAccessible(event, this);
}

void Control::SetState(int state) {
  state_ = state;
  Invalidate();
}

void Control::SetBkColor(const std::wstring& color) {
  bk_color_ = color;
  Invalidate();
}

bool Control::HasHotState() const {
  return !state_colors_[kControlStateHot].empty() || !state_images_[kControlStateHot].IsEmpty() ||
         !fore_state_images_[kControlStateHot].IsEmpty();
}

void Control::AttachEvent(int type, EventCallback callback) {
  on_event_[type].push_back(std::move(callback));
}

void Control::AttachXmlEvent(int type, EventCallback callback) {
  on_xml_event_[type].push_back(std::move(callback));
}

void Control::AttachBubbledEvent(int type, EventCallback callback) {
  on_bubbled_event_[type].push_back(std::move(callback));
}

void Control::AttachXmlBubbledEvent(int type, EventCallback callback) {
  on_xml_bubbled_event_[type].push_back(std::move(callback));
}

bool Control::RunCallbacks(const EventMap& map, int type, EventArgs& args,
                           const std::weak_ptr<nbase::WeakFlag>& alive, bool& stopped) {
  const auto found = map.find(type);
  if (found == map.end()) return true;
  // A copy: a callback may attach handlers, or destroy the control and the map with it.
  const std::vector<EventCallback> callbacks = found->second;
  for (const EventCallback& callback : callbacks) {
    const bool go_on = callback(args);
    if (alive.expired()) {
      stopped = true;
      return false;
    }
    if (!go_on) return false;
  }
  return true;
}

void Control::HandleMessageTemplate(EventArgs& args) {
  if (args.type < kEventNone) {
    HandleMessage(args);
    return;
  }
  const std::weak_ptr<nbase::WeakFlag> alive = GetWeakFlag();
  bool destroyed = false;
  bool go_on = true;
  if (args.sender == this) {
    go_on = RunCallbacks(on_event_, args.type, args, alive, destroyed) &&
            RunCallbacks(on_event_, kEventAll, args, alive, destroyed) &&
            RunCallbacks(on_xml_event_, args.type, args, alive, destroyed) &&
            RunCallbacks(on_xml_event_, kEventAll, args, alive, destroyed);
    if (destroyed) return;
  }
  if (go_on) {
    go_on = RunCallbacks(on_bubbled_event_, args.type, args, alive, destroyed) &&
            RunCallbacks(on_bubbled_event_, kEventAll, args, alive, destroyed) &&
            RunCallbacks(on_xml_bubbled_event_, args.type, args, alive, destroyed) &&
            RunCallbacks(on_xml_bubbled_event_, kEventAll, args, alive, destroyed);
    if (destroyed) return;
  }
  if (go_on) HandleMessage(args);
}

void Control::HandleMessageTemplate(int type, WPARAM wparam, LPARAM lparam, wchar_t key,
                                    POINT point) {
  EventArgs args;
  args.type = type;
  args.sender = this;
  args.timestamp = ::GetTickCount();
  args.mouse_point = point;
  args.key = key;
  args.wparam = wparam;
  args.lparam = lparam;
  HandleMessageTemplate(args);
}

bool Control::IsPointOverMe(POINT point) const {
  if (window_ && window_->GetRoot()) {
    const Control* over = window_->FindControl(point);
    return over == this || IsAncestorOf(over);
  }
  return ::PtInRect(&rect_, point) != FALSE;
}

void Control::HandleMessage(EventArgs& args) {
  const int type = args.type;
  if (!IsEnabled() && type >= kEventMouseMove && type <= kEventMouseScrollWheel) return;
  switch (type) {
    case kEventMouseEnter: {
      const Control* over = window_ ? window_->FindControl(args.mouse_point) : nullptr;
      if (over && over != this && IsAncestorOf(over)) return;
      MouseEnter(args);
      return;
    }
    case kEventMouseLeave:
      if (IsPointOverMe(args.mouse_point)) return;
      MouseLeave(args);
      return;
    case kEventMouseButtonDown:
    case kEventInternalDoubleClick:
      ButtonDown(args);
      return;
    case kEventPointDown:
      if (receive_pointer_) {
        ButtonDown(args);
        return;
      }
      break;
    case kEventMouseButtonUp:
      ButtonUp(args);
      return;
    case kEventPointUp:
      if (receive_pointer_) {
        ButtonUp(args);
        return;
      }
      break;
    case kEventInternalSetFocus:
      state_ = kControlStateHot;
      hot_fade_flag_.Cancel();
      hot_fading_ = false;
      hot_alpha_ = 255;
      focused_ = true;
      Invalidate();
      return;
    case kEventInternalKillFocus:
      state_ = kControlStateNormal;
      hot_fade_flag_.Cancel();
      hot_fading_ = false;
      hot_alpha_ = 0;
      focused_ = false;
      Invalidate();
      return;
    case kEventSetCursor: {
      LPCWSTR cursor = IDC_ARROW;
      if (cursor_type_ == kCursorHand && IsEnabled()) cursor = IDC_HAND;
      if (cursor_type_ == kCursorHandIbeam) cursor = IDC_IBEAM;
      ::SetCursor(::LoadCursorW(nullptr, cursor));
      return;
    }
    case kEventInternalMenu:
      if (menu_used_) HandleMessageTemplate(kEventMouseMenu, args.wparam, args.lparam);
      return;
    default:
      break;
  }
  if (parent_) parent_->HandleMessageTemplate(args);
}

bool Control::MouseEnter(EventArgs& args) {
  (void)args;
  if (IsEnabled() && state_ == kControlStateNormal) {
    state_ = kControlStateHot;
    if (HasHotState()) RunHotFade(true);
    Invalidate();
    return true;
  }
  return false;
}

bool Control::MouseLeave(EventArgs& args) {
  (void)args;
  if (IsEnabled() && state_ == kControlStateHot) {
    state_ = kControlStateNormal;
    if (HasHotState()) RunHotFade(false);
    Invalidate();
    return true;
  }
  return false;
}

void Control::RunHotFade(bool fade_in) {
  const int target = fade_in ? 255 : 0;
  hot_fade_flag_.Cancel();
  hot_fading_ = false;
  if (!fade_.hot || !window_ || hot_alpha_ == target) {
    hot_alpha_ = target;
    return;
  }
  // About a sixth of a second from one end to the other; a reversal starts where it is.
  constexpr uint32_t kStepMs = 16;
  hot_fading_ = nbase::TimerQueue::GetInstance()->AddCancelableTimer(
      hot_fade_flag_.GetWeakFlag(), [this, target] { StepHotFade(target); }, kStepMs, -1);
  if (!hot_fading_) hot_alpha_ = target;
}

void Control::StepHotFade(int target) {
  constexpr int kStep = 26;
  hot_alpha_ = target > hot_alpha_ ? std::min(target, hot_alpha_ + kStep)
                                   : std::max(target, hot_alpha_ - kStep);
  if (hot_alpha_ == target) {
    hot_fading_ = false;
    hot_fade_flag_.Cancel();
  }
  Invalidate();
}

bool Control::ButtonDown(EventArgs& args) {
  (void)args;
  if (!IsEnabled()) return false;
  state_ = kControlStatePushed;
  mouse_captured_ = true;
  if (window_) window_->SetCapture(this);
  Invalidate();
  return true;
}

bool Control::ButtonUp(EventArgs& args) {
  if (!mouse_captured_) return false;
  mouse_captured_ = false;
  if (window_) window_->ReleaseCapture();
  const bool inside = ::PtInRect(&rect_, args.mouse_point) != FALSE;
  if (state_ != kControlStateDisabled) {
    state_ = inside ? kControlStateHot : kControlStateNormal;
    if (HasHotState()) RunHotFade(inside);
  }
  Invalidate();
  if (inside) Activate();  // may destroy this control; nothing follows
  return true;
}

void Control::Invalidate() {
  if (window_ && IsVisible()) window_->Invalidate(rect_);
}

void Control::Arrange() {
  // An auto-sized control changes its parent's size too: every auto-sized ancestor must be
  // measured again, and the first one with a settled size lays its children out anew.
  // A fixed-size child that changes size or visibility changes an auto-sized parent's size
  // as well, so the walk is the same for it.
  Control* target = this;
  if (fixed_width_ == kDefaultAuto || fixed_height_ == kDefaultAuto) reestimate_size_ = true;
  while (target->parent_) {
    Control* parent = target->parent_;
    const bool parent_auto =
        parent->GetFixedWidth() == kDefaultAuto || parent->GetFixedHeight() == kDefaultAuto;
    target = parent;
    if (!parent_auto) break;
    parent->reestimate_size_ = true;
  }
  target->is_arranged_ = true;
  if (window_) window_->NeedUpdate();
}

std::wstring Control::ResolveImagePath(const std::wstring& file) const {
  const bool absolute = (file.size() >= 2 && file[1] == L':') ||
                        (!file.empty() && (file[0] == L'\\' || file[0] == L'/'));
  if (absolute) return file;
  const std::wstring base =
      window_ ? window_->GetWindowResourcePath() : GlobalManager::Instance().GetResourcePath();
  return base + file;
}

bool Control::DrawImage(IRenderContext* context, Image& image) {
  return DrawImage(context, image, std::wstring());
}

bool Control::DrawImage(IRenderContext* context, Image& image, const std::wstring& modifier) {
  return DrawImageWith(context, image, modifier, 255);
}

bool Control::DrawImageFaded(IRenderContext* context, Image& image, BYTE alpha) {
  return DrawImageWith(context, image, std::wstring(), alpha);
}

bool Control::DrawImageWith(IRenderContext* context, Image& image, const std::wstring& modifier,
                            BYTE alpha) {
  if (!context || image.IsEmpty()) return false;
  ImageAttribute attribute = image.GetAttribute();
  if (!modifier.empty()) {
    ImageAttribute change;
    change.SetImageString(modifier, DpiManager::Instance().GetAppliedScale());
    if (!::IsRectEmpty(&change.dest)) attribute.dest = change.dest;
    if (!::IsRectEmpty(&change.source)) attribute.source = change.source;
  }
  if (!image.GetInfo()) {
    image.SetInfo(GlobalManager::Instance().GetImage(ResolveImagePath(attribute.file)));
  }
  const std::shared_ptr<ImageInfo>& info = image.GetInfo();
  const HBITMAP bitmap = info ? info->GetBitmap(image.GetCurrentFrame()) : nullptr;
  if (!bitmap) return false;
  RECT dest = rect_;
  const RECT& narrowed = attribute.dest;
  if (!::IsRectEmpty(&narrowed)) {
    dest = {rect_.left + narrowed.left, rect_.top + narrowed.top, rect_.left + narrowed.right,
            rect_.top + narrowed.bottom};
  }
  RECT source = attribute.source;
  const int variant = info->scale_percent;
  if (::IsRectEmpty(&source)) {
    source = {0, 0, info->width, info->height};
  } else if (variant != 100) {
    // Markup names pieces of the plain picture; a larger variant holds them that much larger.
    source = {::MulDiv(source.left, variant, 100), ::MulDiv(source.top, variant, 100),
              ::MulDiv(source.right, variant, 100), ::MulDiv(source.bottom, variant, 100)};
  }
  const BYTE fade = static_cast<BYTE>(attribute.fade * alpha / 255);
  context->DrawImage(paint_rect_, bitmap, info->has_alpha, dest, source, attribute.corner, fade,
                     attribute.xtiled, attribute.ytiled, variant,
                     DpiManager::Instance().GetAppliedScale());
  return true;
}

void Control::Paint(IRenderContext* context, const RECT& paint_rect) {
  if (!IsVisible() || !::IntersectRect(&paint_rect_, &paint_rect, &rect_)) return;
  PaintBkColor(context);
  PaintBkImage(context);
  PaintStatusImage(context);
  PaintText(context);
  PaintBorder(context);
}

void Control::AlphaPaint(IRenderContext* context, const RECT& paint_rect) {
  // A control with rounded corners keeps its own painting and its children's inside them.
  std::optional<ScopedClip> round_clip;
  if (border_round_.cx > 0 && border_round_.cy > 0 && IsVisible()) {
    round_clip.emplace(context, rect_, border_round_);
  }
  if (alpha_ >= 255) {
    Paint(context, paint_rect);
    return;
  }
  RECT area = {};
  if (alpha_ <= 0 || !IsVisible() || !::IntersectRect(&area, &paint_rect, &rect_)) return;
  IRenderFactory* factory = GlobalManager::Instance().GetRenderFactory();
  const gdip::Api& api = gdip::Get();
  if (!factory || !api.Loaded()) return;
  // A layer the size of the whole surface keeps every coordinate as it is.
  std::unique_ptr<IRenderContext> layer = factory->CreateRenderContext();
  if (!layer || !layer->Resize(context->GetWidth(), context->GetHeight())) return;
  layer->SetRenderTransparent(true);
  Paint(layer.get(), area);
  ::GdiFlush();
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(alpha_), AC_SRC_ALPHA};
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  api.AlphaBlend(context->GetDC(), area.left, area.top, width, height, layer->GetDC(), area.left,
                 area.top, width, height, blend);
}

namespace {

// Fills the part of `area` that lies in the paint area only: a partial repaint must not cover
// children outside it, which are not painted again in that pass.
void FillClipped(IRenderContext* context, const RECT& paint_area, const RECT& area, DWORD color) {
  RECT clipped = {};
  if (::IntersectRect(&clipped, &paint_area, &area)) context->DrawColor(clipped, color);
}

}  // namespace

void Control::PaintBkColor(IRenderContext* context) {
  if (bk_color_.empty()) return;
  const DWORD color = GlobalManager::Instance().GetTextColor(bk_color_);
  if (color) FillClipped(context, paint_rect_, rect_, color);
}

void Control::PaintBkImage(IRenderContext* context) {
  DrawImage(context, bk_image_);
  // Playing starts with the first paint, so pictures that are never seen cost no timer.
  if (!image_playing_ && !image_play_finished_ && bk_image_.GetFrameCount() > 1) {
    StartImagePlay();
  }
}

void Control::StartImagePlay() {
  if (image_playing_ || !window_ || bk_image_.GetFrameCount() < 2) return;
  image_playing_ = true;
  ScheduleNextImageFrame();
}

void Control::StopImagePlay() {
  image_timer_flag_.Cancel();
  image_playing_ = false;
}

void Control::ScheduleNextImageFrame() {
  auto due = [this] { OnImageFrameDue(); };  // dies with the flag, which dies with this control
  if (!nbase::TimerQueue::GetInstance()->AddCancelableTimer(
          image_timer_flag_.GetWeakFlag(), due,
          static_cast<uint32_t>(bk_image_.GetCurrentFrameDelay()), 0)) {
    image_playing_ = false;
  }
}

void Control::OnImageFrameDue() {
  // A hidden control pauses; its next paint resumes from the frame it stopped on.
  if (!image_playing_ || !window_ || !IsVisible()) {
    image_playing_ = false;
    return;
  }
  const size_t count = bk_image_.GetFrameCount();
  size_t next = bk_image_.GetCurrentFrame() + 1;
  if (next >= count) {
    const int play_count = bk_image_.GetAttribute().play_count;
    if (play_count > 0 && ++image_loops_done_ >= play_count) {
      image_playing_ = false;
      image_play_finished_ = true;
      return;
    }
    next = 0;
  }
  bk_image_.SetCurrentFrame(next);
  Invalidate();
  ScheduleNextImageFrame();
}

void Control::PaintStatusImage(IRenderContext* context) {
  const int state = state_ & 3;
  if (fade_.hot && HasHotState() && hot_alpha_ < 255 &&
      (state == kControlStateNormal || state == kControlStateHot)) {
    // Mid-fade: the normal look underneath and the hot look over it at the hot alpha. Once
    // the fade is complete the hot state paints as it does without one.
    GlobalManager& global = GlobalManager::Instance();
    if (!state_colors_[kControlStateNormal].empty()) {
      const DWORD color = global.GetTextColor(state_colors_[kControlStateNormal]);
      if (color) FillClipped(context, paint_rect_, rect_, color);
    }
    DrawImage(context, state_images_[kControlStateNormal]);
    DrawImage(context, fore_state_images_[kControlStateNormal]);
    if (hot_alpha_ <= 0) return;
    const BYTE alpha = static_cast<BYTE>(hot_alpha_);
    if (!state_colors_[kControlStateHot].empty()) {
      const DWORD color = global.GetTextColor(state_colors_[kControlStateHot]);
      const DWORD faded = ((color >> 24) * alpha / 255) << 24;
      if (faded) FillClipped(context, paint_rect_, rect_, faded | (color & 0x00FFFFFF));
    }
    DrawImageFaded(context, state_images_[kControlStateHot], alpha);
    DrawImageFaded(context, fore_state_images_[kControlStateHot], alpha);
    return;
  }
  if (!state_colors_[state].empty()) {
    const DWORD color = GlobalManager::Instance().GetTextColor(state_colors_[state]);
    if (color) FillClipped(context, paint_rect_, rect_, color);
  }
  if (!DrawImage(context, state_images_[state]) && state != kControlStateNormal) {
    DrawImage(context, state_images_[kControlStateNormal]);
  }
  DrawImage(context, fore_state_images_[state]);
}

void Control::PaintBorder(IRenderContext* context) {
  if (border_color_.empty()) return;
  const DWORD color = GlobalManager::Instance().GetTextColor(border_color_);
  if (!color) return;
  RECT s = border_sizes_;
  if (border_size_ > 0) s = {border_size_, border_size_, border_size_, border_size_};
  const RECT& r = rect_;
  if (border_size_ > 0 && border_round_.cx > 0 && border_round_.cy > 0) {
    context->DrawRoundRect(r, border_round_, border_size_, color);
    return;
  }
  // Top and bottom take the corners, so a translucent border is not doubled there.
  const LONG inner_top = r.top + std::max<LONG>(s.top, 0);
  const LONG inner_bottom = r.bottom - std::max<LONG>(s.bottom, 0);
  if (s.top > 0) FillClipped(context, paint_rect_, {r.left, r.top, r.right, inner_top}, color);
  if (s.bottom > 0) {
    FillClipped(context, paint_rect_, {r.left, inner_bottom, r.right, r.bottom}, color);
  }
  if (s.left > 0) {
    FillClipped(context, paint_rect_, {r.left, inner_top, r.left + s.left, inner_bottom}, color);
  }
  if (s.right > 0) {
    FillClipped(context, paint_rect_, {r.right - s.right, inner_top, r.right, inner_bottom}, color);
  }
}

void Control::RescaleDpi(int from_scale, int to_scale) {
  if (from_scale <= 0 || to_scale <= 0 || from_scale == to_scale) return;
  auto scale = [&](int value) { return ::MulDiv(value, to_scale, from_scale); };
  // Stretch, auto and the "no limit" values are kinds rather than lengths.
  auto scale_length = [&](int& value) {
    if (value > 0 && value < 9999999) value = scale(value);
  };
  scale_length(fixed_width_);
  scale_length(fixed_height_);
  scale_length(min_width_);
  scale_length(max_width_);
  scale_length(min_height_);
  scale_length(max_height_);
  margin_ = {scale(margin_.left), scale(margin_.top), scale(margin_.right), scale(margin_.bottom)};
  border_size_ = scale(border_size_);
  border_sizes_ = {scale(border_sizes_.left), scale(border_sizes_.top), scale(border_sizes_.right),
                   scale(border_sizes_.bottom)};
  border_round_ = {scale(border_round_.cx), scale(border_round_.cy)};
  // Pictures are chosen for the scale; the next paint picks them again.
  bk_image_.SetInfo(nullptr);
  for (int state = 0; state < 4; ++state) {
    state_images_[state].SetInfo(nullptr);
    fore_state_images_[state].SetInfo(nullptr);
  }
  reestimate_size_ = true;
  Arrange();
}

}  // namespace ui
