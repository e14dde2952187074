// Class registration and creation of message-only windows.
#include "base/MessageWindow.h"

namespace nbase {

HWND CreateMessageWindow(const wchar_t* class_name, WNDPROC window_proc, void* user_data) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.lpszClassName = class_name;
  // Fails harmlessly when another object of the same kind registered it first.
  ::RegisterClassExW(&window_class);
  const HWND window = ::CreateWindowExW(0, class_name, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, instance, nullptr);
  if (window) ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(user_data));
  return window;
}

}  // namespace nbase
