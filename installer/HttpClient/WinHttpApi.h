// WinHTTP bound at run time: winhttp.dll is not among the libraries Windows always takes from the
// system folder, so the installer's import table must not name it.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "base/SystemFunctionTable.h"

// clang-format off
#define WINHTTP_FUNCTIONS(X)         \
  X(WinHttpOpen)                 \
  X(WinHttpSetTimeouts)          \
  X(WinHttpConnect)              \
  X(WinHttpOpenRequest)          \
  X(WinHttpSetOption)            \
  X(WinHttpAddRequestHeaders)    \
  X(WinHttpSendRequest)          \
  X(WinHttpReceiveResponse)      \
  X(WinHttpQueryHeaders)         \
  X(WinHttpQueryDataAvailable)   \
  X(WinHttpReadData)             \
  X(WinHttpCloseHandle)
// clang-format on

struct WinHttpApi {
  NBASE_SYSTEM_FUNCTION_TABLE(WINHTTP_FUNCTIONS)
};

// Bound on first use from the system folder; the table lives for the whole process.
const WinHttpApi& WinHttp();
