// Compares a window's retained surface with a full repaint drawn into a surface of its own.
#include "tests/ui/RepaintCheck.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "tests/ui/WindowInput.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/render/RenderContext.h"
#include "ui/render/RenderFactory.h"

namespace ui_test {

bool SettlePaint(ui::Window& window, DWORD timeout_ms) {
  return PumpUntil(
      [&] {
        MSG msg;
        ui::IRenderContext* context = window.GetRenderContext();
        return context && context->GetBits() && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
      },
      timeout_ms);
}

Surface CopySurface(ui::Window& window) {
  Surface surface;
  ui::IRenderContext* context = window.GetRenderContext();
  if (!context || !context->GetBits()) return surface;
  ::GdiFlush();
  surface.width = context->GetWidth();
  surface.height = context->GetHeight();
  const BYTE* bits = context->GetBits();
  surface.bits.assign(bits, bits + static_cast<size_t>(surface.width) * surface.height * 4);
  return surface;
}

::testing::AssertionResult RepaintsAgree(ui::Window& window, Surface* retained, Surface* full) {
  if (!SettlePaint(window)) return ::testing::AssertionFailure() << "the window never settled";
  // Nothing runs between the copy and the full repaint, so both show one state.
  const Surface kept = CopySurface(window);
  ui::IRenderFactory* factory = ui::GlobalManager::Instance().GetRenderFactory();
  if (!factory || kept.bits.empty()) {
    return ::testing::AssertionFailure() << "the window has no painted surface";
  }
  std::unique_ptr<ui::IRenderContext> context = factory->CreateRenderContext();
  if (!window.RenderFull(context.get())) {
    return ::testing::AssertionFailure() << "no full repaint";
  }
  Surface whole;
  whole.width = context->GetWidth();
  whole.height = context->GetHeight();
  const BYTE* bits = context->GetBits();
  whole.bits.assign(bits, bits + static_cast<size_t>(whole.width) * whole.height * 4);
  if (retained) *retained = kept;
  if (full) *full = whole;
  if (whole.width != kept.width || whole.height != kept.height) {
    return ::testing::AssertionFailure() << "sizes differ: " << kept.width << "x" << kept.height
                                         << " against " << whole.width << "x" << whole.height;
  }
  int differing = 0;
  RECT box = {kept.width, kept.height, 0, 0};
  int first_x = -1;
  int first_y = -1;
  for (int y = 0; y < kept.height; ++y) {
    for (int x = 0; x < kept.width; ++x) {
      const size_t at = (static_cast<size_t>(y) * kept.width + x) * 4;
      if (std::equal(&kept.bits[at], &kept.bits[at] + 4, &whole.bits[at])) continue;
      if (differing++ == 0) {
        first_x = x;
        first_y = y;
      }
      box.left = std::min<LONG>(box.left, x);
      box.top = std::min<LONG>(box.top, y);
      box.right = std::max<LONG>(box.right, x + 1);
      box.bottom = std::max<LONG>(box.bottom, y + 1);
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  const size_t at = (static_cast<size_t>(first_y) * kept.width + first_x) * 4;
  auto describe = [](const BYTE* p) {
    return "bgra(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
           std::to_string(p[2]) + "," + std::to_string(p[3]) + ")";
  };
  return ::testing::AssertionFailure()
         << differing << " pixels differ from a full repaint, within (" << box.left << ","
         << box.top << ")-(" << box.right << "," << box.bottom << "); first at (" << first_x << ","
         << first_y << "): " << describe(&kept.bits[at]) << " instead of "
         << describe(&whole.bits[at]);
}

}  // namespace ui_test
