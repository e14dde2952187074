// Things that change on their own under a real window: animated pictures and tooltips.
#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "base/StringUtil.h"
#include "ui/core/Control.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderContext.h"

namespace {

constexpr DWORD kRed = 0xFF0000;
constexpr DWORD kGreen = 0x00FF00;
constexpr DWORD kBlue = 0x0000FF;

class AnimatedWindow : public ui::WindowImplBase {
 public:
  explicit AnimatedWindow(std::wstring skin) : skin_(std::move(skin)) {}
  std::wstring GetSkinFile() override { return skin_; }
  std::wstring GetSkinFolder() override { return L""; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestAnimatedWindow"; }

 private:
  std::wstring skin_;
};

class AnimationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring gif = ui_test::MakeTempFolder(L"gif") + L"frames.gif";
    // Twenty milliseconds a frame: red, green, blue.
    ASSERT_TRUE(
        ui_test::WriteFile(gif, ui_test::MakeGif(8, 8, {kRed, kGreen, kBlue}, {0, 1, 2}, 2)));
    const std::wstring skin = nbase::StringPrintf(
        L"<Window size=\"200,60\" shadowattached=\"false\"><HBox bkcolor=\"anim_dark\">"
        L"<Control name=\"loop\" width=\"40\" height=\"40\" bkimage=\"file='%ls'\"/>"
        L"<Control name=\"once\" width=\"40\" height=\"40\" bkimage=\"file='%ls' playcount='1'\"/>"
        L"<Button name=\"tipped\" width=\"40\" height=\"40\" tooltiptext=\"Pick a folder\"/>"
        L"<Button name=\"plain\" width=\"40\" height=\"40\" normalcolor=\"anim_dark\" "
        L"hotcolor=\"anim_light\" fadehot=\"true\"/>"
        L"<Control name=\"ghost\" width=\"40\" height=\"40\" bkcolor=\"anim_light\" "
        L"fadealpha=\"true\"/>"
        L"</HBox></Window>",
        gif.c_str(), gif.c_str());
    ui_test::AddTextColors({{L"anim_dark", L"#FF000000"}, {L"anim_light", L"#FFFFFFFF"}});
    window_ = std::make_unique<AnimatedWindow>(skin);
    // Plain and not activated: painted on request, and gone without the display's delay.
    hwnd_ = window_->Create(nullptr, L"anim", WS_POPUP, 0, false, {60, 60, 260, 120});
    ASSERT_NE(hwnd_, nullptr);
    window_->ShowWindow(true, false);
    ::UpdateWindow(hwnd_);
    loop_ = window_->FindControl(L"loop");
    once_ = window_->FindControl(L"once");
    ASSERT_TRUE(loop_ && once_);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return loop_->GetPos().right > 0; }, 2000));
  }
  void TearDown() override {
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }

  // The painted color at the middle of a control, as 0xRRGGBB.
  DWORD ColorAt(ui::Control* control) {
    ::GdiFlush();
    ui::IRenderContext* context = window_->GetRenderContext();
    const RECT& r = control->GetPos();
    const BYTE* p =
        context->GetBits() + (static_cast<size_t>((r.top + r.bottom) / 2) * context->GetWidth() +
                              (r.left + r.right) / 2) *
                                 4;
    return (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[1]) << 8) | p[0];
  }

  std::unique_ptr<AnimatedWindow> window_;
  HWND hwnd_ = nullptr;
  ui::Control* loop_ = nullptr;
  ui::Control* once_ = nullptr;
};

TEST_F(AnimationTest, FramesAdvanceAndLoopUnderTheWindow) {
  ASSERT_TRUE(ui_test::PumpUntil([&] { return loop_->GetBkImage().GetFrameCount() > 0; }, 2000));
  ASSERT_EQ(loop_->GetBkImage().GetFrameCount(), 3u) << "the decoder gave one frame only";
  EXPECT_TRUE(loop_->IsImagePlaying());

  // Every color is painted in turn, and red comes back after blue: it loops.
  std::vector<DWORD> seen;
  const bool looped = ui_test::PumpUntil(
      [&] {
        const DWORD color = ColorAt(loop_);
        if (seen.empty() || seen.back() != color) seen.push_back(color);
        for (size_t i = 0; i + 2 < seen.size(); ++i) {
          if (seen[i] == kGreen && seen[i + 1] == kBlue && seen[i + 2] == kRed) return true;
        }
        return false;
      },
      4000);
  EXPECT_TRUE(looped) << "colors seen: " << seen.size();
}

TEST_F(AnimationTest, PlayCountStopsOnTheLastFrame) {
  ASSERT_TRUE(ui_test::PumpUntil([&] { return once_->GetBkImage().GetFrameCount() > 0; }, 2000));
  ASSERT_TRUE(ui_test::PumpUntil([&] { return !once_->IsImagePlaying(); }, 4000));
  EXPECT_EQ(once_->GetBkImage().GetCurrentFrame(), 2u);
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
  EXPECT_EQ(ColorAt(once_), kBlue);
  EXPECT_TRUE(loop_->IsImagePlaying());  // the other use of the same picture plays on

  // A new picture plays again from its start.
  once_->SetAttribute(L"bkimage", once_->GetBkImage().GetAttribute().image_string);
  EXPECT_EQ(once_->GetBkImage().GetCurrentFrame(), 0u);
  EXPECT_TRUE(ui_test::PumpUntil([&] { return once_->IsImagePlaying(); }, 2000));
}

TEST_F(AnimationTest, TooltipFollowsTheHoveredControl) {
  auto center = [](ui::Control* control) {
    const RECT& r = control->GetPos();
    return MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  };
  ui::Control* tipped = window_->FindControl(L"tipped");
  ui::Control* plain = window_->FindControl(L"plain");
  ASSERT_TRUE(tipped && plain);
  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, center(tipped));
  ::SendMessageW(hwnd_, WM_MOUSEHOVER, 0, center(tipped));
  HWND tip = window_->GetTooltipWindow();
  ASSERT_NE(tip, nullptr);
  EXPECT_TRUE(::IsWindowVisible(tip));
  wchar_t text[64] = {};
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  tool.lpszText = text;
  ::SendMessageW(tip, TTM_GETTEXTW, 64, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(text, L"Pick a folder");

  // Moving on hides it, and a control without a tooltip does not bring it back.
  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, center(plain));
  EXPECT_FALSE(::IsWindowVisible(tip));
  ::SendMessageW(hwnd_, WM_MOUSEHOVER, 0, center(plain));
  EXPECT_FALSE(::IsWindowVisible(tip));

  // Back on the control, then out of the window.
  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, center(tipped));
  ::SendMessageW(hwnd_, WM_MOUSEHOVER, 0, center(tipped));
  EXPECT_TRUE(::IsWindowVisible(tip));
  ::SendMessageW(hwnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(tip));
}

TEST_F(AnimationTest, HotLookFadesInAndOutStepByStep) {
  ui::Control* plain = window_->FindControl(L"plain");
  ui::Control* tipped = window_->FindControl(L"tipped");
  const RECT& r = plain->GetPos();
  const LPARAM inside = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  const RECT& t = tipped->GetPos();
  const LPARAM outside = MAKELPARAM((t.left + t.right) / 2, (t.top + t.bottom) / 2);

  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, inside);
  EXPECT_EQ(plain->GetState(), ui::kControlStateHot);
  EXPECT_TRUE(plain->IsHotFading());
  EXPECT_LT(plain->GetHotAlpha(), 255);
  // On the way up the painted color passes through grey, between the normal and hot colors.
  bool grey = false;
  EXPECT_TRUE(ui_test::PumpUntil(
      [&] {
        const DWORD c = ColorAt(plain) & 0xFF;
        if (c > 0x20 && c < 0xE0) grey = true;
        return !plain->IsHotFading();
      },
      2000));
  EXPECT_TRUE(grey);
  EXPECT_EQ(plain->GetHotAlpha(), 255);
  ::UpdateWindow(hwnd_);
  EXPECT_EQ(ColorAt(plain), 0xFFFFFFu);

  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, outside);
  EXPECT_EQ(plain->GetState(), ui::kControlStateNormal);
  EXPECT_TRUE(ui_test::PumpUntil([&] { return plain->GetHotAlpha() == 0; }, 2000));
  EXPECT_FALSE(plain->IsHotFading());
  ::UpdateWindow(hwnd_);
  EXPECT_EQ(ColorAt(plain), 0u);

  // Without the fade the hot look comes at once.
  plain->SetAttribute(L"fadehot", L"false");
  ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, inside);
  EXPECT_FALSE(plain->IsHotFading());
  EXPECT_EQ(plain->GetHotAlpha(), 255);
}

TEST_F(AnimationTest, FadeVisibleBlendsOutAndInWithTheAlphaFade) {
  ui::Control* ghost = window_->FindControl(L"ghost");
  ASSERT_NE(ghost, nullptr);
  ::UpdateWindow(hwnd_);
  ASSERT_EQ(ColorAt(ghost), 0xFFFFFFu);
  // Blending onto the dark box underneath, the light control turns grey on its way out.
  auto watch_grey = [&](bool& grey) {
    const DWORD c = ColorAt(ghost) & 0xFF;
    if (c > 0x20 && c < 0xE0) grey = true;
  };
  ghost->SetFadeVisible(false);
  EXPECT_TRUE(ghost->IsVisible());
  EXPECT_TRUE(ghost->IsAlphaFading());
  bool grey_out = false;
  EXPECT_TRUE(ui_test::PumpUntil(
      [&] {
        watch_grey(grey_out);
        return !ghost->IsVisible();
      },
      2000));
  EXPECT_TRUE(grey_out);
  EXPECT_EQ(ghost->GetAlpha(), 255);
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
  EXPECT_EQ(ColorAt(ghost), 0u);

  ghost->SetFadeVisible(true);
  EXPECT_TRUE(ghost->IsVisible());
  EXPECT_LT(ghost->GetAlpha(), 255);
  bool grey_in = false;
  EXPECT_TRUE(ui_test::PumpUntil(
      [&] {
        watch_grey(grey_in);
        return !ghost->IsAlphaFading();
      },
      2000));
  EXPECT_TRUE(grey_in);
  ::UpdateWindow(hwnd_);
  EXPECT_EQ(ColorAt(ghost), 0xFFFFFFu);

  // Without the alpha fade, as the setup window has it, hiding is immediate.
  ghost->SetAttribute(L"fadealpha", L"false");
  ghost->SetFadeVisible(false);
  EXPECT_FALSE(ghost->IsVisible());
  EXPECT_FALSE(ghost->IsAlphaFading());
}

}  // namespace
