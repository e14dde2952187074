// The HTTP clients' common interface, their error codes, the progress sink and the factory.
#pragma once

#include <cstddef>
#include <string>

// Why an operation failed; read through LastError after a false, 0 or empty result.
enum HttpInterfaceError : int {
  HttpOk = 0,
  HttpErrOpen = 1,
  HttpErrConnect = 2,
  HttpErrSend = 3,
  HttpErrQuery = 4,
  HttpErrNotFound = 5,
  HttpErrBadUrl = 6,
  HttpErrCreateFile = 7,
  HttpErrRead = 8,
  HttpErrResolve = 9,
  HttpErrSocket = 10,
  HttpErrCancelled = 11,
  HttpErrSize = 12,
  HttpErrHeader = 13,
  HttpErrParam = 14,
  HttpErrWrite = 15,
  // A request that carried "Range" was not answered with exactly that range (status 206 and a
  // matching Content-Range); nothing of the body was stored.
  HttpErrRange = 16,
  // A proxy between us and the server asked for credentials (status 407): the user must be
  // told so, since no retry without them can succeed.
  HttpErrProxyAuth = 17,
  // The server answered with a status the operation cannot use (for the downloader: anything
  // but 206 or 200 to its probe, or a refusal on every connection).
  HttpErrStatus = 18,
  // The file changed on the server again after the download had started over once.
  HttpErrChanged = 19,
  // The bytes arrived whole but their SHA-256 is not the expected one.
  HttpErrDigest = 20,
  // The whole download moved less than a few kilobytes in a minute: the link is too slow.
  HttpErrTooSlow = 21,
  // Something answered in the file's place (a network's sign-in page) while the server's file
  // itself is unchanged; what is on disk is kept for when the network lets the download on.
  HttpErrSignIn = 22,
  // A request was redirected more often than any server needs, or from HTTPS to plain HTTP.
  HttpErrRedirect = 23,
  // The disk filled while the download was written.
  HttpErrDiskFull = 24,
};

enum HttpClientType : int {
  HttpClientSocket = 0,
  HttpClientWininet = 1,
  HttpClientWinHttp = 2,
};

enum HttpProgressState : int {
  ProgressRunning = 0,
  ProgressFailed = 1,
  ProgressDone = 2,
};

// Receives a transfer's byte counts on the thread that runs the transfer.
class IHttpCallback {
 public:
  // total is the response's declared length (a range's size for a ranged request).
  virtual void OnProgress(void* param, int state, double total, double done) = 0;
  virtual bool ShouldStop() = 0;
};

// One client serves one thread; every operation opens its own connection. Clients are made by
// CreateHttpClient and ended with Release, never deleted directly.
class IHttpBase {
 public:
  virtual void SetProgressSink(IHttpCallback* sink, void* param) = 0;
  virtual double QueryContentLength(const wchar_t* url) = 0;
  virtual bool FetchToFile(const wchar_t* url, const wchar_t* path) = 0;
  // The block comes from malloc; the caller frees it.
  virtual bool FetchToBuffer(const wchar_t* url, void** block, size_t* count) = 0;
  virtual void Release() = 0;
  virtual HttpInterfaceError LastError() = 0;
  virtual void AddRequestHeader(const char* name, const char* value) = 0;
  virtual int StatusCode() = 0;
};

class ISocketHttp : public IHttpBase {
 public:
  virtual std::wstring ResolvedAddress() = 0;
};

class IWininetHttp : public IHttpBase {
 public:
  // kind 0 is GET, anything else POST. Returns the response body, empty on failure.
  virtual std::string Exchange(const wchar_t* url, int kind, const char* body,
                               const char* header_text) = 0;
  virtual std::string ExchangeA(const char* url, int kind, const char* body,
                                const char* header_text) = 0;
};

class IWinHttp : public IWininetHttp {
 public:
  virtual void SetTimeouts(int connect_ms, int send_ms, int receive_ms) = 0;
};

// Makes a client of the given HttpClientType into *client (null when none was made).
bool CreateHttpClient(IHttpBase** client, int type);

// Host, path and port of an http or https URL.
void SplitHttpUrl(const std::wstring& url, std::wstring& host, std::wstring& path, int& port);
void SplitHttpUrl(const std::string& url, std::string& host, std::string& path, int& port);

// The most redirects one request follows; the next one fails it with HttpErrRedirect.
constexpr int kMaxRedirects = 10;

// Where a redirect's Location sends a request made to `base`: absolute, scheme-relative,
// path-absolute or relative; empty for a target that is not http or https.
std::wstring ResolveRedirect(const std::wstring& base, const std::wstring& location);

// Whether a request to `url` (split into `port`) goes over TLS: port 443, or an https URL on
// any other port; an https address with an explicit port must not be sent in plain text.
bool IsSecureHttpUrl(const std::wstring& url, int port);
bool IsSecureHttpUrl(const std::string& url, int port);
