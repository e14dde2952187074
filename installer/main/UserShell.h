// Starts programs and opens web pages as the signed-in user, not with the installer's rights.
#pragma once

#include <windows.h>

#include <string>

namespace usershell {

enum class LaunchRoute {
  kDesktopShell,  // the desktop's own shell started it, with the user's normal rights
  kDirect,        // that route failed and this process runs with the user's own rights: it
                  // started it itself
  kNotStarted,    // that route failed and this process is elevated: not started, logged
  kFailed,        // no route could start it
};

// Opens `file` (a program, document or URL) with `parameters` in `directory` through the
// desktop shell's dispatch object: the shell windows object finds the desktop's folder view,
// whose application object's ShellExecute runs in the desktop's process and so with the user's
// token even when this process is elevated. When that route fails (no desktop shell of that
// kind), this process opens it itself only when its own token is not elevated; an elevated
// installer starts nothing, since whatever it starts would inherit administrator rights, and
// logs where the user finds it instead. Call on a thread that may initialise COM as
// single-threaded.
LaunchRoute OpenAsUser(const std::wstring& file, const std::wstring& parameters = std::wstring(),
                       const std::wstring& directory = std::wstring(), int show = SW_SHOWNORMAL);

// What OpenAsUser does once the desktop shell's route has answered `desktop_result` (a
// failure); apart so the tests can take the failing route where the desktop shell works.
LaunchRoute OpenAfterDesktopShellFailed(HRESULT desktop_result, const std::wstring& file,
                                        const std::wstring& parameters,
                                        const std::wstring& directory, int show);

// Whether this process's token is elevated; true when that cannot be told.
bool IsElevated();

// Only the desktop shell's route, without the fallback; for the tests of the route itself.
HRESULT OpenThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                const std::wstring& directory, int show);

}  // namespace usershell
