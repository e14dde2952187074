// Program entry: one instance per executable name, the log, and the main thread's UI loop.
#include <windows.h>

#include "base/MessageLoop.h"
#include "base/SystemLibrary.h"
#include "base/UniqueResource.h"
#include "installer/analytics/Analytics.h"
#include "installer/main/Log.h"
#include "installer/main/MainThread.h"
#include "installer/main/SystemUtil.h"
#include "installer/window/SetupForm.h"

namespace {

// Filled before the runtime's own constructors run, so built on first use rather than as a
// global, which those constructors would build (and empty) afterwards.
std::vector<std::wstring>& NotPreloaded() {
  static std::vector<std::wstring> names;
  return names;
}

// Runs ahead of every constructor without a priority (after the stack guard's, which loads
// nothing): the search path is restricted, and the libraries that system libraries load on
// their own while the window comes up are loaded from the system folder before anything of
// the installer runs; the window loads the others once it has painted.
__attribute__((constructor(102))) void LoadSystemLibrariesFirst() {
  nbase::HardenDllSearchPath();
  NotPreloaded() = sysutil::PreloadLibrariesBeforeTheWindow();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring instance_name = sysutil::GetInstanceName();
  // Held for the life of the process. A second start finds it and shows the first window
  // instead: a user who hid the installer and starts it again must see it come back.
  nbase::UniqueHandle instance_mutex(::CreateMutexW(nullptr, TRUE, instance_name.c_str()));
  if (!instance_mutex) return 0;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    if (HWND running = sysutil::FindInstanceWindow(kSetupWindowName, 5000)) {
      sysutil::BringToFront(running);
    }
    return 0;
  }

  if (!StartLog()) return 1;
  LOG_APP(L"------- start setup -------");
  for (const std::wstring& name : NotPreloaded())
    LOG_APP(L"app: no system library %ls", name.c_str());
  LOG_APP(L"app: run message loop");
  {
    MainThread main_thread;
    main_thread.RunOnCurrentThread(nbase::MessageLoop::kUIMessageLoop);
  }
  LOG_APP(L"app: leave message loop");
  // A window that closed before it painted never opened the log's file.
  OpenLogFile();
  // The last events ("Cancel_Install" among them) are still on their way; give them a short,
  // bounded chance to arrive, then end the process without tearing anything down under them.
  EndProcessAfterEvents(0, 1500);
}
