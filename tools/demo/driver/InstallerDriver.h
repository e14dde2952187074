// Drives a started installer through a whole run from outside, as a user would: Install Now,
// wait for the end page, Start Now, with a screenshot of each page.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace demo {

// Where the installer's buttons lie, measured on the same layout built in this process.
struct ControlPoints {
  bool valid = false;
  POINT install = {};
  POINT start = {};
};

// Builds the setup window's layout from the skin the resource service has open (or finds on
// disk) and reads the buttons' centres. Starts and shuts down the resource service itself.
ControlPoints MeasureControls(const std::wstring& resource_root);

// The log file an installer named `exe_base_name` writes.
std::wstring InstallerLogPath(const std::wstring& exe_base_name);

// The default install folder, ending in "\\".
std::wstring DefaultInstallFolder();

// A whole file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// The top-level windows of a process with that window class.
std::vector<HWND> TopLevelWindowsOf(DWORD process_id, const wchar_t* class_name);

// The setup window of a process, or null.
HWND FindSetupWindow(DWORD process_id);

// A left click at a point of the window's client area, as mouse messages.
void ClickAt(HWND window, POINT point);

// Saves what the screen shows of `window` as a PNG.
bool SaveWindowPng(HWND window, const std::wstring& path);

struct DriveResult {
  bool started = false;
  bool timed_out = false;
  DWORD exit_code = 0;
  std::string failure;  // what did not happen, when something did not
};

// Runs `exe` to its end, clicking through it; screenshots go to `shot_folder` as
// `<prefix>home.png`, `<prefix>download.png` and `<prefix>end.png` (skipped when empty).
DriveResult DriveInstallation(const std::wstring& exe, const ControlPoints& points,
                              const std::wstring& shot_folder, const std::wstring& prefix,
                              DWORD timeout_ms);

}  // namespace demo
