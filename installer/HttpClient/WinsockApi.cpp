// Run-time binding of the Winsock functions the socket client calls.
#include "installer/HttpClient/WinsockApi.h"

const WinsockApi& Winsock() {
  static const WinsockApi api = nbase::BindSystemTable<WinsockApi>(L"ws2_32.dll");
  return api;
}
