// The global style file's tables and their use by controls: fonts, colors, classes.
#include <gtest/gtest.h>

#include "ui/core/Control.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowBuilder.h"

namespace {

TEST(GlobalManager, GlobalFileFillsFontsColorsAndClasses) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  ui::WindowBuilder builder;
  builder.Create(
      L"<Global selectedcolor=\"blue\"><TextColor name=\"blue\" value=\"#ff07BE8B\"/>"
      L"<Font id=\"t_12\" name=\"system\" size=\"12\" default=\"true\"/>"
      L"<Font id=\"t_u\" name=\"Arial\" size=\"12\" underline=\"true\"/>"
      L"<Class name=\"btn\" font=\"t_u\" _value=\"5\" width=\"30\"/>"
      L"<Class name=\"pre\" value=\"height=&quot;9&quot;\"/></Global>",
      nullptr, nullptr, nullptr);
  EXPECT_EQ(global.GetTextColor(L"blue"), 0xFF07BE8Bu);
  EXPECT_EQ(global.GetTextColor(L"no_such_color"), 0u);
  // Global's own color attributes are resolved at once, so only a color defined earlier counts.
  EXPECT_EQ(global.GetDefaultSelectedBkColor(), 0u);
  ui::WindowBuilder second;
  second.Create(L"<Global selectedcolor=\"blue\"/>", nullptr, nullptr, nullptr);
  EXPECT_EQ(global.GetDefaultSelectedBkColor(), 0xFF07BE8Bu);
  EXPECT_EQ(ui::GlobalManager::ParseColor(L"#80000000"), 0x80000000u);
  EXPECT_EQ(global.GetDefaultFontId(), L"t_12");
  EXPECT_EQ(global.GetFont(L""), global.GetFont(L"t_12"));
  EXPECT_EQ(global.GetFontInfo(L"t_12")->face_name, L"\x5FAE\x8F6F\x96C5\x9ED1");
  EXPECT_TRUE(global.GetFontInfo(L"t_u")->underline);
  EXPECT_EQ(global.GetClassAttributes(L"btn"), L"font=\"t_u\" value=\"5\" width=\"30\"");
  EXPECT_EQ(global.GetClassAttributes(L"pre"), L"height=\"9\"");
  EXPECT_EQ(global.GetClassAttributes(L"none"), L"");
}

TEST(GlobalManager, BoldFontIsScaledAndAddsToStockWeight) {
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  ASSERT_TRUE(dpi.AdaptDPI());
  const int saved = dpi.GetScale();
  dpi.SetScale(150);
  ASSERT_TRUE(ui::GlobalManager::Instance().AddFont(L"bold14", L"Arial", 14, true, false, false,
                                                    false));
  dpi.SetScale(saved);
  LOGFONTW stock = {};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(stock), &stock);
  LOGFONTW made = {};
  ::GetObjectW(ui::GlobalManager::Instance().GetFont(L"bold14"), sizeof(made), &made);
  EXPECT_EQ(made.lfHeight, -21);
  EXPECT_EQ(made.lfWeight, stock.lfWeight + 700);
}

TEST(GlobalManager, ClassOrderDecidesAgainstOwnAttributes) {
  ui::GlobalManager::Instance().AddClass(L"sized", L"width=\"30\" height=\"40\"");
  ui::WindowBuilder before;
  ui::Control* a = before.Create(L"<Control width=\"5\" class=\"sized\"/>", nullptr, nullptr, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetFixedWidth(), 30);
  ui::WindowBuilder after;
  ui::Control* b = after.Create(L"<Control class=\"sized\" width=\"5\"/>", nullptr, nullptr, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetFixedWidth(), 5);
  EXPECT_EQ(b->GetFixedHeight(), 40);
  delete a;
  delete b;
}

}  // namespace
