// The start-up benchmark's second baseline: the least a program does to show a window the way
// the installer must, a layered popup of its size handed one 32-bit picture, then shown.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "ui/render/GdiHandles.h"

namespace {

// The installer's page and the shadow margin round it.
constexpr int kWidth = 640 + 2 * 14;
constexpr int kHeight = 360 + 2 * 14;
constexpr int kMargin = 14;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// An opaque white page inside a faint see-through margin, premultiplied as the system expects.
void Draw(uint32_t* pixels) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool page =
          x >= kMargin && y >= kMargin && x < kWidth - kMargin && y < kHeight - kMargin;
      pixels[y * kWidth + x] = page ? 0xFFFFFFFFu : 0x20000000u;
    }
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"BareLayeredWindow";
  ::RegisterClassW(&window_class);
  RECT work = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + std::max(0L, (work.right - work.left - kWidth) / 2);
  const int top = work.top + std::max(0L, (work.bottom - work.top - kHeight) / 2);
  HWND window = ::CreateWindowExW(WS_EX_LAYERED, L"BareLayeredWindow", L"Bare layered window",
                                  WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, left, top, kWidth,
                                  kHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = -kHeight;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  ui::UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!dc) return 1;
  ui::UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return 1;
  ui::ScopedSelectObject select(dc.get(), bitmap.get());
  Draw(static_cast<uint32_t*>(bits));
  POINT position = {left, top};
  SIZE size = {kWidth, kHeight};
  POINT origin = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ::UpdateLayeredWindow(window, nullptr, &position, &size, dc.get(), &origin, 0, &blend, ULW_ALPHA);
  ::ShowWindow(window, SW_SHOWNORMAL);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
