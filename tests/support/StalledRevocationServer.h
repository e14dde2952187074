// A revocation list's server that takes connections on 127.0.0.1 and never answers them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include "base/StringUtil.h"

namespace test_servers {

// Listens on `port` (the test authority's stalled distribution point) for the life of the
// object. Connections wait in the queue, never accepted.
class StalledRevocationServer {
 public:
  explicit StalledRevocationServer(int port) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    started_ = true;
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listening_ = socket_ != INVALID_SOCKET &&
                 ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                 ::listen(socket_, 16) == 0;
    // A fetch cut short by an earlier run leaves an entry in the URL cache, which the chain
    // engine would then read instead of asking the server.
    ::DeleteUrlCacheEntryW(nbase::StringPrintf(L"http://127.0.0.1:%d/stall.crl", port).c_str());
  }
  ~StalledRevocationServer() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    if (started_) ::WSACleanup();
  }
  StalledRevocationServer(const StalledRevocationServer&) = delete;
  StalledRevocationServer& operator=(const StalledRevocationServer&) = delete;

  bool listening() const { return listening_; }
  // Whether a connection waits in the queue: the verifier's chain engine has asked.
  bool Connected() const {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval now = {0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) == 1;
  }

 private:
  bool started_ = false;
  bool listening_ = false;
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace test_servers
