// Number lists of markup values: a whole list or nothing, whatever separates the numbers.
#include <gtest/gtest.h>

#include "base/NumberList.h"

namespace nbase {
namespace {

TEST(NumberListTest, ReadsWholeListsWithAnySeparator) {
  RECT rect = {};
  ASSERT_TRUE(ParseRectList(L"10,0,-5,7", &rect));
  EXPECT_EQ(rect.left, 10);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, -5);
  EXPECT_EQ(rect.bottom, 7);
  // One character of any kind separates; blanks before a number and text after the last pass.
  ASSERT_TRUE(ParseRectList(L"1x 2;3, 4px", &rect));
  EXPECT_EQ(rect.left, 1);
  EXPECT_EQ(rect.bottom, 4);
  SIZE size = {};
  ASSERT_TRUE(ParseSizeList(L"6,6", &size));
  EXPECT_EQ(size.cx, 6);
  EXPECT_EQ(size.cy, 6);
  int single = 0;
  ASSERT_TRUE(ParseSingleInt(L"42", &single));
  EXPECT_EQ(single, 42);
}

TEST(NumberListTest, IllFormedListsWriteNothing) {
  const RECT before = {1, 2, 3, 4};
  int index = 0;
  for (const wchar_t* text :
       {L"", L"5", L"5,6,7", L"5,6,7,", L"5,,6,7", L"a,b,c,d", L"5 6 7", L"99999999999,1,2,3"}) {
    SCOPED_TRACE(index++);
    RECT rect = before;
    EXPECT_FALSE(ParseRectList(text, &rect));
    EXPECT_TRUE(::EqualRect(&rect, &before));
  }
  SIZE size = {9, 9};
  EXPECT_FALSE(ParseSizeList(L"20", &size));
  EXPECT_EQ(size.cx, 9);
  int numbers[9] = {};
  EXPECT_FALSE(ParseIntList(L"1,2,3,4,5,6,7,8,9", numbers, 9));  // longer than any markup list
}

}  // namespace
}  // namespace nbase
