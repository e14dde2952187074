// The HTTP client on the system's WinHTTP library: HTTP and HTTPS with configurable time-outs.
#pragma once

#include <string>

#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpHeader.h"
#include "installer/HttpClient/HttpInterface.h"

// WinHTTP handles are spelled as plain pointers here: winhttp.h cannot share a translation unit
// with wininet.h, and the client factory sees both clients' headers.
struct WinHttpHandleTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept;
};

using UniqueWinHttpHandle = nbase::UniqueResource<WinHttpHandleTraits>;

// Owned by the one thread that runs its operations; made by CreateHttpClient, ended by Release.
class CWinHttp : public IWinHttp {
 public:
  // Opens the root handle at once; when that fails LastError is HttpErrOpen before any call.
  CWinHttp();

  void SetProgressSink(IHttpCallback* sink, void* param) override;
  double QueryContentLength(const wchar_t* url) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* path) override;
  bool FetchToBuffer(const wchar_t* url, void** block, size_t* count) override;
  void Release() override;
  HttpInterfaceError LastError() override { return last_error_; }
  void AddRequestHeader(const char* name, const char* value) override;
  int StatusCode() override { return status_code_; }
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
  std::string ExchangeWide(const std::wstring& url, int kind, const char* body,
                           const std::wstring& header_text);

  int status_code_ = 0;
  bool secure_ = false;
  UniqueWinHttpHandle root_;
  UniqueWinHttpHandle connection_;
  UniqueWinHttpHandle request_;
  int connect_timeout_ms_ = kDefaultTimeoutMs;
  int send_timeout_ms_ = kDefaultTimeoutMs;
  int receive_timeout_ms_ = kDefaultTimeoutMs;
  CHttpHeader header_;
  void* param_ = nullptr;
  IHttpCallback* sink_ = nullptr;
  HttpInterfaceError last_error_ = HttpOk;
};
