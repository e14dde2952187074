// Points this session's system proxy settings at a loopback proxy for one test's lifetime.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace http_test {

// The settings in the registry are read by the HTTP library when a session opens, so they must
// be set before the code under test opens one; the previous values come back on destruction.
class ScopedSystemProxy {
 public:
  ScopedSystemProxy() = default;
  ~ScopedSystemProxy() { Restore(); }
  ScopedSystemProxy(const ScopedSystemProxy&) = delete;
  ScopedSystemProxy& operator=(const ScopedSystemProxy&) = delete;

  // False when the settings could not be written.
  bool Use(int port) {
    HKEY key = nullptr;
    if (port == 0 || ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    if (!changed_) {
      saved_enable_ = Read(key, L"ProxyEnable");
      saved_server_ = Read(key, L"ProxyServer");
    }
    const DWORD enable = 1;
    const std::wstring server = L"127.0.0.1:" + std::to_wstring(port);
    const bool written =
        ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                         sizeof(enable)) == ERROR_SUCCESS &&
        ::RegSetValueExW(
            key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
            static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    changed_ = true;
    return written;
  }

  void Restore() {
    if (!changed_) return;
    changed_ = false;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    Put(key, L"ProxyEnable", saved_enable_);
    Put(key, L"ProxyServer", saved_server_);
    ::RegCloseKey(key);
  }

 private:
  static constexpr const wchar_t* kKey =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

  struct Saved {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };

  static Saved Read(HKEY key, const wchar_t* name) {
    Saved saved;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS) {
      return saved;
    }
    saved.data.resize(size);
    saved.present = ::RegQueryValueExW(key, name, nullptr, &saved.type, saved.data.data(), &size) ==
                    ERROR_SUCCESS;
    return saved;
  }

  static void Put(HKEY key, const wchar_t* name, const Saved& saved) {
    if (!saved.present) {
      ::RegDeleteValueW(key, name);
    } else {
      ::RegSetValueExW(key, name, 0, saved.type, saved.data.data(),
                       static_cast<DWORD>(saved.data.size()));
    }
  }

  Saved saved_enable_, saved_server_;
  bool changed_ = false;
};

}  // namespace http_test
