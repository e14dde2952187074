// Opening a window under test, the message pump with a deadline, and pointer input through the
// system's input queue.
#include "tests/ui/WindowInput.h"

#include "ui/core/Window.h"

namespace ui_test {

HWND OpenPopup(ui::Window& window, const wchar_t* title, const RECT& screen_rect, bool layered,
               bool take_focus) {
  const HWND hwnd = window.Create(nullptr, title, WS_POPUP, 0, layered, screen_rect);
  if (hwnd) window.ShowWindow(true, take_focus);
  return hwnd;
}

void SendPointerMove(POINT screen) {
  const LONG width = ::GetSystemMetrics(SM_CXSCREEN);
  const LONG height = ::GetSystemMetrics(SM_CYSCREEN);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  // Absolute input counts in 65536ths of the screen; rounding up lands on the pixel itself.
  input.mi.dx = (screen.x * 65536 + width - 1) / width;
  input.mi.dy = (screen.y * 65536 + height - 1) / height;
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  ::SendInput(1, &input, sizeof(input));
}

void SendLeftButton(bool down) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &input, sizeof(input));
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD deadline = ::GetTickCount() + timeout_ms;
  // A periodic timer so GetMessage returns to re-check the deadline even when nothing else comes.
  const UINT_PTR beat = ::SetTimer(nullptr, 0, 20, nullptr);
  bool ok = done();
  MSG msg;
  while (!ok && static_cast<LONG>(deadline - ::GetTickCount()) > 0 &&
         ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    ok = done();
  }
  ::KillTimer(nullptr, beat);
  return ok;
}

}  // namespace ui_test
