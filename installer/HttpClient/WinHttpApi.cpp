// Run-time binding of the WinHTTP functions the WinHTTP client calls.
#include "installer/HttpClient/WinHttpApi.h"

#include "base/SystemLibrary.h"

namespace {

template <typename Fn>
bool Bind(Fn& slot, const char* name) {
  return nbase::BindSystemFunction(slot, L"winhttp.dll", name);
}

WinHttpApi BindAll() {
  WinHttpApi api;
  bool ok = true;
  ok &= Bind(api.WinHttpOpen, "WinHttpOpen");
  ok &= Bind(api.WinHttpSetTimeouts, "WinHttpSetTimeouts");
  ok &= Bind(api.WinHttpConnect, "WinHttpConnect");
  ok &= Bind(api.WinHttpOpenRequest, "WinHttpOpenRequest");
  ok &= Bind(api.WinHttpSetOption, "WinHttpSetOption");
  ok &= Bind(api.WinHttpAddRequestHeaders, "WinHttpAddRequestHeaders");
  ok &= Bind(api.WinHttpSendRequest, "WinHttpSendRequest");
  ok &= Bind(api.WinHttpReceiveResponse, "WinHttpReceiveResponse");
  ok &= Bind(api.WinHttpQueryHeaders, "WinHttpQueryHeaders");
  ok &= Bind(api.WinHttpQueryDataAvailable, "WinHttpQueryDataAvailable");
  ok &= Bind(api.WinHttpReadData, "WinHttpReadData");
  ok &= Bind(api.WinHttpCloseHandle, "WinHttpCloseHandle");
  api.complete = ok;
  return api;
}

}  // namespace

const WinHttpApi& WinHttp() {
  static const WinHttpApi api = BindAll();
  return api;
}
