// Helpers for the setup window's tests.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/installer/window/SetupTestSupport.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "tools/demo/driver/InstallerDriver.h"

namespace setup_test {

// --- Message boxes ----------------------------------------------------------------------------

BoxAnswerer::BoxAnswerer(DWORD process_id, Decide decide)
    : process_id_(process_id), decide_(std::move(decide)), thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
  quit_ = true;
  thread_.join();
}

std::vector<std::wstring> BoxAnswerer::Texts() const {
  std::lock_guard<std::mutex> guard(lock_);
  return texts_;
}

void BoxAnswerer::Run() {
  while (!quit_) {
    std::vector<HWND> boxes;
    for (HWND box : demo::TopLevelWindowsOf(process_id_, L"#32770")) {
      if (::IsWindowVisible(box)) boxes.push_back(box);
    }
    if (static_cast<int>(boxes.size()) > most_at_once_) {
      most_at_once_ = static_cast<int>(boxes.size());
    }
    for (HWND box : boxes) {
      wchar_t text[1024] = {};
      ::GetDlgItemTextW(box, 0xFFFF, text, 1024);
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (!seen_[box]) texts_.push_back(text);
        seen_[box] = true;
      }
      const int id = decide_ ? decide_(text) : 0;
      if (id != 0) {
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
        std::lock_guard<std::mutex> guard(lock_);
        seen_.erase(box);  // a handle may be reused by a later box
      }
    }
    ::Sleep(50);  // polling another process's windows; no event to wait on
  }
}

// --- Windows of other code ---

namespace {

BOOL CALLBACK VisitChild(HWND child, LPARAM visit) {
  wchar_t kind[64] = {};
  ::GetClassNameW(child, kind, 63);
  (*reinterpret_cast<const std::function<void(HWND, const std::wstring&)>*>(visit))(child, kind);
  return TRUE;
}

}  // namespace

void ForEachChild(HWND parent, const std::function<void(HWND, const std::wstring&)>& visit) {
  ::EnumChildWindows(parent, VisitChild, reinterpret_cast<LPARAM>(&visit));
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1023);
  return text;
}

// --- HTTP server ------------------------------------------------------------------------------

TinyHttpServer::TinyHttpServer() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int length = sizeof(address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  ::closesocket(probe);
}

TinyHttpServer::~TinyHttpServer() {
  Stop();
  ::WSACleanup();
}

bool TinyHttpServer::Start(const std::string& body) {
  Stop();
  {
    nbase::AutoLock lock(lock_);
    body_ = std::make_shared<const std::string>(body);
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  // Reuse of a port whose last connections wait out their close, not sharing with a listener.
  BOOL reuse = TRUE;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof(reuse));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port_));
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 16) != 0) {
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }
  const SOCKET listener = listener_;
  accept_thread_ = nbase::StartThread("test server accept", [this, listener] {
    for (;;) {
      SOCKET client = ::accept(listener, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      // A client that never finishes its request cannot hold Stop for long.
      DWORD timeout = 10000;
      ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
      nbase::AutoLock lock(lock_);
      std::shared_ptr<const std::string> body = body_;
      nbase::UniqueHandle serving = nbase::StartThread(
          "test server connection", [this, client, body] { Serve(client, *body); });
      if (serving) {
        serving_.push_back(std::move(serving));
      } else {
        ::closesocket(client);
      }
    }
  });
  return static_cast<bool>(accept_thread_);
}

void TinyHttpServer::Stop() {
  if (listener_ != INVALID_SOCKET) {
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  if (accept_thread_) ::WaitForSingleObject(accept_thread_.get(), INFINITE);
  accept_thread_.reset();
  std::vector<nbase::UniqueHandle> serving;
  {
    nbase::AutoLock lock(lock_);
    serving.swap(serving_);
  }
  // Every connection's thread ends within its socket's time-outs.
  for (const nbase::UniqueHandle& thread : serving) ::WaitForSingleObject(thread.get(), 30000);
}

namespace {

// Whether the request carries Basic proxy credentials for `account` ("user:password").
bool SignedIn(const std::string& request, const std::string& account) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (size_t i = 0; i < account.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(account[i]) << 16;
    if (i + 1 < account.size()) value |= static_cast<unsigned char>(account[i + 1]) << 8;
    if (i + 2 < account.size()) value |= static_cast<unsigned char>(account[i + 2]);
    encoded += kDigits[(value >> 18) & 63];
    encoded += kDigits[(value >> 12) & 63];
    encoded += i + 1 < account.size() ? kDigits[(value >> 6) & 63] : '=';
    encoded += i + 2 < account.size() ? kDigits[value & 63] : '=';
  }
  return request.find("\r\nProxy-Authorization: Basic " + encoded + "\r\n") != std::string::npos;
}

}  // namespace

void TinyHttpServer::Serve(SOCKET client, const std::string& body) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    request.append(buffer, got);
  }
  ++requests_;
  auto send_all = [client](const std::string& reply) {
    for (size_t sent = 0; sent < reply.size();) {
      const int put = ::send(client, reply.data() + sent, static_cast<int>(reply.size() - sent), 0);
      if (put <= 0) break;
      sent += static_cast<size_t>(put);
    }
    ::shutdown(client, SD_SEND);
    ::closesocket(client);
  };
  if (request.rfind("CONNECT ", 0) == 0) {
    // No tunnels: an HTTPS request through this proxy (the analytics) is refused as a real
    // proxy refuses a target it cannot reach.
    send_all("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  if (proxy_auth_ && !(proxy_account_.size() && SignedIn(request, proxy_account_))) {
    send_all(
        "HTTP/1.1 407 Proxy Authentication Required\r\n"
        "Proxy-Authenticate: Basic realm=\"loopback\"\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n");
    return;
  }
  if (sign_in_page_) {
    static const char kPage[] = "<html><body>Sign in to use this network.</body></html>";
    std::ostringstream page;
    page << "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " << (sizeof(kPage) - 1)
         << "\r\nConnection: close\r\n\r\n"
         << kPage;
    send_all(page.str());
    return;
  }
  const bool head = request.rfind("HEAD ", 0) == 0;
  const long long size = static_cast<long long>(body.size());
  long long first = 0;
  long long last = size - 1;
  bool ranged = false;
  const size_t range = request.find("\r\nRange: bytes=");
  if (range != std::string::npos) {
    std::sscanf(request.c_str() + range + 15, "%lld-%lld", &first, &last);
    last = std::min<long long>(last, size - 1);
    ranged = true;
  }
  const long long declared = declared_size_.load();
  if (ranged && (first > last || first < 0) && !(head && declared >= 0)) {
    // Nothing of the body lies in the range asked for: say so rather than name a range that
    // ends before it begins.
    std::ostringstream refusal;
    refusal << "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" << size
            << "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    send_all(refusal.str());
    return;
  }
  long long sent_body = head ? 0 : last - first + 1;
  if (!head && last > first) {
    // The probe's single byte always comes: what goes is the package itself.
    // Taken from the budget and never below zero: a budget that dipped below zero for a moment
    // would read as "no cut-off" to a request arriving then, and serve it whole.
    long long left = bytes_left_.load();
    while (left > 0 && !bytes_left_.compare_exchange_weak(left, left - std::min(left, sent_body))) {
    }
    if (left == 0) {
      ::closesocket(client);
      return;
    }
    if (left > 0) sent_body = std::min(left, sent_body);
  }
  const long long length = head && declared >= 0 ? declared : last - first + 1;
  std::ostringstream head_text;
  head_text << (ranged ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n")
            << "Content-Length: " << length << "\r\n"
            << "Accept-Ranges: bytes\r\nConnection: close\r\n";
  if (ranged)
    // A declared size is also the total a range answer names, as a probe for byte 0 reads it.
    head_text << "Content-Range: bytes " << first << "-" << last << "/"
              << (declared >= 0 ? declared : size) << "\r\n";
  head_text << "\r\n";
  std::string reply = head_text.str();
  if (!head) {
    // Short of the length named above when the budget ran out: the answer breaks off.
    reply.append(body, static_cast<size_t>(first), static_cast<size_t>(sent_body));
    bytes_served_ += sent_body;
    if (body_delay_ms_) ::Sleep(body_delay_ms_);  // the slow network being imitated
  }
  send_all(reply);
}

// --- Skin copies ------------------------------------------------------------------------------

namespace {

void CopyTree(const std::wstring& from, const std::wstring& to) {
  std::wstring source = from + L'\0';
  std::wstring target = to + L'\0';
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_COPY;
  operation.pFrom = source.c_str();
  operation.pTo = target.c_str();
  operation.fFlags = FOF_NO_UI;
  ::SHFileOperationW(&operation);
}

void RewriteUrls(const std::wstring& path, const std::map<std::wstring, std::wstring>& urls) {
  const std::string text = ReadFileBytes(path);
  std::string out;
  for (const std::string& line : nbase::Split(text, "\n")) {
    std::string kept = line;
    for (const auto& [key, value] : urls) {
      const std::string narrow_key = nbase::UTF16ToUTF8(key);
      if (line.rfind(narrow_key + "=", 0) == 0 || line.rfind(narrow_key + " ", 0) == 0) {
        kept = narrow_key + "=" + nbase::UTF16ToUTF8(value);
      }
    }
    out += kept + "\n";
  }
  for (const auto& [key, value] : urls) {
    if (out.find(nbase::UTF16ToUTF8(key) + "=") == std::string::npos) {
      out += nbase::UTF16ToUTF8(key) + "=" + nbase::UTF16ToUTF8(value) + "\n";
    }
  }
  WriteFileBytes(path, out);
}

}  // namespace

SkinCopy::SkinCopy(const std::map<std::wstring, std::wstring>& urls,
                   const std::map<std::wstring, std::wstring>& product) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  static int counter = 0;
  folder_ = std::wstring(temp) + L"setup_skin_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
  RemoveTree(folder_);
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  CopyTree(FromBuildPath(TEST_SOURCE_DIR "/resources"), folder_ + L"\\resources");
  for (const wchar_t* language : {L"English", L"German"}) {
    RewriteUrls(folder_ + L"\\resources\\lang\\" + language + L"\\gdstrings.ini", urls);
  }
  std::map<std::wstring, std::wstring> product_values = {
      {L"PUBLISHER_NAME", PINNED_PUBLISHER_NAME},
      {L"PUBLISHER_ROOT_SHA256", nbase::UTF8ToUTF16(PINNED_ROOT_SHA256)},
      // This build's collector, not the committed demo settings' port another build may hold.
      {L"GA_ENDPOINT", ANALYTICS_ENDPOINT},
  };
  for (const auto& [key, value] : product) product_values[key] = value;
  RewriteUrls(folder_ + L"\\resources\\product.ini", product_values);
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  previous_cwd_ = cwd;
  ::SetCurrentDirectoryW(folder_.c_str());
}

SkinCopy::~SkinCopy() {
  ::SetCurrentDirectoryW(previous_cwd_.c_str());
  RemoveTree(folder_);
}

// --- Small things -----------------------------------------------------------------------------

namespace {
int g_quit_messages = 0;
}  // namespace

int QuitMessagesSeen() {
  return g_quit_messages;
}

bool WaitForOpenedUrl(const std::wstring& url, DWORD timeout_ms) {
  const std::wstring list = FromBuildPath(BUILD_DIR_PATH "/opened-urls.txt");
  const std::string wanted = nbase::UTF16ToUTF8(url) + "\n";
  return PumpUntil([&] { return ReadFileBytes(list).find(wanted) != std::string::npos; },
                   timeout_ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeout_ms) return false;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      // A quit posted by the window under test ends its run, not this pump.
      if (message.message == WM_QUIT) {
        ++g_quit_messages;
        continue;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

std::vector<std::string> CollectorEventLabels() {
  std::vector<std::string> labels;
  const std::wstring folder = FromBuildPath(BUILD_DIR_PATH "/https-collector/requests\\");
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW((folder + COLLECTOR_PORT L"-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return labels;
  do {
    const std::string request = ReadFileBytes(folder + found.cFileName);
    if (request.find("measurement_id=G-DEMO000000") == std::string::npos) continue;
    const std::string key = "\"event_label\":\"";
    const size_t at = request.find(key);
    if (at == std::string::npos) continue;
    const size_t end = request.find('"', at + key.size());
    labels.push_back(request.substr(at + key.size(), end - at - key.size()));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return labels;
}

void ShootMessageBoxes(const std::wstring& name) {
  const std::wstring folder = FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  int index = 0;
  for (HWND box : demo::TopLevelWindowsOf(::GetCurrentProcessId(), L"#32770")) {
    if (!::IsWindowVisible(box)) continue;
    const std::wstring suffix = index ? L"_" + std::to_wstring(index) : std::wstring();
    demo::SaveWindowPng(box, folder + L"\\" + name + suffix + L".png");
    ++index;
  }
}

bool PathExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace setup_test
