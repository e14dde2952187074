// Control attributes, state transitions and the event dispatch order.
#include <gtest/gtest.h>

#include <vector>

#include "ui/core/Box.h"
#include "ui/core/Control.h"

namespace {

TEST(Control, AttributesRoundTrip) {
  ui::Control control;
  control.ApplyAttributeList(
      L"name=\"c\" width=\"stretch\" height=\"auto\" margin=\"1,2,3,4\" halign=\"center\" "
      L"valign=\"bottom\" state=\"hot\" cursortype=\"hand\" bkcolor=\"  white\" "
      L"alpha=\"128\" tooltiptext=\"tip\" dataid=\"d\" float=\"true\" visible=\"false\" "
      L"nofocus=\"false\" halign=\"sideways\"");
  EXPECT_EQ(control.GetName(), L"c");
  EXPECT_EQ(control.GetFixedWidth(), ui::kDefaultStretch);
  EXPECT_EQ(control.GetFixedHeight(), ui::kDefaultAuto);
  EXPECT_EQ(control.GetMargin().right, 3);
  EXPECT_EQ(control.GetHorAlignType(), ui::kHorAlignCenter);  // an unknown value changes nothing
  EXPECT_EQ(control.GetVerAlignType(), ui::kVerAlignBottom);
  EXPECT_EQ(control.GetState(), ui::kControlStateHot);
  EXPECT_EQ(control.GetHotAlpha(), 255);
  EXPECT_EQ(control.GetCursorType(), ui::kCursorHand);
  EXPECT_EQ(control.GetBkColor(), L"white");
  EXPECT_EQ(control.GetAlpha(), 128);
  EXPECT_EQ(control.GetDataID(), L"d");
  EXPECT_TRUE(control.IsFloat());
  EXPECT_FALSE(control.IsVisible());
  EXPECT_TRUE(control.IsNoFocus());
}

TEST(Control, BorderSizeTakesOneOrFourNumbers) {
  ui::Control control;
  control.SetAttribute(L"bordersize", L"1,2,3,4");
  EXPECT_EQ(control.GetBorderSizes().bottom, 4);
  // A list of the wrong length is not half applied.
  control.SetAttribute(L"bordersize", L"5,6");
  EXPECT_EQ(control.GetBorderSizes().left, 1);
  EXPECT_EQ(control.GetBorderSizes().bottom, 4);
  control.SetAttribute(L"bordersize", L"2");
  EXPECT_EQ(control.GetBorderSize(), 2);
  EXPECT_EQ(control.GetBorderSizes().left, 0);
  EXPECT_EQ(control.GetBorderSizes().bottom, 0);
}

TEST(Control, StateFollowsMouseAndDisabledIgnoresIt) {
  ui::Control control;
  control.SetPos({0, 0, 10, 10});
  const POINT inside = {5, 5};
  const POINT outside = {50, 5};
  control.HandleMessageTemplate(ui::kEventMouseEnter, 0, 0, 0, inside);
  EXPECT_EQ(control.GetState(), ui::kControlStateHot);
  control.HandleMessageTemplate(ui::kEventMouseButtonDown, 0, 0, 0, inside);
  EXPECT_EQ(control.GetState(), ui::kControlStatePushed);
  control.HandleMessageTemplate(ui::kEventMouseButtonUp, 0, 0, 0, outside);
  EXPECT_EQ(control.GetState(), ui::kControlStateNormal);

  control.SetEnabled(false);
  for (int type : {ui::kEventMouseEnter, ui::kEventMouseButtonDown, ui::kEventMouseButtonUp,
                   ui::kEventMouseLeave}) {
    control.HandleMessageTemplate(type, 0, 0, 0, inside);
    EXPECT_EQ(control.GetState(), ui::kControlStateDisabled);
  }
}

TEST(Control, DispatchOrderAndStopping) {
  ui::Box* box = new ui::Box();
  ui::Control* child = new ui::Control();
  ASSERT_TRUE(box->Add(child));
  std::vector<int> order;
  child->AttachEvent(ui::kEventSelect, [&](ui::EventArgs&) {
    order.push_back(1);
    return true;
  });
  child->AttachEvent(ui::kEventAll, [&](ui::EventArgs&) {
    order.push_back(2);
    return true;
  });
  child->AttachXmlEvent(ui::kEventSelect, [&](ui::EventArgs&) {
    order.push_back(3);
    return true;
  });
  box->AttachBubbledEvent(ui::kEventSelect, [&](ui::EventArgs&) {
    order.push_back(4);
    return false;
  });
  child->HandleMessageTemplate(ui::kEventSelect);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

  // A handler that destroys its own control ends the dispatch there.
  int after = 0;
  child->AttachEvent(ui::kEventClick, [&](ui::EventArgs&) {
    box->Remove(child);
    return true;
  });
  child->AttachEvent(ui::kEventClick, [&](ui::EventArgs&) {
    ++after;
    return true;
  });
  child->HandleMessageTemplate(ui::kEventClick);
  EXPECT_EQ(after, 0);
  EXPECT_EQ(box->GetCount(), 0u);
  delete box;
}

}  // namespace
