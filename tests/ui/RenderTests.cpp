// Drawing into an off-screen surface, checked pixel by pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>

#include "UiTestSupport.h"
#include "ui/core/Control.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/render/Image.h"
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
  ASSERT_TRUE(ui_test::WriteFile(
      path, ui_test::MakeBmp(16, 16, [](int, int) -> DWORD { return 0xFFFFFF; })));
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
  ASSERT_TRUE(
      ui_test::WriteFile(path, ui_test::MakeBmp(4, 4, [](int, int) -> DWORD { return 1; })));
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
  const RECT a = context_->MeasureText(
      L"Install Now", ui::GlobalManager::Instance().GetFont(L"measure"), DT_SINGLELINE, -1);
  const RECT b = context_->MeasureText(
      L"Install Now", ui::GlobalManager::Instance().GetFont(L"measure"), DT_SINGLELINE, -1);
  EXPECT_GT(a.right - a.left, 0);
  EXPECT_GT(a.bottom - a.top, 0);
  EXPECT_EQ(a.right, b.right);
  EXPECT_EQ(a.bottom, b.bottom);
  context_->DrawText({0, 0, 200, 30}, L"Install Now", 0xFFFFFFFF,
                     ui::GlobalManager::Instance().GetFont(L"measure"), DT_SINGLELINE);
}

// The context keeps the GDI+ fonts it makes; a font deleted and another made in its place
// (the system may hand out the same handle again) must not be measured as the old one.
TEST_F(Render, TextIsMeasuredWithTheFontItIsGivenEvenWhenHandlesAreReused) {
  auto measure = [&](int height) {
    LOGFONTW logfont = {};
    logfont.lfHeight = -height;
    std::wcscpy(logfont.lfFaceName, L"Arial");
    HFONT font = ::CreateFontIndirectW(&logfont);
    const RECT extent = context_->MeasureText(L"Install Now", font, DT_SINGLELINE, -1);
    context_->DrawText({0, 0, 400, 60}, L"Install Now", 0xFFFFFFFF, font, DT_SINGLELINE);
    ::DeleteObject(font);
    return extent.right - extent.left;
  };
  const int small = measure(12);
  const int large = measure(30);
  EXPECT_GT(large, small * 2);
  for (int round = 0; round < 40; ++round) {
    const int height = round % 2 ? 12 : 30;
    EXPECT_EQ(measure(height), height == 12 ? small : large) << "round " << round;
  }
}

// A picture with a frame of `corner` pixels in `edge` colour around a `middle` colour.
std::string FramedBmp(int size, int corner, DWORD edge, DWORD middle) {
  return ui_test::MakeBmp(size, size, [=](int x, int y) -> DWORD {
    const bool in_frame = x < corner || y < corner || x >= size - corner || y >= size - corner;
    return in_frame ? edge : middle;
  });
}

// Above 100 % the variant drawn for the scale is used, and between variants the next larger one
// reduced to the scale, its nine-slice corners landing exactly on the scaled corners; past the
// largest variant that one is stretched; without any the plain picture is.
TEST_F(Render, LargerVariantsServeHighScales) {
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  dpi.AdaptDPI();
  const int previous = dpi.GetScale();
  // Plain 20 px with 4 px corners; the variants have the same frame, 1.5 and 2 times as wide.
  ASSERT_TRUE(ui_test::WriteFile(folder_ + L"pic.bmp", FramedBmp(20, 4, 0xFF0000, 0x00FF00)));
  ASSERT_TRUE(ui_test::WriteFile(folder_ + L"pic@150.bmp", FramedBmp(30, 6, 0xFF0000, 0x0000FF)));
  ASSERT_TRUE(ui_test::WriteFile(folder_ + L"pic@200.bmp", FramedBmp(40, 8, 0xFF0000, 0xFFFF00)));
  ASSERT_TRUE(ui_test::WriteFile(folder_ + L"only.bmp", FramedBmp(20, 4, 0xFF0000, 0x00FF00)));
  const struct {
    int scale;
    DWORD middle;
    int variant;
  } cases[] = {{100, 0x00FF00, 100},
               {150, 0x0000FF, 150},
               {175, 0xFFFF00, 175},
               {200, 0xFFFF00, 200},
               {250, 0xFFFF00, 200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scale);
    dpi.SetScale(c.scale);
    auto info = ui::GlobalManager::Instance().GetImage(folder_ + L"pic.bmp");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->scale_percent, c.variant);
    context_->Clear();
    PaintImage(L"file='" + folder_ + L"pic.bmp' corner='4,4,4,4'", {0, 0, 120, 40});
    const int corner = dpi.ScaleInt(4);
    EXPECT_EQ(Pixel(*context_, corner - 1, 20), 0xFF0000u);
    EXPECT_EQ(Pixel(*context_, corner, 20), c.middle);
    EXPECT_EQ(Pixel(*context_, 119 - corner, 20), c.middle);
    EXPECT_EQ(Pixel(*context_, 120 - corner, 20), 0xFF0000u);
  }
  dpi.SetScale(150);
  EXPECT_EQ(ui::GlobalManager::Instance().GetImage(folder_ + L"only.bmp")->scale_percent, 100);

  // A picture drawn at 200 % only serves 100 % too, reduced once and kept for the scale: the
  // slideshow comes back to the same pictures.
  ASSERT_TRUE(ui_test::WriteFile(folder_ + L"big@200.bmp", FramedBmp(40, 8, 0xFF0000, 0x0000FF)));
  dpi.SetScale(100);
  const ui::ImageInfo* first = nullptr;
  {
    auto info = ui::GlobalManager::Instance().GetImage(folder_ + L"big.bmp");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->scale_percent, 100);
    EXPECT_EQ(info->width, 20);
    first = info.get();
  }
  EXPECT_EQ(ui::GlobalManager::Instance().GetImage(folder_ + L"big.bmp").get(), first);
  context_->Clear();
  PaintImage(L"file='" + folder_ + L"big.bmp' corner='4,4,4,4'", {0, 0, 60, 20});
  EXPECT_EQ(Pixel(*context_, 3, 10), 0xFF0000u);
  EXPECT_EQ(Pixel(*context_, 4, 10), 0x0000FFu);
  EXPECT_EQ(Pixel(*context_, 55, 10), 0x0000FFu);
  EXPECT_EQ(Pixel(*context_, 56, 10), 0xFF0000u);
  dpi.SetScale(previous);
}

}  // namespace
