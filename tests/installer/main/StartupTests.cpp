// Start-up of the real installer executable: single instance, log naming, and DLL planting.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "base/SystemLibrary.h"
#include "base/UniqueResource.h"
#include "tests/installer/main/FrameTestSupport.h"
#include "tests/installer/main/TestChild.h"
#include "tests/support/TestFiles.h"

namespace {

using frame_test::CloseSetupWindowOf;
using frame_test::ReadAll;
using test_files::FromBuildPath;

// Runs the installer and closes its window once it shows, as a user would.
testing_support::ChildResult RunInstaller(const std::wstring& exe) {
  return testing_support::RunProgram(exe, L"", 60000, CloseSetupWindowOf);
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring LogFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\Temp\\";
}

// A scratch folder that can also receive copies of build outputs.
class BuildScratch : public frame_test::ScratchFolder {
 public:
  using ScratchFolder::ScratchFolder;
  std::wstring Copy(const char* build_path, const std::wstring& name) const {
    const std::wstring target = path() + name;
    ::CopyFileW(FromBuildPath(build_path).c_str(), target.c_str(), FALSE);
    return target;
  }
  // Plants the stand-in library under the timer library's name.
  void Plant() const { Copy(PLANTED_LIBRARY_PATH, L"winmm.dll"); }
  bool PlantedWasLoaded() const { return Exists(path() + L"planted_loaded.txt"); }
};

}  // namespace

TEST(Startup, SecondInstanceLeavesBeforeLoggingAndLogIsNamedAfterBaseName) {
  BuildScratch folder(L"instance");
  const std::wstring stem = L"startup_probe_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring exe = folder.Copy(INSTALLER_EXE_PATH, stem + L".exe");
  const std::wstring log = LogFolder() + stem + L"_log.txt";
  ::DeleteFileW(log.c_str());

  {
    // As if a first instance ran: the mutex named after the base name exists.
    nbase::UniqueHandle first(::CreateMutexW(nullptr, TRUE, stem.c_str()));
    ASSERT_TRUE(first);
    const auto second = testing_support::RunProgram(exe, L"");
    ASSERT_TRUE(second.started);
    EXPECT_FALSE(second.timed_out);
    EXPECT_EQ(0u, second.exit_code);
    EXPECT_FALSE(Exists(log)) << "the second instance wrote to the log";
  }

  const auto run = RunInstaller(exe);
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

  // A later run appends to the same file without a second byte-order mark. The runs' lines
  // differ (timings, what the network answered), so only the shape is compared.
  ASSERT_EQ(0u, RunInstaller(exe).exit_code);
  const std::string both_runs = ReadAll(log);
  ASSERT_GT(both_runs.size(), first_run.size());
  EXPECT_EQ(first_run, both_runs.substr(0, first_run.size())) << "the first run's lines changed";
  const std::string second_run = both_runs.substr(first_run.size());
  EXPECT_EQ(0u, second_run.find("[")) << "the second run does not start on a line of its own";
  EXPECT_NE(std::string::npos, second_run.find("LV_APP] ------- start setup -------\r\n"));
  EXPECT_NE(std::string::npos, second_run.find("LV_APP] app: leave message loop\r\n"));
  EXPECT_EQ(std::string::npos, both_runs.find("\xEF\xBB\xBF", 3));
  ::DeleteFileW(log.c_str());
}

TEST(Startup, DottedNameKeepsItsWholeNameForInstanceAndLog) {
  BuildScratch folder(L"dots");
  const std::wstring name =
      L"Startup_Probe_" + std::to_wstring(::GetCurrentProcessId()) + L"_1.2.exe";
  const std::wstring exe = folder.Copy(INSTALLER_EXE_PATH, name);
  const std::wstring log = LogFolder() + name + L"_log.txt";
  ::DeleteFileW(log.c_str());
  {
    // Another copy of the same name in other letter case already runs.
    std::wstring lower = name;
    ::CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    nbase::UniqueHandle first(::CreateMutexW(nullptr, TRUE, lower.c_str()));
    ASSERT_TRUE(first);
    const auto second = testing_support::RunProgram(exe, L"");
    ASSERT_FALSE(second.timed_out);
    EXPECT_EQ(0u, second.exit_code);
    EXPECT_FALSE(Exists(log)) << "the second instance wrote to the log";
  }
  const auto run = RunInstaller(exe);
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

TEST_CHILD(load_library_plainly) {
  return ::LoadLibraryW(L"winmm.dll") ? 0 : 1;
}

TEST(Startup, LibraryPlantedBesideTheProgramIsNotLoaded) {
  // Control: a program importing the library the ordinary way picks up the planted copy, so the
  // marker is a faithful witness of a planted load.
  {
    BuildScratch folder(L"control");
    folder.Plant();
    const auto probe =
        testing_support::RunProgram(folder.Copy(PLANTED_PROBE_PATH, L"probe.exe"), L"");
    ASSERT_TRUE(probe.started);
    ASSERT_TRUE(folder.PlantedWasLoaded())
        << "this loader ignores planted libraries (under Wine, start the test with "
           "WINEDLLOVERRIDES=winmm=n,b as the harness does); the checks below would prove nothing";
  }
  // The same library asked for plainly, then through the program's run-time binding, which
  // takes it from the system folder only.
  for (const bool bound : {false, true}) {
    BuildScratch folder(bound ? L"bound" : L"plain");
    folder.Plant();
    const std::wstring self = folder.CopySelfAs(L"frame_tests.exe");
    const wchar_t* child = bound ? L"--child load_system_library" : L"--child load_library_plainly";
    EXPECT_EQ(0u, testing_support::RunProgram(self, child).exit_code);
    EXPECT_EQ(!bound, folder.PlantedWasLoaded()) << (bound ? "bound" : "plain");
  }

  // And the installer itself, started from a folder holding the planted library.
  {
    BuildScratch folder(L"installer");
    folder.Plant();
    const std::wstring stem = L"planted_" + std::to_wstring(::GetCurrentProcessId());
    const auto run = RunInstaller(folder.Copy(INSTALLER_EXE_PATH, stem + L".exe"));
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_FALSE(folder.PlantedWasLoaded());
    ::DeleteFileW((LogFolder() + stem + L"_log.txt").c_str());
  }
}
