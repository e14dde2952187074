// The downloader end to end against nginx and the fault and proxy fixtures, over a window that
// records its messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "HttpTestSupport.h"
#include "ScopedSystemProxy.h"
#include "base/StringUtil.h"
#include "base/Thread.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/HttpDownloader.h"
#include "installer/HttpClient/ProxyCredentials.h"
#include "installer/HttpClient/Sha256.h"
#include "installer/main/Log.h"

namespace {

// Generous: the slowest case pauses 1 + 2 + 4 seconds between retries.
constexpr DWORD kWatchdogMs = 60000;
// Every read of the downloader gives up within a few seconds once its attempt is over.
constexpr DWORD kEndWatchdogMs = 20000;

TEST(HttpDownloaderNames, FileNameDropsQueryAndKeepsAtMost255Characters) {
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/a/setup.exe?v=1&x=a/b"), L"setup.exe");
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/get&id=3"), L"get");
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/" + std::wstring(300, L'n')).size(), 255u);
}

TEST(HttpDownloaderNames, PiecesFollowTheFileSizeWithFewerThanConnectionsForSmallFiles) {
  const long long mib = 1024 * 1024;
  EXPECT_EQ(CHttpDownloader::PieceSize(1), 1);
  EXPECT_EQ(CHttpDownloader::PieceSize(7), 7);
  EXPECT_EQ(CHttpDownloader::PieceSize(100), 100);
  EXPECT_EQ(CHttpDownloader::PieceSize(5 * mib), mib);  // five pieces for eight connections
  EXPECT_EQ(CHttpDownloader::PieceSize(256 * mib), 4 * mib);
  EXPECT_EQ(CHttpDownloader::PieceSize(5LL * 1024 * mib + 3), 8 * mib);  // beyond 32 bits
}

TEST(HttpDownloaderDigest, PipedDigestMatchesTheDirectOneAcrossBlocksAndEmptyReads) {
  const DWORD block = CSha256Pipe::kBlockSize;
  std::string data(2 * static_cast<size_t>(block) + 12345, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
  CSha256 direct;
  direct.Update(data.data(), static_cast<DWORD>(data.size()));
  const std::string expected = direct.HexDigest();

  // Piece sizes that straddle block boundaries, with reads that deliver nothing in between.
  const DWORD pieces[] = {1, block, 0, 777, block - 1, 0, block / 2};
  CSha256Pipe pipe;
  size_t offset = 0;
  for (int i = 0; offset < data.size(); ++i) {
    const size_t rest = data.size() - offset;
    const DWORD want = pieces[i % 7];
    const DWORD size = want < rest ? want : static_cast<DWORD>(rest);
    char* target = pipe.Acquire();
    if (size == 0) {
      EXPECT_EQ(pipe.Acquire(), target) << "an unused block must be handed out again";
      continue;
    }
    std::memcpy(target, data.data() + offset, size);
    pipe.Submit(size);
    offset += size;
  }
  EXPECT_EQ(pipe.Finish(), expected);
  EXPECT_EQ(pipe.Finish(), expected);

  CSha256Pipe empty;
  EXPECT_EQ(empty.Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // Dropped with blocks still queued: the destructor must neither hang nor crash.
  auto abandoned = std::make_unique<CSha256Pipe>();
  for (int i = 0; i < 5; ++i) {
    std::memset(abandoned->Acquire(), i, block);
    abandoned->Submit(block);
  }
  abandoned.reset();
}

TEST(HttpDownloaderDigest, InProcessDigestMatchesTheSystemsForEveryLengthAndSplit) {
  std::string data(70000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 13);
  // Lengths around the block and padding boundaries, and one of many blocks.
  for (size_t length :
       {0u, 1u, 3u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 70000u}) {
    CSha256 system;
    system.Update(data.data(), static_cast<DWORD>(length));
    const std::string expected = system.HexDigest();
    for (bool portable : {false, true}) {
      CSha256Digest whole;
      if (portable) whole.ForcePortable();
      whole.Update(data.data(), length);
      EXPECT_EQ(whole.HexDigest(), expected) << length << (portable ? " portable" : "");
      // Fed in uneven slices, so buffered partial blocks meet whole ones.
      CSha256Digest sliced;
      if (portable) sliced.ForcePortable();
      for (size_t at = 0, step = 1; at < length; at += step, step = step * 3 % 97 + 1) {
        sliced.Update(data.data() + at, step < length - at ? step : length - at);
      }
      EXPECT_EQ(sliced.HexDigest(), expected) << length << (portable ? " portable" : "");
    }
  }
}

std::wstring Wide(const char* text) {
  return std::wstring(text, text + strlen(text));
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

long long TotalBytes(const std::vector<CHttpDownloader::ConnectionStats>& connections) {
  long long total = 0;
  for (const auto& connection : connections) total += connection.bytes;
  return total;
}

class HttpDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Servers().nginx, 0) << "the HTTP server fixture did not run";
    // The downloader's own account of each run, for reading after a failure.
    LogSink::Instance().SetFilePath(FreshFolder(L"log") + L"downloader_log.txt");
    LogSink::Instance().SetThreshold(LV_APP);
  }

  // Ends a fault the fixture keeps on until told (`path` as in FaultUrl).
  static bool Heal(const std::wstring& path) {
    nbase::ComPtr<IHttpBase> client;
    if (!CreateHttpClient(client.put(), HttpClientWininet)) return false;
    void* block = nullptr;
    size_t count = 0;
    const bool answered = client->FetchToBuffer(FaultUrl(L"/heal" + path).c_str(), &block, &count);
    std::free(block);
    return answered && client->StatusCode() == 200;
  }

  // One attempt on a fresh downloader; true when the finished message arrived before the
  // watchdog. Faults are retried after 10 ms rather than seconds.
  bool Run(const std::wstring& url, const std::wstring& folder_name,
           const std::string& sha256 = std::string(), DWORD stall_ms = 2000,
           bool fresh_folder = true) {
    recorder_.Reset();
    EndDownloader();
    folder_ = fresh_folder ? FreshFolder(folder_name) : folder_;
    downloader_ = std::make_unique<CHttpDownloader>(recorder_.hwnd(), url, folder_, sha256);
    downloader_->SetStallTimeout(stall_ms);
    downloader_->SetRetryPause(10);
    if (floor_ms_ > 0) downloader_->SetProgressFloor(floor_ms_, 4096);
    downloader_->Start();
    return recorder_.WaitFinished(kWatchdogMs);
  }

  // The whole file is under the temporary name, nothing else is left beside it, and the
  // package's own name is the owner's to give.
  void ExpectDownloaded(const char* name) {
    EXPECT_EQ(recorder_.outcome, 1) << name;
    EXPECT_EQ(FileSha256Hex(downloader_->DownloadPath()), Servers().sha256.at(name)) << name;
    EXPECT_FALSE(FileExists(downloader_->TargetPath())) << name;
    const auto files = FilesIn(folder_);
    ASSERT_EQ(files.size(), 1u) << name << ": " << (files.empty() ? L"" : files.back()).c_str();
  }

  void ExpectFailedLeavingNothing(const std::wstring& what) {
    EXPECT_EQ(recorder_.outcome, 0) << what.c_str();
    EXPECT_NE(downloader_->FailureReason(), HttpOk) << what.c_str();
    EXPECT_TRUE(FilesIn(folder_).empty()) << what.c_str();
  }

  void ExpectRisingPercentsEndingAt100() {
    ASSERT_FALSE(recorder_.percents.empty());
    EXPECT_GT(recorder_.percents.front(), 0);
    for (size_t i = 1; i < recorder_.percents.size(); ++i) {
      EXPECT_GT(recorder_.percents[i], recorder_.percents[i - 1]);
    }
    EXPECT_EQ(recorder_.percents.back(), 100);
  }

  // Destroys the downloader, which waits for its threads; a thread stuck in a read would hold
  // it for ever, so a watchdog ends the test program if that takes longer than any read may.
  void EndDownloader() {
    if (!downloader_) return;
    nbase::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE event = done.get();
    nbase::UniqueHandle watchdog = nbase::StartThread("end watchdog", [event] {
      if (::WaitForSingleObject(event, kEndWatchdogMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "the downloader's threads did not end within %lu ms\n",
                     static_cast<unsigned long>(kEndWatchdogMs));
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
      }
    });
    downloader_.reset();
    ::SetEvent(event);
    ::WaitForSingleObject(watchdog.get(), INFINITE);
  }

  void TearDown() override { EndDownloader(); }

  MessageRecorder recorder_;
  std::wstring folder_;
  std::unique_ptr<CHttpDownloader> downloader_;
  DWORD floor_ms_ = 0;
};

TEST_F(HttpDownloaderTest, FilesOfEverySizeArriveByteIdentical) {
  for (const char* name : {"size1.bin", "size7.bin", "size8.bin", "size9.bin", "size100.bin",
                           "size1m.bin", "size9m.bin"}) {
    ASSERT_TRUE(Run(NginxUrl(L"/files/" + Wide(name)), L"sizes")) << name;
    ExpectDownloaded(name);
    ExpectRisingPercentsEndingAt100();
  }
  // An empty file is no package.
  ASSERT_TRUE(Run(NginxUrl(L"/files/size0.bin"), L"sizes"));
  ExpectFailedLeavingNothing(L"size0.bin");
  EXPECT_TRUE(recorder_.percents.empty());
}

TEST_F(HttpDownloaderTest, LargeRandomFileIsSharedOutAndMatchesItsDigest) {
  const std::string& sha = Servers().sha256.at("big64.bin");
  ASSERT_TRUE(Run(NginxUrl(L"/files/big64.bin?token=1"), L"big", sha));
  ExpectDownloaded("big64.bin");
  // The digest handed on to the verification is this file's, so it need not be taken again.
  const TakenDigest taken = downloader_->FinishedDigest();
  EXPECT_EQ(taken.sha256, sha);
  {
    nbase::UniqueFileHandle file(::CreateFileW(downloader_->DownloadPath().c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                               nullptr));
    FileIdentity identity;
    ASSERT_TRUE(file && IdentifyFile(file.get(), &identity));
    EXPECT_TRUE(identity == taken.file);
    EXPECT_EQ(taken.file.size, 64ull * 1024 * 1024);
  }
  EXPECT_EQ(downloader_->FileName(), L"big64.bin");
  EXPECT_EQ(downloader_->KnownFileSize(), 64.0 * 1024 * 1024);
  EXPECT_GT(downloader_->ElapsedSeconds(), 0.0);
  ExpectRisingPercentsEndingAt100();
  const auto connections = downloader_->Connections();
  ASSERT_EQ(connections.size(), 8u);
  EXPECT_EQ(TotalBytes(connections), 64LL * 1024 * 1024);
  int working = 0;
  for (const auto& connection : connections) working += connection.pieces > 0 ? 1 : 0;
  EXPECT_GT(working, 1);
}

TEST_F(HttpDownloaderTest, UnusableProbeAnswersFailBeforeAnythingIsWritten) {
  // 405 and 500 pages, lengths that are negative, no number or absurd, and an encoded body.
  for (const wchar_t* path :
       {L"/status/405", L"/status/500", L"/badlength/neg/size1m.bin", L"/badlength/text/size1m.bin",
        L"/badlength/huge/size1m.bin", L"/badlength/negtotal/size1m.bin", L"/gzip/size1m.bin"}) {
    ASSERT_TRUE(Run(FaultUrl(path), L"probe")) << path;
    ExpectFailedLeavingNothing(path);
    EXPECT_TRUE(recorder_.percents.empty()) << path;
  }
}

TEST_F(HttpDownloaderTest, ServerWithoutRangesIsReadAsTheProbesOneStream) {
  ASSERT_TRUE(Run(FaultUrl(L"/ignore-range/size1m.bin"), L"norange"));
  ExpectDownloaded("size1m.bin");
  ExpectRisingPercentsEndingAt100();
  const auto connections = downloader_->Connections();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].bytes, 1024 * 1024);

  // Ranges answered with other bytes than asked are never taken for the file.
  ASSERT_TRUE(Run(FaultUrl(L"/bad-range/size9m.bin"), L"norange"));
  ExpectFailedLeavingNothing(L"bad-range");
}

TEST_F(HttpDownloaderTest, ChangedFileStartsOverOnceAndVersionsNeverMix) {
  // Whether the server honours If-Range or shows the change only by its tag and total.
  const struct {
    const wchar_t* path;
    const char* result;
  } cases[] = {{L"/switch/honour/ver-a.bin/ver-b.bin", "ver-b.bin"},
               {L"/switch/ignore/ver-a.bin/ver-b.bin", "ver-b.bin"},
               {L"/switch/honour/ver-a.bin/ver-c.bin", "ver-c.bin"},
               {L"/switch/ignore/ver-a.bin/ver-c.bin", "ver-c.bin"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Run(FaultUrl(c.path) + Nonce(), L"versions")) << c.path;
    ExpectDownloaded(c.result);
  }
  EXPECT_EQ(downloader_->KnownFileSize(), 3.0 * 1024 * 1024 + 4099);

  // A file that keeps changing is given up after one fresh start.
  ASSERT_TRUE(Run(FaultUrl(L"/alternate/ver-a.bin/ver-b.bin") + Nonce(), L"versions"));
  ExpectFailedLeavingNothing(L"alternate");
  EXPECT_EQ(downloader_->FailureReason(), HttpErrChanged);
}

TEST_F(HttpDownloaderTest, ChunkedAndCloseDelimitedRangeAnswersAreTaken) {
  const std::string& sha = Servers().sha256.at("size9m.bin");
  for (const wchar_t* path : {L"/chunked/size9m.bin", L"/close206/size9m.bin"}) {
    ASSERT_TRUE(Run(FaultUrl(path), L"framing", sha)) << path;
    ExpectDownloaded("size9m.bin");
  }
}

TEST_F(HttpDownloaderTest, ServerAllowingTwoConnectionsIsUsedWithFewer) {
  ASSERT_TRUE(
      Run(FaultUrl(L"/limit/2/size9m.bin") + Nonce(), L"limit", Servers().sha256.at("size9m.bin")));
  ExpectDownloaded("size9m.bin");
  const auto connections = downloader_->Connections();
  ASSERT_EQ(connections.size(), 8u) << "taken for a server without ranges";
  int refused = 0;
  for (const auto& connection : connections) refused += connection.retries;
  EXPECT_GT(refused, 0) << "the fixture never refused a connection";
}

TEST_F(HttpDownloaderTest, TricklingConnectionGivesItsRestToAFasterOne) {
  // One byte every half second never trips the stall time-out.
  ASSERT_TRUE(Run(FaultUrl(L"/fault/trickle/1/0/size9m.bin") + Nonce(), L"trickle",
                  Servers().sha256.at("size9m.bin"), 30000));
  ExpectDownloaded("size9m.bin");
}

TEST_F(HttpDownloaderTest, DroppedOrStalledPieceResumesKeepingItsBytes) {
  for (const wchar_t* kind : {L"drop", L"stall", L"drop-last"}) {
    const std::wstring url =
        FaultUrl(L"/fault/" + std::wstring(kind) + L"/1/50000/size1m.bin") + Nonce();
    ASSERT_TRUE(Run(url, L"resume", Servers().sha256.at("size1m.bin"))) << kind;
    ExpectDownloaded("size1m.bin");
    ExpectRisingPercentsEndingAt100();
    // Nothing was fetched twice.
    EXPECT_EQ(TotalBytes(downloader_->Connections()), 1024 * 1024) << kind;
  }
}

TEST_F(HttpDownloaderTest, CutOffDownloadIsResumedByAnotherDownloaderFetchingOnlyTheRest) {
  // Every request for the last eighth drops before its first byte until the fault is healed,
  // so the attempt fails with the other pieces on disk however its pieces were split.
  const std::wstring fault = L"/fault/drop-last/always/0/size9m.bin" + Nonce();
  const std::wstring url = FaultUrl(fault);
  const std::string& sha = Servers().sha256.at("size9m.bin");
  ASSERT_TRUE(Run(url, L"cutoff", sha));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_FALSE(FileExists(downloader_->TargetPath()));
  EXPECT_TRUE(FileExists(downloader_->StatePath()));
  const long long first_bytes = TotalBytes(downloader_->Connections());
  EXPECT_GT(first_bytes, 0);

  // As after a restart of the installer: a new object over the same folder.
  ASSERT_TRUE(Heal(fault));
  ASSERT_TRUE(Run(url, L"cutoff", sha, 2000, false));
  ExpectDownloaded("size9m.bin");
  EXPECT_EQ(TotalBytes(downloader_->Connections()), 9LL * 1024 * 1024 - first_bytes);
}

TEST_F(HttpDownloaderTest, ResumeStartsAfreshWhenTheRecordDoesNotFitTheServersFile) {
  const std::wstring fault = L"/fault/drop-last/always/0/size9m.bin" + Nonce();
  const std::wstring url = FaultUrl(fault);
  ASSERT_TRUE(Run(url, L"stale", Servers().sha256.at("size9m.bin")));
  ASSERT_TRUE(FileExists(downloader_->StatePath()));
  downloader_.reset();
  // A record damaged on disk is no reason to trust the bytes beside it.
  const std::wstring state = folder_ + L"size9m.bin.download.state";
  std::string text = ReadWholeFile(state);
  const size_t done = text.find("done ");
  ASSERT_NE(done, std::string::npos);
  text.replace(done, 5, "done -");
  HANDLE file = ::CreateFileW(state.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(Heal(fault));
  ASSERT_TRUE(Run(url, L"stale", Servers().sha256.at("size9m.bin"), 2000, false));
  ExpectDownloaded("size9m.bin");
  EXPECT_EQ(TotalBytes(downloader_->Connections()), 9LL * 1024 * 1024);
}

TEST_F(HttpDownloaderTest, DigestMismatchFailsAndLeavesNothing) {
  ASSERT_TRUE(Run(NginxUrl(L"/files/size1m.bin"), L"digest", std::string(64, '0')));
  ExpectFailedLeavingNothing(L"digest");
  EXPECT_EQ(downloader_->FailureReason(), HttpErrDigest);
  EXPECT_TRUE(downloader_->FinishedDigest().sha256.empty()) << "a refused file's digest";
}

TEST_F(HttpDownloaderTest, UnreachableServersFailWithinBoundedTime) {
  for (const wchar_t* url :
       {L"http://127.0.0.1:1/package.exe", L"http://no-such-host.invalid/package.exe"}) {
    ASSERT_TRUE(Run(url, L"unreachable")) << url;
    ExpectFailedLeavingNothing(url);
  }
}

TEST_F(HttpDownloaderTest, ThrottledLinkFinishesWithLittleWaste) {
  // Eight connections at 12 KB/s each: equally slow connections share the work and never
  // start each other's ranges over.
  ASSERT_TRUE(Run(NginxUrl(L"/throttled/size650k.bin"), L"throttled",
                  Servers().sha256.at("size650k.bin"), 30000));
  ExpectDownloaded("size650k.bin");
  EXPECT_LE(downloader_->ReceivedBytes(), 650000 * 6 / 5);
}

TEST_F(HttpDownloaderTest, SlowlyTricklingConnectionNeitherHoldsTheEndNorItsThreads) {
  // One byte every three seconds (the probe's answer and the first piece's), never slow enough
  // for the stall rule: the faster connections
  // take its rest, and its thread ends once the file is whole (the watchdog of EndDownloader).
  ASSERT_TRUE(Run(FaultUrl(L"/fault/slowtrickle/2/0/size9m.bin") + Nonce(), L"slowtrickle",
                  Servers().sha256.at("size9m.bin"), 30000));
  ExpectDownloaded("size9m.bin");
  int takeovers = 0;
  for (const auto& connection : downloader_->Connections()) takeovers += connection.takeovers;
  EXPECT_GT(takeovers, 0);
  EndDownloader();
}

TEST_F(HttpDownloaderTest, LossyServersStillDeliverTheFile) {
  // Every connection reset after a mebibyte, or every range answered by half and a close:
  // tries that bring bytes spend no retry.
  for (const wchar_t* path : {L"/reset-after/1048576/size9m.bin", L"/half/size9m.bin"}) {
    ASSERT_TRUE(Run(FaultUrl(path) + Nonce(), L"lossy", Servers().sha256.at("size9m.bin"))) << path;
    ExpectDownloaded("size9m.bin");
    EXPECT_EQ(TotalBytes(downloader_->Connections()), 9LL * 1024 * 1024) << path;
  }
}

TEST_F(HttpDownloaderTest, SignInPageHalfWayKeepsTheBytesAndRetryFetchesOnlyTheRest) {
  const std::wstring path = L"/portal/size9m.bin" + Nonce();
  const std::wstring url = FaultUrl(path);
  const std::string& sha = Servers().sha256.at("size9m.bin");
  ASSERT_TRUE(Run(url, L"portal", sha));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_EQ(downloader_->FailureReason(), HttpErrSignIn);
  EXPECT_TRUE(FileExists(downloader_->DownloadPath()));
  EXPECT_TRUE(FileExists(downloader_->StatePath()));
  const long long first_bytes = TotalBytes(downloader_->Connections());
  EXPECT_GT(first_bytes, 0);
  // The user signs in; Retry goes on from what is on disk.
  ASSERT_TRUE(Heal(path));
  recorder_.Reset();
  downloader_->Start();
  ASSERT_TRUE(recorder_.WaitFinished(kWatchdogMs));
  ExpectDownloaded("size9m.bin");
  EXPECT_EQ(TotalBytes(downloader_->Connections()), 9LL * 1024 * 1024 - first_bytes);
}

TEST_F(HttpDownloaderTest, EveryConnectionTricklingFailsAsTooSlow) {
  floor_ms_ = 4000;
  ASSERT_TRUE(
      Run(FaultUrl(L"/trickle-all/1000/size1m.bin") + Nonce(), L"allslow", std::string(), 30000));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_EQ(downloader_->FailureReason(), HttpErrTooSlow);
  EndDownloader();
}

TEST_F(HttpDownloaderTest, RedirectLoopAndLiteralIpv6Address) {
  ASSERT_TRUE(Run(FaultUrl(L"/loop/size1m.bin"), L"loop"));
  ExpectFailedLeavingNothing(L"redirect loop");
  EXPECT_EQ(downloader_->FailureReason(), HttpErrRedirect);
  if (!Servers().ipv6) GTEST_SKIP() << "the machine's loopback has no IPv6 address";
  const std::wstring url =
      nbase::StringPrintf(L"http://[::1]:%d/files/size1m.bin", Servers().nginx);
  ASSERT_TRUE(Run(url, L"ipv6", Servers().sha256.at("size1m.bin")));
  ExpectDownloaded("size1m.bin");
}

// The system's proxy settings of this session point at a fixture proxy for one test, and are
// put back as they were afterwards.
class HttpDownloaderProxyTest : public HttpDownloaderTest {
 protected:
  // The server under another name than the other tests use: a connection they left open to
  // it may be reused by the system without asking the proxy.
  static std::wstring LocalhostUrl(const std::wstring& path) {
    return nbase::StringPrintf(L"http://localhost:%d%ls", Servers().nginx, path.c_str());
  }

  void UseProxy(int port) { ASSERT_TRUE(proxy_.Use(port)) << "the proxy fixture did not run"; }

  void TearDown() override {
    // The downloader's sessions end before the settings they read are put back.
    EndDownloader();
    proxy_.Restore();
  }

 private:
  http_test::ScopedSystemProxy proxy_;
};

TEST_F(HttpDownloaderProxyTest, DownloadGoesThroughTheSystemsProxy) {
  UseProxy(Servers().proxy);
  const std::wstring path = L"/files/size1m.bin" + Nonce();
  ASSERT_TRUE(Run(LocalhostUrl(path), L"proxy", Servers().sha256.at("size1m.bin")));
  ExpectDownloaded("size1m.bin");
  const std::string log = ReadWholeFile(Servers().state + L"proxy.log");
  EXPECT_NE(log.find(nbase::UTF16ToUTF8(path)), std::string::npos) << "the proxy saw no request";
}

TEST_F(HttpDownloaderProxyTest, SignsInToBasicAndDigestProxiesWithTheAccountGivenAndNoOther) {
  const std::string& sha = Servers().sha256.at("size1m.bin");
  for (int port : {Servers().proxy_basic, Servers().proxy_digest}) {
    UseProxy(port);
    const std::wstring path = L"/files/size1m.bin" + Nonce();
    proxy_credentials::Clear();
    ASSERT_TRUE(Run(LocalhostUrl(path), L"signin", sha));
    EXPECT_EQ(downloader_->FailureReason(), HttpErrProxyAuth) << port;
    proxy_credentials::Set(L"alice", L"wrong password");
    ASSERT_TRUE(Run(LocalhostUrl(path), L"signin", sha));
    EXPECT_EQ(downloader_->FailureReason(), HttpErrProxyAuth) << "wrong password taken, " << port;
    proxy_credentials::Set(L"alice", L"wonder land!");
    ASSERT_TRUE(Run(LocalhostUrl(path), L"signin", sha));
    ExpectDownloaded("size1m.bin");
    EndDownloader();
    proxy_credentials::Clear();
    const std::wstring log_name =
        port == Servers().proxy_basic ? L"proxybasic.log" : L"proxydigest.log";
    const std::string log = ReadWholeFile(Servers().state + log_name);
    EXPECT_NE(log.find(nbase::UTF16ToUTF8(path) + " ok"), std::string::npos) << port;
  }
  // The password is in no file the downloader wrote: its log, its download folder.
  const std::string log = ReadWholeFile(LogSink::Instance().FilePath());
  EXPECT_FALSE(log.empty());
  for (const char* secret : {"wonder land!", "YWxpY2U6d29uZGVyIGxhbmQh"}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    for (const std::wstring& name : FilesIn(folder_)) {
      EXPECT_EQ(ReadWholeFile(folder_ + name).find(secret), std::string::npos) << secret;
    }
  }
}

TEST_F(HttpDownloaderProxyTest, ProxyAskingForCredentialsIsReportedAsSuch) {
  UseProxy(Servers().proxy407);
  ASSERT_TRUE(Run(LocalhostUrl(L"/files/size1m.bin"), L"proxy407"));
  ExpectFailedLeavingNothing(L"proxy 407");
  EXPECT_EQ(downloader_->FailureReason(), HttpErrProxyAuth);
}

}  // namespace
