// WinHTTP bound at run time: winhttp.dll is not among the libraries Windows always takes from the
// system folder, so the installer's import table must not name it.
#pragma once

#include <windows.h>
#include <winhttp.h>

struct WinHttpApi {
  decltype(&::WinHttpOpen) WinHttpOpen = nullptr;
  decltype(&::WinHttpSetTimeouts) WinHttpSetTimeouts = nullptr;
  decltype(&::WinHttpConnect) WinHttpConnect = nullptr;
  decltype(&::WinHttpOpenRequest) WinHttpOpenRequest = nullptr;
  decltype(&::WinHttpSetOption) WinHttpSetOption = nullptr;
  decltype(&::WinHttpAddRequestHeaders) WinHttpAddRequestHeaders = nullptr;
  decltype(&::WinHttpSendRequest) WinHttpSendRequest = nullptr;
  decltype(&::WinHttpReceiveResponse) WinHttpReceiveResponse = nullptr;
  decltype(&::WinHttpQueryHeaders) WinHttpQueryHeaders = nullptr;
  decltype(&::WinHttpQueryDataAvailable) WinHttpQueryDataAvailable = nullptr;
  decltype(&::WinHttpReadData) WinHttpReadData = nullptr;
  decltype(&::WinHttpCloseHandle) WinHttpCloseHandle = nullptr;

  // True when every entry was found.
  bool complete = false;
};

// Bound on first use from the system folder; the table lives for the whole process.
const WinHttpApi& WinHttp();
