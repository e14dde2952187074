// Building the tree on creation, the skin's non-client behaviour and the title-bar buttons.
#include "ui/core/WindowImplBase.h"

#include <windowsx.h>

#include "base/StringUtil.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/ShadowBox.h"
#include "ui/core/WindowBuilder.h"

namespace ui {
namespace {

bool IsButtonType(const std::wstring& type) {
  return type == L"Button" || type == L"CheckBox" || type == L"Option" || type == L"ButtonBox" ||
         type == L"CheckBoxBox" || type == L"OptionBox";
}

}  // namespace

LRESULT WindowImplBase::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled = false;
  LRESULT result = 0;
  switch (message) {
    case WM_CREATE:
      result = OnCreate(message, wparam, lparam, handled);
      break;
    case WM_NCHITTEST:
      result = OnNcHitTest(message, wparam, lparam, handled);
      break;
    case WM_GETMINMAXINFO:
      result = OnGetMinMaxInfo(message, wparam, lparam, handled);
      break;
    case WM_SIZE:
      result = OnSize(message, wparam, lparam, handled);
      break;
    case WM_SYSCOMMAND:
      result = OnSysCommand(message, wparam, lparam, handled);
      break;
    case WM_DPICHANGED:
      result = OnDpiChanged(message, wparam, lparam, handled);
      break;
    case WM_NCCALCSIZE:
      // The whole window is client area: the skin draws its own frame.
      handled = true;
      break;
    case WM_NCPAINT:
      handled = true;
      break;
    case WM_NCACTIVATE:
      handled = true;
      result = ::IsIconic(GetHWND()) ? ::DefWindowProcW(GetHWND(), message, wparam, lparam)
                                     : (wparam == 0 ? TRUE : FALSE);
      break;
    default:
      result = OnMessage(message, wparam, lparam, handled);
      break;
  }
  if (handled) return result;
  return Window::HandleMessage(message, wparam, lparam);
}

LRESULT WindowImplBase::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)wparam;
  (void)lparam;
  handled = false;
  return 0;
}

LRESULT WindowImplBase::OnCreate(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)wparam;
  (void)lparam;
  handled = true;
  HWND hwnd = GetHWND();
  // Every style change makes the system recompute and move the frame (a round trip to the
  // display under some systems): a window created with its final style is left alone.
  if (::GetWindowLongW(hwnd, GWL_STYLE) != GetStyle())
    ::SetWindowLongW(hwnd, GWL_STYLE, GetStyle());

  std::wstring source = GetSkinFile();
  if (source.empty() || source[0] != L'<') {
    const std::wstring folder = GetSkinFolder();
    source = folder.empty() ? source : folder + L"\\" + source;
  }
  WindowBuilder builder;
  Control* root = builder.Create(
      source, [this](const std::wstring& name) { return CreateControl(name); }, this, nullptr);
  if (!root) {
    const std::wstring text = nbase::StringPrintf(L"Failed to load xml file %ls", source.c_str());
    ::MessageBoxW(hwnd, text.c_str(), L"Quanth", MB_ICONERROR);
    return -1;
  }
  AttachRoot(AttachShadow(root));

  const WindowSettings& settings = GetSettings();
  RECT rect = {};
  ::GetWindowRect(hwnd, &rect);
  // A layout without a size is measured, and its window is then placed at the origin.
  const bool measured = settings.init_size.cx == 0 && settings.init_size.cy == 0;
  const SIZE size = measured ? GetRoot()->EstimateSize({99999, 99999}) : settings.init_size;
  if (measured) rect.left = rect.top = 0;
  if (!measured || (size.cx > 0 && size.cy > 0)) {
    // Sized and placed in one move: each move is a round trip to the display.
    const POINT place = CentersWhenCreated() ? CenteredPlace(size) : POINT{rect.left, rect.top};
    ::MoveWindow(hwnd, place.x, place.y, size.cx, size.cy, FALSE);
  }

  for (const wchar_t* name : {L"closebtn", L"minbtn", L"maxbtn", L"restorebtn"}) {
    Control* button = FindControl(name);
    if (!button || !IsButtonType(button->GetType())) continue;
    button->AttachEvent(kEventClick, [this](EventArgs& args) { return OnButtonClick(args); });
  }
  return 0;
}

Control* WindowImplBase::AttachShadow(Control* root) {
  const WindowSettings& settings = GetSettings();
  if (!settings.shadow_attached) return root;
  shadow_ = new ShadowBox();
  root_fixed_ = {root->GetFixedWidth(), root->GetFixedHeight()};
  // A root that sizes itself to its content keeps doing so inside the shadow, so the window
  // can still be measured to fit it (a page that grows, for example).
  if (root_fixed_.cx == kDefaultAuto) shadow_->SetFixedWidth(kDefaultAuto, false);
  if (root_fixed_.cy == kDefaultAuto) shadow_->SetFixedHeight(kDefaultAuto, false);
  shadow_->SetAttribute(L"bkimage", settings.shadow_image);
  if (settings.use_default_shadow) root->SetAttribute(L"borderround", L"3,3");
  shadow_->Add(root);
  ScaleShadow();
  return shadow_;
}

void WindowImplBase::ScaleShadow() {
  if (!shadow_) return;
  RECT corner = GetSettings().shadow_corner;
  DpiManager::Instance().ScaleRect(corner);
  shadow_->GetLayout()->SetPadding(corner, false);
  if (root_fixed_.cx > 0) {
    shadow_->SetFixedWidth(root_fixed_.cx + corner.left + corner.right, false);
  }
  if (root_fixed_.cy > 0) {
    shadow_->SetFixedHeight(root_fixed_.cy + corner.top + corner.bottom, false);
  }
  // An auto-sized root makes the shadow auto-sized too, so the window follows the content.
  if (root_fixed_.cx == kDefaultAuto) shadow_->SetFixedWidth(kDefaultAuto, false);
  if (root_fixed_.cy == kDefaultAuto) shadow_->SetFixedHeight(kDefaultAuto, false);
}

LRESULT WindowImplBase::OnNcHitTest(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)wparam;
  handled = true;
  HWND hwnd = GetHWND();
  POINT point = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  ::ScreenToClient(hwnd, &point);
  RECT client = {};
  ::GetClientRect(hwnd, &client);
  const WindowSettings& settings = GetSettings();
  if (settings.shadow_attached) {
    RECT corner = settings.shadow_corner;
    DpiManager::Instance().ScaleRect(corner);
    client.left += corner.left;
    client.top += corner.top;
    client.right -= corner.right;
    client.bottom -= corner.bottom;
    if (!::PtInRect(&client, point)) return HTCLIENT;
  }
  if (!::IsZoomed(hwnd)) {
    const RECT& box = settings.size_box;
    if (point.y < client.top + box.top) {
      if (point.x < client.left + box.left) return HTTOPLEFT;
      if (point.x > client.right - box.right) return HTTOPRIGHT;
      return HTTOP;
    }
    if (point.y > client.bottom - box.bottom) {
      if (point.x < client.left + box.left) return HTBOTTOMLEFT;
      if (point.x > client.right - box.right) return HTBOTTOMRIGHT;
      return HTBOTTOM;
    }
    if (point.x < client.left + box.left) return HTLEFT;
    if (point.x > client.right - box.right) return HTRIGHT;
  }
  const RECT& caption = settings.caption;
  if (point.x >= client.left + caption.left && point.x < client.right - caption.right &&
      point.y >= client.top + caption.top && point.y < client.top + caption.bottom) {
    Control* control = FindControl(point);
    if (!control) return HTCLIENT;
    const std::wstring type = control->GetType();
    if (IsButtonType(type) || type == L"RichEdit") return HTCLIENT;
    return HTCAPTION;
  }
  return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)wparam;
  handled = true;
  auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (::GetMonitorInfoW(::MonitorFromWindow(GetHWND(), MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    info->ptMaxPosition = {work.left - monitor.rcMonitor.left, work.top - monitor.rcMonitor.top};
    info->ptMaxSize = {work.right - work.left, work.bottom - work.top};
  }
  const WindowSettings& settings = GetSettings();
  if (settings.min_info.cx != 0) info->ptMinTrackSize.x = settings.min_info.cx;
  if (settings.min_info.cy != 0) info->ptMinTrackSize.y = settings.min_info.cy;
  if (settings.max_info.cx != 0) info->ptMaxTrackSize.x = settings.max_info.cx;
  if (settings.max_info.cy != 0) info->ptMaxTrackSize.y = settings.max_info.cy;
  return 0;
}

LRESULT WindowImplBase::OnSize(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)lparam;
  handled = false;  // the window host still lays the tree out again
  const SIZE& round = GetSettings().round_corner;
  HWND hwnd = GetHWND();
  if (wparam != SIZE_MINIMIZED && (round.cx != 0 || round.cy != 0)) {
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    HRGN region = ::CreateRoundRectRgn(0, 0, rect.right - rect.left + 1, rect.bottom - rect.top + 1,
                                       round.cx, round.cy);
    // The window owns the region once it is set; the handle is deleted only when it was not.
    if (region && !::SetWindowRgn(hwnd, region, TRUE)) ::DeleteObject(region);
  }
  return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  (void)lparam;
  if ((wparam & 0xFFF0) == SC_CLOSE) {
    handled = true;
    ::SendMessageW(GetHWND(), WM_CLOSE, 0, 0);
    return 0;
  }
  handled = false;
  return 0;
}

LRESULT WindowImplBase::OnDpiChanged(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  (void)message;
  handled = true;
  DpiManager& dpi = DpiManager::Instance();
  const int from = dpi.GetScale();
  dpi.SetScaleFromDpi(LOWORD(wparam));
  const int to = dpi.GetScale();
  if (from != to && from > 0) {
    auto scale = [&](LONG value) { return static_cast<LONG>(::MulDiv(value, to, from)); };
    auto scale_rect = [&](RECT& r) {
      r = {scale(r.left), scale(r.top), scale(r.right), scale(r.bottom)};
    };
    auto scale_size = [&](SIZE& s) { s = {scale(s.cx), scale(s.cy)}; };
    scale_size(settings_.init_size);
    scale_rect(settings_.size_box);
    scale_rect(settings_.caption);
    scale_size(settings_.round_corner);
    scale_size(settings_.min_info);
    scale_size(settings_.max_info);
    scale_rect(settings_.alpha_fix_corner);
    GlobalManager::Instance().RescaleFonts();
    if (GetRoot()) GetRoot()->RescaleDpi(from, to);
    if (root_fixed_.cx > 0) root_fixed_.cx = scale(root_fixed_.cx);
    if (root_fixed_.cy > 0) root_fixed_.cy = scale(root_fixed_.cy);
  }
  ScaleShadow();
  // The system suggests where the window goes at the new DPI, keeping it on that monitor.
  const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
  if (suggested && GetHWND()) {
    ::SetWindowPos(GetHWND(), nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // A suggestion made for the old size may leave the rescaled window hanging off the edge.
  KeepInWorkArea();
  NeedUpdate();
  return 0;
}

bool WindowImplBase::OnEscapeKey() {
  // Posted: the close handling may ask a question, which must not run inside the key's message.
  return GetHWND() && ::PostMessageW(GetHWND(), WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
}

bool WindowImplBase::OnButtonClick(EventArgs& args) {
  if (!args.sender) return true;
  const std::wstring& name = args.sender->GetName();
  HWND hwnd = GetHWND();
  if (_wcsicmp(name.c_str(), L"closebtn") == 0) {
    Close(1);
  } else if (_wcsicmp(name.c_str(), L"minbtn") == 0) {
    ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (_wcsicmp(name.c_str(), L"maxbtn") == 0) {
    Control* max_button = FindControl(L"maxbtn");
    Control* restore_button = FindControl(L"restorebtn");
    if (max_button && restore_button) {
      max_button->SetVisible(false);
      restore_button->SetVisible(true);
    }
    ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  } else if (_wcsicmp(name.c_str(), L"restorebtn") == 0) {
    Control* max_button = FindControl(L"maxbtn");
    Control* restore_button = FindControl(L"restorebtn");
    if (max_button && restore_button) {
      max_button->SetVisible(true);
      restore_button->SetVisible(false);
    }
    ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
  }
  return true;
}

}  // namespace ui
