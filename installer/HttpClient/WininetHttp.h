// The HTTP client on the system's WinINet library: HTTP and HTTPS with the system proxy.
#pragma once

#include <windows.h>

#include <string>

#include "installer/HttpClient/HttpClientBase.h"
#include "installer/HttpClient/WininetApi.h"

// Owned by the one thread that runs its operations; made by CreateHttpClient, ended by Release.
class CWininetHttp : public HttpClientBase<IWininetHttp> {
 public:
  CWininetHttp() = default;

  double QueryContentLength(const wchar_t* url) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* path) override;
  bool FetchToBuffer(const wchar_t* url, void** block, size_t* count) override;
  std::string Exchange(const wchar_t* url, int kind, const char* body,
                       const char* header_text) override;
  std::string ExchangeA(const char* url, int kind, const char* body,
                        const char* header_text) override;

  virtual ~CWininetHttp();

  // How long a connection may deliver nothing before a read fails; applies to the next
  // operation. A stalled server would otherwise hold a download thread for ever.
  void SetReceiveTimeout(DWORD milliseconds) { receive_timeout_ms_ = milliseconds; }

  static constexpr DWORD kDefaultReceiveTimeoutMs = 30000;

  // A GET whose answer the caller reads block by block. Unlike the operations above, the
  // session and connection handles stay open from one stream to the next to the same host, so
  // an answer read to its end leaves its connection to be reused. `headers` holds
  // "Name: value\r\n" lines for this request only. Any status is a success here (404 aside,
  // which fails with HttpErrNotFound); the caller judges it through StatusCode and
  // ResponseHeader. False with LastError set when no answer arrived.
  bool OpenStream(const wchar_t* url, const std::string& headers);
  // The raw value of a response header of the open stream (HTTP_QUERY_*), at most 4 KiB;
  // `present` tells an absent header from an empty one.
  std::string ResponseHeader(DWORD query, bool* present = nullptr);
  // Up to `size` bytes of the open stream's body; *got 0 is its end. False when the read
  // failed or timed out (LastError HttpErrRead).
  bool ReadStream(void* buffer, DWORD size, DWORD* got);
  // Like ReadStream, but returns as soon as anything has arrived (at most `size` bytes), so a
  // slow server's bytes are seen as they come and no read waits longer than the receive
  // time-out for a full block.
  bool ReadAvailable(void* buffer, DWORD size, DWORD* got);
  // Whether the open stream went over a connection kept from an earlier stream of this client,
  // which the server may have dropped meanwhile.
  bool StreamReused() const { return stream_reused_; }
  // Ends the open answer; its connection is reused only when the body was read to its end.
  void CloseStream();

 private:
  void CloseHandles();
  // The shared opening sequence up to the stored status code; throws HttpInterfaceError.
  void BeginRequest(const std::wstring& url, const wchar_t* verb, const char* header_text,
                    const char* body);
  // Sends the opened request and reads its status; throws HttpInterfaceError.
  void SendOpened(const std::wstring& extra, const char* body, DWORD body_length);
  // The next URL when the answer is a redirect to follow, else empty; throws HttpErrRedirect
  // past the hop limit or for a target this client will not follow.
  std::wstring RedirectTarget(const std::wstring& url, int hop);
  void DropAnswer();
  // A "Proxy-Authorization" line answering the open answer's 407 with the account the user
  // gave, or empty when there is none or no challenge this client can answer.
  std::string ProxyAuthorization(const std::wstring& url, const std::wstring& method);
  void OpenRoot();
  void ApplyTimeouts(HINTERNET handle);
  void AddHeaders();
  void ReadStatus();
  // Fails with HttpErrRange unless a requested "Range" came back as exactly that range.
  void CheckRangeAnswer();
  double ReadContentLengthA();
  std::string ReadAllText();

  bool secure_ = false;
  // Host and port the kept connection handle of the streams points at.
  std::wstring stream_host_;
  int stream_port_ = 0;
  UniqueInternetHandle root_;
  UniqueInternetHandle connection_;
  UniqueInternetHandle request_;
  DWORD receive_timeout_ms_ = kDefaultReceiveTimeoutMs;
  bool stream_reused_ = false;
  // The last answer to the proxy's challenge, sent with every stream after it.
  std::string stream_authorization_;
  // Whether the last stream's body was read to its end, leaving its connection to reuse.
  bool stream_drained_ = false;
};
