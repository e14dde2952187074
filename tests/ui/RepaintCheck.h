// The repaint invariant: what a window's partial repaints built up equals a full repaint.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ui {
class Window;
}

namespace ui_test {

// Runs the thread's loop until nothing is queued, so every invalidation made so far has been
// painted the way the window paints (partial updates); false after `timeout_ms`.
bool SettlePaint(ui::Window& window, DWORD timeout_ms = 5000);

// A copy of a surface's pixels (top-down BGRA).
struct Surface {
  int width = 0;
  int height = 0;
  std::vector<BYTE> bits;
};
Surface CopySurface(ui::Window& window);

// Settles the window's painting, then compares its whole surface, pixel for pixel, with a
// full repaint of the same state drawn apart from it. The failure names how many pixels differ
// and where; `retained` and `full` (when given) receive both pictures for a look.
::testing::AssertionResult RepaintsAgree(ui::Window& window, Surface* retained = nullptr,
                                         Surface* full = nullptr);

}  // namespace ui_test
