// The WinHTTP client against nginx, the fault-injecting server and the HTTPS collector.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "HttpTestSupport.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"

namespace {

class StateSink : public IHttpCallback {
 public:
  void OnProgress(void*, int state, double total, double done) override {
    states.push_back(state);
    totals.push_back(total);
    dones.push_back(done);
  }
  bool ShouldStop() override { return false; }

  std::vector<int> states;
  std::vector<double> totals;
  std::vector<double> dones;
};

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// The ports of the HTTPS collector, which answers every POST with 204.
struct Collector {
  int valid_port = 0;
  int expired_port = 0;
};

Collector FindCollector() {
  Collector collector;
  const char* build = std::getenv("INSTALLER_BUILD_DIR");
  if (!build) return collector;
  std::wstring ports_file = L"Z:" + Widen(build) + L"/https-collector/ports.txt";
  for (auto& c : ports_file) {
    if (c == L'/') c = L'\\';
  }
  std::istringstream ports(ReadWholeFile(ports_file));
  std::string line;
  while (std::getline(ports, line)) {
    std::sscanf(line.c_str(), "valid=%d", &collector.valid_port);
    std::sscanf(line.c_str(), "expired=%d", &collector.expired_port);
  }
  return collector;
}

class WinHttpTest : public HttpClientTest<IWinHttp, StateSink, HttpClientWinHttp> {
 protected:
  WinHttpTest() : HttpClientTest(L"winhttp") {}
  void SetUp() override {
    HttpClientTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(client_->LastError(), HttpOk);
  }
  bool FetchBytes(const std::wstring& url, std::string& bytes) {
    void* block = reinterpret_cast<void*>(1);
    size_t count = 1;
    const bool ok = client_->FetchToBuffer(url.c_str(), &block, &count);
    bytes = ok ? std::string(static_cast<char*>(block), count) : std::string();
    if (!ok) {
      EXPECT_EQ(block, nullptr);
    }
    std::free(block);
    return ok;
  }
};

TEST_F(WinHttpTest, QueriesTheLengthAndDownloadsToFileAndMemory) {
  EXPECT_EQ(client_->QueryContentLength(NginxUrl(L"/files/size100.bin").c_str()), 100.0);
  EXPECT_EQ(client_->StatusCode(), 200);

  const std::wstring path = folder_ + L"size1m.bin";
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/size1m.bin").c_str(), path.c_str()));
  EXPECT_TRUE(ReadWholeFile(path) == ServedFile("size1m.bin"));
  ASSERT_FALSE(sink_.states.empty());
  for (size_t i = 0; i < sink_.states.size(); ++i) {
    EXPECT_EQ(sink_.states[i], ProgressRunning);
    EXPECT_EQ(sink_.totals[i], 1048576.0);
  }
  EXPECT_EQ(sink_.dones.back(), 1048576.0);

  std::string bytes;
  ASSERT_TRUE(FetchBytes(NginxUrl(L"/files/size100.bin"), bytes));
  EXPECT_EQ(bytes, ServedFile("size100.bin"));
}

TEST_F(WinHttpTest, MissingLengthFailsBeforeAnythingIsStored) {
  const std::wstring path = folder_ + L"nolength.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/nolength/size100.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrQuery);
  EXPECT_FALSE(FileExists(path));
  std::string bytes;
  EXPECT_FALSE(FetchBytes(FaultUrl(L"/nolength/size100.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrQuery);
}

TEST_F(WinHttpTest, FollowsRedirectsButNotForEver) {
  const std::wstring nginx_file =
      L"http://127.0.0.1:" + std::to_wstring(Servers().nginx) + L"/files/size100.bin";
  std::string bytes;
  for (const std::wstring& url :
       {FaultUrl(L"/redirect/302/" + nginx_file), FaultUrl(L"/redirect/301/" + nginx_file),
        FaultUrl(L"/chain/10/size100.bin")}) {
    ASSERT_TRUE(FetchBytes(url, bytes));
    EXPECT_EQ(bytes, ServedFile("size100.bin"));
    EXPECT_EQ(client_->StatusCode(), 200);
  }
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(FetchBytes(FaultUrl(L"/chain/11/size100.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrOpen);
  EXPECT_LT(::GetTickCount() - start, 10000u);
}

TEST_F(WinHttpTest, NotFoundIsAnErrorAndBadRequestIsNot) {
  const std::wstring path = folder_ + L"status.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/status/404").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrNotFound);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(client_->Exchange(FaultUrl(L"/status/404").c_str(), 0, nullptr, nullptr), "");

  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/status/400").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 400);
  EXPECT_EQ(ReadWholeFile(path), "status 400");
}

TEST_F(WinHttpTest, KeepsExactlyTheDeclaredBytesAndRejectsShortBodies) {
  std::string bytes;
  ASSERT_TRUE(FetchBytes(FaultUrl(L"/long/size1m.bin"), bytes));
  EXPECT_TRUE(bytes == ServedFile("size1m.bin"));

  EXPECT_FALSE(FetchBytes(NginxUrl(L"/files/size9m.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrSize);

  // The file is extended to the declared length first; a dropped connection must not pass
  // for a download with a zero-filled tail.
  const std::wstring path = folder_ + L"short.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/short/size1m.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrRead);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(WinHttpTest, ShortTimeoutsGiveUpOnASilentServerWithinAboutASecond) {
  client_->SetTimeouts(1000, 1000, 1000);
  const DWORD start = ::GetTickCount();
  const std::wstring path = folder_ + L"silent.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/silent/" + Nonce()).c_str(), path.c_str()));
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_EQ(client_->LastError(), HttpErrOpen);
  EXPECT_GE(elapsed, 900u);
  EXPECT_LT(elapsed, 4000u);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(WinHttpTest, ExchangesTextInBothForms) {
  const std::string echo = "http://127.0.0.1:" + std::to_string(Servers().fault) + "/echo";
  EXPECT_EQ(client_->ExchangeA(echo.c_str(), 1, "{\"a\":1}", "Content-Type: application/json"),
            "echo:{\"a\":1}");
  EXPECT_EQ(client_->StatusCode(), 200);
  EXPECT_EQ(client_->Exchange(FaultUrl(L"/echo").c_str(), 1, "b=2", nullptr), "echo:b=2");
  EXPECT_EQ(client_->Exchange(NginxUrl(L"/files/size9.bin").c_str(), 0, nullptr, nullptr),
            ServedFile("size9.bin"));
}

TEST_F(WinHttpTest, PostsOverHttpsWhateverTheCertificate) {
  const Collector collector = FindCollector();
  ASSERT_NE(collector.valid_port, 0) << "the HTTPS collector fixture did not run";
  for (int port : {collector.valid_port, collector.expired_port}) {
    const std::string body = "{\"winhttp\":" + std::to_string(port) + "}";
    const std::wstring url =
        L"https://localhost:" + std::to_wstring(port) + L"/mp/collect?measurement_id=x";
    EXPECT_EQ(client_->Exchange(url.c_str(), 1, body.c_str(), "Content-Type: application/json"),
              "");
    EXPECT_EQ(client_->StatusCode(), 204) << port;
    EXPECT_EQ(client_->LastError(), HttpOk) << port;
  }
}

}  // namespace
