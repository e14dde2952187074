// The elevated, silent start of the setup package and the wait for its end.
#include "installer/main/ElevatedRun.h"

#include "base/UniqueResource.h"
#include "installer/main/ShellFunctions.h"

ElevatedRunResult RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                     const std::wstring& directory, DWORD timeout_ms) {
  ElevatedRunResult result;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = SW_HIDE;
  const ShellApi& shell = ShellFunctions();
  if (!shell.complete || !shell.ShellExecuteExW(&info)) {
    result.start_error = ::GetLastError();
    if (result.start_error == 0) result.start_error = ERROR_GEN_FAILURE;
    return result;
  }
  nbase::UniqueHandle process(info.hProcess);
  if (!process) {
    // Started through something that hands out no process (a document, a DDE server): nothing
    // to wait for and no exit code to trust.
    result.start_error = ERROR_INVALID_HANDLE;
    return result;
  }
  if (::WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    result.exit_code = WAIT_TIMEOUT;
    return result;
  }
  if (!::GetExitCodeProcess(process.get(), &result.exit_code)) {
    result.exit_code = ::GetLastError();
  }
  return result;
}
