// Winsock bound at run time: the socket client is one of the factory's clients, not the one the
// installer's own downloads use, and a static import would load ws2_32.dll (and under Wine its
// share of the network layer) before the window shows, on every start.
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
