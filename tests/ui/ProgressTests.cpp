// The progress bar's filled part, checked in pixels, and a layered window that paints itself.
#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"

#include <functional>

#include "UiTestSupport.h"
#include "ui/controls/Progress.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderFactory.h"

namespace {

// Blue, green, red and alpha of one pixel of a render context.
struct Bgra {
  BYTE b, g, r, a;
};

Bgra PixelAt(const ui::IRenderContext& context, int x, int y) {
  ::GdiFlush();
  const BYTE* p = context.GetBits() + (static_cast<size_t>(y) * context.GetWidth() + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

// Runs the message loop until `done`, failing after two seconds instead of hanging.
bool Pump(const std::function<bool()>& done) {
  return ui_test::PumpUntil(done, 2000);
}

class ProgressPaint : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::GlobalManager::Instance().AddTextColor(L"test_fill", L"#FF0000FF");
    context_ = ui::GlobalManager::Instance().GetRenderFactory()->CreateRenderContext();
    ASSERT_TRUE(context_->Resize(400, 10));
    bar_.SetAttribute(L"progresscolor", L" test_fill");
    bar_.SetPos({0, 0, 400, 10});
  }
  void Paint() {
    context_->Clear();
    bar_.Paint(context_.get(), {0, 0, 400, 10});
  }
  bool Filled(int x, int y = 5) { return PixelAt(*context_, x, y).b == 0xFF; }

  std::unique_ptr<ui::IRenderContext> context_;
  ui::Progress bar_;
};

TEST_F(ProgressPaint, FillFollowsTheValueAndTheRangeIsNormalised) {
  bar_.SetAttribute(L"value", L"33");
  Paint();
  EXPECT_TRUE(Filled(131));
  EXPECT_FALSE(Filled(132));  // 400 * 33 / 100 = 132 pixels

  bar_.SetValue(150);
  Paint();
  EXPECT_TRUE(Filled(399));
  EXPECT_EQ(bar_.GetValue(), 100.0);

  bar_.SetAttribute(L"min", L"10");
  bar_.SetAttribute(L"max", L"5");
  Paint();
  EXPECT_EQ(bar_.GetMaxValue(), 11);
  EXPECT_EQ(bar_.GetValue(), 11.0);

  // Vertical bars fill upward; at the minimum nothing is filled.
  bar_.SetAttribute(L"hor", L"false");
  bar_.SetValue(10);
  Paint();
  EXPECT_EQ(bar_.GetProgressPos().top, 10);
  EXPECT_FALSE(Filled(200, 9));
}

TEST_F(ProgressPaint, UnstretchedImageIsUncoveredInPlace) {
  // Each column of the image carries its own x in the red channel.
  const std::wstring folder = ui_test::MakeTempFolder(L"progress");
  ASSERT_TRUE(ui_test::WriteFile(folder + L"ramp.bmp", ui_test::MakeBmp(400, 10, [](int x, int) {
                                   return static_cast<DWORD>((x / 2) << 16);
                                 })));
  ui::Progress plain;
  plain.SetAttribute(L"progressimage", L"file='" + folder + L"ramp.bmp'");
  plain.SetAttribute(L"isstretchfore", L"false");
  plain.SetAttribute(L"value", L"25");
  plain.SetPos({0, 0, 400, 10});
  context_->Clear();
  plain.Paint(context_.get(), {0, 0, 400, 10});
  EXPECT_NEAR(PixelAt(*context_, 90, 5).r, 45, 2);  // not squeezed: x 90 shows column 90
  EXPECT_EQ(PixelAt(*context_, 150, 5).a, 0);       // the track beyond the value stays bare
}

const wchar_t kLayeredSkin[] =
    L"<Window size=\"200,120\" alphafixcorner=\"24,24,24,24\">"
    L"<VBox name=\"content\" bkcolor=\"test_glass\">"
    L"<Progress name=\"bar\" width=\"-1\" height=\"10\" progresscolor=\"test_fill\" value=\"50\"/>"
    L"</VBox></Window>";

class LayeredWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return kLayeredSkin; }
  std::wstring GetSkinFolder() override { return L""; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestLayered"; }
};

TEST(Layered, ShownWindowPaintsItselfAndKeepsItsAlpha) {
  ui_test::AddTextColors({{L"test_fill", L"#FF0000FF"}, {L"test_glass", L"#8000FF00"}});
  LayeredWindow window;
  const HWND hwnd = window.Create(nullptr, L"layered", WS_POPUP, 0, true, {30, 30, 230, 150});
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(window.IsLayeredWindow());
  window.ShowWindow();
  ui::IRenderContext* context = window.GetRenderContext();
  auto* bar = static_cast<ui::Progress*>(window.FindControl(L"bar"));
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(Pump([&] { return context->GetBits() && bar->GetPos().right > 0; }));

  // The shadow box pads the content by 14 on every side; its margin stays see-through.
  const RECT content = window.FindControl(L"content")->GetPos();
  EXPECT_EQ(content.left, 14);
  EXPECT_EQ(PixelAt(*context, 4, 60).a, 0);
  // Inside the content but outside the alpha-fix corner the glass keeps its own alpha...
  const Bgra glass = PixelAt(*context, 18, 60);
  EXPECT_GT(glass.a, 0x60);
  EXPECT_LT(glass.a, 0xA0);
  // ...and within the corner it is made opaque.
  EXPECT_EQ(PixelAt(*context, 100, 60).a, 255);

  // A later change reaches the layered surface without any paint request from the system.
  const RECT& r = bar->GetPos();
  const int three_quarters = r.left + (r.right - r.left) * 3 / 4;
  const int y = (r.top + r.bottom) / 2;
  EXPECT_EQ(PixelAt(*context, r.left + 2, y).b, 0xFF);
  EXPECT_NE(PixelAt(*context, three_quarters, y).b, 0xFF);
  bar->SetValue(90);
  EXPECT_TRUE(Pump([&] { return PixelAt(*context, three_quarters, y).b == 0xFF; }));
  ::DestroyWindow(hwnd);
}

}  // namespace
