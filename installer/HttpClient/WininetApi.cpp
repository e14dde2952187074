// Run-time binding of the WinINet functions the HTTP client calls.
#include "installer/HttpClient/WininetApi.h"

const WininetApi& Wininet() {
  static const WininetApi api = nbase::BindSystemTable<WininetApi>(L"wininet.dll");
  return api;
}
