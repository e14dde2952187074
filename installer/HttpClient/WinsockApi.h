// Winsock bound at run time: the socket client is one fallback among the HTTP clients, and
// loading ws2_32.dll (and its share of Wine's network layer) before the window shows would
// slow every start for a library most runs never call.
#pragma once

#include <winsock2.h>

#include "base/SystemFunctionTable.h"

// clang-format off
#define WINSOCK_FUNCTIONS(X) \
  X(WSAStartup)              \
  X(gethostbyname)           \
  X(socket)                  \
  X(setsockopt)              \
  X(htons)                   \
  X(inet_addr)               \
  X(connect)                 \
  X(send)                    \
  X(recv)                    \
  X(closesocket)
// clang-format on

struct WinsockApi {
  NBASE_SYSTEM_FUNCTION_TABLE(WINSOCK_FUNCTIONS)
};

// Bound on first use from the system folder; the table lives for the whole process.
const WinsockApi& Winsock();
