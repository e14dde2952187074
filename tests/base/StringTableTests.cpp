// Tests of the key/value table reader: line rules, file versus memory loads, escapes.
#include "base/StringTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using nbase::StringTable;

// Hands bytes over in a movable block, as the package reader does.
bool LoadBytes(StringTable& table, const std::string& bytes) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(::GlobalLock(block), bytes.data(), bytes.size());
  ::GlobalUnlock(block);
  const bool loaded = table.LoadFromMemory(block);
  ::GlobalFree(block);
  return loaded;
}

std::wstring TempFileWith(const std::string& bytes) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  ::GetTempFileNameW(folder, L"stb", 0, name);
  FILE* file = ::_wfopen(name, L"wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return name;
}

TEST(StringTableTest, LineRulesAndEscapes) {
  StringTable table;
  ASSERT_TRUE(LoadBytes(table,
                        "\xEF\xBB\xBF"
                        "FIRST=1\n"
                        ";String resources in English\n"
                        "REPEAT=1\nextra=a=b\ndoubled==value\nnovalue=\n"
                        "   ;INDENTED = hidden\nKEY;X = hidden\n"
                        "URL = http://host/a;b\n"
                        "\t  PADDED \t=  \x01 J\xC3\xBCrgen \r\n"
                        "\x1E"
                        "RS=\x1F\n"
                        "LINES=a\\r\\nb\\nc\n"
                        "REPEAT=2\n"));
  EXPECT_EQ(7u, table.Size());
  EXPECT_EQ(L"1", table.GetValue(L"\xFEFF"
                                 L"FIRST"));  // the byte order mark stays
  EXPECT_EQ(L"value", table.GetValue(L"doubled"));
  EXPECT_EQ(L"http://host/a;b", table.GetValue(L"URL"));
  EXPECT_EQ(L"2", table.GetValue(L"REPEAT"));
  EXPECT_EQ(L"J\x00FCrgen", table.GetValue(L"PADDED"));
  EXPECT_EQ(L"\x1F", table.GetValue(L"\x1ERS"));
  EXPECT_EQ(L"a\r\nb\nc", table.GetValue(L"LINES"));
  EXPECT_EQ(L"", table.GetValue(L"url"));
}

TEST(StringTableTest, MemoryLoadsAddWhileFileLoadsReplace) {
  const std::wstring english = TempFileWith("A=english\nB=english\n");
  StringTable table;
  ASSERT_TRUE(table.LoadFromFile(english));
  ASSERT_TRUE(LoadBytes(table, "B=german\nC=german"));
  EXPECT_EQ(L"english", table.GetValue(L"A"));
  EXPECT_EQ(L"german", table.GetValue(L"B"));
  EXPECT_EQ(L"german", table.GetValue(L"C"));
  ASSERT_TRUE(table.LoadFromFile(english));
  EXPECT_EQ(2u, table.Size());
  ::DeleteFileW(english.c_str());
  EXPECT_FALSE(table.LoadFromFile(english));  // a missing file leaves the table alone
  EXPECT_EQ(2u, table.Size());
}

TEST(StringTableTest, NulEndsLinesInMemoryAndFilesSplitLongLines) {
  StringTable from_memory;
  ASSERT_TRUE(LoadBytes(from_memory, std::string("A=1\0B=2\0\0C=3", 12)));
  EXPECT_EQ(3u, from_memory.Size());

  // A file is cut into lines of at most 4095 bytes; memory is not.
  const std::string bytes = "LONG=" + std::string(4090, 'a') + "SPLIT=yes\r\nNEXT=ok\r\n";
  const std::wstring file = TempFileWith(bytes);
  StringTable from_file;
  ASSERT_TRUE(from_file.LoadFromFile(file));
  ::DeleteFileW(file.c_str());
  EXPECT_EQ(std::wstring(4090, L'a'), from_file.GetValue(L"LONG"));
  EXPECT_EQ(L"yes", from_file.GetValue(L"SPLIT"));
  EXPECT_EQ(L"ok", from_file.GetValue(L"NEXT"));
  ASSERT_TRUE(LoadBytes(from_memory, bytes));
  EXPECT_EQ(L"", from_memory.GetValue(L"SPLIT"));
  EXPECT_EQ(L"ok", from_memory.GetValue(L"NEXT"));
}

}  // namespace
