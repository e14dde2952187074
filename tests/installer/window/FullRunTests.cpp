// Whole runs of the built installer: the demo server's package downloaded, run silently with the
// expected command line, Start Now, the log, the analytics events and the language marker.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <vector>

#include "base/StringUtil.h"
#include "installer/main/SystemUtil.h"
#include "tests/installer/window/SetupTestSupport.h"
#include "tools/demo/driver/InstallerDriver.h"

namespace {

using setup_test::FromBuildPath;
using setup_test::PathExists;
using setup_test::ReadFileBytes;

std::wstring LocalTemp() {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\Temp\\";
}

// The collector's stored requests by file name.
std::map<std::wstring, std::string> CollectorRequests() {
  std::map<std::wstring, std::string> requests;
  const std::wstring folder = FromBuildPath(BUILD_DIR_PATH "/https-collector/requests\\");
  WIN32_FIND_DATAW found = {};
  // Only the demo collector's port, and only requests of the demo settings: other test
  // programs report to the same collector.
  HANDLE search = ::FindFirstFileW((folder + COLLECTOR_PORT L"-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return requests;
  do {
    const std::string request = ReadFileBytes(folder + found.cFileName);
    if (request.find("measurement_id=G-DEMO000000") != std::string::npos) {
      requests[found.cFileName] = request;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return requests;
}

bool AnyRequestHas(const std::vector<std::string>& requests, const std::string& text) {
  for (const std::string& request : requests) {
    if (request.find(text) != std::string::npos) return true;
  }
  return false;
}

struct RunOutcome {
  demo::DriveResult result;
  std::string log;
  std::vector<std::string> requests;
};

// Runs the built installer under `exe_name` through a whole installation, as the demo does,
// and collects what the run left behind.
RunOutcome RunInstallation(const std::wstring& exe_name, const std::wstring& shot_prefix) {
  demo::ControlPoints points;
  {
    setup_test::SkinCopy skin({});
    points = demo::MeasureControls(L"resources\\");
  }
  // The product an earlier run started would make this run ask to end it first.
  for (int i = 0; i < 300 && sysutil::IsProcessRunning(L"Minteo.exe"); ++i) ::Sleep(100);
  RunOutcome outcome;
  if (!points.valid) {
    outcome.result.failure = "the layout did not load";
    return outcome;
  }
  const std::wstring folder = LocalTemp() + L"full_run";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring exe = folder + L"\\" + exe_name + L".exe";
  ::CopyFileW(FromBuildPath(INSTALLER_EXE_PATH).c_str(), exe.c_str(), FALSE);
  const std::wstring log_path = demo::InstallerLogPath(exe_name);
  ::DeleteFileW(log_path.c_str());
  const std::wstring install = demo::DefaultInstallFolder();
  setup_test::RemoveTree(install.substr(0, install.size() - 1));
  const std::map<std::wstring, std::string> requests_before = CollectorRequests();
  const std::wstring shots = FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(shots.c_str(), nullptr);

  outcome.result = demo::DriveInstallation(exe, points, shots, shot_prefix, 120000);
  outcome.log = ReadFileBytes(log_path);
  // Events go out on threads of their own; the entry waits for them before it ends.
  for (const auto& [name, request] : CollectorRequests()) {
    if (!requests_before.count(name)) outcome.requests.push_back(request);
  }
  return outcome;
}

void ExpectInOrder(const std::string& log, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = log.find(line, at);
    ASSERT_NE(std::string::npos, found) << "missing or out of order: " << line << "\n" << log;
    at = found + line.size();
  }
}

TEST(FullRun, InstallsStartsTheProductAndReports) {
  const RunOutcome run = RunInstallation(L"Clipmint_installer", L"run_en_");
  ASSERT_EQ("", run.result.failure) << run.log;
  EXPECT_EQ(0u, run.result.exit_code);
  ExpectInOrder(run.log, {"------- start setup -------", "app: run message loop",
                          "------- init window -------", "------- init data -------",
                          "------- start download -------", "------- download success -------",
                          "------- finish silent install -------", "app: leave message loop"});

  const std::wstring install = demo::DefaultInstallFolder();
  EXPECT_EQ(L"/DIR=\"" + install.substr(0, install.size() - 1) +
                L"\" /pellisar_down /wait_run /verysilent",
            nbase::UTF8ToUTF16(ReadFileBytes(install + L"setup_parameters.txt")));
  EXPECT_EQ("English", ReadFileBytes(install + L"cache\\language"));
  // Start Now started the product from the chosen folder.
  for (int i = 0; i < 100 && !PathExists(install + L"minteo_started.txt"); ++i) ::Sleep(100);
  EXPECT_TRUE(PathExists(install + L"minteo_started.txt"));
  EXPECT_FALSE(PathExists(LocalTemp() + L"Clipmint_full_setup_x64.exe"));

  EXPECT_TRUE(AnyRequestHas(run.requests, "Start_Install"));
  // A local download takes under a second: the label carries no duration bucket then.
  EXPECT_TRUE(AnyRequestHas(run.requests, "\"event_label\":\"Install_Time"));
  EXPECT_TRUE(AnyRequestHas(run.requests, "Install_Completed"));
  EXPECT_FALSE(AnyRequestHas(run.requests, "Cancel_Install"));
  // Start Now closed the end page, which opens the page after the installation.
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(INSTALL_PAGE_EN, 20000));
}

TEST(FullRun, GermanNameShowsGermanAndRecordsIt) {
  const RunOutcome run = RunInstallation(L"Clipmint_installer_de", L"run_de_");
  ASSERT_EQ("", run.result.failure) << run.log;
  EXPECT_EQ(0u, run.result.exit_code);
  EXPECT_EQ("German", ReadFileBytes(demo::DefaultInstallFolder() + L"cache\\language"));
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(INSTALL_PAGE_DE, 20000));
}

}  // namespace
