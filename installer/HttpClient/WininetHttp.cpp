// WinINet requests, downloads to files and memory, and text exchanges.
#include "installer/HttpClient/WininetHttp.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "base/StringUtil.h"
#include "installer/HttpClient/ProxyCredentials.h"

namespace {

constexpr DWORD kReadBlock = 4096;
// Downloads to a file read in larger blocks: each read and its progress call cost a trip
// through WinINet's locks, which with eight ranges in parallel takes CPU from the transfer.
constexpr DWORD kFileReadBlock = 65536;
constexpr size_t kMaxMemoryDownload = 8388608;

DWORD RequestFlags(bool secure) {
  // Never read from or write into the WinINet cache: every answer is fetched fresh, and a
  // package of hundreds of megabytes must not be written a second time into the cache.
  // Redirects are followed by the client itself, which counts them.
  DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
  // Certificates are checked in full: an expired or not yet valid one is refused like any
  // other fault, since the analytics URL carries the API secret.
  if (secure) flags |= INTERNET_FLAG_SECURE;
  return flags;
}

void CreateParentFolders(const std::wstring& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != L'\\' && path[i] != L'/') continue;
    const std::wstring folder = path.substr(0, i);
    if (folder.empty() || (folder.size() == 2 && folder[1] == L':')) continue;
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      ::CreateDirectoryW(folder.c_str(), nullptr);
    }
  }
}

// The server name as the system's client takes it: a literal IPv6 address in brackets, which
// also puts them into the Host field where they belong.
std::wstring ConnectName(const std::wstring& host) {
  return host.find(L':') != std::wstring::npos ? L"[" + host + L"]" : host;
}

// "bytes=A-B" -> A and B (B is -1 for an open end). False for any other form.
bool ParseRangeRequest(const std::string& value, long long& first, long long& last) {
  if (value.compare(0, 6, "bytes=") != 0) return false;
  const size_t dash = value.find('-', 6);
  if (dash == std::string::npos) return false;
  long long a = 0, b = -1;
  if (!ParseHttpLength(value.substr(6, dash - 6), kLargestHttpNumber, a)) return false;
  if (dash + 1 < value.size() && !ParseHttpLength(value.substr(dash + 1), kLargestHttpNumber, b)) {
    return false;
  }
  first = a;
  last = b;
  return true;
}

}  // namespace

CWininetHttp::~CWininetHttp() {
  CloseHandles();
}

void CWininetHttp::CloseHandles() {
  request_.reset();
  connection_.reset();
  root_.reset();
}

void CWininetHttp::OpenRoot() {
  CloseHandles();
  const WininetApi& api = Wininet();
  if (!api.complete) throw HttpErrOpen;
  root_.reset(
      api.InternetOpenW(L"Http-connect", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root_) throw HttpErrOpen;
  ApplyTimeouts(root_.get());
}

void CWininetHttp::ApplyTimeouts(HINTERNET handle) {
  DWORD timeout = receive_timeout_ms_;
  const WininetApi& api = Wininet();
  api.InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
  if (handle != root_.get()) return;
  api.InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
  api.InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
}

void CWininetHttp::AddHeaders() {
  const std::string text = header_.ComposeExtraHeaders();
  Wininet().HttpAddRequestHeadersA(request_.get(), text.c_str(), static_cast<DWORD>(text.size()),
                                   HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
}

void CWininetHttp::ReadStatus() {
  wchar_t buffer[24] = {};
  DWORD length = sizeof(buffer);
  status_code_ = 0;
  if (Wininet().HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE, buffer, &length, nullptr)) {
    status_code_ = static_cast<int>(std::wcstoul(buffer, nullptr, 10));
  }
  if (status_code_ == 404) throw HttpErrNotFound;
}

void CWininetHttp::SendOpened(const std::wstring& extra, const char* body, DWORD body_length) {
  if (!Wininet().HttpSendRequestW(request_.get(), extra.empty() ? nullptr : extra.c_str(),
                                  static_cast<DWORD>(extra.size()),
                                  const_cast<char*>(body_length ? body : nullptr), body_length)) {
    throw HttpErrSend;
  }
  ReadStatus();
}

std::wstring CWininetHttp::RedirectTarget(const std::wstring& url, int hop) {
  const int status = status_code_;
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return std::wstring();
  }
  bool present = false;
  const std::string location = ResponseHeader(HTTP_QUERY_LOCATION, &present);
  // A redirect that names no target is the answer itself.
  if (!present || location.empty()) return std::wstring();
  // The system's client would follow a loop for ever; this one counts.
  if (hop >= kMaxRedirects) throw HttpErrRedirect;
  const std::wstring next = ResolveRedirect(url, nbase::UTF8ToUTF16(location));
  if (next.empty()) throw HttpErrRedirect;
  std::wstring host, path;
  int port = 80;
  SplitHttpUrl(url, host, path, port);
  const bool was_secure = IsSecureHttpUrl(url, port);
  SplitHttpUrl(next, host, path, port);
  // An answer over TLS never sends the request on in plain text.
  if (was_secure && !IsSecureHttpUrl(next, port)) throw HttpErrRedirect;
  return next;
}

std::string CWininetHttp::ProxyAuthorization(const std::wstring& url, const std::wstring& method) {
  std::string user, password;
  if (!proxy_credentials::Get(&user, &password)) return std::string();
  std::vector<std::string> challenges;
  for (DWORD index = 0; index < 8;) {
    char buffer[1024] = {};
    DWORD length = sizeof(buffer) - 1;
    const DWORD asked = index;
    if (!Wininet().HttpQueryInfoA(request_.get(), HTTP_QUERY_PROXY_AUTHENTICATE, buffer, &length,
                                  &index) ||
        index == asked) {
      break;
    }
    challenges.emplace_back(buffer, length);
  }
  static std::atomic<unsigned> counter{0};
  const std::string cnonce =
      nbase::StringPrintf("%08lx%08x", static_cast<unsigned long>(::GetTickCount()), ++counter);
  const std::string answer = proxy_credentials::Answer(
      challenges, nbase::UTF16ToUTF8(method), nbase::UTF16ToUTF8(url), user, password, cnonce);
  ::SecureZeroMemory(&password[0], password.size());
  return answer.empty() ? std::string() : "Proxy-Authorization: " + answer + "\r\n";
}

void CWininetHttp::DropAnswer() {
  // A redirect's short body is read so that its connection can be reused.
  char buffer[kReadBlock];
  for (int i = 0; i < 4; ++i) {
    DWORD got = 0;
    if (!Wininet().InternetReadFile(request_.get(), buffer, sizeof(buffer), &got) || got == 0) {
      break;
    }
  }
  request_.reset();
}

void CWininetHttp::BeginRequest(const std::wstring& url, const wchar_t* verb,
                                const char* header_text, const char* body) {
  const WininetApi& api = Wininet();
  std::wstring current = url;
  std::wstring method = verb;
  const char* content = body;
  std::string authorization;
  for (int hop = 0, signed_in = 0;;) {
    OpenRoot();
    std::wstring host, path;
    int port = 80;
    SplitHttpUrl(current, host, path, port);
    secure_ = IsSecureHttpUrl(current, port);
    connection_.reset(api.InternetConnectW(root_.get(), ConnectName(host).c_str(),
                                           static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) throw HttpErrConnect;
    request_.reset(api.HttpOpenRequestW(connection_.get(), method.c_str(), path.c_str(),
                                        L"HTTP/1.1", nullptr, nullptr, RequestFlags(secure_), 0));
    if (!request_) throw HttpErrOpen;
    // The request needs its own receive time-out: not every implementation passes the root's
    // value down, and a stalled connection must not hold a thread for ever.
    ApplyTimeouts(request_.get());
    AddHeaders();
    const std::wstring headers =
        nbase::AnsiToUTF16((std::string(header_text ? header_text : "") + authorization).c_str());
    const DWORD body_length = content ? static_cast<DWORD>(std::strlen(content)) : 0;
    SendOpened(headers, content, body_length);
    if (status_code_ == 407 && signed_in++ == 0) {
      authorization = ProxyAuthorization(current, method);
      if (!authorization.empty()) {
        DropAnswer();
        continue;
      }
    }
    const std::wstring next = RedirectTarget(current, hop++);
    if (next.empty()) return;
    // 303, and 301 or 302 after a POST, turn the request into a GET without a body.
    if (status_code_ == 303 ||
        ((status_code_ == 301 || status_code_ == 302) && method != L"GET" && method != L"HEAD")) {
      method = L"GET";
      content = nullptr;
    }
    DropAnswer();
    current = next;
  }
}

void CWininetHttp::CheckRangeAnswer() {
  long long first = 0, last = -1;
  if (!ParseRangeRequest(header_.GetField("Range"), first, last)) return;
  if (status_code_ != 206) throw HttpErrRange;
  char buffer[128] = {};
  DWORD length = sizeof(buffer) - 1;
  if (!Wininet().HttpQueryInfoA(request_.get(), HTTP_QUERY_CONTENT_RANGE, buffer, &length,
                                nullptr)) {
    throw HttpErrRange;
  }
  long long got_first = 0, got_last = 0, total = 0;
  if (!ParseContentRange(buffer, kLargestHttpNumber, got_first, got_last, total) ||
      got_first != first || (last >= 0 && got_last != last)) {
    throw HttpErrRange;
  }
}

bool CWininetHttp::OpenStream(const wchar_t* url, const std::string& headers) {
  try {
    if (!url || !*url) throw HttpErrBadUrl;
    const WininetApi& api = Wininet();
    if (!api.complete) throw HttpErrOpen;
    CloseStream();
    std::wstring current = url;
    for (int hop = 0, signed_in = 0;;) {
      std::wstring host, path;
      int port = 80;
      SplitHttpUrl(current, host, path, port);
      const bool secure = IsSecureHttpUrl(current, port);
      if (!root_) {
        // Several connections to one server are the point of a segmented download; the
        // system's default allows two per server.
        DWORD connections = 16;
        api.InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections,
                               sizeof(connections));
        api.InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections,
                               sizeof(connections));
        root_.reset(
            api.InternetOpenW(L"Http-connect", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!root_) throw HttpErrOpen;
        ApplyTimeouts(root_.get());
        connection_.reset();
      }
      stream_reused_ = false;
      if (!connection_ || host != stream_host_ || port != stream_port_ || secure != secure_) {
        connection_.reset(api.InternetConnectW(root_.get(), ConnectName(host).c_str(),
                                               static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection_) throw HttpErrConnect;
        stream_host_ = host;
        stream_port_ = port;
        secure_ = secure;
      } else {
        stream_reused_ = stream_drained_;
      }
      stream_drained_ = false;
      request_.reset(
          api.HttpOpenRequestW(connection_.get(), L"GET", path.c_str(), L"HTTP/1.1", nullptr,
                               nullptr, RequestFlags(secure_) | INTERNET_FLAG_KEEP_CONNECTION, 0));
      if (!request_) throw HttpErrOpen;
      ApplyTimeouts(request_.get());
      AddHeaders();
      SendOpened(nbase::AnsiToUTF16((headers + stream_authorization_).c_str()), nullptr, 0);
      if (status_code_ == 407 && signed_in++ == 0) {
        // The answer is kept for the streams that follow, so a signed-in client does not meet
        // the challenge on every piece.
        stream_authorization_ = ProxyAuthorization(current, L"GET");
        if (!stream_authorization_.empty()) {
          DropAnswer();
          continue;
        }
      }
      const std::wstring next = RedirectTarget(current, hop++);
      if (next.empty()) return true;
      DropAnswer();
      current = next;
    }
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    request_.reset();
    return false;
  }
}

void CWininetHttp::CloseStream() {
  request_.reset();
}

std::string CWininetHttp::ResponseHeader(DWORD query, bool* present) {
  if (present) *present = false;
  if (!request_) return std::string();
  std::vector<char> buffer(4097, '\0');
  DWORD length = 4096;
  if (!Wininet().HttpQueryInfoA(request_.get(), query, buffer.data(), &length, nullptr)) {
    return std::string();
  }
  if (present) *present = true;
  return std::string(buffer.data(), length < 4096 ? length : 4096);
}

bool CWininetHttp::ReadStream(void* buffer, DWORD size, DWORD* got) {
  *got = 0;
  if (!request_ || !Wininet().InternetReadFile(request_.get(), buffer, size, got)) {
    last_error_ = HttpErrRead;
    *got = 0;
    return false;
  }
  if (*got == 0 && size > 0) stream_drained_ = true;
  return true;
}

bool CWininetHttp::ReadAvailable(void* buffer, DWORD size, DWORD* got) {
  *got = 0;
  DWORD available = 0;
  // Waits (up to the receive time-out) until anything has arrived or the body has ended.
  if (!request_ || !Wininet().InternetQueryDataAvailable(request_.get(), &available, 0, 0)) {
    last_error_ = HttpErrRead;
    return false;
  }
  if (available == 0) {
    stream_drained_ = true;
    return true;
  }
  return ReadStream(buffer, available < size ? available : size, got);
}

double CWininetHttp::ReadContentLengthA() {
  std::vector<char> buffer(4097, '\0');
  DWORD length = 4096;
  if (!Wininet().HttpQueryInfoA(request_.get(), HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &length,
                                nullptr)) {
    throw HttpErrQuery;
  }
  long long value = 0;
  if (!ParseHttpLength(buffer.data(), kLargestHttpNumber, value)) throw HttpErrQuery;
  return static_cast<double>(value);
}

double CWininetHttp::QueryContentLength(const wchar_t* url) {
  try {
    if (!url || !*url) throw HttpErrBadUrl;
    // HEAD, not GET: a body that is never read is drained when the handle closes on some
    // WinINet implementations, which over a fast link costs the whole file's transfer.
    BeginRequest(url, L"HEAD", nullptr, nullptr);
    return ReadContentLengthA();
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return 0;
  }
}

bool CWininetHttp::FetchToFile(const wchar_t* url, const wchar_t* path) {
  nbase::UniqueStdioFile file;
  try {
    if (!url || !*url) throw HttpErrBadUrl;
    BeginRequest(url, L"GET", nullptr, nullptr);
    CheckRangeAnswer();
    const double total = ReadContentLengthA();
    const DWORD read_size = total < kFileReadBlock ? static_cast<DWORD>(total) : kFileReadBlock;
    const std::wstring destination = path ? path : L"";
    CreateParentFolders(destination);
    file.reset(::_wfopen(destination.c_str(), L"wb+"));
    if (!file) throw HttpErrCreateFile;
    std::vector<char> buffer(kFileReadBlock);
    double done = 0;
    for (;;) {
      DWORD got = 0;
      if (!Wininet().InternetReadFile(request_.get(), buffer.data(), read_size, &got) || got == 0) {
        break;
      }
      if (std::fwrite(buffer.data(), 1, got, file.get()) != got) throw HttpErrWrite;
      done += got;
      if (sink_) sink_->OnProgress(param_, ProgressRunning, total, done);
    }
    if (std::fclose(file.release()) != 0) throw HttpErrWrite;
    if (done != total) throw HttpErrRead;
    if (sink_) sink_->OnProgress(param_, ProgressDone, total, done);
    return true;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    if (sink_) sink_->OnProgress(param_, ProgressFailed, 0, 0);
    return false;
  }
}

bool CWininetHttp::FetchToBuffer(const wchar_t* url, void** block, size_t* count) {
  char* data = nullptr;
  try {
    if (!block || !count) throw HttpErrParam;
    *block = nullptr;
    *count = 0;
    if (!url || !*url) throw HttpErrBadUrl;
    BeginRequest(url, L"GET", nullptr, nullptr);
    CheckRangeAnswer();
    wchar_t text[512] = {};
    DWORD length = sizeof(text);
    bool known = false;
    size_t capacity = kMaxMemoryDownload;
    if (Wininet().HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_LENGTH, text, &length,
                                 nullptr)) {
      const long long declared = std::wcstoll(text, nullptr, 10);
      if (declared < 0 || declared > static_cast<long long>(kMaxMemoryDownload)) {
        throw HttpErrSize;
      }
      known = true;
      capacity = static_cast<size_t>(declared);
    } else if (::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
      throw HttpErrQuery;
    }
    data = static_cast<char*>(std::malloc(capacity ? capacity : 1));
    if (!data) throw HttpErrSize;
    size_t received = 0;
    for (;;) {
      char probe = 0;
      const size_t room = capacity - received;
      // A full block is probed with one spare byte so that an overlong body is noticed
      // without anything being written past the block.
      char* target = room ? data + received : &probe;
      const DWORD want = room ? static_cast<DWORD>(room < kReadBlock ? room : kReadBlock) : 1;
      DWORD got = 0;
      if (!Wininet().InternetReadFile(request_.get(), target, want, &got) || got == 0) break;
      if (!room) throw known ? HttpErrRead : HttpErrSize;
      received += got;
    }
    if (known && received != capacity) throw HttpErrRead;
    *block = data;
    *count = received;
    return true;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    std::free(data);
    return false;
  }
}

std::string CWininetHttp::ReadAllText() {
  std::string text;
  char buffer[kReadBlock];
  for (;;) {
    DWORD got = 0;
    if (!Wininet().InternetReadFile(request_.get(), buffer, kReadBlock, &got) || got == 0) break;
    text.append(buffer, got);
  }
  return text;
}

std::string CWininetHttp::Exchange(const wchar_t* url, int kind, const char* body,
                                   const char* header_text) {
  try {
    if (!url || !*url) throw HttpErrParam;
    BeginRequest(url, kind != 0 ? L"POST" : L"GET", header_text, body);
    return ReadAllText();
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return std::string();
  }
}

std::string CWininetHttp::ExchangeA(const char* url, int kind, const char* body,
                                    const char* header_text) {
  try {
    if (!url || !*url) throw HttpErrParam;
    BeginRequest(nbase::AnsiToUTF16(url), kind != 0 ? L"POST" : L"GET", header_text, body);
    return ReadAllText();
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return std::string();
  }
}
