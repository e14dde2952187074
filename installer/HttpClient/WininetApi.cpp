// Run-time binding of the WinINet functions the HTTP client calls.
#include "installer/HttpClient/WininetApi.h"

#include "base/SystemLibrary.h"

namespace {

template <typename Fn>
bool Bind(Fn& slot, const char* name) {
  return nbase::BindSystemFunction(slot, L"wininet.dll", name);
}

WininetApi BindAll() {
  WininetApi api;
  bool ok = true;
  ok &= Bind(api.InternetOpenW, "InternetOpenW");
  ok &= Bind(api.InternetConnectW, "InternetConnectW");
  ok &= Bind(api.InternetConnectA, "InternetConnectA");
  ok &= Bind(api.HttpOpenRequestW, "HttpOpenRequestW");
  ok &= Bind(api.HttpOpenRequestA, "HttpOpenRequestA");
  ok &= Bind(api.HttpAddRequestHeadersA, "HttpAddRequestHeadersA");
  ok &= Bind(api.HttpSendRequestW, "HttpSendRequestW");
  ok &= Bind(api.HttpSendRequestA, "HttpSendRequestA");
  ok &= Bind(api.HttpQueryInfoW, "HttpQueryInfoW");
  ok &= Bind(api.HttpQueryInfoA, "HttpQueryInfoA");
  ok &= Bind(api.InternetReadFile, "InternetReadFile");
  ok &= Bind(api.InternetSetOptionW, "InternetSetOptionW");
  ok &= Bind(api.InternetCloseHandle, "InternetCloseHandle");
  api.complete = ok;
  return api;
}

}  // namespace

const WininetApi& Wininet() {
  static const WininetApi api = BindAll();
  return api;
}
