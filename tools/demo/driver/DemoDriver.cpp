// Console tool of the demo: runs the installer headless, clicking through the whole run and
// saving a screenshot of each page. Usage: demo_driver.exe INSTALLER.exe SCREENSHOT_FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/demo/driver/InstallerDriver.h"
#include "ui/core/GlobalManager.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: demo_driver INSTALLER.exe SCREENSHOT_FOLDER\n");
    return 2;
  }
  // This tool carries the same skin as the installer, so it can measure where the buttons are.
  ui::GlobalManager::Instance().OpenResZip(133, L"ZIP", std::string());
  const demo::ControlPoints points = demo::MeasureControls(L"resources\\");
  if (!points.valid) {
    std::fprintf(stderr, "the setup window's layout did not load\n");
    return 1;
  }
  ::CreateDirectoryW(argv[2], nullptr);
  std::printf("installer started; clicking Install Now once the home page shows\n");
  std::fflush(stdout);
  const demo::DriveResult result = demo::DriveInstallation(argv[1], points, argv[2], L"", 180000);
  if (!result.failure.empty()) {
    std::printf("FAILED: %s\n", result.failure.c_str());
    return 1;
  }
  std::printf("the run reached the end page, Start Now launched the product, exit code %lu\n",
              result.exit_code);
  return result.exit_code == 0 ? 0 : 1;
}
