// A message-only window of the calling thread, the wake-up target of pumps and timers.
#pragma once

#include <windows.h>

namespace nbase {

// Registers `class_name` with `window_proc` unless it already is, then makes a message-only
// window of it on the calling thread, which owns it, with `user_data` in GWLP_USERDATA for
// the procedure to find its object. Null on failure.
HWND CreateMessageWindow(const wchar_t* class_name, WNDPROC window_proc, void* user_data);

}  // namespace nbase
