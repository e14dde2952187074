// The setup window's rules that need no window: buckets, progress scaling and folder checks.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "installer/window/SetupRules.h"

namespace {

TEST(SetupRules, DurationBucketsTruncateToWholeSeconds) {
  EXPECT_EQ("", setup::DurationBucket(0.4));
  EXPECT_EQ("", setup::DurationBucket(0));
  EXPECT_EQ("", setup::DurationBucket(-3));
  EXPECT_EQ("0-15s", setup::DurationBucket(1));
  EXPECT_EQ("0-15s", setup::DurationBucket(15));
  EXPECT_EQ("0-15s", setup::DurationBucket(15.9));
  EXPECT_EQ("15.1-30s", setup::DurationBucket(16));
  EXPECT_EQ("30.1s-1min", setup::DurationBucket(60.99));
  EXPECT_EQ("1-2mins", setup::DurationBucket(61));
  EXPECT_EQ("2-3mins", setup::DurationBucket(180));
  EXPECT_EQ("3-5mins", setup::DurationBucket(300));
  EXPECT_EQ("5-10mins", setup::DurationBucket(600));
  EXPECT_EQ("over 10mins", setup::DurationBucket(601));
}

TEST(SetupRules, DisplayedPercentFillsNinetyAndIgnoresOutOfRange) {
  EXPECT_EQ(90, setup::DisplayedPercent(100));
  EXPECT_EQ(1, setup::DisplayedPercent(1));
  EXPECT_EQ(45, setup::DisplayedPercent(50));
  EXPECT_EQ(0, setup::DisplayedPercent(0));
  EXPECT_EQ(-1, setup::DisplayedPercent(101));
  EXPECT_EQ(-1, setup::DisplayedPercent(-1)) << "negative values are huge as unsigned";
}

TEST(SetupRules, InstallFolderChecks) {
  const std::set<std::wstring> drives = {L"C:\\", L"D:\\"};
  auto is_directory = [&](const std::wstring& path) { return drives.count(path) != 0; };
  EXPECT_TRUE(setup::IsValidInstallFolder(L"C:\\", is_directory));
  EXPECT_TRUE(setup::IsValidInstallFolder(L"C:", is_directory)) << "normalised to C:\\";
  EXPECT_TRUE(setup::IsValidInstallFolder(L"C:/Program Files/X", is_directory));
  EXPECT_TRUE(setup::IsValidInstallFolder(L"D:\\Apps\\\\Nolt", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"C:\\Program*", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"C:\\a:b", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"C:\\a|b", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"\\\\server\\share\\x", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"Q:\\Apps", is_directory)) << "no such drive";
  EXPECT_FALSE(setup::IsValidInstallFolder(L"", is_directory));
  EXPECT_FALSE(setup::IsValidInstallFolder(L"relative\\path", is_directory));

  EXPECT_EQ(L"C:\\Program Files\\X\\", setup::NormalizedFolder(L"C:/Program Files//X"));
  EXPECT_EQ(L"C:\\", setup::NormalizedFolder(L"C:"));
}

TEST(SetupRules, CommandLineSizesAndTexts) {
  EXPECT_EQ(L"/DIR=\"C:\\Program Files\\Nolt\\Nolt Clipmint\" /pellisar_down /wait_run /verysilent",
            setup::SilentInstallParameters(L"C:\\Program Files\\Nolt\\Nolt Clipmint"));
  EXPECT_EQ(360, setup::RequiredMegabytes(125829120.0 * 3));
  EXPECT_EQ(0, setup::RequiredMegabytes(1048575));
  EXPECT_EQ(2147483647, setup::RequiredMegabytes(1e30)) << "clamped, not wrapped";
  EXPECT_EQ(L"D:\\Apps\\Nolt\\Nolt Clipmint",
            setup::BrowsedInstallFolder(L"D:\\Apps", L"Nolt", L"Nolt Clipmint"));
  EXPECT_EQ(L"D:\\Nolt\\Nolt Clipmint",
            setup::BrowsedInstallFolder(L"D:\\", L"Nolt", L"Nolt Clipmint"));
  EXPECT_EQ(L"", setup::BrowsedInstallFolder(L"", L"Nolt", L"Nolt Clipmint"));
  EXPECT_EQ(L"Nolt Clipmint is running; Nolt Clipmint",
            setup::ReplacePlaceholder(L"XX is running; XX", L"Nolt Clipmint"));
}

// The arguments a package that parses its command line the standard way receives.
std::vector<std::wstring> ParsedArguments(const std::wstring& parameters) {
  int count = 0;
  const std::wstring line = L"package.exe " + parameters;
  wchar_t** args = ::CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> parsed;
  for (int i = 1; args && i < count; ++i) parsed.push_back(args[i]);
  ::LocalFree(args);
  return parsed;
}

TEST(SetupRules, TheFolderReachesThePackageAsTyped) {
  const std::wstring long_folder =
      L"D:\\" + std::wstring(120, L'a') + L" with spaces\\" + std::wstring(100, L'b') + L"\\";
  for (const std::wstring& folder :
       {std::wstring(L"C:\\x\\"), std::wstring(L"C:\\"),
        std::wstring(L"C:\\Program Files\\Nolt\\Nolt Clipmint"),
        std::wstring(L"C:\\two  spaces\\and\\\\double\\\\"), long_folder}) {
    const std::vector<std::wstring> args = ParsedArguments(setup::SilentInstallParameters(folder));
    ASSERT_EQ(4u, args.size()) << "the switches were swallowed for " << args[0].size();
    EXPECT_EQ(L"/DIR=" + folder, args[0]);
    EXPECT_EQ(L"/pellisar_down", args[1]);
    EXPECT_EQ(L"/wait_run", args[2]);
    EXPECT_EQ(L"/verysilent", args[3]);
  }
}

TEST(SetupRules, OutcomeCodesReadAsTheyAreDocumented) {
  EXPECT_EQ("7", setup::OutcomeCode(7));
  EXPECT_EQ("1223", setup::OutcomeCode(ERROR_CANCELLED));
  EXPECT_EQ("0x800B0100", setup::OutcomeCode(0x800B0100ul));
}

TEST(SetupRules, DownloadLineShowsMegabytesThenTimeLeftOnceSettledOrTheWaitForTheServer) {
  setup::ProgressWords english = {L"XX of YY",
                                  L".",
                                  L"about XX hours left",
                                  L"about XX minutes left",
                                  L"about a minute left",
                                  L"less than a minute left",
                                  L"waiting for the server\u2026"};
  EXPECT_EQ(L"", setup::DescribeDownload(0, 0, 0, 0, 0, english));
  EXPECT_EQ(L"12.3 MB of 45.0 MB", setup::DescribeDownload(12300000, 45000000, 0, 0, 1, english));
  // The rate needs five seconds to settle before the time left is shown.
  EXPECT_EQ(L"12.3 MB of 45.0 MB",
            setup::DescribeDownload(12300000, 45000000, 96000, 0, 4.9, english));
  EXPECT_EQ(L"12.3 MB of 45.0 MB, about 6 minutes left",
            setup::DescribeDownload(12300000, 45000000, 96000, 0, 5, english));
  EXPECT_EQ(L"0.0 MB of 100.0 MB, about 3 hours left",
            setup::DescribeDownload(0, 100000000, 9000, 0, 30, english));
  EXPECT_EQ(L"44.0 MB of 45.0 MB, about a minute left",
            setup::DescribeDownload(44000000, 45000000, 16000, 0, 30, english));
  EXPECT_EQ(L"44.9 MB of 45.0 MB, less than a minute left",
            setup::DescribeDownload(44900000, 45000000, 16000, 0, 30, english));
  EXPECT_EQ(L"12.3 MB of 45.0 MB, waiting for the server\u2026",
            setup::DescribeDownload(12300000, 45000000, 96000, 10, 60, english));
  EXPECT_EQ(L"45.0 MB of 45.0 MB", setup::DescribeDownload(45000000, 45000000, 1, 30, 30, english));
  setup::ProgressWords german = english;
  german.amount = L"XX von YY";
  german.decimal = L",";
  EXPECT_EQ(L"0,5 MB von 1,0 MB", setup::DescribeDownload(499999, 1000000, 0, 0, 0, german));
}

}  // namespace
