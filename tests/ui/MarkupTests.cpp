// The markup parser's accepted forms, limits and error messages, and the builder over them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ui/core/Box.h"
#include "ui/core/Markup.h"
#include "ui/core/WindowBuilder.h"

namespace {

std::wstring ErrorOf(const std::wstring& xml) {
  ui::Markup markup;
  EXPECT_FALSE(markup.Load(xml)) << std::string(xml.begin(), xml.end());
  return markup.GetLastErrorMessage();
}

TEST(Markup, EachMalformedFormHasItsMessage) {
  EXPECT_EQ(ErrorOf(L"text"), L"Expected start tag");
  EXPECT_EQ(ErrorOf(L"< a/>"), L"Error parsing element name");
  EXPECT_EQ(ErrorOf(L"<a b/>"), L"Error while parsing attributes");
  EXPECT_EQ(ErrorOf(L"<a b='1'/>"), L"Expected attribute value");
  EXPECT_EQ(ErrorOf(L"<a b=\"1/>"), L"Error while parsing attribute string");
  EXPECT_EQ(ErrorOf(L"<a b=\"1\" /x>"), L"Expected start-tag closing");
  EXPECT_EQ(ErrorOf(L"<a><b/>"), L"Expected end-tag start");
  EXPECT_EQ(ErrorOf(L"<a></b>"), L"Unmatched closing tag");
}

TEST(Markup, EntitiesCommentsAndDeclarations) {
  ui::Markup markup;
  ASSERT_TRUE(
      markup.Load(L"<?xml version=\"1.0\"?><r a=\"&quot;x&quot; &copy; &lt;&amp;\">"
                  L"<c1/><!-- between --><c2 ></c2 ></r>"));
  const ui::MarkupNode root = markup.GetRoot();
  EXPECT_STREQ(root.GetAttributeValue(L"a"), L"\"x\" &copy; <&");
  const ui::MarkupNode first = root.GetChild();
  EXPECT_STREQ(first.GetName(), L"c1");
  EXPECT_STREQ(first.GetSibling().GetName(), L"c2");
  EXPECT_FALSE(first.GetSibling().GetSibling().IsValid());
}

TEST(Markup, SeventyAttributesKeepSixtyFour) {
  std::wstring xml = L"<a";
  for (int i = 0; i < 70; ++i)
    xml += L" k" + std::to_wstring(i) + L"=\"" + std::to_wstring(i) + L"\"";
  xml += L"/>";
  ui::Markup markup;
  ASSERT_TRUE(markup.Load(xml));
  EXPECT_EQ(markup.GetRoot().GetAttributeCount(), 64);
  EXPECT_STREQ(markup.GetRoot().GetAttributeValue(63), L"63");
  EXPECT_EQ(markup.GetRoot().GetAttributeValue(L"k64"), nullptr);
}

TEST(Markup, EncodingsParseToTheSameTree) {
  const std::string utf8 = "<a name=\"\xE6\xB5\x8B\">t</a>";
  const std::string bom = "\xEF\xBB\xBF" + utf8;
  ui::Markup plain;
  ui::Markup with_bom;
  ASSERT_TRUE(plain.LoadFromMem(reinterpret_cast<const BYTE*>(utf8.data()), utf8.size()));
  ASSERT_TRUE(with_bom.LoadFromMem(reinterpret_cast<const BYTE*>(bom.data()), bom.size()));
  EXPECT_STREQ(plain.GetRoot().GetAttributeValue(L"name"), L"\x6D4B");
  EXPECT_STREQ(with_bom.GetRoot().GetAttributeValue(L"name"), L"\x6D4B");
  EXPECT_EQ(with_bom.GetRoot().GetValue(), L"t");

  const std::string utf16be(
      "\xFE\xFF\x00<\x00"
      "a\x00/\x00>",
      10);
  ui::Markup wide;
  ASSERT_TRUE(wide.LoadFromMem(reinterpret_cast<const BYTE*>(utf16be.data()), utf16be.size(),
                               ui::Markup::kUnicode));
  EXPECT_STREQ(wide.GetRoot().GetName(), L"a");
}

TEST(WindowBuilder, BuildsTreeAndAppliesDuplicatesInOrder) {
  ui::WindowBuilder builder;
  ui::Control* root = builder.Create(
      L"<Window size=\"10,10\"><VBox name=\"outer\" height=\"auto\" height=\"112\">"
      L"<Button name=\"b\" width=\"5\" width=\"7\"/><Unknown><Label/></Unknown>"
      L"<Label name=\"l\"/></VBox></Window>",
      nullptr, nullptr, nullptr);
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(root->IsBox());
  auto* box = static_cast<ui::Box*>(root);
  EXPECT_EQ(root->GetFixedHeight(), 112);
  ASSERT_EQ(box->GetCount(), 2u);
  EXPECT_EQ(box->GetItemAt(0)->GetFixedWidth(), 7);
  EXPECT_EQ(box->GetItemAt(1)->GetName(), L"l");
  delete root;

  EXPECT_EQ(builder.Create(L"<Window><VBox></Window>", nullptr, nullptr, nullptr), nullptr);
}

}  // namespace

namespace {

std::wstring NestedBoxes(int depth) {
  std::wstring xml;
  for (int i = 0; i < depth; ++i) xml += L"<Box>";
  xml += L"<Label name=\"deepest\"/>";
  for (int i = 0; i < depth; ++i) xml += L"</Box>";
  return xml;
}

// Building, layout, painting and deleting all recurse through the tree, so a layout nested
// past the bound is refused whole instead of overflowing the stack; one within it is built.
TEST(WindowBuilder, RefusesLayoutsNestedBeyondTheBound) {
  {
    ui::WindowBuilder builder;
    std::unique_ptr<ui::Control> root(
        builder.Create(NestedBoxes(ui::WindowBuilder::kMaxNesting - 1), nullptr, nullptr, nullptr));
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(root->IsBox());
    EXPECT_NE(static_cast<ui::Box*>(root.get())->FindControlByName(L"deepest"), nullptr);
  }
  for (int depth : {ui::WindowBuilder::kMaxNesting, 10000}) {
    ui::WindowBuilder builder;
    std::unique_ptr<ui::Control> root(
        builder.Create(NestedBoxes(depth), nullptr, nullptr, nullptr));
    EXPECT_EQ(root, nullptr) << depth;
  }
}

}  // namespace
