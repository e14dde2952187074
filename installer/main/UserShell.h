// Starts programs and opens web pages as the signed-in user, not with the installer's rights.
#pragma once

#include <windows.h>

#include <string>

namespace usershell {

enum class LaunchRoute {
  kDesktopShell,  // the desktop's own shell started it, with the user's normal rights
  kDirect,        // that route failed: started by this (possibly elevated) process, logged
  kFailed,        // neither could start it
};

// Opens `file` (a program, document or URL) with `parameters` in `directory` through the
// desktop shell's dispatch object: the shell windows object finds the desktop's folder view,
// whose application object's ShellExecute runs in the desktop's process and so with the user's
// token even when this process is elevated. Falls back to this process's own ShellExecute,
// logged as a warning. Call on a thread that may initialise COM as single-threaded.
LaunchRoute OpenAsUser(const std::wstring& file, const std::wstring& parameters = std::wstring(),
                       const std::wstring& directory = std::wstring(), int show = SW_SHOWNORMAL);

// Only the desktop shell's route, without the fallback; for the tests of the route itself.
HRESULT OpenThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                const std::wstring& directory, int show);

}  // namespace usershell
