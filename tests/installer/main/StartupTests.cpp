// Start-up of the real installer executable: single instance, log naming, and DLL planting.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "base/SystemLibrary.h"
#include "base/UniqueResource.h"
#include "tests/installer/main/TestChild.h"

namespace {

using testing_support::RunProgram;

// Build paths arrive as host paths; Wine maps the host root to drive Z:.
std::wstring FromBuildPath(const char* path) {
  std::wstring result;
  for (const char* p = path; *p; ++p) result += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  if (!result.empty() && result[0] == L'\\') result = L"Z:" + result;
  return result;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& path) {
  nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  return bytes;
}

std::wstring LogFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\Temp\\";
}

// A fresh folder per test, removed with everything in it afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& tag) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"startup_" + tag + L"_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(path_.c_str(), nullptr);
    path_ += L"\\";
  }
  ~ScratchFolder() {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path_ + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileW((path_ + data.cFileName).c_str());
      } while (::FindNextFileW(find, &data));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::wstring Copy(const char* build_path, const std::wstring& name) const {
    const std::wstring target = path_ + name;
    ::CopyFileW(FromBuildPath(build_path).c_str(), target.c_str(), FALSE);
    return target;
  }

 private:
  std::wstring path_;
};

}  // namespace

TEST(Startup, SecondInstanceLeavesBeforeLoggingAndLogIsNamedAfterBaseName) {
  ScratchFolder folder(L"instance");
  const std::wstring stem = L"startup_probe_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring exe = folder.Copy(INSTALLER_EXE_PATH, stem + L".exe");
  const std::wstring log = LogFolder() + stem + L"_log.txt";
  ::DeleteFileW(log.c_str());

  {
    // As if a first instance ran: the mutex named after the base name exists.
    nbase::UniqueHandle first(::CreateMutexW(nullptr, TRUE, stem.c_str()));
    ASSERT_TRUE(first);
    const auto second = RunProgram(exe, L"");
    ASSERT_TRUE(second.started);
    EXPECT_FALSE(second.timed_out);
    EXPECT_EQ(0u, second.exit_code);
    EXPECT_FALSE(Exists(log)) << "the second instance wrote to the log";
  }

  const auto run = RunProgram(exe, L"");
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0u, run.exit_code);
  const std::string first_run = ReadAll(log);
  ASSERT_GE(first_run.size(), 3u) << "no log file named after the base name";
  EXPECT_EQ("\xEF\xBB\xBF", first_run.substr(0, 3));
  const size_t start = first_run.find("LV_APP] ------- start setup -------\r\n");
  const size_t enter = first_run.find("LV_APP] app: run message loop\r\n");
  const size_t leave = first_run.find("LV_APP] app: leave message loop\r\n");
  ASSERT_NE(std::string::npos, start);
  ASSERT_NE(std::string::npos, enter);
  ASSERT_NE(std::string::npos, leave);
  EXPECT_LT(start, enter);
  EXPECT_LT(enter, leave);
  EXPECT_EQ(std::string::npos, first_run.find("app: started"));
  EXPECT_NE(std::string::npos, first_run.find(" Main.cpp:")) << "position is the entry's file";

  // A later run appends to the same file without a second byte-order mark.
  ASSERT_EQ(0u, RunProgram(exe, L"").exit_code);
  const std::string both_runs = ReadAll(log);
  EXPECT_EQ(first_run.size() * 2 - 3, both_runs.size());
  EXPECT_EQ(std::string::npos, both_runs.find("\xEF\xBB\xBF", 3));
  ::DeleteFileW(log.c_str());
}

TEST(Startup, NameWithTwoDotsLogsToBareSuffix) {
  ScratchFolder folder(L"dots");
  const std::wstring exe = folder.Copy(INSTALLER_EXE_PATH, L"startup.probe.exe");
  const std::wstring log = LogFolder() + L"_log.txt";
  ::DeleteFileW(log.c_str());
  const auto run = RunProgram(exe, L"");
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_NE(std::string::npos, ReadAll(log).find("app: leave message loop"));
  ::DeleteFileW(log.c_str());
}

// Child entries: load the timer library the way the program does, or the ordinary way.
TEST_CHILD(load_system_library) {
  using TimeGetTime = DWORD(WINAPI*)();
  auto time_get_time = nbase::GetSystemFunction<TimeGetTime>(L"winmm.dll", "timeGetTime");
  return time_get_time && time_get_time() != 0 ? 0 : 1;
}

TEST_CHILD(load_library_plainly) { return ::LoadLibraryW(L"winmm.dll") ? 0 : 1; }

TEST(Startup, LibraryPlantedBesideTheProgramIsNotLoaded) {
  // Control: a program importing the library the ordinary way picks up the planted copy, so the
  // marker is a faithful witness of a planted load.
  {
    ScratchFolder folder(L"control");
    folder.Copy(PLANTED_LIBRARY_PATH, L"winmm.dll");
    const auto probe = RunProgram(folder.Copy(PLANTED_PROBE_PATH, L"probe.exe"), L"");
    ASSERT_TRUE(probe.started);
    ASSERT_TRUE(Exists(folder.path() + L"planted_loaded.txt"))
        << "this loader ignores planted libraries (under Wine, start the test with "
           "WINEDLLOVERRIDES=winmm=n,b as the harness does); the checks below would prove nothing";
  }
  {
    ScratchFolder folder(L"plain");
    folder.Copy(PLANTED_LIBRARY_PATH, L"winmm.dll");
    const std::wstring self = folder.path() + L"frame_tests.exe";
    ::CopyFileW(testing_support::SelfPath().c_str(), self.c_str(), FALSE);
    EXPECT_EQ(0u, RunProgram(self, L"--child load_library_plainly").exit_code);
    EXPECT_TRUE(Exists(folder.path() + L"planted_loaded.txt"));
  }

  // The program's own run-time binding takes the library from the system folder only.
  {
    ScratchFolder folder(L"bound");
    folder.Copy(PLANTED_LIBRARY_PATH, L"winmm.dll");
    const std::wstring self = folder.path() + L"frame_tests.exe";
    ::CopyFileW(testing_support::SelfPath().c_str(), self.c_str(), FALSE);
    EXPECT_EQ(0u, RunProgram(self, L"--child load_system_library").exit_code);
    EXPECT_FALSE(Exists(folder.path() + L"planted_loaded.txt"));
  }

  // And the installer itself, started from a folder holding the planted library.
  {
    ScratchFolder folder(L"installer");
    folder.Copy(PLANTED_LIBRARY_PATH, L"winmm.dll");
    const std::wstring stem = L"planted_" + std::to_wstring(::GetCurrentProcessId());
    const auto run = RunProgram(folder.Copy(INSTALLER_EXE_PATH, stem + L".exe"), L"");
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_FALSE(Exists(folder.path() + L"planted_loaded.txt"));
    ::DeleteFileW((LogFolder() + stem + L"_log.txt").c_str());
  }
}
