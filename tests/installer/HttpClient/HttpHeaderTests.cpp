// Header composition and parsing, URL splitting and the client factory.
#include <gtest/gtest.h>

#include "installer/HttpClient/HttpHeader.h"
#include "installer/HttpClient/HttpInterface.h"

namespace {

const char kAgentLine[] =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/80.0.4044.92 Safari/537.36\r\n";

TEST(HttpHeader, ExtraHeadersListDefaultsAndCallerFieldsInByteOrder) {
  CHttpHeader header;
  header.AddRequestHeader("Accept", "text/plain");
  header.AddRequestHeader("Range", "bytes=0-11");
  header.AddRequestHeader("Range", "bytes=12-23");
  header.AddRequestHeader("", "x");
  header.AddRequestHeader("X-Empty", "");
  EXPECT_EQ(header.ComposeExtraHeaders(), std::string("Accept: text/plain\r\n"
                                                      "Accept-Language: zh-CN,zh;q=0.9\r\n"
                                                      "Connection: Keep-Alive\r\n"
                                                      "Range: bytes=0-11\r\n") +
                                              kAgentLine);
}

TEST(HttpHeader, RequestHeadOrdersHostAmongFieldsAndEndsWithEmptyLine) {
  CHttpHeader header;
  header.SetHost("first.example");
  header.SetHost("127.0.0.1:8080");
  header.SetHost("");
  header.AddRequestHeader("Range", "bytes=5-9");
  header.SetRequestPath("/files/a.bin");
  EXPECT_EQ(header.ComposeRequestHead(0), std::string("GET /files/a.bin HTTP/1.1\r\n"
                                                      "Accept: */*\r\n"
                                                      "Accept-Language: zh-CN,zh;q=0.9\r\n"
                                                      "Connection: Keep-Alive\r\n"
                                                      "Host: 127.0.0.1:8080\r\n"
                                                      "Range: bytes=5-9\r\n") +
                                              kAgentLine + "\r\n");
  EXPECT_EQ(header.Version(), "HTTP/1.1");

  CHttpHeader post;
  post.SetRequestPath("/mp/collect");
  const std::string head = post.ComposeRequestHead(1);
  EXPECT_EQ(head.rfind("POST /mp/collect HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(head.substr(head.size() - 2 - (sizeof(kAgentLine) - 1)),
            std::string(kAgentLine) + "\r\n");
}

TEST(HttpHeader, ParsesStatusLineAndFieldsOfAResponseHead) {
  CHttpHeader header(
      "HTTP/1.1 206 Partial Content\r\n"
      "content-length: 12\r\n"
      "Content-Range: bytes 0-11/100\r\n"
      "Content-Range: bytes 1-2/100\r\n"
      "Odd line\r\n"
      "Location: /next\r\n\r\nbody: not a field");
  EXPECT_EQ(header.StatusCode(), 206);
  EXPECT_EQ(header.Version(), "HTTP/1.1");
  EXPECT_EQ(header.Reason(), "Partial Content");
  EXPECT_EQ(header.GetField("Content-Length"), "");
  EXPECT_EQ(header.GetField("content-length"), "12");
  EXPECT_EQ(header.GetField("Content-Range"), "bytes 0-11/100");
  EXPECT_EQ(header.GetField("Location"), "/next");
  EXPECT_TRUE(header.GetField("body").empty());

  CHttpHeader odd("HTTP/1.0 abc");
  EXPECT_EQ(odd.StatusCode(), 0);
  EXPECT_EQ(odd.Version(), "HTTP/1.0");
  EXPECT_EQ(odd.Reason(), "");
  CHttpHeader short_line("HTTP");
  EXPECT_EQ(short_line.Version(), "HTTP");
  EXPECT_EQ(short_line.StatusCode(), 0);
}

struct UrlCase {
  const char* url;
  const char* host;
  const char* path;
  int port;
  bool secure;
};

TEST(SplitHttpUrl, SchemesPortsAndMissingPaths) {
  const UrlCase cases[] = {
      {"http://example.com/a/b.exe?x=1", "example.com", "/a/b.exe?x=1", 80, false},
      {"https://example.com/mp/collect", "example.com", "/mp/collect", 443, true},
      {"http://127.0.0.1:8080/f", "127.0.0.1", "/f", 8080, false},
      {"https://host:8443", "host", "/", 8443, true},
      {"http://host:443/x", "host", "/x", 443, true},
      {"example.com", "example.com", "/", 80, false},
      {"proxy.example/http://inner/x", "inner", "/x", 80, false},
  };
  for (const UrlCase& c : cases) {
    std::string host, path;
    int port = 0;
    SplitHttpUrl(std::string(c.url), host, path, port);
    EXPECT_EQ(host, c.host) << c.url;
    EXPECT_EQ(path, c.path) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
    EXPECT_EQ(c.secure, IsSecureHttpUrl(std::string(c.url), port)) << c.url;

    std::wstring whost, wpath;
    int wport = 0;
    const std::string url = c.url;
    SplitHttpUrl(std::wstring(url.begin(), url.end()), whost, wpath, wport);
    EXPECT_EQ(std::string(whost.begin(), whost.end()), c.host) << c.url;
    EXPECT_EQ(std::string(wpath.begin(), wpath.end()), c.path) << c.url;
    EXPECT_EQ(wport, c.port) << c.url;
    EXPECT_EQ(c.secure, IsSecureHttpUrl(std::wstring(url.begin(), url.end()), wport)) << c.url;
  }
}

TEST(CreateHttpClient, MakesTheWininetClientAndNothingForUnknownTypes) {
  IHttpBase* client = reinterpret_cast<IHttpBase*>(1);
  EXPECT_FALSE(CreateHttpClient(&client, 3));
  EXPECT_EQ(client, nullptr);
  ASSERT_TRUE(CreateHttpClient(&client, HttpClientWininet));
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->LastError(), HttpOk);
  EXPECT_EQ(client->StatusCode(), 0);
  client->Release();
}

TEST(HttpHeaderNumbers, LengthsAreDigitsOnlyAndBoundedNeverClamped) {
  long long value = -1;
  EXPECT_TRUE(ParseHttpLength(" 123 ", 1000, value));
  EXPECT_EQ(value, 123);
  EXPECT_TRUE(ParseHttpLength("0", 1000, value));
  EXPECT_EQ(value, 0);
  value = 7;
  for (const char* bad : {"", "-5", "+5", "12abc", "1 2", "0x10", "1001", "99999999999999999999",
                          "18446744073709551615"}) {
    EXPECT_FALSE(ParseHttpLength(bad, 1000, value)) << bad;
    EXPECT_EQ(value, 7) << bad;
  }
}

TEST(HttpHeaderNumbers, ContentRangeMustBeCompleteOrderedAndInsideItsTotal) {
  long long first = 0, last = 0, total = 0;
  ASSERT_TRUE(ParseContentRange("bytes 0-0/6442450944", 1LL << 40, first, last, total));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(total, 6442450944LL);  // beyond 32 bits
  ASSERT_TRUE(ParseContentRange("bytes 5-9/10", 100, first, last, total));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(last, 9);
  for (const char* bad :
       {"bytes 0-0/-5", "bytes */10", "bytes 0-0/*", "bytes 5-4/10", "bytes 0-10/10",
        "bytes 0-0/101", "items 0-0/10", "bytes 0-0", "", "bytes -1-0/10"}) {
    EXPECT_FALSE(ParseContentRange(bad, 100, first, last, total)) << bad;
  }
}

}  // namespace
