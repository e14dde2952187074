// The range downloader: size query, eight range threads with resume, join, digest, messages.
#include "installer/HttpClient/HttpDownloader.h"

#include <process.h>

#include <cstdio>

#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/WininetHttp.h"
#include "installer/main/Log.h"

namespace {

constexpr double kAssumedSize = 125829120.0;
constexpr int kRetries = 3;
constexpr DWORD kFirstRetryPauseMs = 1000;
constexpr DWORD kCopyBlock = CSha256Pipe::kBlockSize;
// How long the join waits for a part to grow before looking again: long enough to move
// hundreds of kilobytes per look, short beside a download of seconds.
constexpr DWORD kFollowPollMs = 100;

long long NowTicks() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  // 100-nanosecond units, split to avoid overflowing on long uptimes.
  const long long seconds = counter.QuadPart / frequency.QuadPart;
  const long long rest = counter.QuadPart % frequency.QuadPart;
  return seconds * 10000000LL + rest * 10000000LL / frequency.QuadPart;
}

double TicksToSeconds(long long ticks) {
  return static_cast<long long>(ticks / 10) / 1000000.0;
}

HANDLE StartThread(unsigned(__stdcall* proc)(void*), void* argument, unsigned* id = nullptr) {
  unsigned thread_id = 0;
  const uintptr_t handle = ::_beginthreadex(nullptr, 0, proc, argument, 0, &thread_id);
  if (id) *id = thread_id;
  return reinterpret_cast<HANDLE>(handle);
}

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Appends the whole of `from` to `to`; the byte count appended, -1 on failure.
long long AppendFile(const std::wstring& from, const std::wstring& to) {
  nbase::UniqueFileHandle source(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
  if (!source) return -1;
  // The join may be reading the part while its range resumes.
  nbase::UniqueFileHandle target(::CreateFileW(to.c_str(), FILE_APPEND_DATA,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               OPEN_ALWAYS, 0, nullptr));
  if (!target) return -1;
  std::vector<char> buffer(kCopyBlock);
  long long total = 0;
  for (;;) {
    DWORD got = 0, put = 0;
    if (!::ReadFile(source.get(), buffer.data(), kCopyBlock, &got, nullptr)) return -1;
    if (got == 0) break;
    if (!::WriteFile(target.get(), buffer.data(), got, &put, nullptr) || put != got) return -1;
    total += got;
  }
  return total;
}

// Faults that another try may cure: the connection broke, stalled or could not be made.
bool IsTransient(int error) {
  return error == HttpErrOpen || error == HttpErrConnect || error == HttpErrSend ||
         error == HttpErrQuery || error == HttpErrRead;
}

// Appends parts to the target in order. With a digest wanted, each block read goes to the
// hashing thread while the next one is read and written.
class PartJoiner {
 public:
  PartJoiner(const std::wstring& target, bool digest)
      : target_(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    if (!target_) {
      LOG_ERR(L"download merge cannot create the target, error:%d",
              static_cast<int>(::GetLastError()));
      return;
    }
    if (digest) {
      pipe_ = std::make_unique<CSha256Pipe>();
    } else {
      buffer_.resize(kCopyBlock);
    }
  }

  bool ready() const { return target_.valid(); }
  long long written() const { return written_; }
  std::string Digest() { return pipe_ ? pipe_->Finish() : std::string(); }

  // Copies the range's part as it grows until its thread has ended, then deletes it. True when
  // the whole range was joined; false when it failed or its bytes could not be copied.
  bool Follow(_DOWNLOAD_RANGE_THREAD_PARAMETER& range) {
    if (range.size == 0) return true;
    nbase::UniqueFileHandle part;
    long long taken = 0;
    for (;;) {
      // Looked at before the copy: once the thread has ended, one more pass finds every byte.
      const bool ended =
          !range.thread || ::WaitForSingleObject(range.thread.get(), 0) == WAIT_OBJECT_0;
      if (ended && range.state != RangeFinished) return false;
      if (!part) {
        // The range thread creates, truncates and appends to the part while it is read here.
        part.reset(::CreateFileW(range.part_path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      }
      const long long before = taken;
      if (part && !Drain(part.get(), range.size, taken)) return false;
      if (ended) break;
      if (taken == before) ::WaitForSingleObject(range.thread.get(), kFollowPollMs);
    }
    part.reset();
    if (taken != range.size) {
      LOG_ERR(L"download merge took %lld of %lld bytes of thread index:%d", taken, range.size,
              range.index);
      return false;
    }
    ::DeleteFileW(range.part_path.c_str());
    return true;
  }

 private:
  // Copies what the part holds beyond `taken`, never past `limit` bytes: a retry from the
  // range's start rewrites the same bytes, so what was taken stays valid.
  bool Drain(HANDLE part, long long limit, long long& taken) {
    while (taken < limit) {
      char* block = pipe_ ? pipe_->Acquire() : buffer_.data();
      const long long rest = limit - taken;
      const DWORD want = rest < kCopyBlock ? static_cast<DWORD>(rest) : kCopyBlock;
      DWORD got = 0, put = 0;
      if (!::ReadFile(part, block, want, &got, nullptr)) {
        LOG_ERR(L"download merge cannot read a part, error:%d", static_cast<int>(::GetLastError()));
        return false;
      }
      if (got == 0) break;
      if (!::WriteFile(target_.get(), block, got, &put, nullptr) || put != got) {
        LOG_ERR(L"download merge cannot write the target, error:%d",
                static_cast<int>(::GetLastError()));
        return false;
      }
      if (pipe_) pipe_->Submit(got);
      taken += got;
      written_ += got;
    }
    return true;
  }

  nbase::UniqueFileHandle target_;
  std::unique_ptr<CSha256Pipe> pipe_;
  std::vector<char> buffer_;
  long long written_ = 0;
};

}  // namespace

struct CHttpDownloader::DownloadStart {
  CHttpDownloader* owner;
  HANDLE previous;  // the previous attempt's thread, owned by the new one
};

CHttpDownloader::CHttpDownloader(HWND window, const std::wstring& url, const std::wstring& folder,
                                 const std::string& expected_sha256)
    : start_event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      // Manual reset: every thread of the downloader watches it once shutdown begins.
      quit_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      url_(url),
      folder_(folder),
      file_name_(FileNameFromUrl(url)),
      window_(window),
      expected_sha256_(expected_sha256) {
  size_thread_.reset(StartThread(&CHttpDownloader::SizeQueryThread, this));
  progress_thread_.reset(StartThread(&CHttpDownloader::ProgressThread, this, &progress_thread_id_));
  ::SetEvent(start_event_.get());
}

CHttpDownloader::~CHttpDownloader() {
  stop_ = true;
  ::SetEvent(quit_event_.get());
  // The progress thread may be inside SendMessage to a window of this thread; keep handling
  // sent messages while waiting so neither side blocks the other.
  HANDLE threads[] = {download_thread_.get(), size_thread_.get(), progress_thread_.get()};
  for (HANDLE thread : threads) {
    if (!thread) continue;
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  ClearRanges();
}

std::wstring CHttpDownloader::FileNameFromUrl(const std::wstring& url) {
  // The query goes first, so a "/" inside it cannot pass for the last path segment.
  const std::wstring path = url.substr(0, url.find(L'?'));
  const size_t slash = path.rfind(L'/');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find(L'&'));
  if (name.size() > 255) name.resize(255);
  return name;
}

bool CHttpDownloader::RangeBounds(long long size, int index, long long& first, long long& last) {
  const long long per = size / kRangeCount;
  first = index * per;
  last = index < kRangeCount - 1 ? first + per - 1 : size - 1;
  return last >= first;
}

double CHttpDownloader::ElapsedSeconds() const {
  return TicksToSeconds(end_time_.load() - start_time_.load());
}

double CHttpDownloader::JoinSeconds() const {
  return TicksToSeconds(join_ticks_.load());
}

void CHttpDownloader::OnProgress(void* param, int state, double total, double done) {
  if (!param || done > total) return;
  // A failure report carries no counts; the bytes already stored stay counted.
  if (state == ProgressFailed) return;
  Range* range = static_cast<Range*>(param);
  range->done = range->kept + static_cast<long long>(done);
}

bool CHttpDownloader::Pause(DWORD milliseconds) {
  return ::WaitForSingleObject(quit_event_.get(), milliseconds) == WAIT_TIMEOUT;
}

unsigned __stdcall CHttpDownloader::SizeQueryThread(void* self) noexcept {
  auto* downloader = static_cast<CHttpDownloader*>(self);
  downloader->known_size_ = downloader->QuerySize();
  return 0;
}

double CHttpDownloader::QuerySize() {
  IHttpBase* client = nullptr;
  if (!CreateHttpClient(&client, HttpClientWininet)) return kAssumedSize;
  static_cast<CWininetHttp*>(client)->SetReceiveTimeout(stall_timeout_ms_.load());
  const double size = client->QueryContentLength(url_.c_str());
  LOG_ERR(L"download get file length last error:%d", static_cast<int>(::GetLastError()));
  LOG_ERR(L"download get file length http error:%d", static_cast<int>(client->LastError()));
  client->Release();
  return size;
}

unsigned __stdcall CHttpDownloader::ProgressThread(void* self) noexcept {
  static_cast<CHttpDownloader*>(self)->RunProgress();
  return 0;
}

void CHttpDownloader::RunProgress() {
  HANDLE events[] = {start_event_.get(), quit_event_.get()};
  if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) return;
  while (Pause(500)) ReportProgress();
}

void CHttpDownloader::ReportProgress() {
  long long done = 0, size = 0;
  {
    nbase::AutoLock lock(ranges_lock_);
    if (ranges_.empty()) return;
    for (const auto& range : ranges_) {
      done += range->done.load();
      size += range->size;
    }
  }
  if (!window_ || size <= 0) return;
  const int percent =
      static_cast<int>(static_cast<double>(done) / static_cast<double>(size) * 100.0);
  nbase::AutoLock lock(report_lock_);
  if (percent <= last_percent_.load()) return;
  last_percent_ = percent;
  DownloadProgress progress{this, percent};
  ::SendMessageW(window_, WM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&progress));
  LOG_APP(L"download progress:%d", percent);
}

void CHttpDownloader::Start() {
  last_percent_ = 0;
  auto* start = new DownloadStart{this, download_thread_.release()};
  HANDLE thread = StartThread(&CHttpDownloader::DownloadThread, start);
  if (!thread) {
    download_thread_.reset(start->previous);
    delete start;
    LOG_ERR(L"download thread could not start");
    if (window_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, 0);
    return;
  }
  download_thread_.reset(thread);
}

unsigned __stdcall CHttpDownloader::DownloadThread(void* argument) noexcept {
  DownloadStart* start = static_cast<DownloadStart*>(argument);
  CHttpDownloader* owner = start->owner;
  nbase::UniqueHandle previous(start->previous);
  delete start;
  if (previous) ::WaitForSingleObject(previous.get(), INFINITE);
  owner->RunDownload();
  return 0;
}

std::vector<_DOWNLOAD_RANGE_THREAD_PARAMETER*> CHttpDownloader::Snapshot() {
  nbase::AutoLock lock(ranges_lock_);
  std::vector<Range*> ranges;
  for (const auto& range : ranges_) ranges.push_back(range.get());
  return ranges;
}

void CHttpDownloader::ClearRanges() {
  std::vector<std::unique_ptr<Range>> ended;
  {
    nbase::AutoLock lock(ranges_lock_);
    ended.swap(ranges_);
  }
  // Only the download thread clears, after joining; the handles are merely closed here.
}

void CHttpDownloader::RunDownload() {
  start_time_ = NowTicks();
  end_time_ = start_time_.load();
  join_ticks_ = 0;
  ClearRanges();
  LOG_APP(L"start download");
  const double queried = QuerySize();
  known_size_ = queried;
  const long long size = static_cast<long long>(queried);
  LOG_APP(L"download file size:%lld", size);
  if (size <= 0) {
    end_time_ = NowTicks();
    if (window_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, 0);
    return;
  }

  LOG_APP(L"create download thread");
  const std::wstring target = TargetPath();
  {
    nbase::AutoLock lock(ranges_lock_);
    for (int i = 0; i < kRangeCount; ++i) {
      auto range = std::make_unique<Range>();
      range->owner = this;
      range->index = i;
      const bool has_bytes = RangeBounds(size, i, range->first, range->last);
      range->size = has_bytes ? range->last - range->first + 1 : 0;
      range->url = url_;
      range->part_path = target + nbase::StringPrintf(L".%lld-%lld", range->first, range->last);
      // Below 8 bytes the leading ranges are empty: nothing to request, nothing to join.
      if (!has_bytes) {
        range->state = RangeFinished;
      } else {
        range->thread.reset(StartThread(&CHttpDownloader::RangeThread, range.get()));
        if (!range->thread) range->state = RangeFailed;
      }
      ranges_.push_back(std::move(range));
    }
  }
  std::vector<Range*> ranges = Snapshot();
  std::string digest;
  const bool joined =
      JoinWhileDownloading(ranges, size, expected_sha256_.empty() ? nullptr : &digest);
  const long long joined_at = NowTicks();

  bool ignored_range = false;
  int finished = 0;
  long long last_end = start_time_.load();
  for (Range* range : ranges) {
    if (range->state == RangeFinished) ++finished;
    if (range->error == HttpErrRange) ignored_range = true;
    if (range->ended_at > last_end) last_end = range->ended_at;
  }
  end_time_ = last_end;

  bool ok = false;
  if (ignored_range && !stop_) {
    // The server does not honour ranges: the parts would not be the file. Fetch it whole.
    LOG_WAR(L"download server ignores ranges, fetching the whole file");
    for (Range* range : ranges) ::DeleteFileW(range->part_path.c_str());
    auto whole = std::make_unique<Range>();
    whole->owner = this;
    whole->first = 0;
    whole->last = size - 1;
    whole->size = size;
    whole->url = url_;
    whole->part_path = target;
    whole->whole_file = true;
    Range* plain = whole.get();
    {
      nbase::AutoLock lock(ranges_lock_);
      ranges_.clear();
      ranges_.push_back(std::move(whole));
    }
    RunRange(plain);
    end_time_ = NowTicks();
    const long long join_start = NowTicks();
    ok = plain->state == RangeFinished && FileSize(target) == size &&
         DigestMatches(expected_sha256_.empty() ? std::string() : FileSha256Hex(target));
    join_ticks_ = NowTicks() - join_start;
  } else {
    ok = finished == kRangeCount && joined && DigestMatches(digest);
    join_ticks_ = joined_at > last_end ? joined_at - last_end : 0;
  }
  if (!ok) {
    ::DeleteFileW(target.c_str());
  } else {
    ReportProgress();
  }
  LOG_APP(L"download finished:%d", ok ? 1 : 0);
  if (window_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, ok ? 1 : 0);
  Pause(1000);
  ClearRanges();
}

unsigned __stdcall CHttpDownloader::RangeThread(void* argument) noexcept {
  Range* range = static_cast<Range*>(argument);
  range->owner->RunRange(range);
  return 0;
}

void CHttpDownloader::RunRange(Range* range) {
  DWORD pause = kFirstRetryPauseMs;
  for (int attempt = 0; attempt <= kRetries; ++attempt) {
    if (attempt > 0) {
      LOG_WAR(L"download retry %d of thread index:%d from byte %lld", attempt, range->index,
              range->first + range->kept);
      if (!Pause(pause)) break;
      pause *= 2;
    }
    if (FetchRangeOnce(range)) {
      LOG_APP(L"download fnished thread index:%d", range->index);
      range->ended_at = NowTicks();
      range->state = RangeFinished;
      return;
    }
    if (!IsTransient(range->error)) break;
  }
  range->ended_at = NowTicks();
  range->state = RangeFailed;
}

bool CHttpDownloader::FetchRangeOnce(Range* range) {
  IHttpBase* client = nullptr;
  if (!CreateHttpClient(&client, HttpClientWininet)) {
    range->error = HttpErrOpen;
    return false;
  }
  // Type 1 is always the WinINet client.
  static_cast<CWininetHttp*>(client)->SetReceiveTimeout(stall_timeout_ms_.load());
  client->SetProgressSink(this, range);
  // A whole-file fetch cannot resume: the server has shown that it ignores ranges.
  if (range->whole_file) range->kept = 0;
  const bool resume = range->kept > 0;
  if (!range->whole_file) {
    const std::string value =
        nbase::StringPrintf("bytes=%lld-%lld", range->first + range->kept, range->last);
    client->AddRequestHeader("Range", value.c_str());
  }
  const std::wstring destination = resume ? range->part_path + L".resume" : range->part_path;
  const bool ok = client->FetchToFile(range->url.c_str(), destination.c_str());
  range->error = client->LastError();
  if (!ok) {
    LOG_ERR(L"download failed error. last error:%d,thread index:%d",
            static_cast<int>(::GetLastError()), range->index);
    LOG_ERR(L"download failed error:%d,thread index:%d", static_cast<int>(client->LastError()),
            range->index);
  }
  client->Release();

  // Keep whatever arrived, so a retry asks only for the rest.
  if (resume) {
    const long long appended = AppendFile(destination, range->part_path);
    ::DeleteFileW(destination.c_str());
    if (appended < 0) {
      range->kept = 0;
      range->done = 0;
      return false;
    }
  }
  const long long stored = FileSize(range->part_path);
  range->kept = stored > 0 && stored <= range->size && !range->whole_file ? stored : 0;
  if (ok) return stored == range->size;
  // Everything may have arrived even though the request reported a fault afterwards.
  return !range->whole_file && stored == range->size;
}

bool CHttpDownloader::JoinWhileDownloading(const std::vector<Range*>& ranges, long long size,
                                           std::string* digest) {
  const std::wstring target = TargetPath();
  ::DeleteFileW(target.c_str());
  // The digest is taken while the parts are joined, and the part whose predecessors are all
  // joined is taken while it downloads: what is left once the last range ends is as little of
  // the package as the order of the join allows.
  PartJoiner joiner(target, digest != nullptr);
  bool joining = joiner.ready();
  for (Range* range : ranges) {
    if (joining) joining = joiner.Follow(*range);
    if (range->thread) ::WaitForSingleObject(range->thread.get(), INFINITE);
  }
  for (Range* range : ranges) ::DeleteFileW(range->part_path.c_str());
  if (joining && joiner.written() != size) {
    LOG_ERR(L"download merge wrote %lld of %lld bytes", joiner.written(), size);
    joining = false;
  }
  if (joining && digest) *digest = joiner.Digest();
  return joining;
}

bool CHttpDownloader::DigestMatches(const std::string& actual) {
  if (expected_sha256_.empty()) return true;
  if (SameHexDigest(actual, expected_sha256_)) return true;
  LOG_ERR(L"download digest mismatch: %ls", nbase::UTF8ToUTF16(actual).c_str());
  return false;
}
