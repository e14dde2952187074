// Launches as the signed-in user through the desktop shell: the route taken, the parent process
// the program gets, and its arguments and working folder arriving intact.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "installer/main/CommandLine.h"
#include "installer/main/UserShell.h"
#include "tests/installer/main/FrameTestSupport.h"
#include "tests/installer/main/TestChild.h"

namespace {

DWORD ParentOf(DWORD process_id) {
  nbase::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == process_id) return entry.th32ParentProcessID;
  }
  return 0;
}

// Writes what it was started with: its parent, its working folder, then each argument after
// the record's own path, one per line.
TEST_CHILD(record_launch) {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!args || count < 4) return 1;
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring record = std::to_wstring(ParentOf(::GetCurrentProcessId())) + L"\n" + cwd + L"\n";
  for (int i = 4; i < count; ++i) record += std::wstring(args[i]) + L"\n";
  const std::wstring path = args[3];
  ::LocalFree(args);
  return frame_test::WriteAll(path, nbase::UTF16ToUTF8(record)) ? 0 : 1;
}

std::vector<std::string> WaitForLines(const std::wstring& path) {
  for (int i = 0; i < 300; ++i) {
    const std::string text = frame_test::ReadAll(path);
    if (!text.empty()) return nbase::Split(text, "\n");
    ::Sleep(100);  // another process writes it; nothing to wait on
  }
  return {};
}

class UserShellTest : public testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    record_ = folder_.path() + L"launch.txt";
    // Arguments the standard rules must carry through unchanged.
    arguments_ = {L"two words", L"C:\\x\\", L"quote\"inside", L"plain"};
    command_ = L"--child record_launch " + cmdline::QuoteArgument(record_);
    for (const std::wstring& argument : arguments_) {
      command_ += L" " + cmdline::QuoteArgument(argument);
    }
  }
  void TearDown() override { ::CoUninitialize(); }

  void ExpectLaunchedByTheDesktop() {
    const std::vector<std::string> lines = WaitForLines(record_);
    ASSERT_EQ(2 + arguments_.size(), lines.size()) << "no record, or arguments lost";
    DWORD desktop_process = 0;
    ::GetWindowThreadProcessId(::GetDesktopWindow(), &desktop_process);
    EXPECT_EQ(std::to_string(desktop_process), lines[0]) << "not started by the desktop's process";
    EXPECT_NE(std::to_string(::GetCurrentProcessId()), lines[0]);
    EXPECT_EQ(nbase::UTF16ToUTF8(folder_.path().substr(0, folder_.path().size() - 1)), lines[1]);
    for (size_t i = 0; i < arguments_.size(); ++i) {
      EXPECT_EQ(nbase::UTF16ToUTF8(arguments_[i]), lines[2 + i]);
    }
  }

  frame_test::ScratchFolder folder_{L"user shell"};
  std::wstring record_;
  std::vector<std::wstring> arguments_;
  std::wstring command_;
};

TEST_F(UserShellTest, TheDesktopShellStartsTheProgramWithItsArgumentsAndFolder) {
  ASSERT_EQ(S_OK, usershell::OpenThroughDesktopShell(testing_support::SelfPath(), command_,
                                                     folder_.path(), SW_SHOWNORMAL));
  ExpectLaunchedByTheDesktop();
}

TEST_F(UserShellTest, OpeningAsTheUserTakesTheDesktopRoute) {
  EXPECT_EQ(usershell::LaunchRoute::kDesktopShell,
            usershell::OpenAsUser(testing_support::SelfPath(), command_, folder_.path()));
  ExpectLaunchedByTheDesktop();
}

TEST_F(UserShellTest, WithoutTheDesktopRouteAnElevatedProcessStartsNothing) {
  const usershell::LaunchRoute route = usershell::OpenAfterDesktopShellFailed(
      REGDB_E_CLASSNOTREG, testing_support::SelfPath(), command_, folder_.path(), SW_SHOWNORMAL);
  if (usershell::IsElevated()) {
    // What it would start would have administrator rights.
    EXPECT_EQ(usershell::LaunchRoute::kNotStarted, route);
    return;
  }
  // With the user's own rights, starting it directly gives it no more than the user has.
  ASSERT_EQ(usershell::LaunchRoute::kDirect, route);
  const std::vector<std::string> lines = WaitForLines(record_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(std::to_string(::GetCurrentProcessId()), lines[0]);
}

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(L"plain", cmdline::QuoteArgument(L"plain"));
  EXPECT_EQ(L"\"\"", cmdline::QuoteArgument(L""));
  EXPECT_EQ(L"\"C:\\x y\\\\\"", cmdline::QuoteArgument(L"C:\\x y\\"));
  EXPECT_EQ(L"\"a \\\"b\\\"\"", cmdline::QuoteArgument(L"a \"b\""));
  EXPECT_EQ(L"C:\\x\\", cmdline::QuoteArgument(L"C:\\x\\"));
}

}  // namespace
