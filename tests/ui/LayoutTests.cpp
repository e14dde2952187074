// Layout arithmetic of boxes and page bookkeeping of TabBox, without a window.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

// Rows and columns share one flow: a column places its children exactly as a row turned on its
// side does, margins, cross alignment and the leftover pixel of the stretch share included.
TEST(Layout, RowsAndColumnsFlowAlike) {
  std::vector<SIZE> needs;  // as a row sees them
  for (const bool row : {true, false}) {
    SCOPED_TRACE(row ? "row" : "column");
    // Rectangles are written as a row sees them; a column swaps the axes.
    auto turn = [row](RECT r) { return row ? r : RECT{r.top, r.left, r.bottom, r.right}; };
    auto margin = [&](RECT r) {
      const RECT m = turn(r);
      return std::to_wstring(m.left) + L"," + std::to_wstring(m.top) + L"," +
             std::to_wstring(m.right) + L"," + std::to_wstring(m.bottom);
    };
    const wchar_t* const across = row ? L"valign" : L"halign";
    std::unique_ptr<ui::Box> box(row ? static_cast<ui::Box*>(new ui::HBox()) : new ui::VBox());
    box->SetAttribute(L"childmargin", L"4");
    ui::Control* fixed = row ? Fixed(20, 10) : Fixed(10, 20);
    fixed->SetAttribute(across, L"center");
    fixed->SetAttribute(L"margin", margin({1, 3, 2, 0}));
    ui::Control* full = Fixed(-1, -1);
    full->SetAttribute(L"margin", margin({0, 5, 0, 6}));
    ui::Control* last = row ? Fixed(-1, 8) : Fixed(8, -1);
    last->SetAttribute(across, row ? L"bottom" : L"right");
    for (ui::Control* c : {fixed, full, last}) box->Add(c);
    box->SetPos(turn({0, 0, 102, 40}));  // 71 pixels for two stretch children: 36 and 35

    const RECT expected[] = {{1, 16, 21, 26}, {27, 5, 63, 34}, {67, 32, 102, 40}};
    const ui::Control* placed[] = {fixed, full, last};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const RECT want = turn(expected[i]);
      const RECT& got = placed[i]->GetPos();
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      EXPECT_EQ(got.right, want.right);
      EXPECT_EQ(got.bottom, want.bottom);
    }
    // What the children ask for: lengths, margins and child margins along, the widest across
    // (the centred child with its margin), padding on both.
    box->SetAttribute(L"padding", margin({1, 2, 3, 4}));
    const SIZE need = box->GetLayout()->EstimateSizeByChildren({fixed, full, last}, {200, 200});
    needs.push_back(row ? need : SIZE{need.cy, need.cx});
    EXPECT_EQ(needs.back().cy, 13 + 2 + 4);
  }
  EXPECT_EQ(needs[0].cx, needs[1].cx);
  EXPECT_EQ(needs[0].cy, needs[1].cy);
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
