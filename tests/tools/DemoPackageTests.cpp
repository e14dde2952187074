// Runs the built stand-in setup package the way the installer does and checks what it leaves.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "tests/support/TestFiles.h"

namespace {

using test_files::FromBuildPath;
using test_files::ReadAll;

// Minteo shows its window for about three seconds; Wine may be slow to start a process.
constexpr DWORD kProcessTimeoutMs = 20000;

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every name in `folder` (ending in a backslash), sorted, for spotting leftovers.
std::wstring ListNames(const std::wstring& folder) {
  std::set<std::wstring> sorted;  // the file system's own order differs between hosts
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") sorted.insert(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  std::wstring names;
  for (const std::wstring& name : sorted) names += name + L";";
  return names;
}

struct WindowSearch {
  DWORD process_id;
  HWND window;
};

BOOL CALLBACK MatchVisibleWindow(HWND window, LPARAM argument) {
  auto* search = reinterpret_cast<WindowSearch*>(argument);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !::IsWindowVisible(window)) return TRUE;
  search->window = window;
  return FALSE;
}

HWND VisibleWindowOf(DWORD process_id) {
  WindowSearch search = {process_id, nullptr};
  ::EnumWindows(&MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.window;
}

// A started program that is ended by force if a failed check leaves it running.
class ChildProcess {
 public:
  // Starts `program` with `parameters` after its quoted name, as a shell launch would.
  ChildProcess(const std::wstring& program, const std::wstring& parameters,
               const std::wstring& directory) {
    std::wstring command_line = L"\"" + program + L"\" " + parameters;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          directory.c_str(), &startup, &process)) {
      ADD_FAILURE() << "cannot start " << nbase::UTF16ToUTF8(program) << ": " << ::GetLastError();
      return;
    }
    process_.reset(process.hProcess);
    ::CloseHandle(process.hThread);
    id_ = process.dwProcessId;
  }
  ~ChildProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
      ::TerminateProcess(process_.get(), 99);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_.valid(); }
  DWORD id() const { return id_; }
  bool Running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
  }
  // Waits at most `milliseconds`; true with the exit code once the program has ended.
  bool Wait(DWORD milliseconds, DWORD* exit_code) const {
    return process_ && ::WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0 &&
           ::GetExitCodeProcess(process_.get(), exit_code);
  }

 private:
  nbase::UniqueHandle process_;
  DWORD id_ = 0;
};

// Runs a program to its end; the exit code, or 99 when it could not start or end in time.
DWORD RunToEnd(const std::wstring& program, const std::wstring& parameters,
               const std::wstring& directory, DWORD* process_id = nullptr) {
  ChildProcess child(program, parameters, directory);
  if (process_id) *process_id = child.id();
  DWORD exit_code = 99;
  if (child.started() && !child.Wait(kProcessTimeoutMs, &exit_code)) {
    ADD_FAILURE() << nbase::UTF16ToUTF8(program) << " did not end in time";
  }
  return exit_code;
}

class DemoPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    scratch_ =
        std::wstring(temp) + L"demo_package_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    RemoveScratch();
    ASSERT_TRUE(::CreateDirectoryW(scratch_.c_str(), nullptr));
    package_ = FromBuildPath(DEMO_PACKAGE_PATH);
    ASSERT_TRUE(Exists(package_)) << DEMO_PACKAGE_PATH;
  }
  void TearDown() override { RemoveScratch(); }

  void RemoveScratch() { test_files::RemoveTree(scratch_); }

  std::wstring scratch_;
  std::wstring package_;
};

TEST_F(DemoPackageTest, InstallsIntoNewQuotedFolderAndTheProductStarts) {
  // Blanks, a non-ASCII letter, two missing levels and the trailing backslash the installer may
  // pass (doubled before the closing quote, as the standard rules want): each breaks a naive
  // argument split, an ANSI write or a one-level folder creation.
  const std::wstring folder = scratch_ + L"Program Files\\Clipmint \u00DCber\\";
  const std::wstring parameters =
      L"/DIR=\"" + folder + L"\\\" /pellisar_down /wait_run /verysilent";

  EXPECT_EQ(0u, RunToEnd(package_, parameters, scratch_));
  EXPECT_EQ(nbase::UTF16ToUTF8(parameters), ReadAll(folder + L"setup_parameters.txt"));
  EXPECT_EQ(L"Minteo.exe;setup_cwd.txt;setup_parameters.txt;", ListNames(folder));
  EXPECT_EQ(nbase::UTF16ToUTF8(scratch_.substr(0, scratch_.size() - 1)),
            ReadAll(folder + L"setup_cwd.txt"));

  DWORD product_id = 0;
  EXPECT_EQ(0u, RunToEnd(folder + L"Minteo.exe", L"", folder, &product_id));
  EXPECT_EQ(std::to_string(product_id), ReadAll(folder + L"minteo_started.txt"));
}

TEST_F(DemoPackageTest, RefusesWithoutUsableFolderAndLeavesNothing) {
  // No /DIR= at all, though other switches (one with a quoted blank) are there.
  EXPECT_EQ(2u, RunToEnd(package_, L"/LOG=\"a b\" /pellisar_down /verysilent", scratch_));
  EXPECT_EQ(L"", ListNames(scratch_));

  // A file stands where a parent folder has to go.
  {
    nbase::UniqueStdioFile blocker(::_wfopen((scratch_ + L"blocked").c_str(), L"wb"));
    ASSERT_TRUE(blocker);
  }
  EXPECT_EQ(
      3u, RunToEnd(package_, L"/DIR=\"" + scratch_ + L"blocked\\Clipmint\" /verysilent", scratch_));
  EXPECT_EQ(L"blocked;", ListNames(scratch_));
}

// Someone who closes the product's window before it goes away by itself ends the process cleanly.
TEST_F(DemoPackageTest, ProductEndsWhenItsWindowIsClosed) {
  const std::wstring product = scratch_ + L"Minteo.exe";
  ASSERT_TRUE(::CopyFileW(FromBuildPath(MINTEO_PATH).c_str(), product.c_str(), FALSE));
  ChildProcess child(product, L"", scratch_);
  ASSERT_TRUE(child.started());

  // Another process's window announces itself by no event, so look for it until it shows.
  HWND window = nullptr;
  const DWORD started = ::GetTickCount();
  while (!window && child.Running() && ::GetTickCount() - started < kProcessTimeoutMs) {
    DWORD ignored;
    child.Wait(20, &ignored);
    window = VisibleWindowOf(child.id());
  }
  ASSERT_NE(nullptr, window);

  // It must react to the close itself, well before its own three seconds are up. Ending the
  // process can take longer: hiding a window waits for the X server under Wine.
  const DWORD posted = ::GetTickCount();
  ASSERT_TRUE(::PostMessageW(window, WM_CLOSE, 0, 0));
  while (::IsWindowVisible(window) && ::GetTickCount() - posted < 2000) {
    DWORD ignored;
    child.Wait(20, &ignored);
  }
  EXPECT_FALSE(::IsWindowVisible(window));
  DWORD exit_code = 99;
  ASSERT_TRUE(child.Wait(kProcessTimeoutMs, &exit_code));
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
