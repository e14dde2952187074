// WinHTTP requests, downloads to files and memory, and text exchanges.
#include "installer/HttpClient/WinHttp.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "base/StringUtil.h"
#include "installer/HttpClient/WinHttpApi.h"

namespace {

constexpr size_t kReadBlock = 4096;
constexpr size_t kMaxMemoryDownload = 8388608;
// A secure request accepts certificates from an unknown authority, for the wrong usage, with a
// name mismatch or an invalid date.
constexpr DWORD kAcceptedCertificateFaults =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

}  // namespace

void WinHttpHandleTraits::Close(Type handle) noexcept {
  // A handle exists only if binding succeeded, so the pointer is set.
  WinHttp().WinHttpCloseHandle(handle);
}

CWinHttp::CWinHttp() {
  try {
    OpenRoot();
  } catch (HttpInterfaceError error) {
    last_error_ = error;
  }
}

CWinHttp::~CWinHttp() {
  CloseHandles();
}

void CWinHttp::SetTimeouts(int connect_ms, int send_ms, int receive_ms) {
  connect_timeout_ms_ = connect_ms;
  send_timeout_ms_ = send_ms;
  receive_timeout_ms_ = receive_ms;
}

void CWinHttp::CloseHandles() {
  request_.reset();
  connection_.reset();
  root_.reset();
}

void CWinHttp::OpenRoot() {
  CloseHandles();
  const WinHttpApi& api = WinHttp();
  if (!api.complete) throw HttpErrOpen;
  root_.reset(api.WinHttpOpen(L"Microsoft Internet Explorer", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!root_) throw HttpErrOpen;
  api.WinHttpSetTimeouts(root_.get(), 0, connect_timeout_ms_, send_timeout_ms_,
                         receive_timeout_ms_);
}

void CWinHttp::SendRequest(const std::wstring& url, int kind, const char* body,
                           const std::wstring& header_text) {
  const WinHttpApi& api = WinHttp();
  OpenRoot();
  std::wstring host, path;
  int port = INTERNET_DEFAULT_HTTP_PORT;
  SplitHttpUrl(url, host, path, port);
  secure_ = IsSecureHttpUrl(url, port);
  connection_.reset(
      api.WinHttpConnect(root_.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
  if (!connection_) throw HttpErrConnect;
  request_.reset(api.WinHttpOpenRequest(
      connection_.get(), kind != 0 ? L"POST" : L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, secure_ ? WINHTTP_FLAG_SECURE : 0));
  if (!request_) throw HttpErrOpen;
  // The bound on redirects is the clients' shared one rather than whatever the library defaults
  // to, so a redirect loop fails the same way everywhere.
  DWORD redirects = kMaxRedirects;
  api.WinHttpSetOption(request_.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                       sizeof(redirects));
  // Not every version lets the receive time-out cover the wait for the response head; a server
  // that accepts and never answers must give up as soon as one that stops mid-body.
  DWORD head_timeout = static_cast<DWORD>(receive_timeout_ms_);
  api.WinHttpSetOption(request_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_timeout,
                       sizeof(head_timeout));
  if (secure_) {
    // The value the installer has always set carries the read-only "secure" bit as well; a
    // library that refuses unknown bits gets the four that matter.
    DWORD flags = kAcceptedCertificateFaults | SECURITY_FLAG_SECURE;
    if (!api.WinHttpSetOption(request_.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags,
                              sizeof(flags))) {
      flags = kAcceptedCertificateFaults;
      api.WinHttpSetOption(request_.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    }
  }
  const std::wstring extra = nbase::AnsiToUTF16(header_.ComposeExtraHeaders().c_str());
  if (!extra.empty()) {
    api.WinHttpAddRequestHeaders(request_.get(), extra.c_str(), static_cast<DWORD>(extra.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  const DWORD body_length = body ? static_cast<DWORD>(std::strlen(body)) : 0;
  if (!api.WinHttpSendRequest(
          request_.get(), header_text.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header_text.c_str(),
          header_text.empty() ? 0 : static_cast<DWORD>(-1L),
          body_length ? const_cast<char*>(body) : WINHTTP_NO_REQUEST_DATA, body_length, body_length,
          0)) {
    throw HttpErrSend;
  }
  if (!api.WinHttpReceiveResponse(request_.get(), nullptr)) throw HttpErrOpen;
}

unsigned long long CWinHttp::ReadContentLength() {
  wchar_t text[24] = {};  // 48 bytes
  DWORD length = sizeof(text);
  if (!WinHttp().WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH,
                                     WINHTTP_HEADER_NAME_BY_INDEX, text, &length,
                                     WINHTTP_NO_HEADER_INDEX)) {
    throw HttpErrQuery;
  }
  return std::wcstoull(text, nullptr, 10);
}

int CWinHttp::ReadStatus() {
  wchar_t text[24] = {};
  DWORD length = sizeof(text);
  status_code_ = 0;
  if (WinHttp().WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE,
                                    WINHTTP_HEADER_NAME_BY_INDEX, text, &length,
                                    WINHTTP_NO_HEADER_INDEX)) {
    status_code_ = static_cast<int>(std::wcstoul(text, nullptr, 10));
  }
  return status_code_;
}

DWORD CWinHttp::ReadAvailable(std::vector<char>& buffer, size_t available) {
  if (available > buffer.size()) buffer.resize(available);
  DWORD got = 0;
  if (!WinHttp().WinHttpReadData(request_.get(), buffer.data(), static_cast<DWORD>(available),
                                 &got)) {
    throw HttpErrRead;
  }
  return got;
}

size_t CWinHttp::QueryAvailable(HttpInterfaceError failure) {
  DWORD available = 0;
  if (!WinHttp().WinHttpQueryDataAvailable(request_.get(), &available)) throw failure;
  return available;
}

double CWinHttp::QueryContentLength(const wchar_t* url) {
  try {
    SendRequest(url ? url : L"", 0, nullptr, std::wstring());
    const double length = static_cast<double>(ReadContentLength());
    ReadStatus();
    return length;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return 0;
  }
}

bool CWinHttp::FetchToFile(const wchar_t* url, const wchar_t* path) {
  const std::wstring destination = path ? path : L"";
  nbase::UniqueFileHandle file;
  bool succeeded = false;
  try {
    SendRequest(url ? url : L"", 0, nullptr, std::wstring());
    // The status is read first so that StatusCode tells what came back even when the length
    // is missing; the length's failure still takes precedence over a 404.
    ReadStatus();
    const unsigned long long total = ReadContentLength();
    if (status_code_ == 404) throw HttpErrNotFound;
    file.reset(::CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw HttpErrCreateFile;
    // Claiming the whole size first fails early on a full disk and keeps the file in one piece.
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(total);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(file.get())) {
      throw HttpErrWrite;
    }
    position.QuadPart = 0;
    ::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN);

    size_t available = QueryAvailable(HttpErrQuery);
    std::vector<char> buffer(kReadBlock);
    unsigned long long done = 0;
    while (available > 0) {
      const DWORD got = ReadAvailable(buffer, available);
      if (got == 0) break;
      DWORD written = 0;
      if (!::WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
        throw HttpErrWrite;
      }
      done += got;
      if (sink_) {
        sink_->OnProgress(param_, ProgressRunning, static_cast<double>(total),
                          static_cast<double>(done));
      }
      available = QueryAvailable(HttpErrRead);
    }
    // The file was extended to the full length up front, so a dropped connection would
    // otherwise pass for a complete download with a zero-filled tail.
    if (done != total) throw HttpErrRead;
    succeeded = true;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
  }
  if (file) {
    file.reset();
    if (!succeeded) ::DeleteFileW(destination.c_str());
  }
  return succeeded;
}

bool CWinHttp::FetchToBuffer(const wchar_t* url, void** block, size_t* count) {
  char* data = nullptr;
  try {
    if (!block || !count) throw HttpErrParam;
    *block = nullptr;
    *count = 0;
    SendRequest(url ? url : L"", 0, nullptr, std::wstring());
    ReadStatus();
    const unsigned long long declared = ReadContentLength();
    if (status_code_ == 404) throw HttpErrNotFound;
    size_t available = QueryAvailable(HttpErrQuery);
    if (declared > kMaxMemoryDownload) throw HttpErrSize;
    const size_t length = static_cast<size_t>(declared);
    data = static_cast<char*>(std::malloc(length ? length : 1));
    if (!data) throw HttpErrSize;
    std::vector<char> buffer(kReadBlock);
    size_t received = 0;
    while (available > 0) {
      const DWORD got = ReadAvailable(buffer, available);
      if (got == 0) break;
      // Whatever the server sends beyond its declared length is dropped.
      const size_t keep = got < length - received ? got : length - received;
      std::memcpy(data + received, buffer.data(), keep);
      received += keep;
      available = QueryAvailable(HttpErrRead);
    }
    if (received != length) throw HttpErrRead;
    *block = data;
    *count = received;
    return true;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    std::free(data);
    return false;
  }
}

std::string CWinHttp::ExchangeWide(const std::wstring& url, int kind, const char* body,
                                   const std::wstring& header_text) {
  try {
    SendRequest(url, kind, body, header_text);
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return std::string();
  }
  if (ReadStatus() == 404) {
    last_error_ = HttpErrNotFound;
    return std::string();
  }
  std::string text;
  try {
    std::vector<char> buffer(kReadBlock);
    for (size_t available = QueryAvailable(HttpErrRead); available > 0;
         available = QueryAvailable(HttpErrRead)) {
      const DWORD got = ReadAvailable(buffer, available);
      if (got == 0) break;
      text.append(buffer.data(), got);
    }
  } catch (HttpInterfaceError error) {
    // Half an answer is no answer: the caller parses the whole text or nothing.
    last_error_ = error;
    text.clear();
  }
  return text;
}

std::string CWinHttp::Exchange(const wchar_t* url, int kind, const char* body,
                               const char* header_text) {
  return ExchangeWide(url ? url : L"", kind, body, nbase::AnsiToUTF16(header_text));
}

std::string CWinHttp::ExchangeA(const char* url, int kind, const char* body,
                                const char* header_text) {
  return ExchangeWide(nbase::AnsiToUTF16(url), kind, body, nbase::AnsiToUTF16(header_text));
}
