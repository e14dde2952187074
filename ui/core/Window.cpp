// The native window host: creation, message routing to controls, painting, timers, cleanup.
#include "ui/core/Window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/ExceptionPolicy.h"
#include "base/NumberList.h"
#include "base/SystemLibrary.h"
#include "base/TimerQueue.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/WindowAccessible.h"
#include "ui/core/GlobalManager.h"
#include "ui/render/RenderContext.h"
#include "ui/render/RenderFactory.h"

namespace ui {
namespace {

const wchar_t kWindowProperty[] = L"WndX";
// Posted to itself to destroy removed controls once the current event is over.
constexpr UINT kDelayedCleanupMessage = WM_APP + 1;
// A layered window draws itself: the system sends it no paint request until its first
// UpdateLayeredWindow (never, on some systems), so invalidations come back as this message.
constexpr UINT kLayeredPaintMessage = WM_APP + 2;

void ScaleEdges(RECT& rect) {
  DpiManager::Instance().ScaleRect(rect);
}

POINT PointFromLParam(LPARAM lparam) {
  return {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
}

}  // namespace

Window::Window() = default;

Window::~Window() {
  // Controls may ask the window about capture or hover while they are destroyed.
  capture_ = nullptr;
  hover_ = nullptr;
  focus_ = nullptr;
  pressed_ = nullptr;
  DetachAccessible();
  timer_flags_.clear();
  RunDelayedCleanup();
  root_.reset();
  if (hwnd_ && ::IsWindow(hwnd_)) {
    ::RemovePropW(hwnd_, kWindowProperty);
    ::DestroyWindow(hwnd_);
  }
}

bool Window::RegisterWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = GetClassStyle();
  wc.lpfnWndProc = &Window::WndProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  const std::wstring class_name = GetWindowClassName();
  wc.lpszClassName = class_name.c_str();
  if (::RegisterClassExW(&wc)) return true;
  return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND Window::Create(HWND parent, const std::wstring& title, DWORD style, DWORD ex_style,
                    bool is_layered, const RECT& rect) {
  if (!RegisterWindowClass()) return nullptr;
  is_layered_ = is_layered;
  if (is_layered_) ex_style |= WS_EX_LAYERED;
  const std::wstring class_name = GetWindowClassName();
  HWND hwnd = ::CreateWindowExW(ex_style, class_name.c_str(), title.c_str(), style, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                nullptr, ::GetModuleHandleW(nullptr), this);
  if (!hwnd) return nullptr;
  // The title bar is the skin's: a system caption asked for in the style is taken away again.
  const LONG current = ::GetWindowLongW(hwnd, GWL_STYLE);
  if (current & WS_CAPTION) ::SetWindowLongW(hwnd, GWL_STYLE, current & ~WS_CAPTION);
  return hwnd;
}

void Window::InitWnd(HWND hwnd) {
  hwnd_ = hwnd;
  if (!render_context_) {
    if (IRenderFactory* factory = GlobalManager::Instance().GetRenderFactory()) {
      render_context_ = factory->CreateRenderContext();
    }
  }
  if (render_context_) render_context_->SetRenderTransparent(is_layered_);
  using RegisterTouchWindowFn = BOOL(WINAPI*)(HWND, ULONG);
  if (auto register_touch =
          nbase::GetSystemFunction<RegisterTouchWindowFn>(L"user32.dll", "RegisterTouchWindow")) {
    register_touch(hwnd, 0);
  }
}

LRESULT CALLBACK Window::WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  LRESULT result = 0;
  if (!nbase::RunGuarded("window procedure",
                         [&] { result = Dispatch(hwnd, message, wparam, lparam); })) {
    // The message counts as not handled.
    result = ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return result;
}

LRESULT Window::Dispatch(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* window = nullptr;
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    window = static_cast<Window*>(create->lpCreateParams);
    if (window) {
      ::SetPropW(hwnd, kWindowProperty, window);
      window->InitWnd(hwnd);
    }
  } else {
    window = static_cast<Window*>(::GetPropW(hwnd, kWindowProperty));
  }
  if (!window) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    const LRESULT result = ::DefWindowProcW(hwnd, message, wparam, lparam);
    ::RemovePropW(hwnd, kWindowProperty);
    window->hwnd_ = nullptr;
    window->tooltip_hwnd_ = nullptr;  // an owned window, gone with this one
    window->tooltip_added_ = false;
    window->DetachAccessible();
    window->OnFinalMessage(hwnd);
    return result;
  }
  return window->HandleMessage(message, wparam, lparam);
}

void Window::Close(UINT code) {
  if (hwnd_) ::PostMessageW(hwnd_, WM_CLOSE, code, 0);
}

void Window::ShowWindow(bool show, bool take_focus) {
  if (!hwnd_) return;
  // A layered window shows nothing until it is handed its picture, and a posted paint comes
  // after whatever else is waiting: it gets its picture first, so it appears drawn.
  if (show && is_layered_ && !::IsWindowVisible(hwnd_) && !::IsIconic(hwnd_) && root_ &&
      render_context_) {
    RECT client = {};
    ::GetClientRect(hwnd_, &client);
    PaintTree(client, nullptr);
    drawn_before_show_ = true;
  }
  ::ShowWindow(hwnd_, show ? (take_focus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
  drawn_before_show_ = false;
}

void Window::CenterWindow() {
  if (!hwnd_) return;
  RECT window_rect = {};
  ::GetWindowRect(hwnd_, &window_rect);
  const POINT place =
      CenteredPlace({window_rect.right - window_rect.left, window_rect.bottom - window_rect.top});
  if (place.x == window_rect.left && place.y == window_rect.top) return;
  ::SetWindowPos(hwnd_, nullptr, place.x, place.y, -1, -1,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT Window::CenteredPlace(SIZE size) const {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info);
  const RECT& work = info.rcWork;
  LONG left = work.left + (work.right - work.left - size.cx) / 2;
  LONG top = work.top + (work.bottom - work.top - size.cy) / 2;
  if (left < work.left) left = work.left;
  if (top < work.top) top = work.top;
  return {left, top};
}

RECT Window::FitIntoArea(const RECT& window, const RECT& area) {
  const LONG width = window.right - window.left;
  const LONG height = window.bottom - window.top;
  LONG left = window.left;
  LONG top = window.top;
  if (left + width > area.right) left = area.right - width;
  if (top + height > area.bottom) top = area.bottom - height;
  if (left < area.left) left = area.left;
  if (top < area.top) top = area.top;
  return {left, top, left + width, top + height};
}

void Window::KeepInWorkArea() {
  if (!hwnd_ || ::IsIconic(hwnd_)) return;
  RECT window_rect = {};
  ::GetWindowRect(hwnd_, &window_rect);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info)) return;
  const RECT fitted = FitIntoArea(window_rect, info.rcWork);
  if (fitted.left == window_rect.left && fitted.top == window_rect.top) return;
  ::SetWindowPos(hwnd_, nullptr, fitted.left, fitted.top, -1, -1,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::AttachRoot(Control* root) {
  root_.reset(root);
  if (!root) return;
  root->SetWindow(this, nullptr);
  root->SetArranged(true);
  first_paint_pending_ = true;
  NeedUpdate();
}

Control* Window::FindControl(const std::wstring& name) const {
  if (!root_) return nullptr;
  if (root_->IsBox()) return static_cast<Box*>(root_.get())->FindControlByName(name);
  return _wcsicmp(root_->GetName().c_str(), name.c_str()) == 0 ? root_.get() : nullptr;
}

Control* Window::FindControl(POINT point) const {
  if (!root_) return nullptr;
  return root_->FindControl(nullptr, point, kFindVisible | kFindHitTest | kFindTopFirst);
}

void Window::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Value = const std::wstring&;
  static const AttributeTable<Window> kTable = [] {
    // Lengths scaled by the DPI, each kept only when the whole list reads.
    const auto scaled_edges = [](RECT WindowSettings::*field) {
      return [field](Window& self, Value value) {
        RECT rect = {};
        if (!nbase::ParseRectList(value, &rect)) return;
        ScaleEdges(rect);
        self.settings_.*field = rect;
      };
    };
    const auto scaled_size = [](SIZE WindowSettings::*field) {
      return [field](Window& self, Value value) {
        SIZE size = {};
        if (!nbase::ParseSizeList(value, &size)) return;
        DpiManager::Instance().ScaleSize(size);
        self.settings_.*field = size;
      };
    };
    return AttributeTable<Window>{
        {L"size", scaled_size(&WindowSettings::init_size)},
        {L"heightpercent",
         [](Window& self, Value value) {
           self.settings_.height_percent = std::wcstod(value.c_str(), nullptr);
         }},
        {L"sizebox", scaled_edges(&WindowSettings::size_box)},
        {L"caption", scaled_edges(&WindowSettings::caption)},
        {L"alphafixcorner", scaled_edges(&WindowSettings::alpha_fix_corner)},
        // Skins name this corner either way.
        {L"custom_shadow", scaled_edges(&WindowSettings::alpha_fix_corner)},
        {L"textid",
         [](Window& self, Value value) {
           self.settings_.text_id = value;
           if (self.hwnd_) {
             ::SetWindowTextW(self.hwnd_, GlobalManager::Instance().GetLanguageText(value).c_str());
           }
         }},
        {L"roundcorner", scaled_size(&WindowSettings::round_corner)},
        {L"mininfo", scaled_size(&WindowSettings::min_info)},
        {L"maxinfo", scaled_size(&WindowSettings::max_info)},
        {L"shadowattached",
         [](Window& self, Value value) { self.settings_.shadow_attached = value == L"true"; }},
        {L"shadowimage",
         [](Window& self, Value value) {
           self.settings_.shadow_image = value;
           self.settings_.use_default_shadow = false;
         }},
        {L"shadowcorner",
         [](Window& self, Value value) {
           RECT rect = {};
           if (nbase::ParseRectList(value, &rect)) self.settings_.shadow_corner = rect;
         }},
    };
  }();
  kTable.Apply(*this, name, value);
}

void Window::AddClass(const std::wstring& name, const std::wstring& attributes) {
  classes_[name] = attributes;
}

std::wstring Window::GetClassAttributes(const std::wstring& name) const {
  const auto found = classes_.find(name);
  return found == classes_.end() ? std::wstring() : found->second;
}

std::wstring Window::GetWindowResourcePath() {
  std::wstring path = GlobalManager::Instance().GetResourcePath();
  const std::wstring folder = GetSkinFolder();
  if (!folder.empty()) path += folder + L"\\";
  return path;
}

// A layered window keeps its own record of what needs drawing: the system's update region is
// never what paints it, and telling the system costs a round trip per control while a layout is
// built (hundreds before the first paint).
void Window::Invalidate(const RECT& rect) {
  if (!hwnd_) return;
  if (is_layered_) {
    ScheduleLayeredPaint(rect);
    return;
  }
  ::InvalidateRect(hwnd_, &rect, FALSE);
}

void Window::NeedUpdate() {
  need_arrange_ = true;
  if (!hwnd_) return;
  if (is_layered_) {
    RECT client = {};
    ::GetClientRect(hwnd_, &client);
    ScheduleLayeredPaint(client);
    return;
  }
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void Window::TakeLayeredDirty(RECT* update) {
  RECT merged = {};
  ::UnionRect(&merged, update, &layered_dirty_);
  *update = merged;
  layered_dirty_ = RECT();
}

void Window::ScheduleLayeredPaint(const RECT& rect) {
  RECT merged = {};
  ::UnionRect(&merged, &layered_dirty_, &rect);
  layered_dirty_ = merged;
  if (layered_paint_posted_) return;
  layered_paint_posted_ = ::PostMessageW(hwnd_, kLayeredPaintMessage, 0, 0) != FALSE;
}

void Window::SetCapture(Control* control) {
  capture_ = control;
  if (hwnd_) ::SetCapture(hwnd_);
}

void Window::ReleaseCapture() {
  capture_ = nullptr;
  if (hwnd_ && ::GetCapture() == hwnd_) ::ReleaseCapture();
}

void Window::SetFocusControl(Control* control) {
  if (control == focus_) return;
  if (control && (control->IsNoFocus() || !control->IsVisible() || !control->IsEnabled())) return;
  if (hwnd_ && ::GetFocus() != hwnd_) ::SetFocus(hwnd_);
  Control* old = focus_;
  focus_ = control;
  if (focus_mark_shown_) {
    InvalidateFocusMark(old);
    InvalidateFocusMark(control);
  }
  if (old) {
    old->HandleMessageTemplate(kEventInternalKillFocus);
    SendNotify(old, kEventKillFocus);
  }
  if (focus_ == control && control) {
    control->HandleMessageTemplate(kEventInternalSetFocus);
    if (focus_ == control) NotifyAccessible(EVENT_OBJECT_FOCUS, control);
    SendNotify(control, kEventSetFocus);
  }
}

void Window::SendNotify(Control* control, int type, WPARAM wparam, LPARAM lparam) {
  if (!control) return;
  POINT point = {};
  if (hwnd_) {
    ::GetCursorPos(&point);
    ::ScreenToClient(hwnd_, &point);
  }
  control->HandleMessageTemplate(type, wparam, lparam, 0, point);
}

bool Window::AddControlTimer(Control* control, std::function<void()> callback, UINT interval_ms,
                             int repeat_count) {
  if (!control || !callback) return false;
  auto& flag = timer_flags_[control];
  if (!flag) flag = std::make_unique<nbase::WeakCallbackFlag>();
  // Both the control and this window's cancel flag must be alive for a tick to run.
  std::weak_ptr<nbase::WeakFlag> control_alive = control->GetWeakFlag();
  auto guarded = [control_alive, callback = std::move(callback)]() {
    if (!control_alive.expired()) callback();
  };
  return nbase::TimerQueue::GetInstance()->AddCancelableTimer(flag->GetWeakFlag(), guarded,
                                                              interval_ms, repeat_count);
}

void Window::KillControlTimers(Control* control) {
  timer_flags_.erase(control);
}

void Window::AddDelayedCleanup(Control* control) {
  if (!control) return;
  OnControlHidden(control);
  control->SetVisible(false);
  delayed_cleanup_.push_back(control);
  if (hwnd_) ::PostMessageW(hwnd_, kDelayedCleanupMessage, 0, 0);
}

void Window::RunDelayedCleanup() {
  std::vector<Control*> controls;
  controls.swap(delayed_cleanup_);
  for (Control* control : controls) delete control;
}

void Window::AddOptionGroup(const std::wstring& group, Control* option) {
  auto& members = option_groups_[group];
  if (std::find(members.begin(), members.end(), option) == members.end()) {
    members.push_back(option);
  }
}

void Window::RemoveOptionGroup(const std::wstring& group, Control* option) {
  const auto found = option_groups_.find(group);
  if (found == option_groups_.end()) return;
  auto& members = found->second;
  members.erase(std::remove(members.begin(), members.end(), option), members.end());
  if (members.empty()) option_groups_.erase(found);
}

std::vector<Control*> Window::GetOptionGroup(const std::wstring& group) const {
  const auto found = option_groups_.find(group);
  return found == option_groups_.end() ? std::vector<Control*>() : found->second;
}

void Window::OnControlDestroyed(Control* control) {
  OnControlHidden(control);
  timer_flags_.erase(control);
  for (auto it = option_groups_.begin(); it != option_groups_.end();) {
    auto& members = it->second;
    members.erase(std::remove(members.begin(), members.end(), control), members.end());
    it = members.empty() ? option_groups_.erase(it) : std::next(it);
  }
}

void Window::OnControlHidden(Control* control) {
  // Hiding a box hides its subtree, so the pointers go when they point into it.
  auto gone = [control](Control* held) {
    return held && (held == control || control->IsAncestorOf(held));
  };
  if (gone(capture_)) ReleaseCapture();
  if (gone(hover_)) hover_ = nullptr;
  if (gone(focus_)) {
    if (focus_mark_shown_) InvalidateFocusMark(focus_);
    focus_ = nullptr;
  }
  if (gone(pressed_)) pressed_ = nullptr;
}

void Window::ArrangePending() {
  if (!need_arrange_ || !root_) return;
  need_arrange_ = false;
  RECT client = {};
  ::GetClientRect(hwnd_, &client);
  if (::IsRectEmpty(&client)) return;
  if (root_->IsArranged()) {
    root_->SetPos(client);
  } else if (root_->IsBox()) {
    // Only the parts of the tree that asked for it are placed again, each at its own spot.
    std::vector<Control*> pending;
    static_cast<Box*>(root_.get())->ForEachControl([&pending](Control* control) {
      if (control->IsArranged()) pending.push_back(control);
    });
    for (Control* control : pending) {
      if (control->IsArranged()) control->SetPos(control->GetPos());
    }
  }
  if (!first_layout_done_) {
    first_layout_done_ = true;
    OnInitLayout();
  }
}

void Window::OnPaint() {
  PAINTSTRUCT ps = {};
  if (::IsIconic(hwnd_) || !root_ || !render_context_) {
    ::BeginPaint(hwnd_, &ps);
    ::EndPaint(hwnd_, &ps);
    return;
  }
  RECT update = {};
  ::GetUpdateRect(hwnd_, &update, FALSE);
  HDC paint_dc = ::BeginPaint(hwnd_, &ps);
  PaintTree(update, paint_dc);
  ::EndPaint(hwnd_, &ps);
}

void Window::OnLayeredPaint() {
  layered_paint_posted_ = false;
  // A hidden layered window is drawn when it is shown; painting it now would be wasted.
  if (!::IsWindowVisible(hwnd_) || ::IsIconic(hwnd_) || !root_ || !render_context_) return;
  RECT update = {};
  ::GetUpdateRect(hwnd_, &update, FALSE);
  ::ValidateRect(hwnd_, nullptr);
  PaintTree(update, nullptr);
}

void Window::PaintTree(RECT update, HDC paint_dc) {
  if (is_layered_) TakeLayeredDirty(&update);
  if (first_paint_pending_) {
    first_paint_pending_ = false;
    if (root_->GetFixedWidth() == kDefaultAuto || root_->GetFixedHeight() == kDefaultAuto) {
      SIZE size = root_->EstimateSize({99999, 99999});
      size.cx = std::max<LONG>(size.cx, root_->GetMinWidth());
      size.cx = std::min<LONG>(size.cx, root_->GetMaxWidth());
      size.cy = std::max<LONG>(size.cy, root_->GetMinHeight());
      size.cy = std::min<LONG>(size.cy, root_->GetMaxHeight());
      RECT window_rect = {};
      ::GetWindowRect(hwnd_, &window_rect);
      // Usually the window already has this size from its creation; a move to the same size
      // still costs a round trip to the display.
      if (size.cx != window_rect.right - window_rect.left ||
          size.cy != window_rect.bottom - window_rect.top) {
        ::MoveWindow(hwnd_, window_rect.left, window_rect.top, size.cx, size.cy, TRUE);
      }
    }
  }
  if (::IsRectEmpty(&update) && !need_arrange_) return;
  RECT client = {};
  ::GetClientRect(hwnd_, &client);
  RECT window_rect = {};
  ::GetWindowRect(hwnd_, &window_rect);
  if (is_layered_) {
    // Parts beyond the virtual screen get no paint requests, yet the layered bitmap must be
    // whole: widen the update to the client edge on those sides.
    const int vx = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int vy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int vr = vx + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int vb = vy + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (window_rect.left < vx) update.left = client.left;
    if (window_rect.top < vy) update.top = client.top;
    if (window_rect.right > vr) update.right = client.right;
    if (window_rect.bottom > vb) update.bottom = client.bottom;
  }
  ArrangePending();
  // Placing controls asks for them to be drawn, and they are about to be: left in the record,
  // the same picture would be drawn and handed over once more.
  if (is_layered_) TakeLayeredDirty(&update);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (render_context_->Resize(width, height)) update = client;
  RenderUpdate(render_context_.get(), update);
  if (is_layered_) {
    POINT position = {window_rect.left, window_rect.top};
    SIZE size = {window_rect.right - window_rect.left, window_rect.bottom - window_rect.top};
    POINT origin = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, window_alpha_, AC_SRC_ALPHA};
    ::UpdateLayeredWindow(hwnd_, nullptr, &position, &size, render_context_->GetDC(), &origin, 0,
                          &blend, ULW_ALPHA);
  } else if (paint_dc) {
    ::BitBlt(paint_dc, update.left, update.top, update.right - update.left,
             update.bottom - update.top, render_context_->GetDC(), update.left, update.top,
             SRCCOPY);
  }
}

void Window::RenderUpdate(IRenderContext* context, const RECT& update) {
  RECT client = {};
  ::GetClientRect(hwnd_, &client);
  const int width = context->GetWidth();
  BYTE* bits = context->GetBits();
  RECT clipped = {};
  ::IntersectRect(&clipped, &update, &client);
  if (is_layered_ && bits) {
    ::GdiFlush();
    for (LONG y = clipped.top; y < clipped.bottom; ++y) {
      std::memset(bits + (static_cast<size_t>(y) * width + clipped.left) * 4, 0,
                  static_cast<size_t>(clipped.right - clipped.left) * 4);
    }
  }
  {
    // What lies outside the update keeps the pixels of earlier paints; drawing whole pictures
    // there again would blend them over themselves.
    ScopedClip clip(context, clipped);
    root_->AlphaPaint(context, clipped);
    PaintFocusMark(context, clipped);
  }
  const RECT& fix = settings_.alpha_fix_corner;
  if (is_layered_ && bits && (fix.left >= 1 || fix.top >= 1 || fix.right >= 1 || fix.bottom >= 1)) {
    RECT inner = {client.left + fix.left, client.top + fix.top, client.right - fix.right,
                  client.bottom - fix.bottom};
    RECT opaque = {};
    if (::IntersectRect(&opaque, &inner, &clipped)) {
      ::GdiFlush();
      for (LONG y = opaque.top; y < opaque.bottom; ++y) {
        // A pixel at a time rather than its alpha byte: a whole page's worth on every paint.
        uint32_t* row = reinterpret_cast<uint32_t*>(bits) + static_cast<size_t>(y) * width;
        for (LONG x = opaque.left; x < opaque.right; ++x) row[x] |= 0xFF000000u;
      }
    }
  }
}

bool Window::RenderFull(IRenderContext* context) {
  if (!hwnd_ || !root_ || !context || !render_context_) return false;
  if (!context->Resize(render_context_->GetWidth(), render_context_->GetHeight()) &&
      !context->GetBits()) {
    return false;
  }
  context->SetRenderTransparent(is_layered_);
  context->Clear();
  RECT client = {};
  ::GetClientRect(hwnd_, &client);
  RenderUpdate(context, client);
  ::GdiFlush();
  return true;
}

void Window::SendMouseLeaveUpTo(Control* old_hover, Control* new_hover, POINT point) {
  // Leaving a control for one of its own descendants is not leaving it: only the controls the
  // pointer really left, from the old one up to the common ancestor, are told.
  std::vector<std::weak_ptr<nbase::WeakFlag>> alive;
  std::vector<Control*> left;
  for (Control* at = old_hover; at; at = at->GetParent()) {
    if (new_hover && (at == new_hover || at->IsAncestorOf(new_hover))) break;
    left.push_back(at);
    alive.push_back(at->GetWeakFlag());
  }
  for (size_t i = 0; i < left.size(); ++i) {
    if (alive[i].expired()) continue;
    left[i]->HandleMessageTemplate(kEventMouseLeave, 0, 0, 0, point);
  }
}

void Window::ShowTooltip(Control* control, POINT point) {
  const std::wstring& text = control->GetToolTipText();
  if (text.empty() || !hwnd_) return;
  if (!tooltip_hwnd_) {
    GlobalManager::Instance().StartCommonControls();
    tooltip_hwnd_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                      WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
    if (!tooltip_hwnd_) return;  // common controls not started: no tooltips, nothing else lost
    ::SendMessageW(tooltip_hwnd_, TTM_SETMAXTIPWIDTH, 0, 400);
  }
  // One tracking tool for the whole window: the framework, not the tooltip, knows which
  // windowless control is under the mouse.
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;  // the size every version of the control accepts
  tool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  tool.lpszText = const_cast<wchar_t*>(text.c_str());
  if (!tooltip_added_) {
    tooltip_added_ =
        ::SendMessageW(tooltip_hwnd_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE;
    if (!tooltip_added_) return;
  } else {
    ::SendMessageW(tooltip_hwnd_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  POINT screen = point;
  ::ClientToScreen(hwnd_, &screen);
  // Below the pointer, where the cursor does not cover the text.
  const int below = ::GetSystemMetrics(SM_CYCURSOR) / 2 + 4;
  ::SendMessageW(tooltip_hwnd_, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y + below));
  ::SendMessageW(tooltip_hwnd_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void Window::HideTooltip() {
  if (!tooltip_hwnd_ || !tooltip_added_) return;
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  ::SendMessageW(tooltip_hwnd_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

void Window::OnMouseMove(POINT point, WPARAM key_state) {
  if (!mouse_tracking_) {
    TRACKMOUSEEVENT track = {};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE | TME_HOVER;
    track.hwndTrack = hwnd_;
    track.dwHoverTime = HOVER_DEFAULT;
    mouse_tracking_ = ::TrackMouseEvent(&track) != FALSE;
  }
  Control* over = FindControl(point);
  if (over != hover_) {
    Control* old = hover_;
    hover_ = over;
    HideTooltip();
    if (old) SendMouseLeaveUpTo(old, over, point);
    if (over && hover_ == over) {
      over->HandleMessageTemplate(kEventMouseEnter, key_state, 0, 0, point);
    }
  }
  Control* target = capture_ ? capture_ : hover_;
  if (target) target->HandleMessageTemplate(kEventMouseMove, key_state, 0, 0, point);
}

void Window::OnMouseLeaveWindow() {
  mouse_tracking_ = false;
  if (capture_) return;  // a pressed control keeps getting the mouse until release
  HideTooltip();
  Control* old = hover_;
  hover_ = nullptr;
  POINT point = {-1, -1};
  if (old) SendMouseLeaveUpTo(old, nullptr, point);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      if (root_) {
        root_->SetArranged(true);
        NeedUpdate();
      }
      break;
    case WM_CLOSE:
      close_code_ = static_cast<UINT>(wparam);
      break;
    case kDelayedCleanupMessage:
      RunDelayedCleanup();
      return 0;
    case kLayeredPaintMessage:
      OnLayeredPaint();
      return 0;
    case WM_SHOWWINDOW:
      if (wparam && is_layered_ && hwnd_ && !drawn_before_show_) {
        RECT client = {};
        ::GetClientRect(hwnd_, &client);
        ScheduleLayeredPaint(client);
      }
      break;
    case WM_MOUSEMOVE:
      OnMouseMove(PointFromLParam(lparam), wparam);
      return 0;
    case WM_MOUSELEAVE:
      OnMouseLeaveWindow();
      return 0;
    case WM_MOUSEHOVER:
      mouse_tracking_ = false;
      if (hover_) {
        const POINT point = PointFromLParam(lparam);
        Control* hovered = hover_;
        const std::weak_ptr<nbase::WeakFlag> alive = hovered->GetWeakFlag();
        hovered->HandleMessageTemplate(kEventMouseHover, wparam, lparam, 0, point);
        // The handler may have removed the control or moved the hover elsewhere.
        if (!alive.expired() && hover_ == hovered) ShowTooltip(hovered, point);
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const POINT point = PointFromLParam(lparam);
      if (hwnd_ && ::GetFocus() != hwnd_) ::SetFocus(hwnd_);
      ShowFocusMark(false);
      Control* control = FindControl(point);
      if (!control) return 0;
      pressed_ = control;
      SetFocusControl(control);
      const int type =
          message == WM_LBUTTONDOWN ? kEventMouseButtonDown : kEventInternalDoubleClick;
      control->HandleMessageTemplate(type, wparam, lparam, 0, point);
      return 0;
    }
    case WM_LBUTTONUP: {
      const POINT point = PointFromLParam(lparam);
      Control* control = pressed_;
      pressed_ = nullptr;
      if (!control) control = capture_;
      if (capture_ && ::GetCapture() == hwnd_ && !control) ::ReleaseCapture();
      if (control) control->HandleMessageTemplate(kEventMouseButtonUp, wparam, lparam, 0, point);
      return 0;
    }
    case WM_RBUTTONDOWN: {
      const POINT point = PointFromLParam(lparam);
      if (Control* control = FindControl(point)) {
        control->HandleMessageTemplate(kEventMouseRightButtonDown, wparam, lparam, 0, point);
      }
      return 0;
    }
    case WM_CONTEXTMENU:
      if (hover_) hover_->HandleMessageTemplate(kEventInternalMenu, wparam, lparam);
      return 0;
    case WM_MOUSEWHEEL: {
      POINT point = PointFromLParam(lparam);
      ::ScreenToClient(hwnd_, &point);
      if (Control* control = FindControl(point)) {
        control->HandleMessageTemplate(kEventMouseScrollWheel, wparam, lparam, 0, point);
      }
      return 0;
    }
    case WM_SETCURSOR: {
      if (LOWORD(lparam) != HTCLIENT) break;
      POINT point = {};
      ::GetCursorPos(&point);
      ::ScreenToClient(hwnd_, &point);
      if (Control* control = FindControl(point)) {
        control->HandleMessageTemplate(kEventSetCursor, wparam, lparam, 0, point);
        return TRUE;
      }
      break;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (OnKeyDown(message, wparam, lparam)) return 0;
      break;  // the system's keys (Alt+F4, the system menu) stay the system's
    case WM_CHAR:
      if (swallow_char_ != 0 && wparam == swallow_char_) {
        swallow_char_ = 0;  // the window already acted on its key
        return 0;
      }
      swallow_char_ = 0;
      [[fallthrough]];
    case WM_KEYUP: {
      if (!focus_) break;
      const int type = message == WM_KEYUP ? kEventKeyUp : kEventChar;
      focus_->HandleMessageTemplate(type, wparam, lparam, static_cast<wchar_t>(wparam));
      return 0;
    }
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
      // The control places the composition window; the system's own handling then shows it.
      if (focus_) {
        focus_->HandleMessageTemplate(message == WM_IME_STARTCOMPOSITION ? kEventImeStartComposition
                                                                         : kEventImeEndComposition);
      }
      break;
    case WM_GETOBJECT:
      return OnGetObject(wparam, lparam);
    case kAccessibleActionMessage:
      OnAccessibleAction(wparam);
      return 0;
    case WM_KILLFOCUS:
      if (capture_) {
        Control* captured = capture_;
        ReleaseCapture();
        (void)captured;
      }
      break;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lparam) != hwnd_) capture_ = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

}  // namespace ui
