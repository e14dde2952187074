// Run-time binding of the WinHTTP functions the WinHTTP client calls.
#include "installer/HttpClient/WinHttpApi.h"

const WinHttpApi& WinHttp() {
  static const WinHttpApi api = nbase::BindSystemTable<WinHttpApi>(L"winhttp.dll");
  return api;
}
