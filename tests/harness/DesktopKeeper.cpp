// Holds a test session's desktop for the session's life, as Windows always has one.
#include <windows.h>

// Wine starts the desktop process with the first program that asks for the desktop and ends
// it a moment after the last one leaves. Started by each test program in turn, the desktop was
// torn down and brought up again between them, a program starting in the gap lost its windows
// to a desktop going away, and a desktop started by a test was ended uncleanly with it when a
// runner stopped that test, leaving the shell's objects unregistered for every test after.
// Asking for the desktop is enough to hold it: no window, so nothing takes keys or the pointer.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (!::GetDesktopWindow()) return 1;
  // The session's end kills every process of the prefix; the bound only stops a keeper that
  // lost its session from waiting for ever.
  constexpr DWORD kLongestSession = 12 * 60 * 60 * 1000;
  ::Sleep(kLongestSession);
  return 0;
}
