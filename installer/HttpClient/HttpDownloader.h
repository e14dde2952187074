// Downloads one large file over 8 connections: pieces handed out front first and re-split at
// the end, written in place into one file, hashed as the front completes, resumable across
// starts; progress and the outcome reach a window by messages, so its thread never waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/Lock.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"

class CHttpDownloader;
class CWininetHttp;
// The downloader's one owner of a WinINet client: released when dropped, moved between threads.
using WininetClientPtr = nbase::ComPtr<CWininetHttp>;

// Progress, sent synchronously: wParam 0, lParam the address of a DownloadProgress.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 101;
// Finished, posted: wParam 0, lParam 1 when the file at DownloadPath() is complete, else 0.
constexpr UINT WM_DOWNLOAD_FINISHED = WM_USER + 102;

struct DownloadProgress {
  CHttpDownloader* downloader;
  int percent;
};

enum RangeState : int {
  RangeRunning = 0,
  RangeFailed = 1,
  RangeFinished = 2,
};

// One connection of one attempt and its range thread. The counters are written by that thread
// and read by any; the fields marked so are guarded by the downloader's piece lock.
struct _DOWNLOAD_RANGE_THREAD_PARAMETER {
  CHttpDownloader* owner = nullptr;
  std::atomic<int> state{RangeRunning};
  int index = 0;
  std::atomic<long long> bytes{0};  // bytes this connection wrote into the file
  std::atomic<int> pieces{0};       // pieces (or the tails of others' pieces) it completed
  std::atomic<int> retries{0};      // its requests that failed, stalled or were refused
  std::atomic<int> error{HttpOk};
  // Piece lock: the piece it works on (-1 for none), when its current request began and how
  // many body bytes that request has delivered, from which others judge its speed.
  int piece = -1;
  long long request_started = 0;
  long long request_bytes = 0;
  // Piece lock: bytes per tick of its last request that ran long enough to judge, 0 before.
  double rate = 0;
  // Refused requests (503, 429) in a row; a connection the server keeps refusing retires.
  int refusals = 0;
  bool retired = false;
  // The answer to the size probe when it was the whole file: the one stream then continues it.
  // Handed to the connection's thread when it starts; `continues_probe` stays set until the
  // first fetch has taken the answer up where the probe left it.
  WininetClientPtr probe_stream;
  bool continues_probe = false;
  // This connection's handle to the file; writes hold write_lock, and the download thread
  // closes the handle under it once the attempt is over, so no write can follow.
  nbase::Lock write_lock;
  nbase::UniqueFileHandle file;
  nbase::UniqueHandle thread;
};

// Made and started by the owner's thread (the setup window's UI thread), which also destroys
// it. The size query, progress, download, hashing and range threads are the downloader's own;
// the destructor waits for every one of them, pumping sent messages meanwhile.
class CHttpDownloader : public IHttpCallback {
 public:
  static constexpr int kRangeCount = 8;

  // What one connection did in the last attempt.
  struct ConnectionStats {
    long long bytes = 0;
    int pieces = 0;
    int retries = 0;
  };

  // folder ends with a path separator. expected_sha256 (hex) empty means no check.
  CHttpDownloader(HWND window, const std::wstring& url, const std::wstring& folder,
                  const std::string& expected_sha256 = std::string());
  virtual ~CHttpDownloader();
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Begins one attempt. It continues from the pieces already on disk when the server still
  // has the same file, else starts afresh. A new attempt waits for the end of the previous one
  // on its own thread, never on the caller's.
  void Start();

  // The package's final name; the downloader never writes it.
  std::wstring TargetPath() const { return folder_ + file_name_; }
  // Where the bytes are written. After a successful finished message the whole file is here;
  // the owner verifies it and only then gives it the target's name.
  std::wstring DownloadPath() const { return folder_ + file_name_ + L".download"; }
  // The record of finished pieces kept beside the download for the next attempt.
  std::wstring StatePath() const { return DownloadPath() + L".state"; }
  const std::wstring& FileName() const { return file_name_; }
  double KnownFileSize() const { return known_size_.load(); }
  // Seconds the last attempt spent until its last byte was written.
  double ElapsedSeconds() const;
  // Seconds between the last byte and the finished message: what the digest had left.
  double TailSeconds() const;
  // Why the last attempt failed (HttpOk after a success). HttpErrProxyAuth means a proxy asked
  // for credentials.
  HttpInterfaceError FailureReason() const {
    return static_cast<HttpInterfaceError>(failure_.load());
  }
  // Per connection, the last finished attempt's work.
  std::vector<ConnectionStats> Connections() const;

  // How long a connection may deliver nothing before it counts as stalled.
  void SetStallTimeout(DWORD milliseconds) { stall_timeout_ms_ = milliseconds; }
  // The first pause before a failed piece is tried again; each further one doubles it.
  void SetRetryPause(DWORD milliseconds) { retry_pause_ms_ = milliseconds; }

  void OnProgress(void* param, int state, double total, double done) override;
  bool ShouldStop() override { return stop_.load(); }

  // The characters after the URL's last "/" up to a "?" or "&", at most 255 of them.
  static std::wstring FileNameFromUrl(const std::wstring& url);
  // The size of the pieces a file is cut into: a 64th of the file within 1 to 8 MiB, so a
  // file below 8 MiB has fewer pieces than connections; never more than the file.
  static long long PieceSize(long long file_size);

 private:
  using Range = _DOWNLOAD_RANGE_THREAD_PARAMETER;
  struct DownloadStart;
  struct Piece {
    long long start = 0;
    long long next = 0;  // first byte not yet written
    long long end = 0;   // exclusive; moves down when another connection takes the tail
    int owner = -1;
    int retries = 0;
    long long not_before = 0;  // ticks; a failed piece waits out its pause
  };
  struct Probe;
  enum class Outcome { Running, Complete, Failed, Changed, Stopped };
  enum class Fetch { Done, Cut, Failed, Refused, Changed, Fatal, Over };

  static unsigned __stdcall SizeQueryThread(void* self);
  static unsigned __stdcall ProgressThread(void* self);
  static unsigned __stdcall DownloadThread(void* start);
  static unsigned __stdcall RangeThread(void* range);
  static unsigned __stdcall HashThread(void* self);

  // GET of the first byte: the size, range support and validator. The client keeps the answer
  // open when it is the whole file.
  bool RunProbe(CWininetHttp& client, Probe& probe);
  double QuerySize();
  void RunProgress();
  void RunDownload();
  // One attempt on one version of the file.
  Outcome RunAttempt(WininetClientPtr& probe_client, const Probe& probe);
  // Reuses what the state file and the download hold for this size and validator, or starts
  // an empty preallocated download; fills the piece table.
  bool PrepareFile(const Probe& probe);
  // The finished stretches the state file records for this URL, size and validator, in file
  // order; false when there is no such record or it is damaged.
  bool LoadState(const Probe& probe, std::vector<std::pair<long long, long long>>& done);
  void RunRange(Range* range);
  // One request for what the piece still lacks, written as it arrives into `buffer`'s block.
  Fetch FetchPiece(Range* range, CWininetHttp& client, int piece, char* buffer);
  // Whether an answer is the asked bytes of the same version of the file.
  Fetch CheckAnswer(Range* range, CWininetHttp& client, long long first, long long end,
                    bool* length_known);
  // Under the piece lock: the piece this connection works on next, -1 to wait, -2 to end.
  int TakeWork(Range* range, long long now);
  // Ends the attempt with `outcome` unless it is already over.
  void EndAttempt(Outcome outcome, int error);
  void PieceFailed(Range* range, int piece, int error, bool count_retry);
  void RunHash();
  bool WriteAt(Range* range, const char* data, DWORD size, long long offset);
  // Records the finished stretches; `final` also closes the record for this attempt, so a
  // connection finishing a piece late cannot bring back a state file already dealt with.
  void SaveState(bool final);
  void DeleteDownload();
  void ReportProgress();
  // Waits on the quit event; false when the downloader is shutting down.
  bool Pause(DWORD milliseconds);
  DWORD RetryPause(int retry) const;

  nbase::UniqueHandle progress_thread_;
  unsigned progress_thread_id_ = 0;
  nbase::UniqueHandle start_event_;
  nbase::UniqueHandle quit_event_;
  std::atomic<bool> stop_{false};
  std::wstring url_;
  std::atomic<double> known_size_{125829120.0};
  std::wstring folder_;
  std::wstring file_name_;
  HWND window_ = nullptr;
  std::string expected_sha256_;

  // The attempt's piece table and connections, guarded by lock_ (the connections' own counters
  // excepted). Only the download thread replaces them, after joining every range thread.
  nbase::Lock lock_;
  std::vector<std::unique_ptr<Range>> ranges_;
  std::vector<Piece> pieces_;
  long long size_ = 0;
  bool ranges_supported_ = true;
  std::string validator_;
  bool validator_is_etag_ = false;
  Outcome outcome_ = Outcome::Running;
  long long last_byte_at_ = 0;
  // Set once the attempt is over; the range threads see it between reads.
  std::atomic<bool> attempt_over_{false};
  nbase::UniqueHandle attempt_event_;  // manual reset, signalled when the attempt is over
  // Hashing thread's result, read after it ended.
  std::string digest_;
  std::atomic<long long> hashed_{0};
  nbase::Lock state_lock_;  // one writer of the state file at a time
  bool state_closed_ = false;

  std::atomic<long long> start_time_{0};
  std::atomic<long long> end_time_{0};
  std::atomic<long long> tail_ticks_{0};
  std::atomic<int> last_percent_{0};
  std::atomic<int> failure_{HttpOk};
  mutable nbase::Lock stats_lock_;
  std::vector<ConnectionStats> stats_;

  // Keeps one sender at a time so percents reach the window in rising order.
  nbase::Lock report_lock_;
  std::atomic<DWORD> stall_timeout_ms_{30000};
  std::atomic<DWORD> retry_pause_ms_{1000};
  nbase::UniqueHandle size_thread_;
  nbase::UniqueHandle download_thread_;
  // A size query answered with the whole file keeps that answer here for the first attempt.
  // Written by the size query thread, then used by download threads only after joining it.
  WininetClientPtr early_stream_;
  std::unique_ptr<Probe> early_probe_;
};
