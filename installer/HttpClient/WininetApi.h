// WinINet bound at run time: the installer may import only libraries Windows always takes from
// the system folder, and wininet.dll is not one of them.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/SystemFunctionTable.h"
#include "base/UniqueResource.h"

// clang-format off
#define WININET_FUNCTIONS(X)      \
  X(InternetOpenW)            \
  X(InternetConnectW)         \
  X(HttpOpenRequestW)         \
  X(HttpAddRequestHeadersA)   \
  X(HttpSendRequestW)         \
  X(HttpQueryInfoW)           \
  X(HttpQueryInfoA)           \
  X(InternetReadFile)         \
  X(InternetQueryDataAvailable) \
  X(InternetSetOptionW)       \
  X(InternetCloseHandle)
// clang-format on

struct WininetApi {
  NBASE_SYSTEM_FUNCTION_TABLE(WININET_FUNCTIONS)
};

// Bound on first use from the system folder; the table lives for the whole process.
const WininetApi& Wininet();

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept {
    // A handle exists only if binding succeeded, so the pointer is set.
    Wininet().InternetCloseHandle(h);
  }
};

using UniqueInternetHandle = nbase::UniqueResource<InternetHandleTraits>;
