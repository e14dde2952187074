// The downloader's shell: the probe, the attempts and their threads, reads in small bounded
// steps, writes in place, the following digest, the resume state and the window's messages.
#include "installer/HttpClient/HttpDownloader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "installer/HttpClient/DownloadState.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/Sha256.h"
#include "installer/HttpClient/WininetHttp.h"
#include "installer/main/Log.h"

namespace {

constexpr double kAssumedSize = 125829120.0;
constexpr int kRetries = 3;
constexpr DWORD kReadBlock = 65536;
constexpr DWORD kHashBlock = 256 << 10;
constexpr long long kTicksPerSecond = PieceScheduler::kTicksPerSecond;
// No single read or answer keeps a connection's thread longer than this, so every thread sees
// the end of its attempt, a quitting owner or a new Start within a few seconds.
constexpr DWORD kMaxStepMs = 5000;
// How long an idle connection waits before it asks the scheduler again, and the longest the
// download thread sleeps between its looks at the clock.
constexpr DWORD kIdlePollMs = 100;
constexpr DWORD kTickMs = 250;
constexpr DWORD kHashPollMs = 20;
// A previous attempt's threads end within a read step; this is the bound on waiting for them.
constexpr DWORD kJoinMs = 20000;
// Rounds of one Start: a sign-in page, a glitch or a new version ends a round early.
constexpr int kMaxRounds = 4;
constexpr size_t kMaxStateFile = 1 << 20;

using ClientPtr = WininetClientPtr;

ClientPtr MakeClient() {
  IHttpBase* client = nullptr;
  // Type 1 is always the WinINet client.
  CreateHttpClient(&client, HttpClientWininet);
  return ClientPtr(static_cast<CWininetHttp*>(client));
}

long long NowTicks() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  // 100-nanosecond units, split to avoid overflowing on long uptimes.
  const long long seconds = counter.QuadPart / frequency.QuadPart;
  const long long rest = counter.QuadPart % frequency.QuadPart;
  return seconds * kTicksPerSecond + rest * kTicksPerSecond / frequency.QuadPart;
}

double TicksToSeconds(long long ticks) {
  return static_cast<long long>(ticks / 10) / 1000000.0;
}

nbase::UniqueHandle StartThread(unsigned(__stdcall* proc)(void*), void* argument,
                                unsigned* id = nullptr) {
  return nbase::StartThread(
      "download", [proc, argument] { proc(argument); }, id);
}

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

OVERLAPPED At(long long offset) {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset & 0xffffffffLL);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

bool DiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// Faults that another try may cure: the connection broke, stalled or could not be made.
bool IsTransient(int error) {
  return error == HttpErrOpen || error == HttpErrConnect || error == HttpErrSend ||
         error == HttpErrQuery || error == HttpErrRead;
}

AnswerHead ReadHead(CWininetHttp& client) {
  AnswerHead head;
  head.status = client.StatusCode();
  head.length = client.ResponseHeader(HTTP_QUERY_CONTENT_LENGTH, &head.has_length);
  head.content_range = client.ResponseHeader(HTTP_QUERY_CONTENT_RANGE, &head.has_range);
  head.content_type = client.ResponseHeader(HTTP_QUERY_CONTENT_TYPE);
  head.content_encoding = client.ResponseHeader(HTTP_QUERY_CONTENT_ENCODING, &head.has_encoding);
  head.etag = client.ResponseHeader(HTTP_QUERY_ETAG);
  head.last_modified = client.ResponseHeader(HTTP_QUERY_LAST_MODIFIED);
  return head;
}

// Reads a little of an answer that is not used, so that small error pages leave their
// connection reusable; a large unwanted body is cut off by closing instead.
void Discard(CWininetHttp& client) {
  char buffer[4096];
  for (int i = 0; i < 16; ++i) {
    DWORD got = 0;
    if (!client.ReadAvailable(buffer, sizeof(buffer), &got) || got == 0) break;
  }
  client.CloseStream();
}

}  // namespace

// One attempt: its scheduler (used under the downloader's lock), connections and end signal.
// Shared by the download thread and the attempt's own threads, so a thread that ends late
// still finds what it refers to.
struct DownloadAttempt {
  DownloadAttempt(const PieceScheduler::Settings& settings,
                  const std::vector<PieceScheduler::Stretch>& done, long long now)
      : scheduler(settings, done, now), over_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  PieceScheduler scheduler;
  FileFacts facts;
  std::vector<std::unique_ptr<_DOWNLOAD_RANGE_THREAD_PARAMETER>> ranges;
  nbase::UniqueHandle over_event;  // manual reset: set once the scheduler is over
  std::atomic<bool> over{false};
  std::atomic<long long> received{0};
  // State-file record of this attempt closed (under the downloader's state lock).
  bool state_closed = false;
  // The following digest's result, read after its thread ended.
  std::string digest;
  FileIdentity hashed_file;
  std::atomic<long long> hashed{0};

  // Under the downloader's lock: tells every thread once the scheduler is over.
  void SignalIfOver() {
    if (scheduler.over() && !over.exchange(true)) ::SetEvent(over_event.get());
  }
};

struct CHttpDownloader::DownloadStart {
  CHttpDownloader* owner;
  HANDLE previous;  // the previous attempt's thread, owned by the new one
};

struct CHttpDownloader::Probe {
  FileFacts facts;
  int error = HttpOk;
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
  size_thread_ = StartThread(&CHttpDownloader::SizeQueryThread, this);
  progress_thread_ = StartThread(&CHttpDownloader::ProgressThread, this, &progress_thread_id_);
  ::SetEvent(start_event_.get());
}

CHttpDownloader::~CHttpDownloader() {
  stop_ = true;
  ::SetEvent(quit_event_.get());
  // The progress thread may be inside SendMessage to a window of this thread; keep handling
  // sent messages while waiting so neither side blocks the other. Every network wait of the
  // threads is bounded, so these waits end.
  auto wait_pumping = [](HANDLE thread) {
    if (!thread) return;
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  };
  for (HANDLE thread : {download_thread_.get(), size_thread_.get(), progress_thread_.get()}) {
    wait_pumping(thread);
  }
  // Connections that outlived their attempt's bound run this object's code too; only the
  // download threads, all ended now, add to the list.
  for (const nbase::UniqueHandle& thread : lingering_) wait_pumping(thread.get());
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

double CHttpDownloader::ElapsedSeconds() const {
  return TicksToSeconds(end_time_.load() - start_time_.load());
}

double CHttpDownloader::TailSeconds() const {
  return TicksToSeconds(tail_ticks_.load());
}

std::vector<CHttpDownloader::ConnectionStats> CHttpDownloader::Connections() const {
  nbase::AutoLock lock(stats_lock_);
  return stats_;
}

TakenDigest CHttpDownloader::FinishedDigest() const {
  nbase::AutoLock lock(stats_lock_);
  return finished_digest_;
}

void CHttpDownloader::OnProgress(void*, int, double, double) {
  // The connections read their answers themselves and count bytes as they write them.
}

bool CHttpDownloader::Pause(DWORD milliseconds) {
  return ::WaitForSingleObject(quit_event_.get(), milliseconds) == WAIT_TIMEOUT;
}

DWORD CHttpDownloader::RetryPause(int retry) const {
  return retry_pause_ms_.load() << std::min(retry, 8);
}

DWORD CHttpDownloader::StepTimeout() const {
  return std::min(stall_timeout_ms_.load(), kMaxStepMs);
}

unsigned __stdcall CHttpDownloader::SizeQueryThread(void* self) {
  auto* downloader = static_cast<CHttpDownloader*>(self);
  downloader->known_size_ = downloader->QuerySize();
  return 0;
}

double CHttpDownloader::QuerySize() {
  ClientPtr client = MakeClient();
  if (!client) return kAssumedSize;
  client->SetReceiveTimeout(StepTimeout());
  Probe probe;
  const bool ok = RunProbe(*client, probe);
  if (ok && !probe.facts.ranges) {
    // The whole file is on its way: the first attempt continues this answer rather than have
    // its rest drained when the handle closes.
    early_probe_ = std::make_unique<Probe>(probe);
    early_stream_ = std::move(client);
  }
  return ok ? static_cast<double>(probe.facts.size) : 0.0;
}

bool CHttpDownloader::RunProbe(CWininetHttp& client, Probe& probe) {
  for (int attempt = 0; attempt <= kRetries; ++attempt) {
    if (attempt > 0 && !Pause(RetryPause(attempt - 1))) return false;
    probe = Probe();
    const bool answered =
        client.OpenStream(url_.c_str(), "Range: bytes=0-0\r\nAccept-Encoding: identity\r\n");
    LOG_ERR(L"download get file length last error:%d", static_cast<int>(::GetLastError()));
    LOG_ERR(L"download get file length http error:%d", static_cast<int>(client.LastError()));
    if (!answered) {
      probe.error = client.LastError();
      if (IsTransient(probe.error)) continue;
      return false;
    }
    const AnswerHead head = ReadHead(client);
    const ProbeVerdict verdict = JudgeProbe(head, &probe.facts, &probe.error);
    if (verdict == ProbeVerdict::Retry) {
      Discard(client);
      continue;
    }
    if (verdict == ProbeVerdict::Failed) {
      if (probe.error == HttpErrProxyAuth) LOG_ERR(L"download proxy asks for credentials");
      if (probe.error == HttpErrSignIn) LOG_ERR(L"download answered by a page, not the file");
      LOG_ERR(L"download probe is unusable: status %d, error %d", head.status, probe.error);
      client.CloseStream();
      return false;
    }
    // The one byte of a range answer is read so that its connection can be reused.
    if (probe.facts.ranges) Discard(client);
    return true;
  }
  return false;
}

unsigned __stdcall CHttpDownloader::ProgressThread(void* self) {
  static_cast<CHttpDownloader*>(self)->RunProgress();
  return 0;
}

void CHttpDownloader::RunProgress() {
  HANDLE events[] = {start_event_.get(), quit_event_.get()};
  if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) return;
  while (Pause(500)) ReportProgress();
}

CHttpDownloader::ProgressSnapshot CHttpDownloader::Progress() const {
  ProgressSnapshot snapshot;
  {
    nbase::AutoLock lock(lock_);
    if (attempt_) {
      snapshot.total = attempt_->scheduler.size();
      for (const auto& stretch : attempt_->scheduler.DoneStretches()) {
        snapshot.done += stretch.end - stretch.first;
      }
    }
  }
  if (snapshot.total <= 0) snapshot.total = 0;
  snapshot.running = running_.load();
  {
    nbase::AutoLock lock(progress_lock_);
    snapshot.rate = rate_;
  }
  const long long since = std::max(last_byte_at_.load(), start_time_.load());
  snapshot.idle_seconds = since > 0 ? TicksToSeconds(NowTicks() - since) : 0;
  snapshot.running_seconds = snapshot.running ? TicksToSeconds(NowTicks() - start_time_.load()) : 0;
  return snapshot;
}

void CHttpDownloader::ReportProgress() {
  long long written = 0, size = 0;
  {
    nbase::AutoLock lock(lock_);
    if (!attempt_) return;
    size = attempt_->scheduler.size();
    if (size <= 0) return;
    for (const auto& stretch : attempt_->scheduler.DoneStretches()) {
      written += stretch.end - stretch.first;
    }
  }
  {
    // The rate is smoothed over a few seconds, so the time left does not jump with each read.
    nbase::AutoLock lock(progress_lock_);
    const long long now = NowTicks();
    if (rate_sample_bytes_ >= 0 && written >= rate_sample_bytes_ && now > rate_sample_at_) {
      const double sample =
          static_cast<double>(written - rate_sample_bytes_) / TicksToSeconds(now - rate_sample_at_);
      rate_ = rate_ > 0 ? rate_ * 0.8 + sample * 0.2 : sample;
    }
    rate_sample_at_ = now;
    rate_sample_bytes_ = written;
  }
  if (!window_) return;
  const int percent =
      static_cast<int>(static_cast<double>(written) / static_cast<double>(size) * 100.0);
  nbase::AutoLock lock(report_lock_);
  if (percent <= last_percent_.load()) return;
  last_percent_ = percent;
  DownloadProgress progress{this, percent};
  ::SendMessageW(window_, WM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&progress));
  LOG_APP(L"download progress:%d", percent);
}

void CHttpDownloader::Start() {
  last_percent_ = 0;
  {
    // A new attempt may write other bytes: the last one's digest no longer describes them.
    nbase::AutoLock lock(stats_lock_);
    finished_digest_ = TakenDigest();
  }
  auto* start = new DownloadStart{this, download_thread_.release()};
  nbase::UniqueHandle thread = StartThread(&CHttpDownloader::DownloadThread, start);
  if (!thread) {
    download_thread_.reset(start->previous);
    delete start;
    LOG_ERR(L"download thread could not start");
    if (window_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, 0);
    return;
  }
  download_thread_ = std::move(thread);
}

unsigned __stdcall CHttpDownloader::DownloadThread(void* argument) {
  DownloadStart* start = static_cast<DownloadStart*>(argument);
  CHttpDownloader* owner = start->owner;
  nbase::UniqueHandle previous(start->previous);
  delete start;
  // The previous attempt's threads end within a read step once it is over.
  if (previous && ::WaitForSingleObject(previous.get(), kJoinMs) != WAIT_OBJECT_0) {
    LOG_ERR(L"download: the previous attempt did not end in time");
    owner->failure_ = HttpErrCancelled;
    if (owner->window_ && !owner->stop_) {
      ::PostMessageW(owner->window_, WM_DOWNLOAD_FINISHED, 0, 0);
    }
    // It must still end before this downloader may be destroyed.
    ::WaitForSingleObject(previous.get(), INFINITE);
    return 0;
  }
  owner->RunDownload();
  return 0;
}

void CHttpDownloader::RunDownload() {
  start_time_ = NowTicks();
  end_time_ = start_time_.load();
  tail_ticks_ = 0;
  failure_ = HttpOk;
  received_ = 0;
  running_ = true;
  {
    nbase::AutoLock lock(progress_lock_);
    rate_ = 0;
    rate_sample_bytes_ = -1;
  }
  LOG_APP(L"start download");
  bool ok = false;
  int error = HttpOk;
  // The size query's answer may be the whole file, kept for this attempt; it is looked at
  // once that query is over.
  HANDLE size_query[] = {size_thread_.get(), quit_event_.get()};
  if (size_query[0]) ::WaitForMultipleObjects(2, size_query, FALSE, INFINITE);
  bool changed = false;
  FileFacts suspected;  // what the file was when an answer looked like something else
  bool have_suspect = false;
  for (int round = 0; round < kMaxRounds && !stop_; ++round) {
    ClientPtr client = MakeClient();
    Probe probe;
    if (early_stream_ && round == 0) {
      client = std::move(early_stream_);
      probe = *early_probe_;
    } else {
      early_stream_.reset();
    }
    if (!client) {
      error = HttpErrOpen;
      break;
    }
    client->SetReceiveTimeout(StepTimeout());
    if (probe.facts.size == 0 && !RunProbe(*client, probe)) {
      error = probe.error != HttpOk ? probe.error : HttpErrStatus;
      if (error == HttpErrSignIn) {
        LOG_WAR(L"download: the network answers with a page; what is on disk is kept");
      }
      break;
    }
    if (have_suspect) {
      const bool same = probe.facts.size == suspected.size &&
                        probe.facts.validator == suspected.validator &&
                        probe.facts.ranges == suspected.ranges;
      have_suspect = false;
      if (!same) {
        // The probe confirms another version: everything kept belongs to the old one.
        if (changed) {
          error = HttpErrChanged;
          break;
        }
        changed = true;
        LOG_WAR(L"download file changed on the server, starting over");
        DeleteDownload();
      } else {
        LOG_WAR(L"download: the server's file is unchanged, going on from what is on disk");
      }
    }
    known_size_ = static_cast<double>(probe.facts.size);
    LOG_APP(L"download file size:%lld", probe.facts.size);
    const PieceScheduler::Outcome outcome = RunAttempt(client, probe);
    std::shared_ptr<DownloadAttempt> attempt;
    {
      nbase::AutoLock lock(lock_);
      attempt = attempt_;
      error = attempt ? attempt->scheduler.error()
                      : (failure_.load() != HttpOk ? failure_.load() : HttpErrCreateFile);
    }
    if (outcome == PieceScheduler::Outcome::Complete) {
      const long long last_byte = end_time_.load();
      ok = expected_sha256_.empty() || SameHexDigest(attempt->digest, expected_sha256_);
      if (!ok) {
        LOG_ERR(L"download digest mismatch: %ls", nbase::UTF8ToUTF16(attempt->digest).c_str());
        error = HttpErrDigest;
        DeleteDownload();
      } else if (!expected_sha256_.empty()) {
        nbase::AutoLock lock(stats_lock_);
        finished_digest_ = {attempt->digest, attempt->hashed_file};
      }
      tail_ticks_ = NowTicks() - last_byte;
      break;
    }
    if (outcome == PieceScheduler::Outcome::Suspect) {
      // An answer was not this file's bytes: a probe tells a sign-in page, which keeps every
      // byte on disk, from a new version, which starts over.
      LOG_WAR(L"download answer was not the file (error %d); asking the server again", error);
      suspected = probe.facts;
      have_suspect = true;
      continue;
    }
    break;
  }
  if (have_suspect && error == HttpOk) error = HttpErrSignIn;
  failure_ = ok ? HttpOk : (error != HttpOk ? error : HttpErrStatus);
  // A file that keeps changing leaves nothing worth keeping.
  if (failure_ == HttpErrChanged) DeleteDownload();
  if (!ok) {
    LOG_ERR(L"download failed error:%d", failure_.load());
  } else {
    ReportProgress();
  }
  LOG_APP(L"download finished:%d", ok ? 1 : 0);
  running_ = false;
  if (window_ && !stop_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, ok ? 1 : 0);
}

PieceScheduler::Outcome CHttpDownloader::RunAttempt(ClientPtr& probe_client, const Probe& probe) {
  std::vector<PieceScheduler::Stretch> done;
  if (!PrepareFile(probe, done)) return PieceScheduler::Outcome::Failed;
  PieceScheduler::Settings settings;
  settings.connections = probe.facts.ranges ? kRangeCount : 1;
  settings.size = probe.facts.size;
  settings.ranges = probe.facts.ranges;
  settings.retries = kRetries;
  settings.retry_pause = static_cast<long long>(retry_pause_ms_.load()) * 10000;
  settings.stall = static_cast<long long>(stall_timeout_ms_.load()) * 10000;
  settings.floor_window = static_cast<long long>(floor_ms_.load()) * 10000;
  settings.floor_bytes = floor_bytes_.load();
  auto attempt = std::make_shared<DownloadAttempt>(settings, done, NowTicks());
  attempt->facts = probe.facts;
  {
    nbase::AutoLock lock(lock_);
    attempt_ = attempt;
  }
  {
    nbase::AutoLock lock(state_lock_);
    attempt->state_closed = false;
  }

  LOG_APP(L"create download thread");
  const std::wstring path = DownloadPath();
  for (int i = 0; i < settings.connections; ++i) {
    auto range = std::make_unique<Range>();
    range->owner = this;
    range->index = i;
    range->file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    // The server sent the whole file for the probe: that answer is the one stream.
    if (!probe.facts.ranges) range->probe_stream = std::move(probe_client);
    attempt->ranges.push_back(std::move(range));
  }
  int started = 0;
  for (const auto& range : attempt->ranges) {
    Range* raw = range.get();
    if (raw->file) {
      raw->thread =
          nbase::StartThread("download range", [this, attempt, raw] { RunRange(attempt, raw); });
    }
    if (!raw->thread) {
      raw->state = RangeFailed;
      raw->probe_stream.reset();
      nbase::AutoLock lock(lock_);
      attempt->scheduler.Leave(raw->index, HttpErrOpen);
      attempt->SignalIfOver();
    } else {
      ++started;
    }
  }
  if (started == 0) {
    nbase::AutoLock lock(lock_);
    attempt->scheduler.Stop(PieceScheduler::Outcome::Failed, HttpErrOpen);
    attempt->SignalIfOver();
  }

  nbase::UniqueHandle hash_thread;
  if (!expected_sha256_.empty()) {
    hash_thread = nbase::StartThread("download digest", [this, attempt] { RunHash(attempt); });
  }

  // Time passes for the scheduler here: stalled requests are cut, the progress floor is
  // checked, and the attempt's end or the owner's quitting is seen.
  for (;;) {
    DWORD wait = kTickMs;
    {
      nbase::AutoLock lock(lock_);
      const long long now = NowTicks();
      std::vector<int> cut;
      const long long wake = attempt->scheduler.Tick(now, &cut);
      for (int index : cut) {
        LOG_WAR(L"download thread index:%d delivers nothing; its request is cut", index);
      }
      attempt->SignalIfOver();
      if (attempt->over) break;
      wait = static_cast<DWORD>(std::max(10LL, std::min<long long>(kTickMs, (wake - now) / 10000)));
    }
    HANDLE events[] = {attempt->over_event.get(), quit_event_.get()};
    const DWORD signalled = ::WaitForMultipleObjects(2, events, FALSE, wait);
    if (signalled == WAIT_OBJECT_0 + 1) {
      nbase::AutoLock lock(lock_);
      attempt->scheduler.Stop(PieceScheduler::Outcome::Stopped, HttpErrCancelled);
      attempt->SignalIfOver();
      break;
    }
  }
  // No write may follow the end of the attempt: the file is the owner's from here on.
  for (const auto& range : attempt->ranges) {
    nbase::AutoLock lock(range->write_lock);
    range->file.reset();
  }
  PieceScheduler::Outcome outcome;
  long long completed_at = 0;
  {
    nbase::AutoLock lock(lock_);
    outcome = attempt->scheduler.outcome();
    completed_at = attempt->scheduler.completed_at();
  }
  end_time_ = outcome == PieceScheduler::Outcome::Complete ? completed_at : NowTicks();
  if (outcome != PieceScheduler::Outcome::Complete) {
    LOG_ERR(L"download attempt ended without the file, error:%d", attempt->scheduler.error());
  }
  // Each connection ends within one read step once the attempt is over.
  const long long join_deadline = NowTicks() + kJoinMs * 10000LL;
  for (const auto& range : attempt->ranges) {
    if (!range->thread) continue;
    const long long left = (join_deadline - NowTicks()) / 10000;
    if (::WaitForSingleObject(range->thread.get(), static_cast<DWORD>(std::max(0LL, left))) !=
        WAIT_OBJECT_0) {
      LOG_ERR(L"download thread index:%d did not end in time", range->index);
      // It still runs this object's code: the destructor waits for it.
      nbase::AutoLock lock(stats_lock_);
      lingering_.push_back(std::move(range->thread));
    }
  }
  if (hash_thread) ::WaitForSingleObject(hash_thread.get(), INFINITE);
  if (outcome == PieceScheduler::Outcome::Complete && !expected_sha256_.empty() &&
      attempt->hashed.load() != probe.facts.size) {
    attempt->digest.clear();
  }
  if (outcome == PieceScheduler::Outcome::Complete) {
    nbase::AutoLock lock(state_lock_);
    attempt->state_closed = true;
    ::DeleteFileW(StatePath().c_str());
  } else if (probe.facts.ranges && !probe.facts.validator.empty()) {
    // A sign-in page, a glitch or a failure keeps every byte for the next attempt; only a
    // probe that confirms another version drops them.
    SaveState(*attempt, true);
  } else {
    // Without ranges or a validator no later attempt could build on these bytes.
    DeleteDownload();
  }
  received_ += attempt->received.load();
  {
    nbase::AutoLock lock(stats_lock_);
    nbase::AutoLock scheduler_lock(lock_);
    stats_.clear();
    for (int i = 0; i < attempt->scheduler.connections(); ++i) {
      const PieceScheduler::ConnectionStats& work = attempt->scheduler.Stats(i);
      ConnectionStats stats;
      stats.bytes = work.bytes;
      stats.pieces = work.pieces;
      stats.retries = work.retries;
      stats.takeovers = work.takeovers;
      stats_.push_back(stats);
    }
  }
  return outcome;
}

bool CHttpDownloader::PrepareFile(const Probe& probe, std::vector<PieceScheduler::Stretch>& done) {
  const std::wstring path = DownloadPath();
  done.clear();
  const bool resume = probe.facts.ranges && !probe.facts.validator.empty() &&
                      FileSize(path) == probe.facts.size && LoadState(probe, done);
  if (resume) {
    long long kept = 0;
    for (const auto& stretch : done) kept += stretch.end - stretch.first;
    LOG_APP(L"download resumes with %lld of %lld bytes on disk", kept, probe.facts.size);
    return true;
  }
  done.clear();
  DeleteDownload();
  nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, 0, nullptr));
  if (!file) {
    LOG_ERR(L"download cannot create its file, error:%d", static_cast<int>(::GetLastError()));
    nbase::AutoLock lock(lock_);
    attempt_.reset();
    return false;
  }
  // The whole size is claimed at once: a full disk shows now, not at the last piece.
  LARGE_INTEGER size;
  size.QuadPart = probe.facts.size;
  if (!::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
    const DWORD error = ::GetLastError();
    LOG_ERR(L"download cannot reserve %lld bytes, error:%d", probe.facts.size,
            static_cast<int>(error));
    file.reset();
    ::DeleteFileW(path.c_str());
    failure_ = DiskFull(error) ? HttpErrDiskFull : HttpErrCreateFile;
    nbase::AutoLock lock(lock_);
    attempt_.reset();
    return false;
  }
  return true;
}

bool CHttpDownloader::LoadState(const Probe& probe, std::vector<PieceScheduler::Stretch>& done) {
  nbase::UniqueFileHandle file(::CreateFileW(StatePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER length;
  if (!file || !::GetFileSizeEx(file.get(), &length) || length.QuadPart <= 0 ||
      length.QuadPart > static_cast<long long>(kMaxStateFile)) {
    return false;
  }
  std::string text(static_cast<size_t>(length.QuadPart), '\0');
  DWORD got = 0;
  if (!::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) {
    return false;
  }
  text.resize(got);
  return ParseDownloadState(text, nbase::UTF16ToUTF8(url_), probe.facts.size, probe.facts.validator,
                            &done);
}

void CHttpDownloader::SaveState(DownloadAttempt& attempt, bool final) {
  nbase::AutoLock state_lock(state_lock_);
  if (attempt.state_closed) return;
  if (final) attempt.state_closed = true;
  // Without ranges or a validator a later attempt could not continue safely.
  if (!attempt.facts.ranges || attempt.facts.validator.empty()) return;
  std::vector<PieceScheduler::Stretch> done;
  {
    nbase::AutoLock lock(lock_);
    done = attempt.scheduler.DoneStretches();
  }
  const std::string text = FormatDownloadState(nbase::UTF16ToUTF8(url_), attempt.facts.size,
                                               attempt.facts.validator, done);
  // Written aside and moved over the old one, so a crash leaves one whole record or the other.
  const std::wstring temporary = StatePath() + L".new";
  {
    nbase::UniqueFileHandle file(
        ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    if (!file ||
        !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) ||
        put != text.size()) {
      return;
    }
  }
  ::MoveFileExW(temporary.c_str(), StatePath().c_str(), MOVEFILE_REPLACE_EXISTING);
}

void CHttpDownloader::DeleteDownload() {
  nbase::AutoLock lock(state_lock_);
  {
    nbase::AutoLock scheduler_lock(lock_);
    if (attempt_) attempt_->state_closed = true;
  }
  ::DeleteFileW(DownloadPath().c_str());
  ::DeleteFileW(StatePath().c_str());
  ::DeleteFileW((StatePath() + L".new").c_str());
}

void CHttpDownloader::RunRange(const std::shared_ptr<DownloadAttempt>& attempt, Range* range) {
  DownloadAttempt& run = *attempt;
  const bool had_probe = static_cast<bool>(range->probe_stream);
  ClientPtr client = had_probe ? std::move(range->probe_stream) : MakeClient();
  bool continues_probe = had_probe;
  std::vector<char> buffer(kReadBlock);
  int error = client ? HttpOk : HttpErrOpen;
  while (client && !run.over) {
    PieceScheduler::Work work;
    {
      nbase::AutoLock lock(lock_);
      work = run.scheduler.Next(range->index, NowTicks());
      run.SignalIfOver();
    }
    if (work.kind == PieceScheduler::Work::Quit) break;
    if (work.kind == PieceScheduler::Work::Wait) {
      const long long ms = (work.wake - NowTicks()) / 10000;
      const DWORD wait = static_cast<DWORD>(std::max(1LL, std::min<long long>(kIdlePollMs, ms)));
      if (::WaitForSingleObject(run.over_event.get(), wait) == WAIT_OBJECT_0) break;
      continue;
    }
    if (work.fresh && !continues_probe) {
      // The last try broke on a connection kept from before: this one starts anew.
      client = MakeClient();
      if (!client) {
        error = HttpErrOpen;
        break;
      }
    }
    const Fetch fetch = FetchPiece(run, range, *client, work, continues_probe, buffer.data());
    continues_probe = false;
    const int fetch_error = range->error.load();
    PieceScheduler::Ending ending = PieceScheduler::Ending::Done;
    switch (fetch) {
      case Fetch::Done:
      case Fetch::Cut:
      case Fetch::Over:
        ending = PieceScheduler::Ending::Done;
        break;
      case Fetch::Broken:
        ending = PieceScheduler::Ending::Broken;
        break;
      case Fetch::Refused:
        ending = PieceScheduler::Ending::Refused;
        break;
      case Fetch::Fatal:
        ending = PieceScheduler::Ending::Fatal;
        break;
      case Fetch::Suspect:
        ending = PieceScheduler::Ending::Suspect;
        break;
    }
    if (fetch == Fetch::Broken || fetch == Fetch::Refused || fetch == Fetch::Fatal) {
      error = fetch_error;
      LOG_ERR(L"download failed error. last error:%d,thread index:%d",
              static_cast<int>(::GetLastError()), range->index);
      LOG_ERR(L"download failed error:%d,thread index:%d", fetch_error, range->index);
    }
    bool piece_done = false;
    {
      nbase::AutoLock lock(lock_);
      run.scheduler.Ended(range->index, ending, fetch_error, client->StreamReused(), NowTicks());
      run.SignalIfOver();
      piece_done = fetch == Fetch::Done;
    }
    if (piece_done) SaveState(run, false);
  }
  client.reset();
  nbase::AutoLock lock(lock_);
  run.scheduler.Leave(range->index, error);
  run.SignalIfOver();
  const bool complete = run.scheduler.outcome() == PieceScheduler::Outcome::Complete;
  range->state = complete ? RangeFinished : RangeFailed;
  if (complete) LOG_APP(L"download fnished thread index:%d", range->index);
}

CHttpDownloader::Fetch CHttpDownloader::FetchPiece(DownloadAttempt& attempt, Range* range,
                                                   CWininetHttp& client,
                                                   const PieceScheduler::Work& work,
                                                   bool continues_probe, char* buffer) {
  const long long position = work.first;
  const long long asked_end = work.end;
  client.SetReceiveTimeout(StepTimeout());
  long long skip = 0;  // bytes of a whole-file answer already on disk
  bool length_known = true;
  if (continues_probe) {
    // The probe's answer, already checked, continues from its first byte.
    skip = position;
  } else {
    std::string headers = "Accept-Encoding: identity\r\n";
    if (work.close) headers += "Connection: close\r\n";
    if (attempt.facts.ranges) {
      headers += nbase::StringPrintf("Range: bytes=%lld-%lld\r\n", position, asked_end - 1);
      if (!attempt.facts.validator.empty()) {
        headers += "If-Range: " + attempt.facts.validator + "\r\n";
      }
    } else {
      skip = position;
    }
    if (!client.OpenStream(url_.c_str(), headers)) {
      range->error = client.LastError();
      const int error = client.LastError();
      return error == HttpErrNotFound || error == HttpErrRedirect ? Fetch::Fatal : Fetch::Broken;
    }
    int error = HttpOk;
    const PieceVerdict verdict = JudgePieceAnswer(ReadHead(client), attempt.facts, position,
                                                  asked_end, &error, &length_known);
    range->error = error;
    if (verdict != PieceVerdict::Body) {
      if (verdict == PieceVerdict::Refused) {
        Discard(client);
        return Fetch::Refused;
      }
      client.CloseStream();
      if (verdict == PieceVerdict::Suspect) return Fetch::Suspect;
      return verdict == PieceVerdict::Fatal ? Fetch::Fatal : Fetch::Broken;
    }
  }
  {
    nbase::AutoLock lock(lock_);
    attempt.scheduler.Answered(range->index, NowTicks());
  }
  long long at = position;
  for (;;) {
    if (at >= asked_end) break;
    {
      nbase::AutoLock lock(lock_);
      if (attempt.over || attempt.scheduler.ShouldCut(range->index)) {
        const bool over = attempt.over;
        client.CloseStream();
        return over ? Fetch::Over : Fetch::Cut;
      }
    }
    const long long wanted = skip > 0 ? skip : asked_end - at;
    const DWORD want = static_cast<DWORD>(std::min<long long>(kReadBlock, wanted));
    DWORD got = 0;
    if (!client.ReadAvailable(buffer, want, &got) || got == 0) {
      range->error = HttpErrRead;
      client.CloseStream();
      return Fetch::Broken;
    }
    attempt.received += got;
    last_byte_at_ = NowTicks();
    if (skip > 0) {
      skip -= got;
      continue;
    }
    long long usable = 0;
    {
      nbase::AutoLock lock(lock_);
      usable = attempt.scheduler.Received(range->index, got, NowTicks());
    }
    if (usable > 0 && !WriteAt(range, buffer, static_cast<DWORD>(usable), at)) {
      const DWORD error = ::GetLastError();
      client.CloseStream();
      nbase::AutoLock lock(lock_);
      if (attempt.over) return Fetch::Over;
      range->error = DiskFull(error) ? HttpErrDiskFull : HttpErrWrite;
      return Fetch::Fatal;
    }
    {
      nbase::AutoLock lock(lock_);
      attempt.scheduler.Written(range->index, usable, NowTicks());
      attempt.SignalIfOver();
    }
    at += got;
    if (usable < static_cast<long long>(got)) {
      // Another connection has the rest now.
      client.CloseStream();
      return Fetch::Cut;
    }
  }
  if (!length_known) {
    // A chunked or close-delimited body is read to its end so that the connection can be
    // reused; more bytes than asked make it unfit for that, not the bytes already written.
    DWORD got = 0;
    if (client.ReadAvailable(buffer, 1, &got) && got > 0) {
      LOG_WAR(L"download answer is longer than the range asked for");
      client.CloseStream();
    }
  } else {
    // The declared end: one more look lets the client see that the body is over, which keeps
    // the connection for the next request.
    DWORD got = 0;
    client.ReadAvailable(buffer, 1, &got);
  }
  client.CloseStream();
  return Fetch::Done;
}

bool CHttpDownloader::WriteAt(Range* range, const char* data, DWORD size, long long offset) {
  nbase::AutoLock lock(range->write_lock);
  if (!range->file) return false;
  OVERLAPPED position = At(offset);
  DWORD put = 0;
  return ::WriteFile(range->file.get(), data, size, &put, &position) && put == size;
}

void CHttpDownloader::RunHash(const std::shared_ptr<DownloadAttempt>& attempt) {
  DownloadAttempt& run = *attempt;
  run.hashed = 0;
  nbase::UniqueFileHandle file(::CreateFileW(
      DownloadPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return;
  CSha256Digest digest;
  std::vector<char> buffer(kHashBlock);
  long long at = 0, size = 0;
  for (;;) {
    long long front;
    PieceScheduler::Outcome outcome;
    {
      nbase::AutoLock lock(lock_);
      size = run.scheduler.size();
      front = run.scheduler.Front();
      outcome = run.scheduler.outcome();
    }
    if (outcome != PieceScheduler::Outcome::Running &&
        outcome != PieceScheduler::Outcome::Complete) {
      return;
    }
    while (at < front) {
      if (stop_) return;
      const DWORD want = static_cast<DWORD>(std::min<long long>(kHashBlock, front - at));
      OVERLAPPED position = At(at);
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer.data(), want, &got, &position) || got != want) {
        LOG_ERR(L"download digest cannot read the file, error:%d",
                static_cast<int>(::GetLastError()));
        return;
      }
      digest.Update(buffer.data(), got);
      at += got;
      run.hashed = at;
    }
    if (at >= size) break;
    if (!Pause(kHashPollMs)) return;
  }
  // The handle the bytes were read through says which file they were.
  if (!IdentifyFile(file.get(), &run.hashed_file)) return;
  run.digest = digest.HexDigest();
}
