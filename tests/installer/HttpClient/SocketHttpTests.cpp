// The socket client against nginx and the fault-injecting server on the loopback interface.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "HttpTestSupport.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"

namespace {

class StateSink : public IHttpCallback {
 public:
  void OnProgress(void* param, int state, double total, double done) override {
    last_param = param;
    states.push_back(state);
    totals.push_back(total);
    dones.push_back(done);
  }
  bool ShouldStop() override { return stop; }

  void* last_param = nullptr;
  std::vector<int> states;
  std::vector<double> totals;
  std::vector<double> dones;
  bool stop = false;
};

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// Runs a memory download; the bytes on success, and the block is freed either way.
bool FetchBytes(IHttpBase* client, const std::wstring& url, std::string& bytes) {
  void* block = reinterpret_cast<void*>(1);
  size_t count = 1;
  const bool ok = client->FetchToBuffer(url.c_str(), &block, &count);
  bytes = ok ? std::string(static_cast<char*>(block), count) : std::string();
  if (!ok) {
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(count, 0u);
  }
  std::free(block);
  return ok;
}

class SocketHttpTest : public HttpClientTest<ISocketHttp, StateSink, HttpClientSocket> {
 protected:
  SocketHttpTest() : HttpClientTest(L"socket") {}
  ISocketHttp* socket() { return client_.get(); }
};

TEST_F(SocketHttpTest, DownloadsToFileAndMemoryReportingEveryBlock) {
  EXPECT_EQ(client_->QueryContentLength(NginxUrl(L"/files/size100.bin").c_str()), 0.0);
  EXPECT_EQ(socket()->ResolvedAddress(), L"");

  const std::wstring path = folder_ + L"size1m.bin";
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/size1m.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 200);
  EXPECT_EQ(socket()->ResolvedAddress(), L"127.0.0.1");
  EXPECT_TRUE(ReadWholeFile(path) == ServedFile("size1m.bin"));
  ASSERT_GE(sink_.states.size(), 3u);
  EXPECT_EQ(sink_.last_param, &sink_);
  for (size_t i = 0; i + 1 < sink_.states.size(); ++i) {
    EXPECT_EQ(sink_.states[i], ProgressRunning);
    EXPECT_EQ(sink_.totals[i], 1048576.0);
  }
  EXPECT_EQ(sink_.states.back(), ProgressDone);
  EXPECT_EQ(sink_.dones.back(), 1048576.0);

  const size_t calls = sink_.states.size();
  std::string bytes;
  ASSERT_TRUE(FetchBytes(client_.get(), NginxUrl(L"/files/size100.bin"), bytes));
  EXPECT_EQ(bytes, ServedFile("size100.bin"));
  EXPECT_EQ(sink_.states.size(), calls) << "memory downloads report no progress";

  // Extra headers reach the server: a range comes back as 206 with just those bytes.
  client_->AddRequestHeader("Range", "bytes=10-19");
  ASSERT_TRUE(client_->FetchToFile(NginxUrl(L"/files/size100.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 206);
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size100.bin").substr(10, 10));
}

TEST_F(SocketHttpTest, RefusesHttpsBeforeResolvingAnything) {
  const std::wstring path = folder_ + L"secure.bin";
  for (const std::wstring& url :
       {std::wstring(L"https://localhost/files/size100.bin"),
        L"https://127.0.0.1:" + std::to_wstring(Servers().nginx) + L"/files/size100.bin"}) {
    EXPECT_FALSE(client_->FetchToFile(url.c_str(), path.c_str()));
    std::string bytes;
    EXPECT_FALSE(FetchBytes(client_.get(), url, bytes));
  }
  EXPECT_EQ(client_->LastError(), HttpOk);
  EXPECT_EQ(socket()->ResolvedAddress(), L"");
  EXPECT_TRUE(sink_.states.empty());
  EXPECT_FALSE(FileExists(path));
}

TEST_F(SocketHttpTest, ResponseWithoutLengthEndsWithAHeadOnlyBlock) {
  // The server sends its head, pauses, then the body: the first block holds the head alone.
  const std::wstring path = folder_ + L"late.bin";
  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/late-body/size100.bin").c_str(), path.c_str()));
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(sink_.states, (std::vector<int>{ProgressRunning, ProgressDone}));
  EXPECT_EQ(sink_.totals.back(), 0.0);
}

TEST_F(SocketHttpTest, FollowsRelativeRedirectsOnTheSameConnection) {
  // The target answers 409 unless it is asked from the connection that got the redirect.
  for (const wchar_t* code : {L"301", L"302"}) {
    const std::wstring url = FaultUrl(std::wstring(L"/redirect-here/") + code + L"/size100.bin");
    const std::wstring path = folder_ + L"moved.bin";
    ASSERT_TRUE(client_->FetchToFile(url.c_str(), path.c_str())) << code;
    EXPECT_EQ(client_->StatusCode(), 200);
    EXPECT_EQ(ReadWholeFile(path), ServedFile("size100.bin"));
    std::string bytes;
    ASSERT_TRUE(FetchBytes(client_.get(), url, bytes)) << code;
    EXPECT_EQ(bytes, ServedFile("size100.bin"));
  }
}

TEST_F(SocketHttpTest, FollowsAbsoluteRedirectsToAnotherServer) {
  const std::wstring target =
      L"http://127.0.0.1:" + std::to_wstring(Servers().nginx) + L"/files/size1m.bin";
  const std::wstring path = folder_ + L"elsewhere.bin";
  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/redirect/302/" + target).c_str(), path.c_str()));
  EXPECT_TRUE(ReadWholeFile(path) == ServedFile("size1m.bin"));
  EXPECT_EQ(sink_.states.back(), ProgressDone);
  std::string bytes;
  ASSERT_TRUE(FetchBytes(client_.get(), FaultUrl(L"/redirect/301/" + target), bytes));
  EXPECT_TRUE(bytes == ServedFile("size1m.bin"));
}

TEST_F(SocketHttpTest, FollowsTenRedirectsAndFailsOnTheEleventh) {
  const std::wstring path = folder_ + L"chain.bin";
  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/chain/10/size9.bin").c_str(), path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), ServedFile("size9.bin"));

  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/chain/11/size9.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrHeader);
  EXPECT_EQ(client_->StatusCode(), 302);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(sink_.states.back(), ProgressFailed);

  // Absolute redirects each open a connection of their own, and count the same.
  std::string bytes;
  EXPECT_TRUE(FetchBytes(client_.get(), FaultUrl(L"/chain-abs/10/size9.bin"), bytes));
  EXPECT_FALSE(FetchBytes(client_.get(), FaultUrl(L"/chain-abs/11/size9.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrHeader);
}

TEST_F(SocketHttpTest, Status400FailsWhile404IsStoredLikeABody) {
  const std::wstring path = folder_ + L"status.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/status/400").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrNotFound);
  EXPECT_FALSE(FileExists(path));
  ASSERT_FALSE(sink_.states.empty());
  EXPECT_EQ(sink_.states.back(), ProgressFailed);
  EXPECT_EQ(sink_.totals.back(), 0.0);
  std::string bytes;
  EXPECT_FALSE(FetchBytes(client_.get(), FaultUrl(L"/status/400"), bytes));

  ASSERT_TRUE(client_->FetchToFile(FaultUrl(L"/status/404").c_str(), path.c_str()));
  EXPECT_EQ(client_->StatusCode(), 404);
  EXPECT_EQ(ReadWholeFile(path), "status 404");
  ASSERT_TRUE(FetchBytes(client_.get(), FaultUrl(L"/status/404"), bytes));
  EXPECT_EQ(bytes, "status 404");
}

TEST_F(SocketHttpTest, MemoryDownloadNeedsALengthOfAtMostEightMebibytes) {
  std::string bytes;
  EXPECT_FALSE(FetchBytes(client_.get(), NginxUrl(L"/files/size9m.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrSize);
  EXPECT_FALSE(FetchBytes(client_.get(), NginxUrl(L"/files/size0.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrSize);
}

TEST_F(SocketHttpTest, KeepsExactlyTheDeclaredBytes) {
  // Extra bytes inside the head's block, and extra bytes arriving in later blocks.
  for (const char* name : {"size100.bin", "size1m.bin"}) {
    std::string bytes;
    ASSERT_TRUE(FetchBytes(client_.get(), FaultUrl(L"/long/" + Widen(name)), bytes)) << name;
    EXPECT_TRUE(bytes == ServedFile(name)) << name;
  }

  const std::wstring path = folder_ + L"short.bin";
  EXPECT_FALSE(client_->FetchToFile(FaultUrl(L"/short/size1m.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrRead);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(sink_.states.back(), ProgressFailed);
  std::string bytes;
  EXPECT_FALSE(FetchBytes(client_.get(), FaultUrl(L"/short/size1m.bin"), bytes));
  EXPECT_EQ(client_->LastError(), HttpErrRead);
}

TEST_F(SocketHttpTest, StopRequestCancelsAndRemovesTheFile) {
  sink_.stop = true;
  const std::wstring path = folder_ + L"stopped.bin";
  EXPECT_FALSE(client_->FetchToFile(NginxUrl(L"/files/size1m.bin").c_str(), path.c_str()));
  EXPECT_EQ(client_->LastError(), HttpErrCancelled);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(SocketHttpTest, SilentServerFailsAfterTheReceiveTimeout) {
  // Both downloads wait at once, so the case costs one time-out, not two.
  struct Outcome {
    bool ok = true;
    HttpInterfaceError error = HttpOk;
    DWORD elapsed = 0;
  };
  Outcome file, memory;
  const std::wstring path = folder_ + L"silent.bin";
  auto run = [&path](Outcome* outcome, bool to_file) {
    nbase::ComPtr<IHttpBase> client;
    if (!CreateHttpClient(client.put(), HttpClientSocket)) return;
    const DWORD start = ::GetTickCount();
    const std::wstring url = FaultUrl(L"/silent/" + Nonce());
    std::string bytes;
    outcome->ok = to_file ? client->FetchToFile(url.c_str(), path.c_str())
                          : FetchBytes(client.get(), url, bytes);
    outcome->elapsed = ::GetTickCount() - start;
    outcome->error = client->LastError();
  };
  std::thread file_thread(run, &file, true);
  std::thread memory_thread(run, &memory, false);
  file_thread.join();
  memory_thread.join();
  for (const Outcome* outcome : {&file, &memory}) {
    EXPECT_FALSE(outcome->ok);
    EXPECT_EQ(outcome->error, HttpErrSocket);
    EXPECT_GE(outcome->elapsed, 9000u);
    EXPECT_LT(outcome->elapsed, 20000u);
  }
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
