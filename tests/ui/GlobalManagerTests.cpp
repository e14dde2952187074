// The global style file's tables and their use by controls: fonts, colors, classes.
#include <gtest/gtest.h>

#include "ui/core/Control.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowBuilder.h"
#include "ui/core/Box.h"
#include "tests/ui/UiTestSupport.h"

#include <memory>

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
  ASSERT_TRUE(
      ui::GlobalManager::Instance().AddFont(L"bold14", L"Arial", 14, true, false, false, false));
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
  ui::Control* a =
      before.Create(L"<Control width=\"5\" class=\"sized\"/>", nullptr, nullptr, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetFixedWidth(), 30);
  ui::WindowBuilder after;
  ui::Control* b =
      after.Create(L"<Control class=\"sized\" width=\"5\"/>", nullptr, nullptr, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetFixedWidth(), 5);
  EXPECT_EQ(b->GetFixedHeight(), 40);
  delete a;
  delete b;
}

}  // namespace

namespace {

// Layouts and strings come out of the skin archive once it is open: an included file is built
// as often as asked, and a language file loads from the archive's bytes.
TEST(GlobalManager, ArchiveSuppliesIncludedLayoutsAndLanguageStrings) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  const std::string zip = ui_test::MakeZip({
      {"skin/themes/default/row.xml", "<HBox><Button name=\"cell\"/></HBox>", true},
      {"skin/lang/German/gdstrings.ini", ";comment\r\nSTRID_X = Jetzt installieren\r\n", false},
  });
  ASSERT_TRUE(global.OpenZipFromMemory(zip.data(), zip.size(), ""));
  const std::wstring saved_path = global.GetResourcePath();
  global.SetResourcePath(L"skin\\themes\\default\\");

  ui::WindowBuilder builder;
  std::unique_ptr<ui::Control> root(builder.Create(
      L"<VBox><Include source=\"row.xml\" count=\"2\"/><Include source=\"missing.xml\"/></VBox>",
      nullptr, nullptr, nullptr));
  auto* box = dynamic_cast<ui::Box*>(root.get());
  ASSERT_NE(nullptr, box);
  ASSERT_EQ(2u, box->GetCount());
  for (size_t i = 0; i < box->GetCount(); ++i) {
    auto* row = dynamic_cast<ui::Box*>(box->GetItemAt(i));
    ASSERT_NE(nullptr, row);
    ASSERT_EQ(1u, row->GetCount());
    EXPECT_EQ(L"cell", row->GetItemAt(0)->GetName());
  }

  HGLOBAL strings = global.GetZipData(L"skin\\lang\\German\\gdstrings.ini");
  ASSERT_NE(nullptr, strings);
  EXPECT_TRUE(global.LoadLanguageFromMemory(strings));
  ::GlobalFree(strings);
  EXPECT_EQ(L"Jetzt installieren", global.GetLanguageText(L"STRID_X"));

  global.SetResourcePath(saved_path);
  global.CloseResZip();
}

}  // namespace
