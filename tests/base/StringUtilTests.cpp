// Text helpers: formatting that grows past its first buffer, splitting and replacing, UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "base/StringUtil.h"

namespace nbase {
namespace {

TEST(StringUtilTest, FormatsWideAndNarrowTextOfAnyLength) {
  // Wide text arguments must be written %ls; a C99 printf reads %s as narrow text.
  EXPECT_EQ(L"[en] 42 \x00e9", StringPrintf(L"[%ls] %d %ls", L"en", 42, L"\x00e9"));
  EXPECT_EQ("bytes=4294967296-8589934591",
            StringPrintf("bytes=%lld-%lld", 4294967296LL, 8589934591LL));
  // Longer than the first buffer: the result must be whole, not cut.
  const std::wstring long_text(100000, L'x');
  EXPECT_EQ(long_text + L"!", StringPrintf(L"%ls!", long_text.c_str()));
  const std::string long_narrow(100000, 'y');
  EXPECT_EQ(long_narrow + "!", StringPrintf("%s!", long_narrow.c_str()));
  EXPECT_EQ(L"", StringPrintf(L"%ls", L""));
}

TEST(StringUtilTest, SplitDropsEmptyPiecesAndReplaceDoesNotRescan) {
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), Split(L"==a=b==c=", L"="));
  EXPECT_EQ((std::vector<std::wstring>{L"C:", L"x", L"y"}), Split(L"C:\\x/y\\", L"\\/"));
  EXPECT_TRUE(Split(L"", L"=").empty());
  EXPECT_EQ((std::vector<std::string>{"k", "v"}),
            Split(std::string_view("k\0v", 3), std::string_view("\0", 1)));

  std::wstring path = L"a\\\\\\b";
  ReplaceAll(path, L"\\\\", L"\\");
  EXPECT_EQ(L"a\\\\b", path) << "one pass only; callers repeat until nothing is left";
  std::string text = "aaa";
  ReplaceAll(text, "a", "aa");
  EXPECT_EQ("aaaaaa", text);
  ReplaceAll(text, "", "x");
  EXPECT_EQ("aaaaaa", text);
}

TEST(StringUtilTest, Utf8RoundTripsAndReplacesBrokenSequences) {
  const std::wstring wide = L"Jetzt installieren \x201e\x00fc\x201c \xD83D\xDE80";
  EXPECT_EQ(wide, UTF8ToUTF16(UTF16ToUTF8(wide)));
  EXPECT_EQ("\xE2\x80\x9E", UTF16ToUTF8(L"\x201e"));
  // A truncated sequence must not swallow the text around it.
  const std::wstring broken = UTF8ToUTF16(
      "ab\xE2\x80"
      "cd");
  EXPECT_EQ(L'a', broken.front());
  EXPECT_EQ(L'd', broken.back());
  EXPECT_NE(std::wstring::npos, broken.find(L'\xFFFD'));
}

}  // namespace
}  // namespace nbase
