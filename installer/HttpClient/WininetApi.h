// WinINet bound at run time: the installer may import only libraries Windows always takes from
// the system folder, and wininet.dll is not one of them.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/UniqueResource.h"

struct WininetApi {
  decltype(&::InternetOpenW) InternetOpenW = nullptr;
  decltype(&::InternetConnectW) InternetConnectW = nullptr;
  decltype(&::InternetConnectA) InternetConnectA = nullptr;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW = nullptr;
  decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
  decltype(&::HttpAddRequestHeadersA) HttpAddRequestHeadersA = nullptr;
  decltype(&::HttpSendRequestW) HttpSendRequestW = nullptr;
  decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW = nullptr;
  decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  decltype(&::InternetSetOptionW) InternetSetOptionW = nullptr;
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;

  // True when every entry was found.
  bool complete = false;
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
