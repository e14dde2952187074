// Text styles of labels and the selection rules of check boxes without a window.
#include <gtest/gtest.h>

#include "ui/controls/Option.h"

namespace {

TEST(Label, AlignWordsAndTextSources) {
  ui::Label label;
  EXPECT_EQ(label.GetTextStyle(), 0x8120u);
  label.SetAttribute(L"align", L"vcenter");
  EXPECT_EQ(label.GetTextStyle(), 0x8125u);
  ui::Label both;
  both.SetAttribute(L"align", L"right vcenter");
  EXPECT_EQ(both.GetTextStyle(), 0x8127u);

  label.SetAttribute(L"textpadding", L"1,2,3,4");
  label.SetAttribute(L"textpadding", L"9,9");
  EXPECT_EQ(label.GetTextPadding().left, 1);
  EXPECT_EQ(label.GetTextPadding().bottom, 4);

  label.SetAttribute(L"textid", L"STRID_NONE_SUCH");
  label.SetAttribute(L"text", L"literal");
  EXPECT_EQ(label.GetText(), L"literal");
  EXPECT_EQ(ui::LabelBox().GetFixedWidth(), ui::kDefaultStretch);
  EXPECT_EQ(label.GetFixedWidth(), ui::kDefaultAuto);
}

TEST(CheckBox, ClickTogglesWithoutClickEvent) {
  ui::CheckBox box;
  box.SetPos({0, 0, 20, 20});
  int clicks = 0;
  box.AttachEvent(ui::kEventClick, [&](ui::EventArgs&) {
    ++clicks;
    return true;
  });
  const POINT inside = {5, 5};
  box.HandleMessageTemplate(ui::kEventMouseButtonDown, 0, 0, 0, inside);
  box.HandleMessageTemplate(ui::kEventMouseButtonUp, 0, 0, 0, inside);
  EXPECT_TRUE(box.IsSelected());
  EXPECT_EQ(clicks, 0);
  box.SetEnabled(false);
  box.Activate();
  EXPECT_TRUE(box.IsSelected());
}

}  // namespace
