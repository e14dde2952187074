// Holds a test session's desktop for the session's life, as Windows always has one.
#include <windows.h>

#include <objbase.h>

#include <string>

#include "base/ComIds.h"
#include "base/UniqueResource.h"

namespace {

// The desktop process registers the shell's window list once it is up. Under load a desktop
// has come up without it (every launch through the desktop shell then failed with "class not
// registered"), so the keeper reports ready only once the list answers, and the harness
// replaces a desktop that never does.
bool ShellWindowsAnswer() {
  nbase::ScopedCoInitialize com;
  if (FAILED(com.result())) return false;
  constexpr int kTries = 100;
  for (int i = 0; i < kTries; ++i) {
    nbase::ComPtr<IUnknown> windows;
    if (SUCCEEDED(::CoCreateInstance(nbase::kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                     IID_IUnknown, windows.put_void()))) {
      return true;
    }
    ::Sleep(100);  // the desktop registers it from its own thread; nothing to wait on
  }
  return false;
}

}  // namespace

// Wine starts the desktop process with the first program that asks for the desktop and ends
// it a moment after the last one leaves. Started by each test program in turn, the desktop was
// torn down and brought up again between them, a program starting in the gap lost its windows
// to a desktop going away, and a desktop started by a test was ended uncleanly with it when a
// runner stopped that test, leaving the shell's objects unregistered for every test after.
// Asking for the desktop is enough to hold it: no window, so nothing takes keys or the pointer.
// The one argument names the file written once the desktop's shell objects answer.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
  std::wstring ready_path = command_line;
  if (ready_path.size() >= 2 && ready_path.front() == L'"' && ready_path.back() == L'"') {
    ready_path = ready_path.substr(1, ready_path.size() - 2);
  }
  if (!::GetDesktopWindow()) return 1;
  if (!ShellWindowsAnswer()) return 2;
  nbase::UniqueFileHandle ready(::CreateFileW(ready_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ready) return 3;
  ready.reset();
  // The session's end kills every process of the prefix; the bound only stops a keeper that
  // lost its session from waiting for ever.
  constexpr DWORD kLongestSession = 12 * 60 * 60 * 1000;
  ::Sleep(kLongestSession);
  return 0;
}
