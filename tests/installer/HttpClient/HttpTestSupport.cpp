// Locating the test servers and recording the downloader's window messages.
#include "HttpTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "base/StringUtil.h"

namespace {

std::wstring WindowsPath(const std::string& unix_path) {
  std::wstring path = L"Z:" + nbase::UTF8ToUTF16(unix_path);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring BuildFolder() {
  const char* build = std::getenv("INSTALLER_BUILD_DIR");
  return build ? WindowsPath(build) + L"\\" : std::wstring();
}

TestServers LoadServers() {
  TestServers servers;
  std::istringstream file(ReadWholeFile(BuildFolder() + L"http-servers\\servers.txt"));
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string key, a, b;
    words >> key >> a >> b;
    if (key == "nginx") servers.nginx = std::atoi(a.c_str());
    if (key == "fault") servers.fault = std::atoi(a.c_str());
    if (key == "proxy") servers.proxy = std::atoi(a.c_str());
    if (key == "proxy407") servers.proxy407 = std::atoi(a.c_str());
    if (key == "ipv6") servers.ipv6 = std::atoi(a.c_str()) != 0;
    if (key == "proxybasic") servers.proxy_basic = std::atoi(a.c_str());
    if (key == "proxydigest") servers.proxy_digest = std::atoi(a.c_str());
    if (key == "sha256") servers.sha256[a] = b;
  }
  servers.www = BuildFolder() + L"http-servers\\www\\";
  servers.state = BuildFolder() + L"http-servers\\";
  return servers;
}

std::wstring Url(int port, const std::wstring& path) {
  return nbase::StringPrintf(L"http://127.0.0.1:%d%ls", port, path.c_str());
}

}  // namespace

const TestServers& Servers() {
  static const TestServers servers = LoadServers();
  return servers;
}

std::wstring NginxUrl(const std::wstring& path) {
  return Url(Servers().nginx, path);
}
std::wstring FaultUrl(const std::wstring& path) {
  return Url(Servers().fault, path);
}

std::wstring Nonce() {
  static LONG counter = 0;
  return nbase::StringPrintf(L"?n=%lu-%ld", ::GetTickCount(), ::InterlockedIncrement(&counter));
}

std::wstring FreshFolder(const std::wstring& name) {
  const std::wstring root = BuildFolder() + L"http-test-out\\";
  ::CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring folder = root + name + L"\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW((folder + data.cFileName).c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  return folder;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string text;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  ::CloseHandle(file);
  return text;
}

std::string ServedFile(const char* name) {
  return ReadWholeFile(Servers().www + std::wstring(name, name + std::strlen(name)));
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

MessageRecorder::MessageRecorder() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &MessageRecorder::WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"HttpTestRecorder";
  ::RegisterClassW(&window_class);
  hwnd_ = ::CreateWindowW(L"HttpTestRecorder", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          window_class.hInstance, nullptr);
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageRecorder::~MessageRecorder() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void MessageRecorder::Reset() {
  percents.clear();
  finished_count = 0;
  outcome = -1;
}

LRESULT CALLBACK MessageRecorder::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  auto* self = reinterpret_cast<MessageRecorder*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && message == WM_DOWNLOAD_PROGRESS) {
    self->percents.push_back(reinterpret_cast<DownloadProgress*>(lparam)->percent);
    return 0;
  }
  if (self && message == WM_DOWNLOAD_FINISHED) {
    ++self->finished_count;
    self->outcome = lparam;
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

bool MessageRecorder::WaitFinished(DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  const int wanted = finished_count + 1;
  while (finished_count < wanted) {
    const DWORD spent = ::GetTickCount() - start;
    if (spent >= timeout_ms) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - spent, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return true;
}
