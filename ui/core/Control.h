// ui::Control, the base of every windowless element: attributes, state, images and events.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/WeakCallback.h"
#include "ui/render/Image.h"

namespace ui {

class Box;
class Control;
class Window;
class IRenderContext;

constexpr int kDefaultStretch = -1;
constexpr int kDefaultAuto = -2;

enum ControlState {
  kControlStateNormal = 0,
  kControlStateHot = 1,
  kControlStatePushed = 2,
  kControlStateDisabled = 3
};
enum HorAlign { kHorAlignLeft = 0, kHorAlignCenter = 1, kHorAlignRight = 2 };
enum VerAlign { kVerAlignTop = 0, kVerAlignCenter = 1, kVerAlignBottom = 2 };
enum CursorType { kCursorArrow = 0, kCursorHand = 1, kCursorHandIbeam = 2 };
// What a control is to a screen reader; the window maps these to the platform's roles.
enum AccessibleRole {
  kRoleNone = 0,
  kRolePushButton,
  kRoleCheckButton,
  kRoleRadioButton,
  kRoleComboBox,
  kRoleEditableText,
  kRoleProgressBar,
  kRoleStaticText,
  kRoleLink,
  kRoleListItem,
  kRoleList,
};

enum EventType {
  kEventInternalDoubleClick = 0,  // internal: a button press that the window forwards
  kEventInternalMenu = 1,
  kEventInternalSetFocus = 2,
  kEventInternalKillFocus = 3,
  kEventNone = 4,
  kEventAll = 6,
  kEventKeyDown = 8,
  kEventKeyUp = 9,
  kEventChar = 10,
  kEventSystemKey = 11,
  kEventMouseMove = 14,
  kEventMouseEnter = 15,
  kEventMouseLeave = 16,
  kEventMouseHover = 17,
  kEventMouseButtonDown = 18,
  kEventMouseButtonUp = 19,
  kEventMouseRightButtonDown = 20,
  kEventMouseDoubleClick = 22,
  kEventMouseMenu = 23,
  kEventMouseScrollWheel = 24,
  kEventPointDown = 27,
  kEventPointUp = 28,
  kEventSetFocus = 36,
  kEventKillFocus = 37,
  kEventWindowClose = 39,
  kEventSetCursor = 40,
  kEventClick = 41,
  kEventSelect = 42,
  kEventUnSelect = 43,
  kEventTextChange = 44,
  kEventReturn = 45,
  kEventTab = 46,
  kEventCustomLinkClick = 47,
  kEventScrollChange = 50,
  kEventValueChange = 51,
  // The input method's composition starts and ends in the focused control.
  kEventImeStartComposition = 52,
  kEventImeEndComposition = 53,
};

// The markup name of an event type; unknown names give kEventNone.
EventType EventTypeFromString(const std::wstring& name);

struct EventArgs {
  int type = kEventNone;
  Control* sender = nullptr;
  DWORD timestamp = 0;
  POINT mouse_point = {};
  wchar_t key = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

using EventCallback = std::function<bool(EventArgs&)>;
// Extra test a hit-test search applies to each candidate; null accepts every control.
using FindFilter = std::function<bool(Control*)>;

// Independent bits of a control search.
enum FindFlags : UINT {
  kFindVisible = 0x01,
  kFindEnabled = 0x02,
  kFindHitTest = 0x04,
  kFindTopFirst = 0x08,
  kFindMeFirst = 0x10,
};
using EventMap = std::map<int, std::vector<EventCallback>>;

// UI thread only. Owned by its parent box (or the window for the root).
class Control : public nbase::SupportWeakCallback {
 public:
  Control();
  ~Control() override;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  virtual std::wstring GetType() const { return L"Control"; }
  virtual bool IsBox() const { return false; }

  // The single entry point for markup and classes; names no class accepts are ignored.
  virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
  void ApplyAttributeList(const std::wstring& list);
  void SetClass(const std::wstring& class_names);

  // Tree and window.
  Window* GetWindow() const { return window_; }
  virtual void SetWindow(Window* window, Box* parent, bool init = true);
  Box* GetParent() const { return parent_; }
  bool IsAncestorOf(const Control* other) const;

  const std::wstring& GetName() const { return name_; }
  void SetName(const std::wstring& name) { name_ = name; }
  const std::wstring& GetDataID() const { return data_id_; }

  // Size rules.
  int GetFixedWidth() const { return fixed_width_; }
  // `arrange` false changes the size silently (a layout trying a width while it measures).
  void SetFixedWidth(int width, bool need_scale = true, bool arrange = true);
  int GetFixedHeight() const { return fixed_height_; }
  void SetFixedHeight(int height, bool need_scale = true);
  int GetMinWidth() const { return min_width_; }
  int GetMaxWidth() const { return max_width_; }
  int GetMinHeight() const { return min_height_; }
  int GetMaxHeight() const { return max_height_; }
  const RECT& GetMargin() const { return margin_; }
  void SetMargin(const RECT& margin, bool need_scale = true);
  int GetHorAlignType() const { return halign_; }
  int GetVerAlignType() const { return valign_; }
  bool IsFloat() const { return float_; }
  const RECT& GetPos() const { return rect_; }
  virtual void SetPos(const RECT& rect);

  // The size this control wants inside `available`: fixed sizes as they are, -1 for stretch,
  // auto sizes measured from the background image and the text. Cached until re-estimation.
  virtual SIZE EstimateSize(SIZE available);
  // The size of the control's text; controls without text have none.
  virtual SIZE EstimateText(SIZE available);
  bool IsReEstimateSize() const { return reestimate_size_; }
  void SetReEstimateSize(bool reestimate) { reestimate_size_ = reestimate; }
  SIZE GetEstimateCache() const { return estimate_size_; }
  void SetEstimateCache(SIZE size) { estimate_size_ = size; }

  // The control, or a descendant, at the point under the flags' rules.
  virtual Control* FindControl(const FindFilter& filter, POINT point, UINT flags);

  // Visibility and input.
  // Visible by its own flag and by every ancestor's.
  bool IsVisible() const { return visible_ && intern_visible_; }
  bool IsOwnVisible() const { return visible_; }
  virtual void SetVisible(bool visible);
  virtual void SetInternVisible(bool visible);
  // With the alpha fade on ("fadealpha") the control fades in or out before it shows or
  // hides; without it this is SetVisible.
  void SetFadeVisible(bool visible);
  bool IsAlphaFading() const { return alpha_fading_; }
  bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  bool IsMouseEnabled() const { return mouse_enabled_; }
  void SetMouseEnabled(bool enabled) { mouse_enabled_ = enabled; }
  bool IsKeyboardEnabled() const { return keyboard_enabled_; }
  void SetKeyboardEnabled(bool enabled) { keyboard_enabled_ = enabled; }
  // Whether a click may act on the control now.
  virtual bool IsActivatable() const { return IsVisible() && IsEnabled(); }
  // What a click does; the base does nothing.
  virtual void Activate() {}
  bool IsNoFocus() const { return no_focus_; }
  bool IsContextMenuUsed() const { return menu_used_; }
  bool IsReceivePointer() const { return receive_pointer_; }
  bool IsFocused() const { return focused_; }
  bool IsCacheEnabled() const { return use_cache_; }

  // Visual state.
  int GetState() const { return state_; }
  void SetState(int state);
  int GetHotAlpha() const { return hot_alpha_; }
  int GetAlpha() const { return alpha_; }
  void SetAlpha(int alpha);
  POINT GetRenderOffset() const { return render_offset_; }
  int GetCursorType() const { return cursor_type_; }

  const std::wstring& GetBkColor() const { return bk_color_; }
  void SetBkColor(const std::wstring& color);
  const std::wstring& GetStateColor(int state) const { return state_colors_[state & 3]; }
  const std::wstring& GetBorderColor() const { return border_color_; }
  int GetBorderSize() const { return border_size_; }
  const RECT& GetBorderSizes() const { return border_sizes_; }
  SIZE GetBorderRound() const { return border_round_; }

  Image& GetBkImage() { return bk_image_; }
  // A background picture with several frames plays once it is painted, each frame for its own
  // delay, looping endlessly or `playcount` times, after which it rests on the last frame.
  bool IsImagePlaying() const { return image_playing_; }
  void StartImagePlay();
  void StopImagePlay();
  Image& GetStateImage(int state) { return state_images_[state & 3]; }
  Image& GetForeStateImage(int state) { return fore_state_images_[state & 3]; }
  virtual bool HasHotState() const;

  // The tooltip in the current language: a text id is looked up again at every call.
  std::wstring GetToolTipText() const;
  const std::wstring& GetToolTipTextId() const { return tooltip_text_id_; }

  // Fade settings from the markup. The hot fade and the alpha fade (SetFadeVisible) run here;
  // the size and slide-in fades are kept for the markup but not animated.
  struct FadeSettings {
    bool hot = false;
    bool alpha = false;
    bool width = false;
    bool height = false;
    bool from_left = false;
    bool from_right = false;
    bool from_top = false;
    bool from_bottom = false;
  };
  const FadeSettings& GetFadeSettings() const { return fade_; }
  // Whether entering and leaving cross-fade the hot look instead of switching it.
  void SetHotFade(bool on) { fade_.hot = on; }
  bool IsHotFading() const { return hot_fading_; }

  // Keyboard and screen readers.
  // Whether Tab stops here: a control that takes input and is visible, enabled and focusable.
  bool IsTabStop() const;
  // Whether the focused control uses `key` itself; the window acts on the others (Tab moves
  // the focus, Return presses the default button, Escape closes).
  virtual bool WantsKey(UINT key) const {
    (void)key;
    return false;
  }
  // Return presses the visible default button ("default" in the markup) when the focused
  // control does not want it.
  bool IsDefaultButton() const { return default_button_; }
  // The role the markup gives ("role"), else the one of the control's class.
  int GetAccessibleRole() const;
  // The name a screen reader speaks: the control's text, else its tooltip.
  virtual std::wstring GetAccessibleName() const { return GetToolTipText(); }
  virtual std::wstring GetAccessibleValue() const { return std::wstring(); }
  virtual bool IsAccessibleChecked() const { return false; }

  // Events.
  void AttachEvent(int type, EventCallback callback);
  void AttachXmlEvent(int type, EventCallback callback);
  void AttachBubbledEvent(int type, EventCallback callback);
  void AttachXmlBubbledEvent(int type, EventCallback callback);
  void AttachAllEvents(EventCallback callback) { AttachEvent(kEventAll, std::move(callback)); }
  // Runs the handlers in their order and then the control's own handling.
  void HandleMessageTemplate(EventArgs& args);
  void HandleMessageTemplate(int type, WPARAM wparam = 0, LPARAM lparam = 0, wchar_t key = 0,
                             POINT point = POINT());

  void Invalidate();
  void Arrange();
  bool IsArranged() const { return is_arranged_; }
  void SetArranged(bool arranged) { is_arranged_ = arranged; }

  // Rescales the lengths stored from markup (already scaled) from one DPI scale in percent to
  // another, for a window that moved to a monitor of another DPI; boxes pass it on.
  virtual void RescaleDpi(int from_scale, int to_scale);

  // Painting; the render context comes from the window.
  virtual void Paint(IRenderContext* context, const RECT& paint_rect);
  // Paint at the control's alpha: a translucent control and its subtree are drawn apart and
  // blended in, so overlapping parts do not show through each other.
  void AlphaPaint(IRenderContext* context, const RECT& paint_rect);
  bool DrawImage(IRenderContext* context, Image& image);
  // The same with `modifier`, an image string whose dest and source override the image's own
  // for this one drawing.
  bool DrawImage(IRenderContext* context, Image& image, const std::wstring& modifier);

 protected:
  virtual void HandleMessage(EventArgs& args);
  virtual bool MouseEnter(EventArgs& args);
  virtual bool MouseLeave(EventArgs& args);
  virtual bool ButtonDown(EventArgs& args);
  virtual bool ButtonUp(EventArgs& args);
  virtual void PaintBkColor(IRenderContext* context);
  virtual void PaintBkImage(IRenderContext* context);
  virtual void PaintStatusImage(IRenderContext* context);
  virtual void PaintText(IRenderContext* context) { (void)context; }
  virtual void PaintBorder(IRenderContext* context);
  virtual int GetDefaultAccessibleRole() const { return kRoleNone; }
  // Tells screen readers, through the window, that something they read of this control changed.
  void NotifyAccessible(DWORD event);
  // Draws `image` with its fade scaled by `alpha`, for the layers of a cross-fade.
  bool DrawImageFaded(IRenderContext* context, Image& image, BYTE alpha);
  // Moves the hot alpha to 255 or 0 in steps, repainting each; jumps without a hot fade.
  void RunHotFade(bool fade_in);

  // Whether the point is over this control or one of its descendants.
  bool IsPointOverMe(POINT point) const;
  std::wstring ResolveImagePath(const std::wstring& file) const;

  Window* window_ = nullptr;
  Box* parent_ = nullptr;
  RECT rect_ = {};
  RECT paint_rect_ = {};

 private:
  static bool RunCallbacks(const EventMap& map, int type, EventArgs& args,
                           const std::weak_ptr<nbase::WeakFlag>& alive, bool& stopped);
  void ScheduleNextImageFrame();
  void OnImageFrameDue();
  void StepHotFade(int target);
  void StepAlphaFade(bool fade_in);
  bool DrawImageWith(IRenderContext* context, Image& image, const std::wstring& modifier,
                     BYTE alpha);

  std::wstring name_;
  std::wstring data_id_;
  int fixed_width_ = kDefaultStretch;
  int fixed_height_ = kDefaultStretch;
  int min_width_ = -1;
  int max_width_ = 9999999;
  int min_height_ = -1;
  int max_height_ = 9999999;
  RECT margin_ = {};
  int halign_ = kHorAlignLeft;
  int valign_ = kVerAlignTop;
  bool float_ = false;
  bool is_arranged_ = true;

  bool visible_ = true;
  bool intern_visible_ = true;
  bool reestimate_size_ = true;
  SIZE estimate_size_ = {};
  bool enabled_ = true;
  bool mouse_enabled_ = true;
  bool keyboard_enabled_ = true;
  bool no_focus_ = false;
  bool menu_used_ = false;
  bool receive_pointer_ = false;
  bool focused_ = false;
  bool use_cache_ = false;
  bool mouse_captured_ = false;

  int state_ = kControlStateNormal;
  int hot_alpha_ = 0;
  bool hot_fading_ = false;
  nbase::WeakCallbackFlag hot_fade_flag_;
  int alpha_ = 255;
  bool alpha_fading_ = false;
  nbase::WeakCallbackFlag alpha_fade_flag_;
  POINT render_offset_ = {};
  int cursor_type_ = kCursorArrow;

  std::wstring bk_color_;
  std::wstring border_color_;
  std::wstring state_colors_[4];
  int border_size_ = 0;
  RECT border_sizes_ = {};
  SIZE border_round_ = {};

  Image bk_image_;
  bool image_playing_ = false;
  bool image_play_finished_ = false;
  int image_loops_done_ = 0;
  nbase::WeakCallbackFlag image_timer_flag_;
  Image state_images_[4];
  Image fore_state_images_[4];

  std::wstring tooltip_text_;
  std::wstring tooltip_text_id_;
  FadeSettings fade_;

  int accessible_role_ = -1;  // -1: the class's own
  bool default_button_ = false;

  EventMap on_event_;
  EventMap on_xml_event_;
  EventMap on_bubbled_event_;
  EventMap on_xml_bubbled_event_;
};

}  // namespace ui
