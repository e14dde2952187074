// The HTTP client over a plain TCP socket: plain HTTP/1.1 spoken by hand, IPv4 only.
#pragma once

#include <cstdint>
#include <string>

#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpClientBase.h"

// A socket is spelled as its integer here so that this header does not decide the include
// order of winsock2.h and windows.h for everyone who includes it.
struct SocketTraits {
  using Type = std::uintptr_t;
  static Type Invalid() noexcept { return ~static_cast<Type>(0); }
  static void Close(Type socket) noexcept;
};

using UniqueSocket = nbase::UniqueResource<SocketTraits>;

// Owned by the one thread that runs its operations; made by CreateHttpClient, ended by Release.
// The socket stays open after an operation until the next one connects or the client ends.
class CHttpSocket : public HttpClientBase<ISocketHttp> {
 public:
  CHttpSocket() = default;

  // This client never asks for a length alone: always 0, without network traffic.
  double QueryContentLength(const wchar_t* url) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* path) override;
  bool FetchToBuffer(const wchar_t* url, void** block, size_t* count) override;
  std::wstring ResolvedAddress() override { return resolved_address_; }

  virtual ~CHttpSocket();

  static constexpr unsigned long kReceiveTimeoutMs = 10000;

 private:
  enum class Attempt { kSucceeded, kFailed, kRedirected };

  // One connection's share of a download. kRedirected hands back an absolute location that
  // needs a connection of its own; relative ones are followed inside on the same connection.
  Attempt FileAttempt(const std::wstring& url, const std::wstring& path, int& redirects,
                      std::wstring& location);
  Attempt BufferAttempt(const std::wstring& url, int& redirects, std::wstring& location,
                        void** block, size_t* count);
  // Stores the failure's code and reports false.
  bool Connect(const std::string& host, int port);
  // Each of these throws the HttpInterfaceError of the failing step.
  void SendRequest(const std::string& path);
  // Bytes of one block, or 0 when the server closed the connection.
  size_t Receive(char* buffer, size_t size);
  // Follows a redirect head: true with the new request path for a relative location, false
  // with the absolute URL in `location`.
  bool FollowRedirect(const CHttpHeader& head, int& redirects, std::string& request_path,
                      std::wstring& location);

  UniqueSocket socket_;
  std::wstring resolved_address_;
};
