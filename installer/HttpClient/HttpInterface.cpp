// The client factory and the URL splitter that all clients share.
#include "installer/HttpClient/HttpInterface.h"

#include <cstdlib>

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
  const auto colon = host.find(typename String::value_type(':'));
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
