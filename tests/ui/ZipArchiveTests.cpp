// The skin package reader over archives made here: members, lookup rules, damaged input.
#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/ZipArchive.h"
#include "ui/render/GdiHandles.h"

namespace {

std::string Read(const ui::ZipArchive& zip, const std::wstring& name, bool* found) {
  HGLOBAL block = zip.ExtractToGlobal(name);
  *found = block != nullptr;
  if (!block) return std::string();
  std::string data;
  {
    ui::ScopedGlobalLock lock(block);
    data.assign(static_cast<const char*>(lock.data()), ::GlobalSize(block));
  }
  ::GlobalFree(block);
  return data;
}

const std::string kLong(5000, 'x');

TEST(ZipArchive, ReadsStoredAndDeflateMembersWithLooseLookup) {
  const std::string bytes =
      ui_test::MakeZip({{"resources/themes/default/global.xml", "<Global/>", false},
                        {"resources/themes/default/public/Button/Btn_Start.png", kLong, true}});
  ui::ZipArchive zip;
  ASSERT_TRUE(zip.Open(bytes.data(), bytes.size()));
  bool found = false;
  EXPECT_EQ(Read(zip, L"resources/themes/default/global.xml", &found), "<Global/>");
  EXPECT_TRUE(found);
  EXPECT_EQ(Read(zip, L"resources\\themes\\default\\public\\button\\btn_start.PNG", &found), kLong);
  EXPECT_TRUE(found);
  Read(zip, L"resources/themes/default/missing.xml", &found);
  EXPECT_FALSE(found);
}

TEST(ZipArchive, PathNormalisationResolvesDotSegments) {
  EXPECT_EQ(ui::GlobalManager::GetZipFilePath(
                L"resources/themes/default/form/../public/button/btn_start.png"),
            L"resources/themes/default/public/button/btn_start.png");
  EXPECT_EQ(ui::GlobalManager::GetZipFilePath(L"resources\\\\themes\\.\\default\\global.xml"),
            L"resources/themes/default/global.xml");
  EXPECT_EQ(ui::ZipArchive::NormaliseMemberName(L"C:\\..\\../a/b.txt"), L"a/b.txt");
}

TEST(ZipArchive, DamagedArchivesAreRefusedWithoutReadingOutside) {
  const std::string good = ui_test::MakeZip({{"a.txt", kLong, true}, {"b.txt", "plain", false}});
  ui::ZipArchive zip;
  // Truncated anywhere: either it does not open or the members do not read.
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    const std::string part = good.substr(0, cut);
    if (zip.Open(part.data(), part.size())) {
      bool found = false;
      Read(zip, L"a.txt", &found);
    }
  }
  EXPECT_FALSE(zip.Open("PK", 2));

  // A compressed size reaching past the block, and a size above the member limit.
  std::string oversized = good;
  const size_t directory = oversized.find("PK\x01\x02");
  ASSERT_NE(directory, std::string::npos);
  oversized[directory + 20] = '\xFF';
  oversized[directory + 23] = '\x7F';
  ASSERT_TRUE(zip.Open(oversized.data(), oversized.size()));
  bool found = true;
  Read(zip, L"a.txt", &found);
  EXPECT_FALSE(found);

  std::string huge = good;
  huge[directory + 24 + 3] = '\x10';  // uncompressed size past 64 MiB
  ASSERT_TRUE(zip.Open(huge.data(), huge.size()));
  Read(zip, L"a.txt", &found);
  EXPECT_FALSE(found);

  // A flipped payload byte fails the checksum instead of returning damaged text.
  std::string damaged = good;
  damaged[good.find("plain")] = 'P';
  ASSERT_TRUE(zip.Open(damaged.data(), damaged.size()));
  Read(zip, L"b.txt", &found);
  EXPECT_FALSE(found);
}

}  // namespace
