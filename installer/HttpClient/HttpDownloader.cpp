// The downloader: the probe, the piece table with front-first hand-out and re-splitting, the
// checks on every answer, writing in place, the following digest, the resume state, messages.
#include "installer/HttpClient/HttpDownloader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/Thread.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/HttpHeader.h"
#include "installer/HttpClient/Sha256.h"
#include "installer/HttpClient/WininetHttp.h"
#include "installer/main/Log.h"

namespace {

constexpr double kAssumedSize = 125829120.0;
constexpr int kRetries = 3;
// Far larger than any package (the window's disk check refuses such sizes by itself); a length
// beyond it is a hostile or broken answer.
constexpr long long kMaxFileSize = 1LL << 42;
constexpr DWORD kReadBlock = 65536;
constexpr DWORD kHashBlock = 256 << 10;
constexpr long long kMinPiece = 1LL << 20;
constexpr long long kMaxPiece = 8LL << 20;
// A split leaves both halves at least this big: smaller tails are not worth a new request.
constexpr long long kMinSplit = 128LL << 10;
constexpr long long kTicksPerSecond = 10000000LL;
// A connection's speed is judged only after its request has run this long.
constexpr long long kJudgeAfterTicks = kTicksPerSecond / 4;
// A free connection takes half of a piece whose owner needs longer than this for the rest.
constexpr long long kSplitTicks = kTicksPerSecond * 3 / 10;
// A tail too small to split is taken whole from an owner that has been this slow this long.
constexpr long long kHandoverTicks = 2 * kTicksPerSecond;
// A connection whose last request ran this many times slower than the others' median is slow.
constexpr double kSlowFactor = 2.0;
// How often idle connections look for work, and the digest for a grown front.
constexpr DWORD kIdlePollMs = 50;
constexpr DWORD kHashPollMs = 20;
// Refused requests in a row after which a connection leaves the work to the others.
constexpr int kRefusalsToRetire = 2;
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

// Faults that another try may cure: the connection broke, stalled or could not be made.
bool IsTransient(int error) {
  return error == HttpErrOpen || error == HttpErrConnect || error == HttpErrSend ||
         error == HttpErrQuery || error == HttpErrRead;
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// A validator fit to be sent back in If-Range and written into the state file.
bool UsableValidator(const std::string& value) {
  if (value.empty() || value.size() > 200) return false;
  for (char c : value) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

// Whether the answer's body is the resource's bytes as they are: no content coding at all.
bool IdentityEncoding(CWininetHttp& client) {
  bool present = false;
  std::string coding = Trim(client.ResponseHeader(HTTP_QUERY_CONTENT_ENCODING, &present));
  if (!present) return true;
  std::transform(coding.begin(), coding.end(), coding.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return coding.empty() || coding == "identity";
}

// Reads a little of an answer that is not used, so that small error pages leave their
// connection reusable; a large unwanted body is cut off by closing instead.
void Discard(CWininetHttp& client) {
  char buffer[4096];
  for (int i = 0; i < 16; ++i) {
    DWORD got = 0;
    if (!client.ReadStream(buffer, sizeof(buffer), &got) || got == 0) break;
  }
  client.CloseStream();
}

}  // namespace

struct CHttpDownloader::DownloadStart {
  CHttpDownloader* owner;
  HANDLE previous;  // the previous attempt's thread, owned by the new one
};

struct CHttpDownloader::Probe {
  long long size = 0;
  bool ranges = false;
  std::string validator;
  bool validator_is_etag = false;
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
      expected_sha256_(expected_sha256),
      attempt_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  size_thread_ = StartThread(&CHttpDownloader::SizeQueryThread, this);
  progress_thread_ = StartThread(&CHttpDownloader::ProgressThread, this, &progress_thread_id_);
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

long long CHttpDownloader::PieceSize(long long file_size) {
  const long long piece = std::min(std::max(file_size / 64, kMinPiece), kMaxPiece);
  return std::max(1LL, std::min(piece, file_size));
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

void CHttpDownloader::OnProgress(void*, int, double, double) {
  // The connections read their answers themselves and count bytes as they write them.
}

bool CHttpDownloader::Pause(DWORD milliseconds) {
  return ::WaitForSingleObject(quit_event_.get(), milliseconds) == WAIT_TIMEOUT;
}

DWORD CHttpDownloader::RetryPause(int retry) const {
  return retry_pause_ms_.load() << std::min(retry, 8);
}

unsigned __stdcall CHttpDownloader::SizeQueryThread(void* self) {
  auto* downloader = static_cast<CHttpDownloader*>(self);
  downloader->known_size_ = downloader->QuerySize();
  return 0;
}

double CHttpDownloader::QuerySize() {
  ClientPtr client = MakeClient();
  if (!client) return kAssumedSize;
  client->SetReceiveTimeout(stall_timeout_ms_.load());
  Probe probe;
  const bool ok = RunProbe(*client, probe);
  if (ok && !probe.ranges) {
    // The whole file is on its way: the first attempt continues this answer rather than have
    // its rest drained when the handle closes.
    early_probe_ = std::make_unique<Probe>(probe);
    early_stream_ = std::move(client);
  }
  return ok ? static_cast<double>(probe.size) : 0.0;
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
    const int status = client.StatusCode();
    if (status == 407) {
      LOG_ERR(L"download proxy asks for credentials");
      probe.error = HttpErrProxyAuth;
      Discard(client);
      return false;
    }
    if (status == 503 || status == 429) {
      probe.error = HttpErrStatus;
      Discard(client);
      continue;
    }
    if (status != 206 && status != 200) {
      LOG_ERR(L"download probe answered status %d", status);
      probe.error = HttpErrStatus;
      Discard(client);
      return false;
    }
    if (!IdentityEncoding(client)) {
      LOG_ERR(L"download server encodes the file");
      probe.error = HttpErrRange;
      client.CloseStream();
      return false;
    }
    if (status == 206) {
      long long first = 0, last = 0;
      if (!ParseContentRange(client.ResponseHeader(HTTP_QUERY_CONTENT_RANGE), kMaxFileSize, first,
                             last, probe.size) ||
          first != 0 || last != 0) {
        LOG_ERR(L"download probe has an unusable range");
        probe.error = HttpErrRange;
        client.CloseStream();
        return false;
      }
      probe.ranges = true;
    } else {
      bool present = false;
      const std::string length = client.ResponseHeader(HTTP_QUERY_CONTENT_LENGTH, &present);
      if (!present || !ParseHttpLength(length, kMaxFileSize, probe.size)) {
        LOG_ERR(L"download probe has an unusable length");
        probe.error = HttpErrSize;
        client.CloseStream();
        return false;
      }
    }
    if (probe.size <= 0) {
      probe.error = HttpErrSize;
      Discard(client);
      return false;
    }
    const std::string etag = Trim(client.ResponseHeader(HTTP_QUERY_ETAG));
    // A weak tag may not be sent in If-Range; the modification time serves instead.
    if (UsableValidator(etag) && etag.compare(0, 2, "W/") != 0) {
      probe.validator = etag;
      probe.validator_is_etag = true;
    } else {
      const std::string modified = Trim(client.ResponseHeader(HTTP_QUERY_LAST_MODIFIED));
      if (UsableValidator(modified)) probe.validator = modified;
    }
    // The one byte of a range answer is read so that its connection can be reused.
    if (probe.ranges) Discard(client);
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

void CHttpDownloader::ReportProgress() {
  long long remaining = 0, size = 0;
  {
    nbase::AutoLock lock(lock_);
    if (pieces_.empty() || size_ <= 0) return;
    size = size_;
    for (const Piece& piece : pieces_) remaining += piece.end - piece.next;
  }
  if (!window_) return;
  const int percent =
      static_cast<int>(static_cast<double>(size - remaining) / static_cast<double>(size) * 100.0);
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
  if (previous) ::WaitForSingleObject(previous.get(), INFINITE);
  owner->RunDownload();
  return 0;
}

void CHttpDownloader::RunDownload() {
  start_time_ = NowTicks();
  end_time_ = start_time_.load();
  tail_ticks_ = 0;
  failure_ = HttpOk;
  LOG_APP(L"start download");
  bool ok = false;
  int error = HttpOk;
  // The size query's answer may be the whole file, kept for this attempt; it is looked at
  // once that query is over.
  HANDLE size_query[] = {size_thread_.get(), quit_event_.get()};
  if (size_query[0]) ::WaitForMultipleObjects(2, size_query, FALSE, INFINITE);
  // A file that changes under the download is started over once with its new version.
  for (int round = 0; round < 2 && !stop_; ++round) {
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
    client->SetReceiveTimeout(stall_timeout_ms_.load());
    if (probe.size == 0 && !RunProbe(*client, probe)) {
      error = probe.error != HttpOk ? probe.error : HttpErrStatus;
      break;
    }
    known_size_ = static_cast<double>(probe.size);
    LOG_APP(L"download file size:%lld", probe.size);
    const Outcome outcome = RunAttempt(client, probe);
    {
      nbase::AutoLock lock(lock_);
      error = failure_.load();
    }
    if (outcome == Outcome::Complete) {
      const long long last_byte = end_time_.load();
      ok = expected_sha256_.empty() || SameHexDigest(digest_, expected_sha256_);
      if (!ok) {
        LOG_ERR(L"download digest mismatch: %ls", nbase::UTF8ToUTF16(digest_).c_str());
        error = HttpErrDigest;
        DeleteDownload();
      }
      tail_ticks_ = NowTicks() - last_byte;
      break;
    }
    if (outcome == Outcome::Changed) {
      LOG_WAR(L"download file changed on the server, starting over");
      error = HttpErrChanged;
      // The connections still reading must be gone before their file is.
      for (const auto& range : ranges_) {
        if (range->thread) ::WaitForSingleObject(range->thread.get(), INFINITE);
      }
      DeleteDownload();
      continue;
    }
    break;
  }
  failure_ = ok ? HttpOk : (error != HttpOk ? error : HttpErrStatus);
  if (!ok) {
    LOG_ERR(L"download failed error:%d", failure_.load());
  } else {
    ReportProgress();
  }
  LOG_APP(L"download finished:%d", ok ? 1 : 0);
  if (window_ && !stop_) ::PostMessageW(window_, WM_DOWNLOAD_FINISHED, 0, ok ? 1 : 0);
  // A connection may still wait for a trickling server's next byte; it writes nothing more.
  for (const auto& range : ranges_) {
    if (range->thread) ::WaitForSingleObject(range->thread.get(), INFINITE);
  }
  nbase::AutoLock lock(lock_);
  ranges_.clear();
}

CHttpDownloader::Outcome CHttpDownloader::RunAttempt(ClientPtr& probe_client, const Probe& probe) {
  for (const auto& range : ranges_) {
    if (range->thread) ::WaitForSingleObject(range->thread.get(), INFINITE);
  }
  {
    nbase::AutoLock lock(lock_);
    ranges_.clear();
    pieces_.clear();
    size_ = probe.size;
    ranges_supported_ = probe.ranges;
    validator_ = probe.validator;
    validator_is_etag_ = probe.validator_is_etag;
    outcome_ = Outcome::Running;
    failure_ = HttpOk;
    last_byte_at_ = 0;
  }
  attempt_over_ = false;
  ::ResetEvent(attempt_event_.get());
  digest_.clear();
  if (!PrepareFile(probe)) {
    EndAttempt(Outcome::Failed, HttpErrCreateFile);
    return Outcome::Failed;
  }
  {
    // Opened after the file is prepared: starting afresh deletes the old record first.
    nbase::AutoLock lock(state_lock_);
    state_closed_ = false;
  }

  LOG_APP(L"create download thread");
  const int count = probe.ranges ? kRangeCount : 1;
  const std::wstring path = DownloadPath();
  int started = 0;
  {
    nbase::AutoLock lock(lock_);
    for (int i = 0; i < count; ++i) {
      auto range = std::make_unique<Range>();
      range->owner = this;
      range->index = i;
      range->file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
      // The server sent the whole file for the probe: that answer is the one stream.
      if (!probe.ranges) {
        range->probe_stream = std::move(probe_client);
        range->continues_probe = true;
      }
      if (range->file) {
        range->thread = StartThread(&CHttpDownloader::RangeThread, range.get());
      }
      if (!range->thread) {
        range->state = RangeFailed;
        range->retired = true;
        range->probe_stream.reset();
        range->continues_probe = false;
      } else {
        ++started;
      }
      ranges_.push_back(std::move(range));
    }
    bool complete = true;
    for (const Piece& piece : pieces_) complete = complete && piece.next >= piece.end;
    if (complete) {
      last_byte_at_ = NowTicks();
      outcome_ = Outcome::Complete;
      attempt_over_ = true;
      ::SetEvent(attempt_event_.get());
    }
  }
  if (started == 0) EndAttempt(Outcome::Failed, HttpErrOpen);

  nbase::UniqueHandle hash_thread;
  if (!expected_sha256_.empty()) hash_thread = StartThread(&CHttpDownloader::HashThread, this);

  HANDLE events[] = {attempt_event_.get(), quit_event_.get()};
  if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
    EndAttempt(Outcome::Stopped, HttpErrCancelled);
  }
  // No write may follow the end of the attempt: the file is the owner's from here on.
  for (const auto& range : ranges_) {
    nbase::AutoLock lock(range->write_lock);
    range->file.reset();
  }
  Outcome outcome;
  {
    nbase::AutoLock lock(lock_);
    outcome = outcome_;
    end_time_ = outcome == Outcome::Complete ? last_byte_at_ : NowTicks();
  }
  if (hash_thread) ::WaitForSingleObject(hash_thread.get(), INFINITE);
  if (outcome == Outcome::Complete && !expected_sha256_.empty() && hashed_.load() != probe.size) {
    digest_.clear();
  }
  if (outcome == Outcome::Complete) {
    nbase::AutoLock lock(state_lock_);
    state_closed_ = true;
    ::DeleteFileW(StatePath().c_str());
  } else if (outcome != Outcome::Changed) {
    if (probe.ranges && !probe.validator.empty()) {
      SaveState(true);
    } else {
      // Without ranges or a validator no later attempt could build on these bytes.
      DeleteDownload();
    }
  }
  {
    nbase::AutoLock lock(stats_lock_);
    stats_.clear();
    for (const auto& range : ranges_) {
      ConnectionStats stats;
      stats.bytes = range->bytes.load();
      stats.pieces = range->pieces.load();
      stats.retries = range->retries.load();
      stats_.push_back(stats);
    }
  }
  return outcome;
}

bool CHttpDownloader::PrepareFile(const Probe& probe) {
  const std::wstring path = DownloadPath();
  std::vector<std::pair<long long, long long>> done;
  bool resume = probe.ranges && !probe.validator.empty() && FileSize(path) == probe.size &&
                LoadState(probe, done);
  if (!resume) {
    done.clear();
    DeleteDownload();
    nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                               nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) {
      LOG_ERR(L"download cannot create its file, error:%d", static_cast<int>(::GetLastError()));
      return false;
    }
    // The whole size is claimed at once: a full disk shows now, not at the last piece.
    LARGE_INTEGER size;
    size.QuadPart = probe.size;
    if (!::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
      LOG_ERR(L"download cannot reserve %lld bytes, error:%d", probe.size,
              static_cast<int>(::GetLastError()));
      file.reset();
      ::DeleteFileW(path.c_str());
      return false;
    }
  } else {
    long long kept = 0;
    for (const auto& interval : done) kept += interval.second - interval.first;
    LOG_APP(L"download resumes with %lld of %lld bytes on disk", kept, probe.size);
  }
  const long long piece_size = PieceSize(probe.size);
  nbase::AutoLock lock(lock_);
  long long at = 0;
  auto add_gap = [&](long long from, long long to) {
    for (long long first = from; first < to; first += piece_size) {
      Piece piece;
      piece.start = piece.next = first;
      piece.end = std::min(to, first + piece_size);
      pieces_.push_back(piece);
    }
  };
  for (const auto& interval : done) {
    // Finished stretches stay in the table as pieces without bytes left, so the front and the
    // state file see them.
    add_gap(at, interval.first);
    Piece piece;
    piece.start = interval.first;
    piece.next = piece.end = interval.second;
    pieces_.push_back(piece);
    at = interval.second;
  }
  add_gap(at, probe.size);
  return true;
}

bool CHttpDownloader::LoadState(const Probe& probe,
                                std::vector<std::pair<long long, long long>>& done) {
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
  size_t at = 0;
  int line_number = 0;
  long long previous_end = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;  // cut off while written
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    switch (line_number++) {
      case 0:
        if (line != "download-state 1") return false;
        break;
      case 1:
        if (line != "url " + nbase::UTF16ToUTF8(url_)) return false;
        break;
      case 2: {
        long long size = 0;
        if (line.compare(0, 5, "size ") != 0 ||
            !ParseHttpLength(line.substr(5), kMaxFileSize, size) || size != probe.size) {
          return false;
        }
        break;
      }
      case 3:
        if (line != "validator " + probe.validator) return false;
        break;
      default: {
        const size_t space = line.find(' ', 5);
        long long first = 0, last = 0;
        if (line.compare(0, 5, "done ") != 0 || space == std::string::npos ||
            !ParseHttpLength(line.substr(5, space - 5), kMaxFileSize, first) ||
            !ParseHttpLength(line.substr(space + 1), kMaxFileSize, last) || first < previous_end ||
            last <= first || last > probe.size) {
          return false;
        }
        done.emplace_back(first, last);
        previous_end = last;
      }
    }
  }
  return line_number >= 4;
}

void CHttpDownloader::SaveState(bool final) {
  nbase::AutoLock state_lock(state_lock_);
  if (state_closed_) return;
  if (final) state_closed_ = true;
  std::vector<std::pair<long long, long long>> done;
  std::string text;
  {
    nbase::AutoLock lock(lock_);
    // Without ranges or a validator a later attempt could not continue safely.
    if (!ranges_supported_ || validator_.empty()) return;
    for (const Piece& piece : pieces_) {
      if (piece.next > piece.start) done.emplace_back(piece.start, piece.next);
    }
    text = "download-state 1\nurl " + nbase::UTF16ToUTF8(url_) +
           nbase::StringPrintf("\nsize %lld\n", size_) + "validator " + validator_ + "\n";
  }
  std::sort(done.begin(), done.end());
  long long open_first = -1, open_last = -1;
  for (const auto& interval : done) {
    if (interval.first == open_last) {
      open_last = interval.second;
      continue;
    }
    if (open_first >= 0) text += nbase::StringPrintf("done %lld %lld\n", open_first, open_last);
    open_first = interval.first;
    open_last = interval.second;
  }
  if (open_first >= 0) text += nbase::StringPrintf("done %lld %lld\n", open_first, open_last);
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
  state_closed_ = true;
  ::DeleteFileW(DownloadPath().c_str());
  ::DeleteFileW(StatePath().c_str());
  ::DeleteFileW((StatePath() + L".new").c_str());
}

void CHttpDownloader::EndAttempt(Outcome outcome, int error) {
  nbase::AutoLock lock(lock_);
  if (outcome_ != Outcome::Running) return;
  outcome_ = outcome;
  failure_ = error;
  attempt_over_ = true;
  ::SetEvent(attempt_event_.get());
}

unsigned __stdcall CHttpDownloader::RangeThread(void* argument) {
  Range* range = static_cast<Range*>(argument);
  range->owner->RunRange(range);
  return 0;
}

int CHttpDownloader::TakeWork(Range* range, long long now) {
  if (outcome_ != Outcome::Running) return -2;
  // A connection far slower than the others takes its pieces from the back: at the front it
  // would hold up the digest, which can only follow the file in order.
  std::vector<double> rates;
  for (const auto& other : ranges_) {
    if (other.get() != range && other->rate > 0) rates.push_back(other->rate);
  }
  bool slow = false;
  if (range->rate > 0 && !rates.empty()) {
    std::nth_element(rates.begin(), rates.begin() + rates.size() / 2, rates.end());
    slow = range->rate * kSlowFactor < rates[rates.size() / 2];
  }
  int best = -1;
  bool waiting = false, incomplete = false;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    const Piece& piece = pieces_[i];
    if (piece.next >= piece.end) continue;
    incomplete = true;
    if (piece.owner >= 0) continue;
    if (piece.not_before > now) {
      waiting = true;
    } else if (best < 0 ||
               (slow ? piece.next > pieces_[best].next : piece.next < pieces_[best].next)) {
      best = static_cast<int>(i);
    }
  }
  if (best >= 0) {
    pieces_[best].owner = range->index;
    return best;
  }
  if (!incomplete) return -2;
  if (waiting || !ranges_supported_) return -1;

  // Nothing left to hand out: help the connection that needs longest for what it holds.
  int victim = -1;
  long long victim_ticks = 0;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    const Piece& piece = pieces_[i];
    if (piece.next >= piece.end || piece.owner < 0 || piece.owner == range->index) continue;
    const Range* owner = ranges_[piece.owner].get();
    const long long running = now - owner->request_started;
    if (owner->request_started == 0 || running < kJudgeAfterTicks) continue;
    const long long remaining = piece.end - piece.next;
    // Ticks the owner needs for the rest at the speed its request has had.
    const double rate = static_cast<double>(owner->request_bytes) / static_cast<double>(running);
    const long long ticks = rate > 0 ? static_cast<long long>(remaining / rate) : 1LL << 62;
    if (ticks > victim_ticks) {
      victim = static_cast<int>(i);
      victim_ticks = ticks;
    }
  }
  if (victim < 0 || victim_ticks < kSplitTicks) return -1;
  Piece taken;
  taken.owner = range->index;
  Piece& held = pieces_[victim];
  const long long remaining = held.end - held.next;
  if (remaining >= 2 * kMinSplit) {
    taken.start = taken.next = held.next + remaining / 2;
  } else if (victim_ticks >= kHandoverTicks &&
             now - ranges_[held.owner]->request_started >= kHandoverTicks) {
    // Far slower than the others for long: its whole rest goes to this connection.
    taken.start = taken.next = held.next;
  } else {
    return -1;
  }
  taken.end = held.end;
  held.end = taken.start;
  LOG_APP(L"download thread index:%d takes bytes %lld-%lld from thread index:%d", range->index,
          taken.start, taken.end - 1, held.owner);
  pieces_.push_back(taken);
  return static_cast<int>(pieces_.size() - 1);
}

void CHttpDownloader::PieceFailed(Range* range, int piece, int error, bool count_retry) {
  ++range->retries;
  LOG_ERR(L"download failed error. last error:%d,thread index:%d",
          static_cast<int>(::GetLastError()), range->index);
  LOG_ERR(L"download failed error:%d,thread index:%d", error, range->index);
  nbase::AutoLock lock(lock_);
  Piece& failed = pieces_[piece];
  failed.owner = -1;
  if (!count_retry) return;
  if (++failed.retries > kRetries) {
    LOG_ERR(L"download gives up on bytes %lld-%lld", failed.next, failed.end - 1);
    EndAttempt(Outcome::Failed, error);
    return;
  }
  failed.not_before = NowTicks() + RetryPause(failed.retries - 1) * 10000LL;
}

void CHttpDownloader::RunRange(Range* range) {
  ClientPtr client = range->probe_stream ? std::move(range->probe_stream) : MakeClient();
  std::vector<char> buffer(kReadBlock);
  int error = HttpOk;
  while (client && !attempt_over_) {
    int piece;
    const long long now = NowTicks();
    {
      nbase::AutoLock lock(lock_);
      piece = TakeWork(range, now);
      if (piece >= 0) {
        range->piece = piece;
        range->request_started = now;
        range->request_bytes = 0;
      }
    }
    if (piece == -2) break;
    if (piece == -1) {
      if (::WaitForSingleObject(attempt_event_.get(), kIdlePollMs) == WAIT_OBJECT_0) break;
      continue;
    }
    const Fetch fetch = FetchPiece(range, *client, piece, buffer.data());
    error = range->error.load();
    {
      nbase::AutoLock lock(lock_);
      const long long ran = NowTicks() - range->request_started;
      if (ran >= kJudgeAfterTicks && range->request_bytes > 0) {
        range->rate = static_cast<double>(range->request_bytes) / static_cast<double>(ran);
      }
      range->piece = -1;
      range->request_started = 0;
    }
    if (fetch == Fetch::Done || fetch == Fetch::Cut) {
      range->refusals = 0;
      nbase::AutoLock lock(lock_);
      if (pieces_[piece].owner == range->index) pieces_[piece].owner = -1;
    }
    if (fetch == Fetch::Done) {
      ++range->pieces;
      SaveState(false);
    } else if (fetch == Fetch::Failed) {
      PieceFailed(range, piece, error, true);
    } else if (fetch == Fetch::Refused) {
      bool alone = true;
      {
        nbase::AutoLock lock(lock_);
        for (const auto& other : ranges_) {
          if (other.get() != range && !other->retired) alone = false;
        }
        if (!alone && ++range->refusals >= kRefusalsToRetire) range->retired = true;
      }
      // The last connection left counts refusals as failures, so a server refusing every
      // request ends the attempt.
      PieceFailed(range, piece, HttpErrStatus, alone);
      if (range->retired) {
        LOG_WAR(L"download thread index:%d leaves the work to the others", range->index);
        break;
      }
      if (!alone && ::WaitForSingleObject(attempt_event_.get(), RetryPause(range->refusals - 1)) ==
                        WAIT_OBJECT_0) {
        break;
      }
    } else if (fetch == Fetch::Changed) {
      EndAttempt(Outcome::Changed, HttpErrChanged);
    } else if (fetch == Fetch::Fatal) {
      {
        nbase::AutoLock lock(lock_);
        pieces_[piece].owner = -1;
      }
      EndAttempt(Outcome::Failed, error);
    }
  }
  client.reset();
  nbase::AutoLock lock(lock_);
  range->retired = true;
  range->state = outcome_ == Outcome::Complete ? RangeFinished : RangeFailed;
  if (outcome_ == Outcome::Complete) LOG_APP(L"download fnished thread index:%d", range->index);
  bool others = false;
  for (const auto& other : ranges_) {
    if (other.get() != range && other->state == RangeRunning) others = true;
  }
  // The last connection to end decides an attempt that nothing else ended.
  if (!others) EndAttempt(Outcome::Failed, error != HttpOk ? error : HttpErrStatus);
}

CHttpDownloader::Fetch CHttpDownloader::FetchPiece(Range* range, CWininetHttp& client, int piece,
                                                   char* buffer) {
  long long position = 0, asked_end = 0;
  {
    nbase::AutoLock lock(lock_);
    position = pieces_[piece].next;
    asked_end = pieces_[piece].end;
  }
  if (position >= asked_end) return Fetch::Cut;
  client.SetReceiveTimeout(stall_timeout_ms_.load());
  long long skip = 0;  // bytes of a whole-file answer already on disk
  bool length_known = true;
  if (range->continues_probe) {
    // The probe's answer, already checked, continues from its first byte.
    range->continues_probe = false;
    skip = position;
  } else {
    std::string headers = "Accept-Encoding: identity\r\n";
    if (ranges_supported_) {
      headers += nbase::StringPrintf("Range: bytes=%lld-%lld\r\n", position, asked_end - 1);
      if (!validator_.empty()) headers += "If-Range: " + validator_ + "\r\n";
    } else {
      skip = position;
    }
    if (!client.OpenStream(url_.c_str(), headers)) {
      range->error = client.LastError();
      return client.LastError() == HttpErrNotFound ? Fetch::Fatal : Fetch::Failed;
    }
    const Fetch verdict = CheckAnswer(range, client, position, asked_end, &length_known);
    if (verdict != Fetch::Done) {
      if (verdict == Fetch::Changed || verdict == Fetch::Fatal) {
        client.CloseStream();
      } else {
        Discard(client);
      }
      return verdict;
    }
  }

  bool completed = false;
  long long at = position;
  for (;;) {
    if (attempt_over_) {
      client.CloseStream();
      return Fetch::Over;
    }
    long long limit;
    {
      nbase::AutoLock lock(lock_);
      limit = pieces_[piece].end;
    }
    if (at >= limit) break;
    const long long wanted = skip > 0 ? skip : limit - at;
    const DWORD want = static_cast<DWORD>(std::min<long long>(kReadBlock, wanted));
    DWORD got = 0;
    if (!client.ReadStream(buffer, want, &got) || got == 0) {
      range->error = HttpErrRead;
      client.CloseStream();
      return Fetch::Failed;
    }
    if (skip > 0) {
      skip -= got;
      continue;
    }
    long long usable;
    {
      nbase::AutoLock lock(lock_);
      usable = std::max(0LL, std::min<long long>(got, pieces_[piece].end - at));
    }
    if (usable > 0 && !WriteAt(range, buffer, static_cast<DWORD>(usable), at)) {
      client.CloseStream();
      if (attempt_over_) return Fetch::Over;
      range->error = HttpErrWrite;
      return Fetch::Fatal;
    }
    range->bytes += usable;
    {
      nbase::AutoLock lock(lock_);
      Piece& current = pieces_[piece];
      const long long next = std::min(at + usable, current.end);
      range->request_bytes += got;
      if (next > current.next) {
        current.next = next;
        if (next >= current.end) {
          completed = true;
          bool all = true;
          for (const Piece& other : pieces_) all = all && other.next >= other.end;
          if (all) {
            last_byte_at_ = NowTicks();
            EndAttempt(Outcome::Complete, HttpOk);
          }
        }
      }
    }
    at += usable;
    if (usable < static_cast<long long>(got)) break;
  }
  if (at == asked_end && !length_known) {
    // A chunked or close-delimited body is read to its end so that the connection can be
    // reused; more bytes than asked make it unfit for that, not the bytes already written.
    DWORD got = 0;
    if (client.ReadStream(buffer, 1, &got) && got > 0) {
      LOG_WAR(L"download answer is longer than the range asked for");
    }
  }
  client.CloseStream();
  return completed ? Fetch::Done : Fetch::Cut;
}

CHttpDownloader::Fetch CHttpDownloader::CheckAnswer(Range* range, CWininetHttp& client,
                                                    long long first, long long end,
                                                    bool* length_known) {
  const int status = client.StatusCode();
  if (status == 407) {
    range->error = HttpErrProxyAuth;
    return Fetch::Fatal;
  }
  if (status == 503 || status == 429) {
    range->error = HttpErrStatus;
    return Fetch::Refused;
  }
  if (!IdentityEncoding(client)) {
    LOG_ERR(L"download server encodes the file");
    range->error = HttpErrRange;
    return Fetch::Fatal;
  }
  long long expected_length = size_;
  if (ranges_supported_) {
    // The validator did not match (or the server stopped honouring ranges): either way this
    // is not the file whose pieces are on disk.
    if (status == 200) return Fetch::Changed;
    if (status != 206) {
      LOG_ERR(L"download piece answered status %d", status);
      range->error = HttpErrStatus;
      return Fetch::Failed;
    }
    long long got_first = 0, got_last = 0, total = 0;
    if (!ParseContentRange(client.ResponseHeader(HTTP_QUERY_CONTENT_RANGE), kMaxFileSize, got_first,
                           got_last, total)) {
      range->error = HttpErrRange;
      return Fetch::Failed;
    }
    if (total != size_) return Fetch::Changed;
    if (got_first != first || got_last != end - 1) {
      LOG_ERR(L"download asked bytes %lld-%lld, got %lld-%lld", first, end - 1, got_first,
              got_last);
      range->error = HttpErrRange;
      return Fetch::Failed;
    }
    expected_length = end - first;
  } else if (status != 200) {
    range->error = HttpErrStatus;
    return Fetch::Failed;
  }
  if (!validator_.empty()) {
    bool present = false;
    const std::string value = Trim(client.ResponseHeader(
        validator_is_etag_ ? HTTP_QUERY_ETAG : HTTP_QUERY_LAST_MODIFIED, &present));
    if (present && value != validator_) return Fetch::Changed;
  }
  bool present = false;
  const std::string length = client.ResponseHeader(HTTP_QUERY_CONTENT_LENGTH, &present);
  *length_known = present;
  if (present) {
    long long value = 0;
    if (!ParseHttpLength(length, kMaxFileSize, value) || value != expected_length) {
      if (!ranges_supported_) return Fetch::Changed;
      range->error = HttpErrRange;
      return Fetch::Failed;
    }
  }
  return Fetch::Done;
}

bool CHttpDownloader::WriteAt(Range* range, const char* data, DWORD size, long long offset) {
  nbase::AutoLock lock(range->write_lock);
  if (!range->file) return false;
  OVERLAPPED position = At(offset);
  DWORD put = 0;
  return ::WriteFile(range->file.get(), data, size, &put, &position) && put == size;
}

unsigned __stdcall CHttpDownloader::HashThread(void* self) {
  static_cast<CHttpDownloader*>(self)->RunHash();
  return 0;
}

void CHttpDownloader::RunHash() {
  hashed_ = 0;
  nbase::UniqueFileHandle file(::CreateFileW(
      DownloadPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return;
  CSha256Digest digest;
  std::vector<char> buffer(kHashBlock);
  long long at = 0, size = 0;
  for (;;) {
    long long front;
    Outcome outcome;
    {
      nbase::AutoLock lock(lock_);
      size = size_;
      front = size_;
      for (const Piece& piece : pieces_) {
        if (piece.next < piece.end) front = std::min(front, piece.next);
      }
      outcome = outcome_;
    }
    if (outcome != Outcome::Running && outcome != Outcome::Complete) return;
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
      hashed_ = at;
    }
    if (at >= size) break;
    if (!Pause(kHashPollMs)) return;
  }
  digest_ = digest.HexDigest();
}
