// Partial repaints: every kind of drawing stays inside the clip, and a window's surface built by
// partial repaints equals a full repaint; rounded corners as borderround asks for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/ui/RepaintCheck.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/core/Control.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/ShadowBox.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderContext.h"
#include "ui/render/RenderFactory.h"

namespace {

const BYTE* At(ui::IRenderContext& context, int x, int y) {
  return context.GetBits() + (static_cast<size_t>(y) * context.GetWidth() + x) * 4;
}

DWORD Bgra(ui::IRenderContext& context, int x, int y) {
  const BYTE* p = At(context, x, y);
  return (static_cast<DWORD>(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
}

// A control with a 2-pixel border in `edge` round its `fill`, its corners rounded by `round`,
// painted as its parent paints it.
void PaintRoundedCard(ui::IRenderContext* context, const wchar_t* fill, const wchar_t* edge,
                      const wchar_t* round, const RECT& pos, const RECT& paint) {
  ui::Control card;
  card.SetAttribute(L"bkcolor", fill);
  card.SetAttribute(L"bordercolor", edge);
  card.SetAttribute(L"bordersize", L"2");
  card.SetAttribute(L"borderround", round);
  card.SetPos(pos);
  card.AlphaPaint(context, paint);
}

// A picture of `size` with see-through edges and an opaque middle, for nine-slice drawing.
std::wstring WritePicture(const std::wstring& folder, int size) {
  const std::wstring path = folder + L"slice.png";
  ui_test::WriteFile(path, ui_test::MakePng(size, size, [size](int x, int y) -> DWORD {
                       const bool edge = x < 6 || y < 6 || x >= size - 6 || y >= size - 6;
                       return edge ? 0x6E000000u : 0xFF3070D0u;
                     }));
  return path;
}

TEST(Clip, NothingIsDrawnOutsideIt) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  ui_test::AddTextColors(
      {{L"clip_ink", L"#FF000000"}, {L"clip_red", L"#C0E01010"}, {L"clip_edge", L"#FF1010E0"}});
  const std::wstring folder = ui_test::MakeTempFolder(L"clip");
  const std::wstring picture = WritePicture(folder, 32);
  std::unique_ptr<ui::IRenderContext> context = global.GetRenderFactory()->CreateRenderContext();
  ASSERT_TRUE(context->Resize(240, 120));
  context->SetRenderTransparent(true);
  const RECT all = {0, 0, 240, 120};
  context->DrawColor(all, 0xFF808080);
  ::GdiFlush();
  const std::vector<BYTE> before(context->GetBits(), context->GetBits() + 240 * 120 * 4);

  const RECT clip = {70, 30, 170, 90};
  {
    ui::ScopedClip scoped(context.get(), clip);
    // Each drawing covers the whole surface and more; only the clip may change.
    ui::Control image;
    image.SetAttribute(L"bkimage", L"file='" + picture + L"' corner='6,6,6,6'");
    image.SetAttribute(L"bkcolor", L"clip_red");
    image.SetAttribute(L"bordercolor", L"clip_edge");
    image.SetAttribute(L"bordersize", L"3");
    image.SetPos({-10, -10, 250, 130});
    image.AlphaPaint(context.get(), {-10, -10, 250, 130});
    ui::Control translucent;
    translucent.SetAttribute(L"bkcolor", L"clip_red");
    translucent.SetAttribute(L"alpha", L"128");
    translucent.SetPos(all);
    translucent.AlphaPaint(context.get(), all);
    PaintRoundedCard(context.get(), L"clip_ink", L"clip_edge", L"20,20", {20, 10, 220, 110}, all);
    context->DrawText({-50, 0, 300, 120}, L"WWWWWWWWWWWWWWWWWWWWWWWWWW", 0xFF000000,
                      ui::GlobalManager::Instance().GetFont(L""), DT_NOCLIP);
    context->DrawRect(all, 8, 0xFF00FF00);
    context->DrawRoundRect(all, {30, 30}, 12, 0xFF00FF00);
    context->DrawImage(all, nullptr, false, all, all, RECT());
  }
  ::GdiFlush();
  int outside_changed = 0;
  int inside_changed = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 240; ++x) {
      const POINT p = {x, y};
      const bool changed = std::memcmp(At(*context, x, y), &before[(y * 240 + x) * 4], 4) != 0;
      if (::PtInRect(&clip, p))
        inside_changed += changed;
      else
        outside_changed += changed;
    }
  }
  EXPECT_EQ(outside_changed, 0);
  EXPECT_GT(inside_changed, 1000);

  // Once the clip is gone, drawing reaches everywhere again.
  context->DrawColor(all, 0xFF102030);
  ::GdiFlush();
  EXPECT_EQ(Bgra(*context, 1, 1), 0xFF102030u);
}

// Opaque fills are written into the bitmap directly; they must cover exactly the pixels a
// blended fill covers, through a rounded clip and past every edge of the surface.
TEST(Clip, OpaqueFillsCoverWhatBlendedFillsCover) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  auto fill_both = [&global](const RECT& clip, SIZE round, const RECT& fill) {
    std::vector<std::vector<BYTE>> surfaces;
    for (const DWORD color : {0xFF2050A0u, 0xF02050A0u}) {
      std::unique_ptr<ui::IRenderContext> context =
          global.GetRenderFactory()->CreateRenderContext();
      EXPECT_TRUE(context->Resize(90, 50));
      context->SetRenderTransparent(true);
      {
        ui::ScopedClip scoped(context.get(), clip, round);
        context->DrawColor(fill, color);
      }
      ::GdiFlush();
      surfaces.emplace_back(context->GetBits(), context->GetBits() + 90 * 50 * 4);
    }
    int differ = 0;
    int covered = 0;
    for (size_t i = 0; i < 90 * 50; ++i) {
      const bool opaque = surfaces[0][i * 4 + 3] != 0;
      const bool blended = surfaces[1][i * 4 + 3] != 0;
      differ += opaque != blended;
      covered += opaque;
    }
    EXPECT_EQ(differ, 0) << "clip " << clip.left << "," << clip.top << " fill " << fill.left << ","
                         << fill.top << "," << fill.right << "," << fill.bottom;
    return covered;
  };
  EXPECT_GT(fill_both({8, 4, 80, 46}, {20, 20}, {-30, -30, 200, 200}), 2500);
  EXPECT_GT(fill_both({-10, -10, 100, 60}, {}, {60, -5, 95, 20}), 500);
  EXPECT_GT(fill_both({0, 0, 90, 50}, {30, 30}, {3, 3, 40, 47}), 1000);
  EXPECT_EQ(fill_both({0, 0, 90, 50}, {}, {90, 0, 120, 50}), 0);
}

// Opaque pictures drawn at their own size are copied into the bitmap directly; the copy must
// equal the blend it replaces, for pictures stored either way up, drawn from an offset, through
// a rounded clip and past the surface's edges.
TEST(Clip, OpaquePicturesCopiedEqualPicturesBlended) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  for (const bool bottom_up : {false, true}) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 50;
    info.bmiHeader.biHeight = bottom_up ? 40 : -40;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ui::UniqueBitmap picture(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(picture);
    auto* pixels = static_cast<DWORD*>(bits);
    for (int i = 0; i < 50 * 40; ++i) pixels[i] = 0xFF000000u | (i * 2654435761u >> 8);
    struct Case {
      RECT clip;
      SIZE round;
      RECT dest;
      RECT source;
    };
    const Case cases[] = {{{8, 4, 80, 46}, {20, 20}, {10, 6, 50, 36}, {5, 3, 45, 33}},
                          {{0, 0, 90, 50}, {}, {-12, -7, 38, 33}, {0, 0, 50, 40}},
                          {{0, 0, 90, 50}, {30, 30}, {60, 20, 110, 60}, {0, 0, 50, 40}}};
    for (const Case& c : cases) {
      std::vector<std::vector<BYTE>> surfaces;
      for (const bool has_alpha : {false, true}) {
        std::unique_ptr<ui::IRenderContext> context =
            global.GetRenderFactory()->CreateRenderContext();
        ASSERT_TRUE(context->Resize(90, 50));
        context->SetRenderTransparent(true);
        context->DrawColor({0, 0, 90, 50}, 0xFF406080);
        {
          ui::ScopedClip scoped(context.get(), c.clip, c.round);
          context->DrawImage({0, 0, 90, 50}, picture.get(), has_alpha, c.dest, c.source, RECT());
        }
        ::GdiFlush();
        surfaces.emplace_back(context->GetBits(), context->GetBits() + 90 * 50 * 4);
      }
      EXPECT_EQ(surfaces[0], surfaces[1]) << (bottom_up ? "bottom-up" : "top-down")
                                          << " picture at " << c.dest.left << "," << c.dest.top;
      int drawn = 0;
      for (size_t i = 0; i < 90 * 50; ++i) {
        DWORD pixel = 0;
        std::memcpy(&pixel, &surfaces[0][i * 4], 4);
        drawn += pixel != 0xFF406080u;
      }
      EXPECT_GT(drawn, 300) << "the picture was drawn";
    }
  }
}

// The shadow is not drawn under its content's opaque background, which covers it anyway: the
// surface must be the one a plain box drawing the same picture under the same content gives,
// for whole and partial paints, with the content's corners rounded or not.
TEST(Shadow, LeftOutUnderOpaqueContentWithNothingToSee) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  ui_test::AddTextColors({{L"sh_paper", L"#FFF0E8D0"}, {L"sh_glass", L"#C0F0E8D0"}});
  const std::wstring folder = ui_test::MakeTempFolder(L"shadow");
  const std::wstring picture = folder + L"shadow.png";
  ASSERT_TRUE(ui_test::WriteFile(
      picture, ui_test::MakePng(64, 64, [](int x, int y) -> DWORD {
        const int edge = std::min(std::min(x, y), std::min(63 - x, 63 - y));
        return static_cast<DWORD>(std::min(edge * 9, 200)) << 24 | (x * 3) << 16 | (y * 3) << 8;
      })));
  auto paint = [&](bool shadow_box, const wchar_t* paper, const wchar_t* round, RECT update) {
    std::unique_ptr<ui::Box> box(shadow_box ? new ui::ShadowBox() : new ui::Box());
    box->SetAttribute(L"bkimage", L"file='" + picture + L"' corner='14,14,14,14'");
    box->GetLayout()->SetPadding({14, 14, 14, 14}, false);
    auto* content = new ui::Control();
    content->SetAttribute(L"bkcolor", paper);
    content->SetAttribute(L"borderround", round);
    box->Add(content);
    box->SetPos({0, 0, 160, 110});
    std::unique_ptr<ui::IRenderContext> context = global.GetRenderFactory()->CreateRenderContext();
    EXPECT_TRUE(context->Resize(160, 110));
    context->SetRenderTransparent(true);
    {
      ui::ScopedClip clip(context.get(), update);
      box->AlphaPaint(context.get(), update);
    }
    ::GdiFlush();
    return std::vector<BYTE>(context->GetBits(), context->GetBits() + 160 * 110 * 4);
  };
  const RECT whole = {0, 0, 160, 110};
  const RECT strip = {0, 40, 160, 52};
  for (const wchar_t* round : {L"0,0", L"12,12"}) {
    for (const RECT& update : {whole, strip}) {
      EXPECT_EQ(paint(true, L"sh_paper", round, update), paint(false, L"sh_paper", round, update))
          << "round " << round << ", update from row " << update.top;
    }
  }
  // Content that lets the shadow through gets all of it.
  EXPECT_EQ(paint(true, L"sh_glass", L"0,0", whole), paint(false, L"sh_glass", L"0,0", whole));
}

class HostWindow : public ui::WindowImplBase {
 public:
  explicit HostWindow(std::wstring skin) : skin_(std::move(skin)) {}
  std::wstring GetSkinFile() override { return skin_; }
  std::wstring GetSkinFolder() override { return L"form"; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestRepaintWindow"; }

 private:
  std::wstring skin_;
};

// A layered window with a shadow, nine-slice pictures, text, fills, borders, rounded corners
// and a translucent box, repainted in narrow strips across all of them again and again.
TEST(Repaint, PartialUpdatesEqualAFullRepaint) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  ui_test::AddTextColors({{L"rp_paper", L"#FFFFFFFF"},
                          {L"rp_ink", L"#FF000000"},
                          {L"rp_tint", L"#80E01010"},
                          {L"rp_edge", L"#FF1010E0"}});
  const std::wstring theme = global.GetResourcePath();
  ::CreateDirectoryW((theme + L"form").c_str(), nullptr);
  ::CreateDirectoryW((theme + L"public").c_str(), nullptr);
  ::CreateDirectoryW((theme + L"public\\bk").c_str(), nullptr);
  ASSERT_TRUE(ui_test::WriteFile(
      theme + L"public\\bk\\bk_shadow.png", ui_test::MakePng(64, 64, [](int x, int y) -> DWORD {
        return (x > 20 && x < 44 && y > 20 && y < 44) ? 0x6E000000u : 0x30000000u;
      })));
  const std::wstring picture = WritePicture(theme + L"form\\", 32);
  const std::wstring skin =
      L"<Window size=\"328,228\">"
      L"<VBox width=\"300\" height=\"200\" bkcolor=\"rp_paper\">"
      L"<Control height=\"60\" bkimage=\"file='slice.png' corner='6,6,6,6'\"/>"
      L"<Label name=\"text\" height=\"40\" text=\"Partial repaints must not smear this text\" "
      L"normaltextcolor=\"rp_ink\"/>"
      L"<HBox height=\"50\"><Control bkcolor=\"rp_tint\" bordercolor=\"rp_edge\" "
      L"bordersize=\"2\"/><Control bkcolor=\"rp_ink\" bordercolor=\"rp_edge\" bordersize=\"3\" "
      L"borderround=\"16,16\"/><VBox alpha=\"120\" bkcolor=\"rp_tint\"><Control "
      L"bkimage=\"file='slice.png' corner='6,6,6,6'\"/></VBox></HBox>"
      L"<Control/></VBox></Window>";
  HostWindow window(skin);
  const HWND hwnd = ui_test::OpenPopup(window, L"repaint", {50, 50, 378, 278}, true);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(ui_test::SettlePaint(window));
  ASSERT_TRUE(ui_test::RepaintsAgree(window)) << "after the first paint";
  for (int round = 0; round < 3; ++round) {
    for (LONG x = 0; x < 328; x += 37) {
      window.Invalidate({x, 0, x + 5, 228});
      window.Invalidate({0, x * 2 / 3, 328, x * 2 / 3 + 3});
      ASSERT_TRUE(ui_test::SettlePaint(window));
    }
    EXPECT_TRUE(ui_test::RepaintsAgree(window)) << "after round " << round;
  }
  ::DestroyWindow(hwnd);
}

// A control that counts how often it is drawn.
class CountedPaint : public ui::Control {
 public:
  explicit CountedPaint(int* count) : count_(count) {}
  void Paint(ui::IRenderContext* context, const RECT& paint_rect) override {
    ++*count_;
    ui::Control::Paint(context, paint_rect);
  }

 private:
  int* count_;
};

class CountingWindow : public HostWindow {
 public:
  using HostWindow::HostWindow;
  ui::Control* CreateControl(const std::wstring& name) override {
    return name == L"Counted" ? new CountedPaint(&paints) : nullptr;
  }
  int paints = 0;
};

// The first layout asks for every control to be drawn, from inside the paint that is about to
// draw them all: a window shown is drawn once, not drawn and handed over again right after.
TEST(Repaint, ShownLayeredWindowIsDrawnOnce) {
  ui_test::AddTextColors({{L"once_paper", L"#FFFFFFFF"}});
  CountingWindow window(
      L"<Window size=\"120,80\"><VBox bkcolor=\"once_paper\"><Counted name=\"counted\" "
      L"height=\"40\"/>"
      L"<Control/></VBox></Window>");
  const HWND hwnd = ui_test::OpenPopup(window, L"drawn once", {60, 60, 180, 140}, true);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(ui_test::SettlePaint(window));
  EXPECT_EQ(window.paints, 1);
  // What is asked for afterwards is still drawn.
  ui::Control* counted = window.FindControl(L"counted");
  ASSERT_NE(counted, nullptr);
  window.Invalidate(counted->GetPos());
  ASSERT_TRUE(ui_test::SettlePaint(window));
  EXPECT_EQ(window.paints, 2);
  EXPECT_TRUE(ui_test::RepaintsAgree(window));
  ::DestroyWindow(hwnd);
}

// borderround shapes the control's own painting and its children's, and its border follows
// the curve.
TEST(Repaint, RoundedCornersKeepTheParentVisible) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  ui_test::AddTextColors(
      {{L"rc_paper", L"#FFFFFFFF"}, {L"rc_fill", L"#FFE01010"}, {L"rc_edge", L"#FF1010E0"}});
  std::unique_ptr<ui::IRenderContext> context = global.GetRenderFactory()->CreateRenderContext();
  ASSERT_TRUE(context->Resize(120, 80));
  const RECT all = {0, 0, 120, 80};
  context->DrawColor(all, 0xFFFFFFFF);
  PaintRoundedCard(context.get(), L"rc_fill", L"rc_edge", L"24,24", {10, 10, 110, 70}, all);
  ::GdiFlush();
  EXPECT_EQ(Bgra(*context, 11, 11), 0xFFFFFFFFu) << "the corner shows the parent";
  EXPECT_EQ(Bgra(*context, 60, 10), 0xFF1010E0u) << "the border runs along the edge";
  EXPECT_EQ(Bgra(*context, 60, 40), 0xFFE01010u) << "the middle is filled";
  // Along the diagonal from the corner inwards: parent, then border, then fill.
  bool seen_border = false;
  bool seen_fill_after_border = false;
  for (int d = 0; d < 20; ++d) {
    const DWORD c = Bgra(*context, 10 + d, 10 + d);
    if (c == 0xFF1010E0u) seen_border = true;
    if (seen_border && c == 0xFFE01010u) seen_fill_after_border = true;
  }
  EXPECT_TRUE(seen_border);
  EXPECT_TRUE(seen_fill_after_border);
}

}  // namespace
