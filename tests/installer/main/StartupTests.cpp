// Start-up of the real installer executable: single instance, log naming, and DLL planting.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/StringUtil.h"
#include "base/SystemLibrary.h"
#include "base/UniqueResource.h"
#include "installer/main/SystemUtil.h"
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
  // The names of the planted copies that were loaded, one a line.
  std::string PlantedLoaded() const { return ReadAll(path() + L"planted_loaded.txt"); }
};

std::wstring SystemFolderPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\" + name;
}

// Lower case, so paths compare whatever case the loader reports them in.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Every module the loader mapped into the running program, as its full path, gathered each time
// the program is driven; the window is closed once it shows, as a user would.
std::set<std::string> ModuleSnapshot(DWORD process_id) {
  std::set<std::string> modules;
  nbase::UniqueHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process_id));
  MODULEENTRY32W module = {};
  module.dwSize = sizeof(module);
  if (snapshot && ::Module32FirstW(snapshot.get(), &module)) {
    do {
      modules.insert(Lower(nbase::UTF16ToUTF8(module.szExePath)));
    } while (::Module32NextW(snapshot.get(), &module));
  }
  return modules;
}

// The modules of the running installer once `awaited` (full paths, lower case) are all among
// them: some are loaded only after the window has painted. Another process's loads raise no
// event here, so each look of the run's driver takes the list again, and the window is closed
// once they are there or after 20 s.
std::set<std::string> ModulesWhileRunning(const std::wstring& exe,
                                          const std::vector<std::string>& awaited = {}) {
  std::set<std::string> modules;
  bool closing = false;
  const ULONGLONG watchdog = ::GetTickCount64() + 20000;
  const auto run = testing_support::RunProgram(exe, L"", 60000, [&](DWORD process_id) {
    if (!closing) {
      // A snapshot taken while the loader is at work can come back empty: the last full one
      // stands, and none is taken once the program is on its way out.
      std::set<std::string> now = ModuleSnapshot(process_id);
      if (!now.empty()) modules = std::move(now);
      bool all = !modules.empty();
      for (const std::string& name : awaited) all = all && modules.count(name) > 0;
      closing = all || ::GetTickCount64() > watchdog;
    }
    if (closing) CloseSetupWindowOf(process_id);
  });
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(0u, run.exit_code);
  return modules;
}

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

// The Wine fault the preloading guards against: a system library loaded by its full path has
// its own imports looked for beside the program (the image codecs' property store here).
TEST_CHILD(load_image_codecs_by_path) {
  return ::LoadLibraryW(SystemFolderPath(L"windowscodecs.dll").c_str()) ? 0 : 1;
}

TEST(Startup, LibrariesThatSystemLibrariesLoadLaterComeFromTheSystemFolder) {
  const std::vector<const wchar_t*>& late = sysutil::LateSystemLibraries();
  const auto plant_all = [&late](const BuildScratch& folder) {
    for (const wchar_t* name : late) folder.Copy(PLANTED_LIBRARY_PATH, name);
  };
  // Control: without the preloading the planted property store is taken, so an empty marker
  // below means the installer kept it out, not that this loader never looks beside a program.
  {
    // The property store alone: this test program has no preloading, and a planted copy of
    // what its own start-up loads would leave it hanging rather than show anything.
    BuildScratch folder(L"late_control");
    folder.Copy(PLANTED_LIBRARY_PATH, L"propsys.dll");
    const std::wstring self = folder.CopySelfAs(L"frame_tests.exe");
    EXPECT_EQ(0u,
              testing_support::RunProgram(self, L"--child load_image_codecs_by_path").exit_code);
    ASSERT_NE(std::string::npos, Lower(folder.PlantedLoaded()).find("propsys.dll"))
        << "this loader takes no dependency from beside the program (under Wine the harness "
           "sets the planted names to native first); the checks below would prove nothing";
  }

  BuildScratch folder(L"late");
  plant_all(folder);
  const std::wstring stem = L"late_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring exe = folder.Copy(INSTALLER_EXE_PATH, stem + L".exe");
  std::vector<std::string> awaited;
  for (const wchar_t* name : late) {
    awaited.push_back(Lower(nbase::UTF16ToUTF8(SystemFolderPath(name))));
  }
  const std::set<std::string> modules = ModulesWhileRunning(exe, awaited);
  ::DeleteFileW((LogFolder() + stem + L"_log.txt").c_str());

  EXPECT_EQ("", folder.PlantedLoaded()) << "entry points of planted copies ran";
  // The loader's own list of what it mapped: only the installer itself is from its folder, and
  // the libraries loaded ahead are there, from the system folder.
  const std::string exe_path = Lower(nbase::UTF16ToUTF8(exe));
  const std::string planted_folder = Lower(nbase::UTF16ToUTF8(folder.path()));
  ASSERT_EQ(1u, modules.count(exe_path)) << "no module list of the running installer";
  for (const std::string& module : modules) {
    EXPECT_TRUE(module == exe_path || module.find(planted_folder) != 0)
        << "taken from beside the installer: " << module;
  }
  for (const wchar_t* name : late) {
    EXPECT_EQ(1u, modules.count(Lower(nbase::UTF16ToUTF8(SystemFolderPath(name))))) << name;
  }
}
