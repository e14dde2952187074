// Plain-socket HTTP: requests written by hand, responses read block by block into a file or memory.
#include <winsock2.h>

#include "installer/HttpClient/SocketHttp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/StringUtil.h"
#include "installer/HttpClient/WinsockApi.h"

namespace {

constexpr size_t kReceiveBlock = 4096;
constexpr size_t kMaxMemoryDownload = 8388608;

static_assert(sizeof(SOCKET) == sizeof(SocketTraits::Type), "a socket fits the stored integer");

SOCKET Raw(const UniqueSocket& socket) {
  return static_cast<SOCKET>(socket.get());
}

bool StartWinsock() {
  // Started once and never cleaned up: clients on other threads may use sockets at any time
  // until the process ends.
  static const bool started = [] {
    const WinsockApi& api = Winsock();
    WSADATA data;
    return api.complete && api.WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], length,
                        nullptr, nullptr);
  return narrow;
}

bool IsRedirect(int status) {
  return status >= 301 && status <= 399;
}

// Where the blank line that closes a response head starts, or npos.
size_t HeadEnd(const char* data, size_t length) {
  return std::string_view(data, length).find("\r\n\r\n");
}

// 0 when the field is missing or not a plain number.
long long DeclaredLength(const CHttpHeader& head) {
  long long length = 0;
  return ParseHttpLength(head.GetField("Content-Length"), kLargestHttpNumber, length) ? length : 0;
}

// A redirect's own body is still on its way when the next request goes out on the same
// connection; left in place, its text would be read as the start of the next head.
size_t RemainingBody(const CHttpHeader& head, size_t received) {
  const long long declared = DeclaredLength(head);
  return declared > static_cast<long long>(received)
             ? static_cast<size_t>(declared - static_cast<long long>(received))
             : 0;
}

void DropLeading(const char*& data, size_t& length, size_t& skip) {
  const size_t dropped = skip < length ? skip : length;
  data += dropped;
  length -= dropped;
  skip -= dropped;
}

void WriteBlock(FILE* file, const char* data, size_t length) {
  if (length && std::fwrite(data, 1, length, file) != length) throw HttpErrWrite;
}

}  // namespace

void SocketTraits::Close(Type socket) noexcept {
  Winsock().closesocket(static_cast<SOCKET>(socket));
}

CHttpSocket::~CHttpSocket() = default;

double CHttpSocket::QueryContentLength(const wchar_t*) {
  return 0;
}

bool CHttpSocket::Connect(const std::string& host, int port) {
  try {
    if (!StartWinsock()) throw HttpErrSocket;
    // An empty name would resolve to this machine itself.
    if (host.empty()) throw HttpErrResolve;
    const hostent* entry = Winsock().gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) {
      throw HttpErrResolve;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    char address[16] = {};
    std::snprintf(address, sizeof(address), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    resolved_address_ = nbase::AnsiToUTF16(address);

    socket_.reset();
    socket_.reset(
        static_cast<SocketTraits::Type>(Winsock().socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!socket_) throw HttpErrSocket;
    const DWORD timeout = kReceiveTimeoutMs;
    Winsock().setsockopt(Raw(socket_), SOL_SOCKET, SO_RCVTIMEO,
                         reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = Winsock().htons(static_cast<u_short>(port));
    target.sin_addr.s_addr = Winsock().inet_addr(address);
    if (Winsock().connect(Raw(socket_), reinterpret_cast<const sockaddr*>(&target),
                          sizeof(target)) == SOCKET_ERROR) {
      throw HttpErrConnect;
    }
    return true;
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    return false;
  }
}

void CHttpSocket::SendRequest(const std::string& path) {
  header_.SetRequestPath(path);
  const std::string head = header_.ComposeRequestHead(0);
  size_t sent = 0;
  while (sent < head.size()) {
    const int count =
        Winsock().send(Raw(socket_), head.data() + sent, static_cast<int>(head.size() - sent), 0);
    if (count == SOCKET_ERROR || count == 0) throw HttpErrSend;
    sent += static_cast<size_t>(count);
  }
}

size_t CHttpSocket::Receive(char* buffer, size_t size) {
  // The receive time-out set at connect turns a silent server into an error here.
  const int count = Winsock().recv(Raw(socket_), buffer, static_cast<int>(size), 0);
  if (count == SOCKET_ERROR) throw HttpErrSocket;
  return static_cast<size_t>(count);
}

bool CHttpSocket::FollowRedirect(const CHttpHeader& head, int& redirects, std::string& request_path,
                                 std::wstring& location) {
  // Redirects that never end would otherwise hold the thread for ever.
  if (++redirects > kMaxRedirects) throw HttpErrHeader;
  const std::string target = head.GetField("Location");
  if (target.empty()) throw HttpErrHeader;
  if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0) {
    location = nbase::AnsiToUTF16(target);
    return false;
  }
  request_path = target;
  return true;
}

bool CHttpSocket::FetchToFile(const wchar_t* url, const wchar_t* path) {
  std::wstring current = url ? url : L"";
  const std::wstring destination = path ? path : L"";
  int redirects = 0;
  for (;;) {
    std::wstring location;
    const Attempt attempt = FileAttempt(current, destination, redirects, location);
    if (attempt != Attempt::kRedirected) return attempt == Attempt::kSucceeded;
    current = location;
  }
}

CHttpSocket::Attempt CHttpSocket::FileAttempt(const std::wstring& url, const std::wstring& path,
                                              int& redirects, std::wstring& location) {
  std::wstring wide_host, wide_path;
  int port = 80;
  SplitHttpUrl(url, wide_host, wide_path, port);
  if (IsSecureHttpUrl(url, port)) return Attempt::kFailed;
  const std::string host = WideToAnsi(wide_host);
  if (!Connect(host, port)) return Attempt::kFailed;

  nbase::UniqueStdioFile file;
  bool created = false;
  Attempt outcome = Attempt::kFailed;
  try {
    header_.SetHost(host);
    std::string request_path = WideToAnsi(wide_path);
    // One byte more than a block, for the zero that ends a block's text.
    std::vector<char> buffer(kReceiveBlock + 1);
    size_t skip = 0;
    bool send_again = true;
    while (send_again) {
      send_again = false;
      SendRequest(request_path);
      file.reset();
      ::DeleteFileW(path.c_str());
      file.reset(::_wfopen(path.c_str(), L"wb+"));
      if (!file) throw HttpErrCreateFile;
      created = true;

      bool head_read = false;
      double total = 0;
      double done = 0;
      while (outcome == Attempt::kFailed && !send_again) {
        if (sink_ && sink_->ShouldStop()) throw HttpErrCancelled;
        size_t length = Receive(buffer.data(), kReceiveBlock);
        // A close before the end leaves a file that only looks complete.
        if (length == 0) throw head_read ? HttpErrRead : HttpErrHeader;
        const char* data = buffer.data();
        if (head_read) {
          WriteBlock(file.get(), data, length);
          done += static_cast<double>(length);
          if (sink_) sink_->OnProgress(param_, ProgressRunning, total, done);
          if (done >= total) {
            if (sink_) sink_->OnProgress(param_, ProgressDone, total, done);
            outcome = Attempt::kSucceeded;
          }
          continue;
        }
        DropLeading(data, length, skip);
        if (length == 0) continue;
        buffer[static_cast<size_t>(data - buffer.data()) + length] = '\0';
        const size_t text_length = std::strlen(data);
        if (text_length <= 3) continue;
        // Blocks before the end of the head are dropped; the head has to fit in one block.
        const size_t head_end = HeadEnd(data, text_length);
        if (head_end == std::string::npos) continue;
        const CHttpHeader head(std::string(data, head_end));
        status_code_ = head.StatusCode();
        const size_t body = length - head_end - 4;
        if (IsRedirect(status_code_)) {
          if (!FollowRedirect(head, redirects, request_path, location)) {
            outcome = Attempt::kRedirected;
            break;
          }
          skip = RemainingBody(head, body);
          send_again = true;
          break;
        }
        if (status_code_ == 400) throw HttpErrNotFound;
        total = static_cast<double>(DeclaredLength(head));
        WriteBlock(file.get(), data + head_end + 4, body);
        done += static_cast<double>(body);
        if (sink_) sink_->OnProgress(param_, ProgressRunning, total, done);
        if (done == total) {
          if (sink_) sink_->OnProgress(param_, ProgressDone, total, done);
          outcome = Attempt::kSucceeded;
        } else {
          head_read = true;
        }
      }
    }
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    if (sink_) sink_->OnProgress(param_, ProgressFailed, 0, 0);
  }
  if (outcome == Attempt::kRedirected) socket_.reset();
  file.reset();
  if (created && outcome != Attempt::kSucceeded) ::DeleteFileW(path.c_str());
  return outcome;
}

bool CHttpSocket::FetchToBuffer(const wchar_t* url, void** block, size_t* count) {
  if (!block || !count) {
    last_error_ = HttpErrParam;
    return false;
  }
  *block = nullptr;
  *count = 0;
  std::wstring current = url ? url : L"";
  int redirects = 0;
  for (;;) {
    std::wstring location;
    const Attempt attempt = BufferAttempt(current, redirects, location, block, count);
    if (attempt != Attempt::kRedirected) return attempt == Attempt::kSucceeded;
    current = location;
  }
}

CHttpSocket::Attempt CHttpSocket::BufferAttempt(const std::wstring& url, int& redirects,
                                                std::wstring& location, void** block,
                                                size_t* count) {
  std::wstring wide_host, wide_path;
  int port = 80;
  SplitHttpUrl(url, wide_host, wide_path, port);
  if (IsSecureHttpUrl(url, port)) return Attempt::kFailed;
  const std::string host = WideToAnsi(wide_host);

  char* data_block = nullptr;
  try {
    if (!Connect(host, port)) throw HttpErrOpen;
    header_.SetHost(host);
    std::string request_path = WideToAnsi(wide_path);
    std::vector<char> buffer(kReceiveBlock);
    size_t skip = 0;
    for (;;) {
      SendRequest(request_path);
      bool head_read = false;
      bool send_again = false;
      size_t length = 0;
      size_t received = 0;
      while (!send_again) {
        size_t got = Receive(buffer.data(), kReceiveBlock);
        if (got == 0) throw head_read ? HttpErrRead : HttpErrHeader;
        const char* data = buffer.data();
        if (!head_read) {
          DropLeading(data, got, skip);
          if (got == 0) continue;
          if (got <= 3) throw HttpErrHeader;
          const size_t head_end = HeadEnd(data, got);
          if (head_end == std::string::npos) throw HttpErrHeader;
          const CHttpHeader head(std::string(data, head_end));
          status_code_ = head.StatusCode();
          if (status_code_ == 400) throw HttpErrNotFound;
          const size_t body = got - head_end - 4;
          if (IsRedirect(status_code_)) {
            if (!FollowRedirect(head, redirects, request_path, location)) {
              socket_.reset();
              return Attempt::kRedirected;
            }
            skip = RemainingBody(head, body);
            send_again = true;
            continue;
          }
          const long long declared = DeclaredLength(head);
          if (declared <= 0 || declared > static_cast<long long>(kMaxMemoryDownload)) {
            throw HttpErrSize;
          }
          length = static_cast<size_t>(declared);
          data_block = static_cast<char*>(std::malloc(length));
          if (!data_block) throw HttpErrSize;
          head_read = true;
          data += head_end + 4;
          got = body;
        }
        // Bytes beyond the declared length are dropped, never written past the block.
        const size_t keep = got < length - received ? got : length - received;
        std::memcpy(data_block + received, data, keep);
        received += keep;
        if (received == length) {
          *block = data_block;
          *count = length;
          return Attempt::kSucceeded;
        }
      }
    }
  } catch (HttpInterfaceError error) {
    last_error_ = error;
    std::free(data_block);
    *block = nullptr;
    *count = 0;
    return Attempt::kFailed;
  }
}
