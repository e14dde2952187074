// ui::Window: the native borderless window that hosts a control tree, routes input and paints.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/UniqueResource.h"
#include "base/WeakCallback.h"

namespace ui {

class Box;
class Control;
class IRenderContext;
class WindowAccessible;

// The settings a Window element of the markup carries, DPI-scaled when set.
struct WindowSettings {
  SIZE init_size = {};
  double height_percent = 0;
  RECT size_box = {};
  RECT caption = {};
  std::wstring text_id;
  SIZE round_corner = {};
  SIZE min_info = {};
  SIZE max_info = {};
  bool shadow_attached = true;
  bool use_default_shadow = true;
  std::wstring shadow_image = L"file='../public/bk/bk_shadow.png' corner='30,30,30,30'";
  RECT shadow_corner = {14, 14, 14, 14};  // as written; scaled where it is used
  RECT alpha_fix_corner = {};
};

// UI thread only. What needs no HWND works before one exists, so the builder and controls can
// use a window that has not been created yet.
class Window : public nbase::SupportWeakCallback {
 public:
  Window();
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND GetHWND() const { return hwnd_; }

  // Registers the class and creates the native window; null on failure.
  HWND Create(HWND parent, const std::wstring& title, DWORD style, DWORD ex_style,
              bool is_layered = true, const RECT& rect = RECT());
  // Posts WM_CLOSE carrying the code; the code is kept once the close arrives.
  virtual void Close(UINT code = 0);
  UINT GetCloseCode() const { return close_code_; }
  void ShowWindow(bool show = true, bool take_focus = true);
  void CenterWindow();
  // The top-left corner that centers a window of this size in the work area of the monitor the
  // window is on, kept inside the area where the window is larger.
  POINT CenteredPlace(SIZE size) const;
  // Moves the window (never resizes it) so all of it lies in its monitor's work area, as far
  // as it fits: a window that grew past the bottom moves up.
  void KeepInWorkArea();
  // Where `window` goes to lie inside `area`: moved by as little as possible, its top-left
  // corner kept inside when it is larger than the area.
  static RECT FitIntoArea(const RECT& window, const RECT& area);
  bool IsLayeredWindow() const { return is_layered_; }

  // Takes ownership of the root and gives the tree this window.
  void AttachRoot(Control* root);
  Control* GetRoot() const { return root_.get(); }
  Control* FindControl(const std::wstring& name) const;
  Control* FindControl(POINT point) const;

  void SetAttribute(const std::wstring& name, const std::wstring& value);
  const WindowSettings& GetSettings() const { return settings_; }

  void AddClass(const std::wstring& name, const std::wstring& attributes);
  std::wstring GetClassAttributes(const std::wstring& name) const;

  // The folder under the resource path that holds this window's layout and pictures.
  virtual std::wstring GetSkinFolder() { return std::wstring(); }
  std::wstring GetWindowResourcePath();

  IRenderContext* GetRenderContext() const { return render_context_.get(); }
  // Paints the whole tree into `context` as a full repaint of the present state would paint
  // the window's own surface, leaving that surface alone: what partial repaints built up can
  // be compared with it. False before the window has painted.
  bool RenderFull(IRenderContext* context);
  void Invalidate(const RECT& rect);
  // Lays the tree out again before the next paint.
  void NeedUpdate();

  void SetCapture(Control* control);
  void ReleaseCapture();
  Control* GetCapture() const { return capture_; }
  Control* GetHoverControl() const { return hover_; }
  void SetHoverControl(Control* control) { hover_ = control; }
  Control* GetFocus() const { return focus_; }
  void SetFocusControl(Control* control);

  // Keyboard. Tab and Shift+Tab move the focus through the tab stops in the tree's order,
  // wrapping at the ends; false when there is none.
  bool MoveFocus(bool backward);
  // The first visible, enabled control the markup marks "default", or null.
  Control* GetDefaultButton() const;
  // A mark around the focused control shows once the keyboard moved the focus, and goes when
  // the mouse presses (the skin's global "focuscolor").
  bool IsFocusMarkShown() const { return focus_mark_shown_; }
  void ShowFocusMark(bool show);
  // Where the mark of a control is drawn: around it, clear of its edge.
  RECT GetFocusMarkRect(const Control* control) const;

  // Posted by the accessible object to run a default action: the child id as wParam.
  static constexpr UINT kAccessibleActionMessage = WM_APP + 3;
  // Screen readers. Every control with a role, shown or not, in the tree's order: the index
  // plus one is its child id, so ids stay put while pages change.
  std::vector<Control*> GetAccessibleControls() const;
  // Raises a WinEvent for the control (its child id; the window itself for null).
  void NotifyAccessible(DWORD event, Control* control);
  // What the client area itself is to a screen reader (kRoleNone: a plain client) and its name
  // (empty: the window's title). A popup that is one list says so.
  virtual int GetAccessibleClientRole() const;
  virtual std::wstring GetAccessibleClientName() const { return std::wstring(); }

  // The tooltip control that shows a hovered control's tooltip text; null until one was needed.
  HWND GetTooltipWindow() const { return tooltip_hwnd_; }

  // Sends an event from a control through its handlers and its own handling.
  void SendNotify(Control* control, int type, WPARAM wparam = 0, LPARAM lparam = 0);

  // Calls `callback` every `interval_ms` (repeat_count as the timer queue takes it) while the
  // control lives and until KillControlTimers.
  bool AddControlTimer(Control* control, std::function<void()> callback, UINT interval_ms,
                       int repeat_count = -1);
  void KillControlTimers(Control* control);

  // Destroys a removed control on a later message, out of the event that removed it.
  void AddDelayedCleanup(Control* control);

  void AddOptionGroup(const std::wstring& group, Control* option);
  void RemoveOptionGroup(const std::wstring& group, Control* option);
  std::vector<Control*> GetOptionGroup(const std::wstring& group) const;

  // Forgets pointers to a control that is being destroyed or hidden.
  void OnControlDestroyed(Control* control);
  void OnControlHidden(Control* control);

 protected:
  virtual std::wstring GetWindowClassName() const { return L"UIWindow"; }
  virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
  // The window's own processing; what it does not take goes to DefWindowProcW.
  virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Runs after the native window is gone; the object may delete itself here.
  virtual void OnFinalMessage(HWND hwnd) { (void)hwnd; }
  // Called once, after the first layout of the tree.
  virtual void OnInitLayout() {}
  // Escape that no control wants; true when the window acted on it. The base does nothing.
  virtual bool OnEscapeKey() { return false; }
  // Keeps the HWND, makes the render context and opts into touch input.
  void InitWnd(HWND hwnd);

  WindowSettings settings_;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  static LRESULT Dispatch(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  bool RegisterWindowClass();
  void OnPaint();
  void OnLayeredPaint();
  void ScheduleLayeredPaint(const RECT& rect);
  // Adds what waits to be drawn to `update`, and empties the record.
  void TakeLayeredDirty(RECT* update);
  // Lays out what is pending and paints `update`; a layered window shows itself, any other
  // copies to `paint_dc`.
  void PaintTree(RECT update, HDC paint_dc);
  // Clears (when layered) and paints the part of the client area in `update`, nothing else.
  void RenderUpdate(IRenderContext* context, const RECT& update);
  void ArrangePending();
  void OnMouseMove(POINT point, WPARAM key_state);
  void OnMouseLeaveWindow();
  void SendMouseLeaveUpTo(Control* old_hover, Control* new_hover, POINT point);
  void ShowTooltip(Control* control, POINT point);
  void HideTooltip();
  void RunDelayedCleanup();
  // Tab, Return, Escape and the keys the focused control takes; true when used.
  bool OnKeyDown(UINT message, WPARAM key, LPARAM lparam);
  void InvalidateFocusMark(const Control* control);
  void PaintFocusMark(IRenderContext* context, const RECT& update);
  // WM_GETOBJECT: the accessible object of the client area.
  LRESULT OnGetObject(WPARAM wparam, LPARAM lparam);
  // Runs a screen reader's default action on the window's own thread, out of its call.
  void OnAccessibleAction(WPARAM child_id);
  void DetachAccessible();

  HWND hwnd_ = nullptr;
  std::unique_ptr<Control> root_;
  std::map<std::wstring, std::wstring> classes_;
  std::unique_ptr<IRenderContext> render_context_;
  bool is_layered_ = false;
  BYTE window_alpha_ = 255;
  bool need_arrange_ = false;
  bool first_layout_done_ = false;
  bool first_paint_pending_ = false;
  RECT layered_dirty_ = {};
  bool layered_paint_posted_ = false;
  // Set while ShowWindow shows a layered window it has just drawn, so showing it is not
  // followed by drawing it all again.
  bool drawn_before_show_ = false;
  bool mouse_tracking_ = false;
  HWND tooltip_hwnd_ = nullptr;  // owned by the native window, which destroys it
  bool tooltip_added_ = false;
  UINT close_code_ = 0;
  Control* capture_ = nullptr;
  Control* hover_ = nullptr;
  Control* focus_ = nullptr;
  Control* pressed_ = nullptr;
  bool focus_mark_shown_ = false;
  WPARAM swallow_char_ = 0;  // the character of a key the window took at key down
  nbase::ComPtr<WindowAccessible> accessible_;  // dropped with the native window
  std::vector<Control*> delayed_cleanup_;       // owned until the cleanup message
  std::map<std::wstring, std::vector<Control*>> option_groups_;
  std::map<Control*, std::unique_ptr<nbase::WeakCallbackFlag>> timer_flags_;
};

}  // namespace ui
