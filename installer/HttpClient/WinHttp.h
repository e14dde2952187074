// The HTTP client on the system's WinHTTP library: HTTP and HTTPS with configurable time-outs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpClientBase.h"

// WinHTTP handles are spelled as plain pointers here: winhttp.h cannot share a translation unit
// with wininet.h, and the client factory sees both clients' headers.
struct WinHttpHandleTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept;
};

using UniqueWinHttpHandle = nbase::UniqueResource<WinHttpHandleTraits>;

// Owned by the one thread that runs its operations; made by CreateHttpClient, ended by Release.
class CWinHttp : public HttpClientBase<IWinHttp> {
 public:
  // Opens the root handle at once; when that fails LastError is HttpErrOpen before any call.
  CWinHttp();

  double QueryContentLength(const wchar_t* url) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* path) override;
  bool FetchToBuffer(const wchar_t* url, void** block, size_t* count) override;
  std::string Exchange(const wchar_t* url, int kind, const char* body,
                       const char* header_text) override;
  std::string ExchangeA(const char* url, int kind, const char* body,
                        const char* header_text) override;
  // Stored only; the next operation's root handle takes them.
  void SetTimeouts(int connect_ms, int send_ms, int receive_ms) override;

  virtual ~CWinHttp();

  static constexpr int kDefaultTimeoutMs = 5000;

 private:
  void CloseHandles();
  // Each of these throws the HttpInterfaceError of the failing step.
  void OpenRoot();
  void SendRequest(const std::wstring& url, int kind, const char* body,
                   const std::wstring& header_text);
  unsigned long long ReadContentLength();
  // Stores the status code (0 when it cannot be read) and returns it.
  int ReadStatus();
  size_t QueryAvailable(HttpInterfaceError failure);
  // Reads the `available` bytes QueryAvailable announced into `buffer`, grown to fit; 0 at the
  // body's end.
  DWORD ReadAvailable(std::vector<char>& buffer, size_t available);
  std::string ExchangeWide(const std::wstring& url, int kind, const char* body,
                           const std::wstring& header_text);

  bool secure_ = false;
  UniqueWinHttpHandle root_;
  UniqueWinHttpHandle connection_;
  UniqueWinHttpHandle request_;
  int connect_timeout_ms_ = kDefaultTimeoutMs;
  int send_timeout_ms_ = kDefaultTimeoutMs;
  int receive_timeout_ms_ = kDefaultTimeoutMs;
};
