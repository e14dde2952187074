// DPI awareness through user32 entry points looked up at run time, and length scaling.
#include "ui/core/DpiManager.h"

#include "base/SystemLibrary.h"
#include "ui/render/Scaling.h"

namespace ui {
namespace {

bool VersionAtLeast(DWORD major, DWORD minor) {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  DWORDLONG mask = 0;
  mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

}  // namespace

DpiManager& DpiManager::Instance() {
  static DpiManager instance;
  return instance;
}

bool DpiManager::IsVistaOrLater() {
  static const bool result = VersionAtLeast(6, 0);
  return result;
}

bool DpiManager::IsWindows8OrLater() {
  static const bool result = VersionAtLeast(6, 2);
  return result;
}

bool DpiManager::AdaptDPI() {
  if (tried_) return adapted_;
  tried_ = true;
  if (!IsVistaOrLater()) {
    adapted_ = true;
  } else {
    using SetAwarenessFn = HRESULT(WINAPI*)(int);
    using SetAwareFn = BOOL(WINAPI*)();
    const auto set_awareness =
        nbase::GetSystemFunction<SetAwarenessFn>(L"user32.dll", "SetProcessDpiAwarenessInternal");
    constexpr int kPerMonitorAware = 2;
    // The manifest declares the awareness where Windows reads it; there the call is refused
    // with E_ACCESSDENIED because the process is already aware.
    const HRESULT set_result = set_awareness ? set_awareness(kPerMonitorAware) : E_NOTIMPL;
    if (SUCCEEDED(set_result) || set_result == E_ACCESSDENIED) {
      adapted_ = true;
    } else {
      const auto set_aware =
          nbase::GetSystemFunction<SetAwareFn>(L"user32.dll", "SetProcessDPIAware");
      adapted_ = set_aware && set_aware();
    }
  }
  if (adapted_) SetScaleFromDpi(GetSystemDpi());
  return adapted_;
}

UINT DpiManager::GetSystemDpi() {
  const POINT origin = {1, 1};
  HMONITOR monitor = ::MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST);
  if (IsWindows8OrLater()) {
    using GetDpiFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const auto get_dpi =
        nbase::GetSystemFunction<GetDpiFn>(L"user32.dll", "GetDpiForMonitorInternal");
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    if (get_dpi && monitor && SUCCEEDED(get_dpi(monitor, 0, &dpi_x, &dpi_y)) && dpi_x) {
      return dpi_x;
    }
  }
  HDC screen = ::GetDC(nullptr);
  if (!screen) return 96;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void DpiManager::SetScaleFromDpi(UINT dpi) {
  scale_ = ::MulDiv(static_cast<int>(dpi ? dpi : 96), 100, 96);
}

int DpiManager::ScaleInt(int value) const {
  return ScaleByPercent(value, GetAppliedScale());
}

void DpiManager::ScaleSize(SIZE& size) const {
  size.cx = ScaleInt(size.cx);
  size.cy = ScaleInt(size.cy);
}

void DpiManager::ScaleRect(RECT& rect) const {
  ScaleRectByPercent(rect, GetAppliedScale());
}

}  // namespace ui
