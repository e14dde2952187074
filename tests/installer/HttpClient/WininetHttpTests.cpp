// The WinINet client against nginx and the fault-injecting server on the loopback interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "HttpTestSupport.h"
#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"

namespace {

struct Call {
  int state;
  double total;
  double done;
};

class RecordingSink : public IHttpCallback {
 public:
  void OnProgress(void* param, int state, double total, double done) override {
    params.push_back(param);
    calls.push_back({state, total, done});
  }
  bool ShouldStop() override { return false; }
  std::vector<void*> params;
  std::vector<Call> calls;
};

class WininetHttpTest : public HttpClientTest<IHttpBase, RecordingSink, HttpClientWininet> {
 protected:
  WininetHttpTest() : HttpClientTest(L"wininet") {}
};

TEST_F(WininetHttpTest, QueriesTheLengthAndRejectsEmptyUrls) {
  EXPECT_EQ(client_->QueryContentLength(NginxUrl(L"/files/size100.bin").c_str()), 100.0);
  EXPECT_EQ(client_->StatusCode(), 200);
  EXPECT_EQ(client_->QueryContentLength(L""), 0.0);
  EXPECT_EQ(client_->LastError(), HttpErrBadUrl);
  EXPECT_FALSE(client_->FetchToFile(nullptr, (folder_ + L"x").c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrBadUrl);
}

TEST_F(WininetHttpTest, FetchesAWholeFileIntoNewFoldersReportingEveryBlock) {
  const std::wstring path = folder_ + L"deeper\\still\\big64.bin";
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/big64.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 200);
  EXPECT_TRUE(ReadWholeFile(path) == ServedFile("big64.bin"));
  ASSERT_GE(sink_.calls.size(), 2u);
  EXPECT_EQ(sink_.params.front(), &sink_);
  double previous = 0;
  for (size_t i = 0; i + 1 < sink_.calls.size(); ++i) {
    EXPECT_EQ(sink_.calls[i].state, ProgressRunning);
    EXPECT_GT(sink_.calls[i].done, previous);
    previous = sink_.calls[i].done;
  }
  EXPECT_EQ(sink_.calls.back().state, ProgressDone);
  EXPECT_EQ(sink_.calls.back().done, 64.0 * 1024 * 1024);
}

TEST_F(WininetHttpTest, FetchesExactlyTheRangeAskedFor) {
  client_->AddRequestHeader("Range", "bytes=12-23");
  const std::wstring path = folder_ + L"range.bin";
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/size100.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 206);
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size100.bin").substr(12, 12));
  EXPECT_EQ(sink_.calls.back().state, ProgressDone);
  EXPECT_EQ(sink_.calls.back().total, 12.0);
}

TEST_F(WininetHttpTest, ARangeAnsweredWithSomethingElseStoresNothing) {
  for (const wchar_t* prefix : {L"/ignore-range/", L"/bad-range/"}) {
    nbase::ComPtr<IHttpBase> client;
    ASSERT_TRUE(CreateHttpClient(client.put(), HttpClientWininet));
    client->AddRequestHeader("Range", "bytes=12-23");
    const std::wstring path = folder_ + L"wrong-range.bin";
    EXPECT_FALSE(
        client->FetchToFile(FaultUrl(std::wstring(prefix) + L"size100.bin").c_str(), path.c_str()));
    EXPECT_EQ(client->LastError(), HttpErrRange) << prefix;
    EXPECT_FALSE(FileExists(path));
  }
}

TEST_F(WininetHttpTest, EmptyBodyWithZeroLengthSucceeds) {
  const std::wstring path = folder_ + L"empty.bin";
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/size0.bin").c_str(), path.c_str()));
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(sink_.calls.back().state, ProgressDone);
}

TEST_F(WininetHttpTest, MissingLengthFailsBeforeTheFileIsMade) {
  const std::wstring path = folder_ + L"nolength.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/nolength/size100.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrQuery);
  EXPECT_FALSE(FileExists(path));
  ASSERT_FALSE(sink_.calls.empty());
  EXPECT_EQ(sink_.calls.back().state, ProgressFailed);
  EXPECT_EQ(sink_.calls.back().total, 0.0);
}

TEST_F(WininetHttpTest, ShortBodyFailsAndLeavesThePartialFile) {
  const std::wstring path = folder_ + L"short.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/short/size100.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrRead);
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size100.bin").substr(0, 50));
  EXPECT_EQ(sink_.calls.back().state, ProgressFailed);
}

TEST_F(WininetHttpTest, NotFoundIsAnErrorAndOtherStatusesAreNot) {
  const std::wstring path = folder_ + L"missing.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/status/404").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrNotFound);
  EXPECT_EQ(client_->StatusCode(), 404);
  EXPECT_FALSE(FileExists(path));

  EXPECT_EQ(client_->QueryContentLength(FaultUrl(L"/status/500").c_str()), 10.0);
  EXPECT_EQ(client_->StatusCode(), 500);
  EXPECT_EQ(client_->LastError(), HttpErrNotFound) << "a success does not reset the code";
}

TEST_F(WininetHttpTest, RefusedConnectionFailsPromptly) {
  // The fixture's ports are free again once it stops; port 1 never listens here.
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(client_->QueryContentLength(L"http://127.0.0.1:1/x.bin"), 0.0);
  EXPECT_TRUE(client_->LastError() == HttpErrSend || client_->LastError() == HttpErrConnect);
  EXPECT_LT(::GetTickCount() - start, 20000u);
}

TEST_F(WininetHttpTest, ExchangesPostBodiesAndReadsPlainAnswers) {
  IWininetHttp* client = static_cast<IWininetHttp*>(client_.get());
  const std::string url = "http://127.0.0.1:" + std::to_string(Servers().fault) + "/echo";
  EXPECT_EQ(
      client->ExchangeA(url.c_str(), 1, "{\"events\":[]}", "Content-Type: application/json\r\n"),
      "echo:{\"events\":[]}");
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_EQ(client->Exchange(FaultUrl(L"/echo").c_str(), 1, "a=1", nullptr), "echo:a=1");
  EXPECT_EQ(client->Exchange(NginxUrl(L"/files/size9.bin").c_str(), 0, nullptr, nullptr),
            ServedFile("size9.bin"));
  EXPECT_EQ(client->ExchangeA("", 0, nullptr, nullptr), "");
  EXPECT_EQ(client->LastError(), HttpErrParam);
}

TEST_F(WininetHttpTest, FetchesIntoMemoryWithAndWithoutDeclaredLength) {
  for (const std::wstring& url :
       {NginxUrl(L"/files/size100.bin"), FaultUrl(L"/nolength/size100.bin")}) {
    void* block = nullptr;
    size_t count = 0;
    ASSERT_TRUE(client_->FetchToBuffer(url.c_str(), &block, &count));
    EXPECT_EQ(std::string(static_cast<char*>(block), count), ServedFile("size100.bin"));
    std::free(block);
  }
  EXPECT_TRUE(sink_.calls.empty());
  void* block = reinterpret_cast<void*>(1);
  size_t count = 1;
  // The rate-limited location: an unread body is not drained at loopback speed on close.
  EXPECT_FALSE(client_->FetchToBuffer(NginxUrl(L"/slow/big64.bin").c_str(), &block, &count));
  EXPECT_EQ(client_->LastError(), HttpErrSize);
  EXPECT_EQ(block, nullptr);
}

TEST_F(WininetHttpTest, FollowsTenRedirectsByItsOwnCountAndNeverALoop) {
  // The system's client would follow a loop for ever; this one counts every hop itself.
  const std::wstring path = folder_ + L"chain.bin";
  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/chain/10/size9.bin").c_str(), path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size9.bin"));
  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/chain-abs/10/size9.bin").c_str(), path.c_str()));
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/chain/11/size9.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrRedirect);
  EXPECT_EQ(client_->QueryContentLength(FaultUrl(L"/loop/size9.bin").c_str()), 0.0);
  EXPECT_EQ(client_->LastError(), HttpErrRedirect);
  // A redirect that leaves the web is not followed.
  EXPECT_FALSE(
      client_->FetchToFile(FaultUrl(L"/redirect/302/file:///C:/x.txt").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrRedirect);
}

TEST_F(WininetHttpTest, LiteralIpv6HostIsReached) {
  if (!Servers().ipv6) GTEST_SKIP() << "the machine's loopback has no IPv6 address";
  const std::wstring url =
      nbase::StringPrintf(L"http://[::1]:%d/files/size100.bin", Servers().nginx);
  const std::wstring path = folder_ + L"v6.bin";
  ASSERT_TRUE(client_->FetchToFile(url.c_str(), path.c_str())) << client_->LastError();
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size100.bin"));
}

}  // namespace
