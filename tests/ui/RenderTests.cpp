// Drawing into an off-screen surface, checked pixel by pixel.
#include <gtest/gtest.h>

#include <cstdlib>

#include "UiTestSupport.h"
#include "ui/core/Control.h"
#include "ui/core/GlobalManager.h"
#include "ui/render/RenderFactory.h"

namespace {

DWORD Pixel(ui::IRenderContext& context, int x, int y) {
  ::GdiFlush();
  const BYTE* p = context.GetBits() + (static_cast<size_t>(y) * context.GetWidth() + x) * 4;
  return (p[2] << 16) | (p[1] << 8) | p[0];
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ui_test::MakeTempFolder(L"img");
    context_ = ui::GlobalManager::Instance().GetRenderFactory()->CreateRenderContext();
    ASSERT_TRUE(context_->Resize(400, 60));
  }
  // Paints a control with the given background image string at `rect`.
  void PaintImage(const std::wstring& image, RECT rect) {
    ui::Control control;
    control.SetAttribute(L"bkimage", image);
    control.SetPos(rect);
    RECT all = {0, 0, context_->GetWidth(), context_->GetHeight()};
    control.Paint(context_.get(), all);
  }
  std::wstring folder_;
  std::unique_ptr<ui::IRenderContext> context_;
};

TEST_F(Render, NineSliceKeepsTheRightEdgeUnstretched) {
  // 60x20: red left 5, green middle, blue right 30 with a white column at its x = 10.
  const std::wstring path = folder_ + L"combo.bmp";
  ASSERT_TRUE(ui_test::WriteFile(path, ui_test::MakeBmp(60, 20, [](int x, int) -> DWORD {
    if (x < 5) return 0xFF0000;
    if (x < 30) return 0x00FF00;
    return x == 40 ? 0xFFFFFF : 0x0000FF;
  })));
  PaintImage(L"file='" + path + L"' corner='5,5,30,5'", {0, 0, 352, 20});
  EXPECT_EQ(Pixel(*context_, 2, 10), 0xFF0000u);
  EXPECT_EQ(Pixel(*context_, 200, 10), 0x00FF00u);
  EXPECT_EQ(Pixel(*context_, 352 - 30 + 10, 10), 0xFFFFFFu);
  EXPECT_EQ(Pixel(*context_, 352 - 30 + 9, 10), 0x0000FFu);
  EXPECT_EQ(Pixel(*context_, 352 - 30 + 11, 10), 0x0000FFu);
}

TEST_F(Render, FadeAndDestination) {
  const std::wstring path = folder_ + L"white.bmp";
  ASSERT_TRUE(ui_test::WriteFile(path, ui_test::MakeBmp(16, 16, [](int, int) -> DWORD {
    return 0xFFFFFF;
  })));
  PaintImage(L"file='" + path + L"' fade='80'", {0, 0, 16, 16});
  const int faded = static_cast<int>(Pixel(*context_, 8, 8) & 0xFF);
  EXPECT_NEAR(faded, 80, 3);  // about 31 % of white over black

  PaintImage(L"file='" + path + L"' dest='0,2,16,18'", {100, 0, 116, 20});
  EXPECT_EQ(Pixel(*context_, 108, 1), 0u);
  EXPECT_EQ(Pixel(*context_, 108, 2), 0xFFFFFFu);
  EXPECT_EQ(Pixel(*context_, 108, 17), 0xFFFFFFu);
  EXPECT_EQ(Pixel(*context_, 108, 18), 0u);
}

TEST_F(Render, SharedImagesDecodeOnceWhileUsed) {
  const std::wstring path = folder_ + L"shared.bmp";
  ASSERT_TRUE(ui_test::WriteFile(path, ui_test::MakeBmp(4, 4, [](int, int) -> DWORD { return 1; })));
  auto first = ui::GlobalManager::Instance().GetImage(path);
  auto second = ui::GlobalManager::Instance().GetImage(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_FALSE(first->has_alpha);
  const size_t cached = ui::GlobalManager::Instance().GetImageCacheSize();
  first.reset();
  second.reset();
  EXPECT_EQ(ui::GlobalManager::Instance().GetImageCacheSize(), cached - 1);
  EXPECT_FALSE(ui::GlobalManager::Instance().GetImage(folder_ + L"missing.bmp"));
}

TEST_F(Render, SingleLineMeasurementIsPositiveAndStable) {
  ui::GlobalManager::Instance().AddFont(L"measure", L"Arial", 14, false, false, false, false);
  const RECT a = context_->MeasureText(L"Install Now", L"measure", DT_SINGLELINE, -1);
  const RECT b = context_->MeasureText(L"Install Now", L"measure", DT_SINGLELINE, -1);
  EXPECT_GT(a.right - a.left, 0);
  EXPECT_GT(a.bottom - a.top, 0);
  EXPECT_EQ(a.right, b.right);
  EXPECT_EQ(a.bottom, b.bottom);
  context_->DrawText({0, 0, 200, 30}, L"Install Now", 0xFFFFFFFF, L"measure", DT_SINGLELINE);
}

}  // namespace
