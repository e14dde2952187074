// The answer checks, the state record, literal IPv6 hosts and redirect targets.
#include <gtest/gtest.h>

#include "installer/HttpClient/DownloadAnswer.h"
#include "installer/HttpClient/DownloadState.h"
#include "installer/HttpClient/HttpInterface.h"
#include "installer/HttpClient/ProxyCredentials.h"

namespace {

AnswerHead Ranged(long long first, long long last, long long total) {
  AnswerHead head;
  head.status = 206;
  head.has_range = true;
  head.content_range =
      "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
  head.has_length = true;
  head.length = std::to_string(last - first + 1);
  head.etag = "\"v1\"";
  return head;
}

FileFacts File() {
  FileFacts facts;
  facts.size = 1000;
  facts.ranges = true;
  facts.validator = "\"v1\"";
  facts.validator_is_etag = true;
  return facts;
}

PieceVerdict Judge(const AnswerHead& head, int* error) {
  bool length_known = false;
  return JudgePieceAnswer(head, File(), 100, 200, error, &length_known);
}

TEST(AnswerRules, PagesInTheFilesPlaceAreSignInPagesAndNewVersionsAreSuspects) {
  int error = 0;
  EXPECT_EQ(Judge(Ranged(100, 199, 1000), &error), PieceVerdict::Body);

  // A portal's page: 200, a web page, no validator.
  AnswerHead page;
  page.status = 200;
  page.content_type = "text/html; charset=utf-8";
  page.has_length = true;
  page.length = "162";
  EXPECT_EQ(Judge(page, &error), PieceVerdict::Suspect);
  EXPECT_EQ(error, HttpErrSignIn);
  page.content_type.clear();
  EXPECT_EQ(Judge(page, &error), PieceVerdict::Suspect) << "a whole body naming no version";
  EXPECT_EQ(error, HttpErrSignIn);
  AnswerHead portal;
  portal.status = 511;
  EXPECT_EQ(Judge(portal, &error), PieceVerdict::Suspect);
  EXPECT_EQ(error, HttpErrSignIn);

  // A whole file with a validator, another total or another tag: maybe a new version.
  AnswerHead whole = page;
  whole.etag = "\"v2\"";
  EXPECT_EQ(Judge(whole, &error), PieceVerdict::Suspect);
  EXPECT_EQ(error, HttpErrChanged);
  EXPECT_EQ(Judge(Ranged(100, 199, 2000), &error), PieceVerdict::Suspect);
  EXPECT_EQ(error, HttpErrChanged);
  AnswerHead retagged = Ranged(100, 199, 1000);
  retagged.etag = "\"v2\"";
  EXPECT_EQ(Judge(retagged, &error), PieceVerdict::Suspect);
  EXPECT_EQ(error, HttpErrChanged);
}

TEST(AnswerRules, BrokenRefusedAndHopelessAnswersAreToldApart) {
  int error = 0;
  EXPECT_EQ(Judge(Ranged(101, 199, 1000), &error), PieceVerdict::Failed);
  EXPECT_EQ(error, HttpErrRange);
  AnswerHead longer = Ranged(100, 199, 1000);
  longer.length = "101";
  EXPECT_EQ(Judge(longer, &error), PieceVerdict::Failed);
  AnswerHead refused;
  refused.status = 503;
  EXPECT_EQ(Judge(refused, &error), PieceVerdict::Refused);
  refused.status = 429;
  EXPECT_EQ(Judge(refused, &error), PieceVerdict::Refused);
  AnswerHead proxy;
  proxy.status = 407;
  EXPECT_EQ(Judge(proxy, &error), PieceVerdict::Fatal);
  EXPECT_EQ(error, HttpErrProxyAuth);
  AnswerHead encoded = Ranged(100, 199, 1000);
  encoded.has_encoding = true;
  encoded.content_encoding = "gzip";
  EXPECT_EQ(Judge(encoded, &error), PieceVerdict::Fatal);
  AnswerHead server_error;
  server_error.status = 500;
  EXPECT_EQ(Judge(server_error, &error), PieceVerdict::Failed);
}

TEST(AnswerRules, ProbeReadsSizeRangesAndValidatorAndRefusesPages) {
  FileFacts facts;
  int error = 0;
  AnswerHead head = Ranged(0, 0, 1000);
  head.etag = " \"abc\" ";
  ASSERT_EQ(JudgeProbe(head, &facts, &error), ProbeVerdict::Usable);
  EXPECT_EQ(facts.size, 1000);
  EXPECT_TRUE(facts.ranges);
  EXPECT_EQ(facts.validator, "\"abc\"");
  EXPECT_TRUE(facts.validator_is_etag);

  // A weak tag cannot go into If-Range; the modification time serves.
  head.etag = "W/\"abc\"";
  head.last_modified = "Tue, 01 Dec 2026 10:00:00 GMT";
  ASSERT_EQ(JudgeProbe(head, &facts, &error), ProbeVerdict::Usable);
  EXPECT_FALSE(facts.validator_is_etag);
  EXPECT_EQ(facts.validator, head.last_modified);

  AnswerHead page;
  page.status = 200;
  page.content_type = "text/html";
  page.has_length = true;
  page.length = "162";
  EXPECT_EQ(JudgeProbe(page, &facts, &error), ProbeVerdict::Failed);
  EXPECT_EQ(error, HttpErrSignIn);
  AnswerHead busy;
  busy.status = 503;
  EXPECT_EQ(JudgeProbe(busy, &facts, &error), ProbeVerdict::Retry);
  AnswerHead empty = Ranged(0, 0, 1000);
  empty.content_range = "bytes 0-0/0";
  EXPECT_EQ(JudgeProbe(empty, &facts, &error), ProbeVerdict::Failed);
}

TEST(DownloadState, RecordRoundTripsAndRefusesAnotherFileOrDamage) {
  const std::vector<PieceScheduler::Stretch> done = {{0, 100}, {300, 1000}};
  const std::string text = FormatDownloadState("http://h/p.exe", 1000, "\"v1\"", done);
  std::vector<PieceScheduler::Stretch> read;
  ASSERT_TRUE(ParseDownloadState(text, "http://h/p.exe", 1000, "\"v1\"", &read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].first, 300);
  EXPECT_EQ(read[1].end, 1000);
  EXPECT_FALSE(ParseDownloadState(text, "http://h/q.exe", 1000, "\"v1\"", &read));
  EXPECT_FALSE(ParseDownloadState(text, "http://h/p.exe", 1001, "\"v1\"", &read));
  EXPECT_FALSE(ParseDownloadState(text, "http://h/p.exe", 1000, "\"v2\"", &read));
  EXPECT_FALSE(
      ParseDownloadState(text.substr(0, text.size() - 1), "http://h/p.exe", 1000, "\"v1\"", &read))
      << "a record cut off while written";
  for (const char* damaged : {"done 300 200\n", "done 50 400\n", "done -1 5\n", "done 0 1001\n"}) {
    const std::string bad =
        FormatDownloadState("http://h/p.exe", 1000, "\"v1\"", {{0, 100}}) + damaged;
    EXPECT_FALSE(ParseDownloadState(bad, "http://h/p.exe", 1000, "\"v1\"", &read)) << damaged;
  }
}

TEST(HttpUrls, LiteralIpv6HostsSplitWithAndWithoutAPort) {
  std::wstring host, path;
  int port = 0;
  SplitHttpUrl(std::wstring(L"http://[::1]:8080/files/a.exe"), host, path, port);
  EXPECT_EQ(host, L"::1");
  EXPECT_EQ(path, L"/files/a.exe");
  EXPECT_EQ(port, 8080);
  SplitHttpUrl(std::wstring(L"https://[2001:db8::7]/a"), host, path, port);
  EXPECT_EQ(host, L"2001:db8::7");
  EXPECT_EQ(port, 443);
  SplitHttpUrl(std::wstring(L"http://[fe80::1]"), host, path, port);
  EXPECT_EQ(host, L"fe80::1");
  EXPECT_EQ(path, L"/");
  EXPECT_EQ(port, 80);
  std::string narrow_host, narrow_path;
  SplitHttpUrl(std::string("http://[::1]:99/x"), narrow_host, narrow_path, port);
  EXPECT_EQ(narrow_host, "::1");
  EXPECT_EQ(port, 99);
  // Names and addresses of the other kind are split as before.
  SplitHttpUrl(std::wstring(L"http://127.0.0.1:18080/p?q=1"), host, path, port);
  EXPECT_EQ(host, L"127.0.0.1");
  EXPECT_EQ(path, L"/p?q=1");
  EXPECT_EQ(port, 18080);
}

TEST(HttpUrls, RedirectTargetsResolveAgainstTheRequestAndOnlyToWebAddresses) {
  const std::wstring base = L"http://example.test:81/dir/file.exe?x=1";
  EXPECT_EQ(ResolveRedirect(base, L"https://cdn.test/a.exe"), L"https://cdn.test/a.exe");
  EXPECT_EQ(ResolveRedirect(base, L"//cdn.test/a.exe"), L"http://cdn.test/a.exe");
  EXPECT_EQ(ResolveRedirect(base, L"/other/b.exe"), L"http://example.test:81/other/b.exe");
  EXPECT_EQ(ResolveRedirect(base, L"c.exe#part"), L"http://example.test:81/dir/c.exe");
  EXPECT_EQ(ResolveRedirect(L"http://[::1]:5/a/b", L"/c"), L"http://[::1]:5/c");
  EXPECT_EQ(ResolveRedirect(base, L"file:///C:/Windows/notepad.exe"), L"");
  EXPECT_EQ(ResolveRedirect(base, L"ftp://example.test/a.exe"), L"");
  EXPECT_EQ(ResolveRedirect(base, L"javascript:alert(1)"), L"");
}

TEST(ProxyAnswers, DigestIsPreferredAndComputedAsTheStandardsExampleAndBasicIsEncoded) {
  // The worked example of the Digest standard: its response value is known.
  const std::string digest = proxy_credentials::Answer(
      {"Basic realm=\"x\"",
       "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
       "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""},
      "GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b");
  EXPECT_NE(digest.find("response=\"6629fae49393a05397450978507c4ef1\""), std::string::npos)
      << digest;
  EXPECT_NE(digest.find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos);
  EXPECT_EQ(digest.compare(0, 7, "Digest "), 0);
  EXPECT_EQ(proxy_credentials::Answer({"Basic realm=\"downloads\""}, "GET", "http://h/", "alice",
                                      "wonder land!", "c"),
            "Basic YWxpY2U6d29uZGVyIGxhbmQh");
  // Schemes this client cannot answer leave the 407 to the caller.
  EXPECT_EQ(proxy_credentials::Answer({"Negotiate",
                                       "Digest realm=\"r\", nonce=\"n\", "
                                       "algorithm=SHA-512-256"},
                                      "GET", "/", "u", "p", "c"),
            "");
  // A user name that would break out of its quotes is not sent in a Digest answer.
  EXPECT_EQ(
      proxy_credentials::Answer({"Digest realm=\"r\", nonce=\"n\""}, "GET", "/", "a\"b", "p", "c"),
      "");
}

}  // namespace
