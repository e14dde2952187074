// Layout arithmetic of boxes and page bookkeeping of TabBox, without a window.
#include <gtest/gtest.h>

#include "ui/controls/Label.h"
#include "ui/layouts/TabBox.h"
#include "ui/layouts/VBox.h"

namespace {

ui::Control* Fixed(int width, int height) {
  auto* control = new ui::Control();
  control->SetFixedWidth(width, false);
  control->SetFixedHeight(height, false);
  return control;
}

LONG Height(const ui::Control* c) {
  return c->GetPos().bottom - c->GetPos().top;
}
LONG Width(const ui::Control* c) {
  return c->GetPos().right - c->GetPos().left;
}

TEST(Layout, StretchChildrenShareFreeSpaceAndRemainder) {
  ui::VBox box;
  ui::Control* fixed = Fixed(-1, 20);
  ui::Control* first = Fixed(-1, -1);
  ui::Control* second = Fixed(-1, -1);
  box.Add(fixed);
  box.Add(first);
  box.Add(second);
  box.SetPos({0, 0, 50, 121});  // 101 pixels left for the two stretch children
  EXPECT_EQ(Height(first), 51);
  EXPECT_EQ(Height(second), 50);
  EXPECT_EQ(second->GetPos().top, 71);
  EXPECT_EQ(Width(second), 50);

  // Fixed children that already overflow leave nothing, and hand out no extra pixels.
  ui::HBox row;
  ui::Control* stretch_a = Fixed(-1, -1);
  ui::Control* stretch_b = Fixed(-1, -1);
  row.Add(Fixed(80, -1));
  row.Add(stretch_a);
  row.Add(Fixed(80, -1));
  row.Add(stretch_b);
  row.SetPos({0, 0, 101, 10});
  EXPECT_EQ(Width(stretch_a), 0);
  EXPECT_EQ(Width(stretch_b), 0);
}

TEST(Layout, FloatAndInvisibleChildrenTakeNoSpace) {
  ui::VBox box;
  box.SetAttribute(L"childmargin", L"5");
  box.SetAttribute(L"padding", L"2,3,0,0");
  ui::Control* a = Fixed(10, 10);
  ui::Control* hidden = Fixed(10, 10);
  hidden->SetVisible(false);
  ui::Control* floating = Fixed(20, 20);
  floating->SetAttribute(L"float", L"true");
  floating->SetAttribute(L"halign", L"right");
  floating->SetAttribute(L"margin", L"0,0,4,0");
  ui::Control* b = Fixed(10, 10);
  for (ui::Control* c : {a, hidden, floating, b}) box.Add(c);
  box.SetPos({0, 0, 100, 100});
  EXPECT_EQ(a->GetPos().top, 3);
  EXPECT_EQ(b->GetPos().top, 3 + 10 + 5);  // one child margin, none for the hidden child
  EXPECT_EQ(floating->GetPos().top, 3);
  EXPECT_EQ(floating->GetPos().right, 96);

  // An ill-formed list changes nothing.
  box.SetAttribute(L"padding", L"10,0");
  box.SetAttribute(L"padding", L"abc");
  box.SetAttribute(L"childmargin", L"abc");
  EXPECT_EQ(box.GetLayout()->GetPadding().left, 2);
  EXPECT_EQ(box.GetLayout()->GetChildMargin(), 5);
}

TEST(Layout, ClampsAndAutoSizedLabels) {
  ui::HBox row;
  ui::Control* clamped = Fixed(-1, -1);
  clamped->SetAttribute(L"maxwidth", L"30");
  clamped->SetAttribute(L"minheight", L"40");
  ui::Control* narrow = Fixed(5, 10);
  narrow->SetAttribute(L"minwidth", L"12");
  auto* label = new ui::Label();
  label->SetText(L"Install Now");
  label->SetAttribute(L"textpadding", L"3,0,7,0");
  row.Add(clamped);
  row.Add(narrow);
  row.Add(label);
  row.SetPos({0, 0, 400, 20});
  EXPECT_EQ(Width(clamped), 30);
  EXPECT_EQ(Height(clamped), 40);
  EXPECT_EQ(Width(narrow), 12);

  auto context = ui::GlobalManager::Instance().GetRenderFactory()->CreateRenderContext();
  const RECT text = context->MeasureText(L"Install Now", ui::GlobalManager::Instance().GetFont(L""),
                                         label->GetTextStyle(), 0);
  ASSERT_GT(text.right - text.left, 0);
  EXPECT_EQ(Width(label), text.right - text.left + 10);

  // A longer text widens it on the next layout.
  label->SetText(L"Install Now, please");
  row.SetPos({0, 0, 400, 20});
  EXPECT_GT(Width(label), text.right - text.left + 10);
}

TEST(TabBox, SelectionFollowsPagesAddedAndRemoved) {
  ui::TabBox tabs;
  ui::Control* pages[3] = {Fixed(-1, -1), Fixed(-1, -1), Fixed(-1, -1)};
  for (ui::Control* page : pages) tabs.Add(page);
  EXPECT_EQ(tabs.GetCurSel(), 0);
  EXPECT_TRUE(pages[0]->IsVisible());
  EXPECT_FALSE(pages[1]->IsVisible());
  EXPECT_FALSE(pages[2]->IsVisible());

  EXPECT_FALSE(tabs.SelectItem(3));
  EXPECT_FALSE(tabs.SelectItem(-1));
  EXPECT_TRUE(tabs.SelectItem(0));
  EXPECT_TRUE(tabs.SelectItem(2));
  EXPECT_TRUE(pages[2]->IsVisible());
  EXPECT_FALSE(pages[0]->IsVisible());

  // Inserting before the selection keeps the same page selected.
  ui::Control* front = Fixed(-1, -1);
  EXPECT_TRUE(tabs.AddAt(front, 0));
  EXPECT_EQ(tabs.GetCurSel(), 3);
  EXPECT_FALSE(front->IsVisible());

  // Removing the selected page falls back to page 0 and shows it.
  EXPECT_TRUE(tabs.Remove(pages[2]));
  EXPECT_EQ(tabs.GetCurSel(), 0);
  EXPECT_TRUE(front->IsVisible());
  EXPECT_TRUE(front->IsMouseEnabled());

  ui::TabBox preset;
  preset.SetAttribute(L"selectedid", L"1");
  ui::Control* p0 = Fixed(-1, -1);
  ui::Control* p1 = Fixed(-1, -1);
  preset.Add(p0);
  preset.Add(p1);
  EXPECT_EQ(preset.GetCurSel(), 1);
  EXPECT_FALSE(p0->IsVisible());
  EXPECT_TRUE(p1->IsVisible());
}

}  // namespace
