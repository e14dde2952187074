// Downloads one large file over 8 connections into one file written in place, hashed as its
// front completes, resumable across starts. The decisions are the piece scheduler's; this is
// the shell of threads, requests and file writes around it. Progress and the outcome reach a
// window by messages, so its thread never waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/Lock.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/DownloadAnswer.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/HttpInterface.h"
#include "installer/HttpClient/PieceScheduler.h"

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

struct DownloadAttempt;

// One connection of one attempt and its range thread. Its thread owns the client; the
// download thread owns the file handle, which writes reach under write_lock.
struct _DOWNLOAD_RANGE_THREAD_PARAMETER {
  CHttpDownloader* owner = nullptr;
  std::atomic<int> state{RangeRunning};
  int index = 0;
  std::atomic<int> error{HttpOk};
  // The answer to the size probe when it was the whole file: the one stream then continues
  // it from its first byte.
  WininetClientPtr probe_stream;
  // This connection's handle to the file; the download thread closes it under write_lock once
  // the attempt is over, so no write can follow.
  nbase::Lock write_lock;
  nbase::UniqueFileHandle file;
  nbase::UniqueHandle thread;
};

// Made and started by the owner's thread (the setup window's UI thread), which also destroys
// it. The size query, progress, download, hashing and range threads are the downloader's own;
// every network wait in them is bounded, and the destructor waits for them, pumping sent
// messages meanwhile.
class CHttpDownloader : public IHttpCallback {
 public:
  static constexpr int kRangeCount = 8;

  // What one connection did in the last attempt.
  struct ConnectionStats {
    long long bytes = 0;
    int pieces = 0;
    int retries = 0;
    int takeovers = 0;
  };

  // folder ends with a path separator. expected_sha256 (hex) empty means no check.
  CHttpDownloader(HWND window, const std::wstring& url, const std::wstring& folder,
                  const std::string& expected_sha256 = std::string());
  virtual ~CHttpDownloader();
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Begins one attempt. It continues from the pieces already on disk when the server still
  // has the same file, else starts afresh. A new attempt waits (bounded) for the end of the
  // previous one on its own thread, never on the caller's.
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
  // Why the last attempt failed (HttpOk after a success): HttpErrProxyAuth when a proxy asked
  // for credentials, HttpErrTooSlow when the link moved almost nothing for a minute,
  // HttpErrSignIn when a page stood in the file's place (what is on disk is kept),
  // HttpErrDiskFull when the disk filled.
  HttpInterfaceError FailureReason() const {
    return static_cast<HttpInterfaceError>(failure_.load());
  }
  // The digest the last attempt took of the finished file as its front completed, with the file
  // it describes; empty without an expected digest or before a complete download. The owner
  // hands it to the package's verification, which then reads the file once only.
  TakenDigest FinishedDigest() const;
  // Per connection, the last finished attempt's work.
  std::vector<ConnectionStats> Connections() const;

  // What the running attempt has done, for a window to show beside the percentage; any thread.
  struct ProgressSnapshot {
    long long done = 0;   // bytes in the file, kept ones included
    long long total = 0;  // 0 until the size is known
    // Bytes per second, smoothed over the last few seconds; 0 until there is a measure.
    double rate = 0;
    // Seconds since a byte last arrived (since the attempt began, before any).
    double idle_seconds = 0;
    double running_seconds = 0;  // since the attempt began
    bool running = false;        // an attempt is under way
  };
  ProgressSnapshot Progress() const;
  // Body bytes the last attempt received, used or not: what it cost the network.
  long long ReceivedBytes() const { return received_.load(); }

  // How long a connection may deliver nothing before its request counts as stalled.
  void SetStallTimeout(DWORD milliseconds) { stall_timeout_ms_ = milliseconds; }
  // The first pause before a failed piece is tried again; each further one doubles it.
  void SetRetryPause(DWORD milliseconds) { retry_pause_ms_ = milliseconds; }
  // How long the whole download may move less than `bytes` before it fails as too slow.
  void SetProgressFloor(DWORD milliseconds, long long bytes) {
    floor_ms_ = milliseconds;
    floor_bytes_ = bytes;
  }

  void OnProgress(void* param, int state, double total, double done) override;
  bool ShouldStop() override { return stop_.load(); }

  // The characters after the URL's last "/" up to a "?" or "&", at most 255 of them.
  static std::wstring FileNameFromUrl(const std::wstring& url);
  // The size of the pieces a file is cut into (see PieceScheduler::PieceSize).
  static long long PieceSize(long long file_size) { return PieceScheduler::PieceSize(file_size); }

 private:
  using Range = _DOWNLOAD_RANGE_THREAD_PARAMETER;
  struct DownloadStart;
  struct Probe;
  enum class Fetch { Done, Cut, Broken, Refused, Fatal, Suspect, Over };

  static unsigned __stdcall SizeQueryThread(void* self);
  static unsigned __stdcall ProgressThread(void* self);
  static unsigned __stdcall DownloadThread(void* start);

  // GET of the first byte: the size, range support and validator. The client keeps the answer
  // open when it is the whole file.
  bool RunProbe(CWininetHttp& client, Probe& probe);
  double QuerySize();
  void RunProgress();
  void RunDownload();
  // One attempt on one version of the file.
  PieceScheduler::Outcome RunAttempt(WininetClientPtr& probe_client, const Probe& probe);
  // Reuses what the state file and the download hold for this size and validator, or starts
  // an empty preallocated download; `done` gets the stretches kept.
  bool PrepareFile(const Probe& probe, std::vector<PieceScheduler::Stretch>& done);
  bool LoadState(const Probe& probe, std::vector<PieceScheduler::Stretch>& done);
  void RunRange(const std::shared_ptr<DownloadAttempt>& attempt, Range* range);
  // One request for the scheduler's work, written as it arrives into `buffer`.
  // `continues_probe`: the client holds the probe's whole-file answer, still unread.
  Fetch FetchPiece(DownloadAttempt& attempt, Range* range, CWininetHttp& client,
                   const PieceScheduler::Work& work, bool continues_probe, char* buffer);
  void RunHash(const std::shared_ptr<DownloadAttempt>& attempt);
  bool WriteAt(Range* range, const char* data, DWORD size, long long offset);
  // Records the finished stretches; `final` also closes the record for this attempt, so a
  // connection finishing a piece late cannot bring back a state file already dealt with.
  void SaveState(DownloadAttempt& attempt, bool final);
  void DeleteDownload();
  void ReportProgress();
  // Waits on the quit event; false when the downloader is shutting down.
  bool Pause(DWORD milliseconds);
  DWORD RetryPause(int retry) const;
  // The longest a single read or answer may keep a connection's thread waiting.
  DWORD StepTimeout() const;

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

  // The running attempt, its scheduler and connections: every scheduler call is made under
  // lock_. Only the download thread replaces it; threads of an attempt hold it themselves.
  mutable nbase::Lock lock_;
  std::shared_ptr<DownloadAttempt> attempt_;
  nbase::Lock state_lock_;  // one writer of the state file at a time

  std::atomic<long long> start_time_{0};
  std::atomic<long long> end_time_{0};
  std::atomic<long long> tail_ticks_{0};
  std::atomic<int> last_percent_{0};
  std::atomic<int> failure_{HttpOk};
  std::atomic<long long> received_{0};
  mutable nbase::Lock stats_lock_;
  std::vector<ConnectionStats> stats_;
  TakenDigest finished_digest_;  // under stats_lock_
  // Range threads that had not ended when their attempt's join gave up (under stats_lock_).
  std::vector<nbase::UniqueHandle> lingering_;

  // Keeps one sender at a time so percents reach the window in rising order.
  nbase::Lock report_lock_;
  // The smoothed rate, kept by the progress thread under progress_lock_.
  mutable nbase::Lock progress_lock_;
  long long rate_sample_at_ = 0;
  long long rate_sample_bytes_ = -1;
  double rate_ = 0;
  std::atomic<long long> last_byte_at_{0};
  std::atomic<bool> running_{false};
  std::atomic<DWORD> stall_timeout_ms_{30000};
  std::atomic<DWORD> retry_pause_ms_{1000};
  std::atomic<DWORD> floor_ms_{60000};
  std::atomic<long long> floor_bytes_{4096};
  nbase::UniqueHandle size_thread_;
  nbase::UniqueHandle download_thread_;
  // A size query answered with the whole file keeps that answer here for the first attempt.
  // Written by the size query thread, then used by download threads only after joining it.
  WininetClientPtr early_stream_;
  std::unique_ptr<Probe> early_probe_;
};
