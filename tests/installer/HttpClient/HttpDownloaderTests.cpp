// The range downloader end to end, over a window that records its messages.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "HttpTestSupport.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/HttpDownloader.h"

namespace {

// Generous: the slowest case pauses 1 + 2 + 4 seconds between retries.
constexpr DWORD kWatchdogMs = 60000;

TEST(HttpDownloaderNames, FileNameDropsQueryAndKeepsAtMost255Characters) {
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/a/setup.exe?v=1&x=a/b"), L"setup.exe");
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/get&id=3"), L"get");
  EXPECT_EQ(CHttpDownloader::FileNameFromUrl(L"http://h/" + std::wstring(300, L'n')).size(), 255u);
}

TEST(HttpDownloaderNames, RangesSplitEvenlyWithTheRemainderLastAndNoneEmptyRequested) {
  long long first = 0, last = 0;
  const long long expected[8][2] = {{0, 11},  {12, 23}, {24, 35}, {36, 47},
                                    {48, 59}, {60, 71}, {72, 83}, {84, 99}};
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(CHttpDownloader::RangeBounds(100, i, first, last));
    EXPECT_EQ(first, expected[i][0]);
    EXPECT_EQ(last, expected[i][1]);
  }
  for (int i = 0; i < 7; ++i) EXPECT_FALSE(CHttpDownloader::RangeBounds(7, i, first, last));
  ASSERT_TRUE(CHttpDownloader::RangeBounds(7, 7, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 6);
  const long long big = 5LL * 1024 * 1024 * 1024 + 3;  // beyond 32 bits
  ASSERT_TRUE(CHttpDownloader::RangeBounds(big, 7, first, last));
  EXPECT_EQ(first, 7 * (big / 8));
  EXPECT_EQ(last, big - 1);
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

class HttpDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Servers().nginx, 0) << "the HTTP server fixture did not run"; }

  // One attempt; true when the finished message arrived before the watchdog.
  bool Run(const std::wstring& url, const std::wstring& folder_name,
           const std::string& sha256 = std::string(), DWORD stall_ms = 0) {
    folder_ = FreshFolder(folder_name);
    downloader_ = std::make_unique<CHttpDownloader>(recorder_.hwnd(), url, folder_, sha256);
    if (stall_ms) downloader_->SetStallTimeout(stall_ms);
    downloader_->Start();
    return recorder_.WaitFinished(kWatchdogMs);
  }

  void ExpectTargetIs(const char* name) {
    const std::wstring target = downloader_->TargetPath();
    EXPECT_EQ(FileSha256Hex(target), Servers().sha256.at(name)) << name;
    ExpectNoParts();
  }

  void ExpectNoParts() {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder_ + L"*.*-*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a part file was left behind";
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  }

  void ExpectRisingPercentsEndingAt100() {
    ASSERT_FALSE(recorder_.percents.empty());
    EXPECT_GT(recorder_.percents.front(), 0);
    for (size_t i = 1; i < recorder_.percents.size(); ++i) {
      EXPECT_GT(recorder_.percents[i], recorder_.percents[i - 1]);
    }
    EXPECT_EQ(recorder_.percents.back(), 100);
  }

  MessageRecorder recorder_;
  std::wstring folder_;
  std::unique_ptr<CHttpDownloader> downloader_;
};

TEST_F(HttpDownloaderTest, SmallFilesOfEverySizeArriveWhole) {
  for (const char* name : {"size1.bin", "size7.bin", "size8.bin", "size9.bin", "size100.bin"}) {
    recorder_.Reset();
    const std::wstring wide(name, name + strlen(name));
    ASSERT_TRUE(Run(NginxUrl(L"/files/" + wide), L"small")) << name;
    EXPECT_EQ(recorder_.outcome, 1) << name;
    ExpectTargetIs(name);
    ExpectRisingPercentsEndingAt100();
    downloader_.reset();
  }
}

TEST_F(HttpDownloaderTest, EmptyFileIsAFailureWithoutRanges) {
  ASSERT_TRUE(Run(NginxUrl(L"/files/size0.bin"), L"empty"));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_TRUE(recorder_.percents.empty());
  EXPECT_FALSE(FileExists(downloader_->TargetPath()));
}

TEST_F(HttpDownloaderTest, LargeRandomFileMatchesItsSourceDigest) {
  const std::string& sha = Servers().sha256.at("big64.bin");
  ASSERT_TRUE(Run(NginxUrl(L"/files/big64.bin?token=1"), L"big", sha));
  EXPECT_EQ(recorder_.outcome, 1);
  EXPECT_EQ(downloader_->FileName(), L"big64.bin");
  EXPECT_EQ(downloader_->KnownFileSize(), 64.0 * 1024 * 1024);
  EXPECT_GT(downloader_->ElapsedSeconds(), 0.0);
  ExpectTargetIs("big64.bin");
  ExpectRisingPercentsEndingAt100();
}

TEST_F(HttpDownloaderTest, ServersThatIgnoreOrMisanswerRangesFallBackToOneDownload) {
  for (const wchar_t* prefix : {L"/ignore-range/", L"/bad-range/"}) {
    recorder_.Reset();
    ASSERT_TRUE(Run(FaultUrl(std::wstring(prefix) + L"size1m.bin"), L"norange")) << prefix;
    EXPECT_EQ(recorder_.outcome, 1) << prefix;
    ExpectTargetIs("size1m.bin");
    ExpectRisingPercentsEndingAt100();
    downloader_.reset();
  }
}

TEST_F(HttpDownloaderTest, DroppedOrStalledRangeResumesFromItsPartFile) {
  for (const wchar_t* kind : {L"drop", L"stall"}) {
    recorder_.Reset();
    const std::wstring url =
        FaultUrl(L"/fault/" + std::wstring(kind) + L"/1/50000/size1m.bin") + Nonce();
    ASSERT_TRUE(Run(url, L"resume", Servers().sha256.at("size1m.bin"), 2000)) << kind;
    EXPECT_EQ(recorder_.outcome, 1) << kind;
    ExpectTargetIs("size1m.bin");
    ExpectRisingPercentsEndingAt100();
    downloader_.reset();
  }
}

TEST_F(HttpDownloaderTest, RangeFailingFourTimesFailsAndTheNextStartRebuildsEverything) {
  const std::wstring url = FaultUrl(L"/fault/drop/4/1000/size1m.bin") + Nonce();
  ASSERT_TRUE(Run(url, L"retry"));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_FALSE(FileExists(downloader_->TargetPath()));

  // The server's faults are used up: a new attempt over the same downloader succeeds.
  recorder_.Reset();
  downloader_->Start();
  ASSERT_TRUE(recorder_.WaitFinished(kWatchdogMs));
  EXPECT_EQ(recorder_.outcome, 1);
  ExpectTargetIs("size1m.bin");
  ExpectRisingPercentsEndingAt100();
}

TEST_F(HttpDownloaderTest, DigestMismatchFailsAndLeavesNoTarget) {
  ASSERT_TRUE(Run(NginxUrl(L"/files/size1m.bin"), L"digest", std::string(64, '0')));
  EXPECT_EQ(recorder_.outcome, 0);
  EXPECT_FALSE(FileExists(downloader_->TargetPath()));
  ExpectNoParts();
}

TEST_F(HttpDownloaderTest, LastRangeResumingOrFailingAfterTheEarlierPartsWereJoined) {
  // The first seven parts are joined while the last range is still retrying.
  const struct {
    const wchar_t* path;
    LPARAM outcome;
  } cases[] = {{L"/fault/drop-last/1/50000/size1m.bin", 1},
               {L"/fault/drop-last/4/1000/size1m.bin", 0}};
  for (const auto& c : cases) {
    recorder_.Reset();
    ASSERT_TRUE(Run(FaultUrl(c.path) + Nonce(), L"lastrange", Servers().sha256.at("size1m.bin")))
        << c.path;
    EXPECT_EQ(recorder_.outcome, c.outcome) << c.path;
    if (c.outcome == 1) {
      ExpectTargetIs("size1m.bin");
      ExpectRisingPercentsEndingAt100();
    } else {
      EXPECT_FALSE(FileExists(downloader_->TargetPath())) << c.path;
      ExpectNoParts();
    }
    downloader_.reset();
  }
}

TEST_F(HttpDownloaderTest, UnreachableServersFailWithinBoundedTime) {
  for (const wchar_t* url :
       {L"http://127.0.0.1:1/package.exe", L"http://no-such-host.invalid/package.exe"}) {
    recorder_.Reset();
    ASSERT_TRUE(Run(url, L"unreachable")) << url;
    EXPECT_EQ(recorder_.outcome, 0) << url;
    downloader_.reset();
  }
}

}  // namespace
