// Tests of the system helpers against the real system: disk, folders, bitness, processes.
#include "installer/main/SystemUtil.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/StringUtil.h"
#include "installer/main/ElevatedRun.h"
#include "tests/installer/main/FrameTestSupport.h"

namespace {

TEST(SystemUtilTest, FreeDiskSpaceNeedsDriveLetterAndSeparator) {
  EXPECT_EQ(0.0, sysutil::FreeDiskSpaceMB(L"D:"));
  EXPECT_EQ(0.0, sysutil::FreeDiskSpaceMB(L"\\\\server\\share\\folder"));
  EXPECT_GT(sysutil::FreeDiskSpaceMB(L"c:/windows"), 0.0);
}

TEST(SystemUtilTest, CreatesDirectoryChains) {
  frame_test::ScratchFolder folder(L"chain");
  EXPECT_TRUE(sysutil::CreateDirectoryChain(folder.path() + L"a\\b/c\\"));
  EXPECT_TRUE(sysutil::IsDirectory(folder.path() + L"a\\b\\c"));
  frame_test::WriteAll(folder.path() + L"file", "x");
  EXPECT_FALSE(sysutil::CreateDirectoryChain(folder.path() + L"file\\sub"));
  EXPECT_FALSE(sysutil::CreateDirectoryChain(L""));
  EXPECT_TRUE(sysutil::ShellCreateDirectory(folder.path() + L"s\\t"));
  EXPECT_TRUE(sysutil::ShellCreateDirectory(folder.path() + L"s\\t"));
  EXPECT_TRUE(sysutil::IsDirectory(folder.path() + L"s\\t"));
}

TEST(SystemUtilTest, BitnessFollowsNativeArchitecture) {
  SYSTEM_INFO native = {};
  ::GetNativeSystemInfo(&native);
  EXPECT_EQ(native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64, sysutil::Is64BitSystem())
      << nbase::UTF16ToUTF8(sysutil::GetOSName());
  // A 32-bit process on a 64-bit system must still be told 64-bit.
  EXPECT_EQ(L"Windows 7 64-bit",
            sysutil::OSNameFor(2, 6, 1, VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64));
  EXPECT_EQ(L"Windows Server 2008 32-bit",
            sysutil::OSNameFor(2, 6, 0, VER_NT_SERVER, PROCESSOR_ARCHITECTURE_INTEL));
  EXPECT_EQ(L"Windows XP",
            sysutil::OSNameFor(2, 5, 1, VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_AMD64));
}

TEST(SystemUtilTest, FindsProcessesByExactName) {
  const std::wstring self = sysutil::FileNamePart(testing_support::SelfPath());
  std::vector<DWORD> ids;
  ASSERT_TRUE(sysutil::ProcessesByName(self, ids));
  EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), ::GetCurrentProcessId()));
  std::wstring upper = self;
  ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  EXPECT_FALSE(sysutil::IsProcessRunning(upper));
}

TEST_CHILD(write_marker) {
  return frame_test::WriteAll(nbase::UTF8ToUTF16(argv[0]), "done") ? 0 : 1;
}

TEST_CHILD(run_elevated) {
  const std::wstring marker = nbase::UTF8ToUTF16(argv[0]);
  RunElevatedAndWait(testing_support::SelfPath(), L"--child write_marker \"" + marker + L"\"", L"",
                     30000);
  return frame_test::ReadAll(marker) == "done" ? 0 : 1;
}

TEST(SystemUtilTest, RunElevatedWaitsForTheProgram) {
  frame_test::ScratchFolder folder(L"elevated");
  const auto run = testing_support::RunProgram(
      testing_support::SelfPath(), L"--child run_elevated \"" + folder.path() + L"marker\"");
  ASSERT_TRUE(run.started && !run.timed_out);
  EXPECT_EQ(0u, run.exit_code);
}

TEST_CHILD(run_elevated_missing) {
  // A modal "not found" box from the shell would leave this child hanging until the watchdog.
  const ElevatedRunResult run =
      RunElevatedAndWait(L"C:\\no such folder\\no_such_package.exe", L"/verysilent", L"", 30000);
  return static_cast<int>(run.start_error);
}

TEST_CHILD(run_elevated_failing) {
  const ElevatedRunResult run =
      RunElevatedAndWait(testing_support::SelfPath(), L"--child exit_with_seven", L"", 30000);
  return run.start_error == 0 && !run.Succeeded() ? static_cast<int>(run.exit_code) : 100;
}

TEST_CHILD(exit_with_seven) {
  return 7;
}

TEST(SystemUtilTest, ElevatedRunReportsWhatWentWrongWithoutABox) {
  const auto missing = testing_support::RunProgram(testing_support::SelfPath(),
                                                   L"--child run_elevated_missing", 30000);
  ASSERT_TRUE(missing.started);
  ASSERT_FALSE(missing.timed_out) << "the shell showed a box";
  EXPECT_TRUE(missing.exit_code == ERROR_FILE_NOT_FOUND ||
              missing.exit_code == ERROR_PATH_NOT_FOUND)
      << missing.exit_code;
  const auto failing = testing_support::RunProgram(testing_support::SelfPath(),
                                                   L"--child run_elevated_failing", 30000);
  ASSERT_FALSE(failing.timed_out);
  EXPECT_EQ(7u, failing.exit_code);
}

}  // namespace
