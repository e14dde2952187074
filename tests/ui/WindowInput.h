// Driving a window under test: the thread's message loop and pointer input from a user's hand.
#pragma once

#include <windows.h>

#include <functional>

namespace ui {
class Window;
}

namespace ui_test {

// Creates `window` as a popup over `screen_rect` and shows it; null when it could not be made.
// It is not activated unless asked: this Wine waits two seconds for the display whenever an
// active window goes.
HWND OpenPopup(ui::Window& window, const wchar_t* title, const RECT& screen_rect, bool layered,
               bool take_focus = false);

// Runs the thread's message loop until `done` holds; false once `timeout_ms` has passed, so a
// window test that waits for something that never happens fails instead of hanging.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);

// Pointer input as the system delivers it from a user's hand: a move to a point of the screen,
// and the left button going down or up. Sent from the thread that owns the window under test,
// the display's own reports of the moves are ones the system knows to be stale.
void SendPointerMove(POINT screen);
void SendLeftButton(bool down);

}  // namespace ui_test
