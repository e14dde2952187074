// The client factory and the URL splitter that all clients share.
#include "installer/HttpClient/HttpInterface.h"

#include <cstdlib>
#include <cwchar>

#include "installer/HttpClient/SocketHttp.h"
#include "installer/HttpClient/WinHttp.h"
#include "installer/HttpClient/WininetHttp.h"

bool CreateHttpClient(IHttpBase** client, int type) {
  if (!client) return false;
  *client = nullptr;
  switch (type) {
    case HttpClientSocket:
      *client = new CHttpSocket();
      break;
    case HttpClientWininet:
      *client = new CWininetHttp();
      break;
    case HttpClientWinHttp:
      *client = new CWinHttp();
      break;
    default:
      break;
  }
  return *client != nullptr;
}

namespace {

template <typename String>
void SplitUrl(const String& url, const String& http, const String& https, String& host,
              String& path, int& port) {
  port = 80;
  String rest = url;
  auto at = url.find(http);
  if (at != String::npos) {
    rest = url.substr(at + http.size());
  } else if ((at = url.find(https)) != String::npos) {
    port = 443;
    rest = url.substr(at + https.size());
  }
  const auto slash = rest.find(typename String::value_type('/'));
  if (slash == String::npos) {
    host = rest;
    path = String(1, typename String::value_type('/'));
  } else {
    host = rest.substr(0, slash);
    path = rest.substr(slash);
  }
  using Char = typename String::value_type;
  if (!host.empty() && host[0] == Char('[')) {
    // A literal IPv6 address: its colons are the address's, the port follows the bracket.
    const auto close = host.find(Char(']'));
    if (close != String::npos) {
      String after = host.substr(close + 1);
      host = host.substr(1, close - 1);
      if (after.size() > 1 && after[0] == Char(':')) {
        long number = 0;
        for (size_t i = 1; i < after.size(); ++i) {
          const auto c = after[i];
          if (c < '0' || c > '9') break;
          number = number * 10 + (c - '0');
          if (number > 65535) break;
        }
        port = static_cast<int>(number);
      }
      return;
    }
  }
  const auto colon = host.find(Char(':'));
  if (colon != String::npos) {
    String digits = host.substr(colon + 1);
    long number = 0;
    for (auto c : digits) {
      if (c < '0' || c > '9') break;
      number = number * 10 + (c - '0');
      if (number > 65535) break;
    }
    port = static_cast<int>(number);
    host.resize(colon);
  }
}

}  // namespace

void SplitHttpUrl(const std::wstring& url, std::wstring& host, std::wstring& path, int& port) {
  SplitUrl<std::wstring>(url, L"http://", L"https://", host, path, port);
}

void SplitHttpUrl(const std::string& url, std::string& host, std::string& path, int& port) {
  SplitUrl<std::string>(url, "http://", "https://", host, path, port);
}

namespace {

template <typename String>
bool IsSecure(const String& url, const String& http, const String& https, int port) {
  // The same precedence as the splitter: an "http://" anywhere makes the URL plain.
  return port == 443 || (url.find(http) == String::npos && url.find(https) != String::npos);
}

}  // namespace

bool IsSecureHttpUrl(const std::wstring& url, int port) {
  return IsSecure<std::wstring>(url, L"http://", L"https://", port);
}

bool IsSecureHttpUrl(const std::string& url, int port) {
  return IsSecure<std::string>(url, "http://", "https://", port);
}

std::wstring ResolveRedirect(const std::wstring& base, const std::wstring& location) {
  std::wstring target = location.substr(0, location.find(L'#'));
  auto starts = [&target](const wchar_t* prefix) {
    return ::_wcsnicmp(target.c_str(), prefix, std::wcslen(prefix)) == 0;
  };
  if (starts(L"http://") || starts(L"https://")) return target;
  const size_t scheme_end = base.find(L"://");
  if (scheme_end == std::wstring::npos) return std::wstring();
  if (target.find(L"://") != std::wstring::npos || starts(L"javascript:") || starts(L"data:") ||
      starts(L"file:")) {
    return std::wstring();
  }
  if (target.compare(0, 2, L"//") == 0) return base.substr(0, scheme_end + 1) + target;
  const size_t path_start = base.find(L'/', scheme_end + 3);
  const std::wstring origin = path_start == std::wstring::npos ? base : base.substr(0, path_start);
  if (!target.empty() && target[0] == L'/') return origin + target;
  // Relative to the folder of the base's path (its query dropped).
  std::wstring path = path_start == std::wstring::npos ? L"/" : base.substr(path_start);
  path = path.substr(0, path.find(L'?'));
  path = path.substr(0, path.rfind(L'/') + 1);
  if (target.empty()) return base;
  return origin + path + target;
}
