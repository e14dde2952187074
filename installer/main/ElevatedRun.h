// Runs a program with administrator rights, hidden, and says honestly how that went.
#pragma once

#include <windows.h>

#include <string>

struct ElevatedRunResult {
  // 0 when the program started; ERROR_CANCELLED when the user refused the elevation prompt;
  // any other Windows error when it could not be started.
  DWORD start_error = 0;
  // The program's exit code once it ended; WAIT_TIMEOUT stands in when it outlived the wait.
  DWORD exit_code = 0;
  bool timed_out = false;

  bool Succeeded() const { return start_error == 0 && !timed_out && exit_code == 0; }
};

// Starts `file` elevated with `parameters` in `directory` and waits at most `timeout_ms` for it.
// The shell shows no error box of its own (a missing file must not leave a modal box on a
// worker thread), so every failure comes back here.
ElevatedRunResult RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                     const std::wstring& directory, DWORD timeout_ms);
