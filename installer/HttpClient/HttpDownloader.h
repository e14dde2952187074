// Downloads one large file in 8 byte ranges on 8 threads, joins the parts and reports progress
// and the outcome to a window by messages, so the window's thread never waits on the network.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/Lock.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"

class CHttpDownloader;

// Progress, sent synchronously: wParam 0, lParam the address of a DownloadProgress.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 101;
// Finished, posted: wParam 0, lParam 1 when the joined file is complete, else 0.
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

// One byte range of one attempt. Written by its range thread (done through OnProgress, state
// and error at the end) and read by the progress and download threads.
struct _DOWNLOAD_RANGE_THREAD_PARAMETER {
  CHttpDownloader* owner = nullptr;
  std::atomic<int> state{RangeRunning};
  int index = 0;
  long long first = 0;
  long long last = -1;  // inclusive
  // Bytes of the range stored so far, across retries; never decreases within an attempt.
  std::atomic<long long> done{0};
  long long size = 0;
  std::wstring url;
  std::wstring part_path;
  nbase::UniqueHandle thread;
  // Bytes already in the part file when the current try began (range thread only).
  long long kept = 0;
  // The whole file without a "Range" header, after a server showed it ignores ranges.
  bool whole_file = false;
  std::atomic<int> error{HttpOk};
  // When the range thread gave up or completed, in the downloader's 100-nanosecond ticks.
  std::atomic<long long> ended_at{0};
};

// Made and started by the owner's thread (the setup window's UI thread), which also destroys
// it. The size query, progress, download and range threads are the downloader's own (with a
// digest to check, the download thread also runs and joins one hashing thread); the destructor
// waits for every one of them, pumping sent messages meanwhile.
class CHttpDownloader : public IHttpCallback {
 public:
  static constexpr int kRangeCount = 8;

  // folder ends with a path separator. expected_sha256 (hex) empty means no check.
  CHttpDownloader(HWND window, const std::wstring& url, const std::wstring& folder,
                  const std::string& expected_sha256 = std::string());
  virtual ~CHttpDownloader();
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Begins one attempt; every range is rebuilt from scratch. A new attempt waits for the end
  // of the previous one on its own thread, never on the caller's.
  void Start();

  std::wstring TargetPath() const { return folder_ + file_name_; }
  // Where the attempt writes its bytes. After a successful finished message the whole file is
  // here; the owner verifies it and only then gives it the target's name (a no-op while both
  // paths are the same).
  std::wstring DownloadPath() const { return TargetPath(); }
  const std::wstring& FileName() const { return file_name_; }
  double KnownFileSize() const { return known_size_.load(); }
  // Seconds the last attempt spent downloading (until every range ended).
  double ElapsedSeconds() const;
  // Seconds the last attempt spent joining the parts and checking the digest after its last
  // range ended; the parts joined while others were still downloading cost nothing here.
  double JoinSeconds() const;

  // How long a connection may deliver nothing before it counts as stalled.
  void SetStallTimeout(DWORD milliseconds) { stall_timeout_ms_ = milliseconds; }

  void OnProgress(void* param, int state, double total, double done) override;
  bool ShouldStop() override { return stop_.load(); }

  // The characters after the URL's last "/" up to a "?" or "&", at most 255 of them.
  static std::wstring FileNameFromUrl(const std::wstring& url);
  // Bounds (inclusive) of range `index` of a file of `size` bytes; the last range takes the
  // remainder. False for a range without bytes, which only files below 8 bytes have.
  static bool RangeBounds(long long size, int index, long long& first, long long& last);

 private:
  using Range = _DOWNLOAD_RANGE_THREAD_PARAMETER;
  struct DownloadStart;

  static unsigned __stdcall SizeQueryThread(void* self) noexcept;
  static unsigned __stdcall ProgressThread(void* self) noexcept;
  static unsigned __stdcall DownloadThread(void* start) noexcept;
  static unsigned __stdcall RangeThread(void* range) noexcept;

  double QuerySize();
  void RunProgress();
  void RunDownload();
  void RunRange(Range* range);
  // One request for what the range still lacks; true when the range is complete.
  bool FetchRangeOnce(Range* range);
  // Waits for every range thread in index order while joining their parts into the target,
  // each part followed as it grows once all before it are joined; with `digest`, also sets it
  // to the joined bytes' SHA-256. True when the target holds the whole file.
  bool JoinWhileDownloading(const std::vector<Range*>& ranges, long long size, std::string* digest);
  // Whether `actual` is the expected digest (always, when none is expected).
  bool DigestMatches(const std::string& actual);
  void ReportProgress();
  void ClearRanges();
  std::vector<Range*> Snapshot();
  // Waits on the quit event; false when the downloader is shutting down.
  bool Pause(DWORD milliseconds);

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
  std::vector<std::unique_ptr<Range>> ranges_;
  std::atomic<long long> start_time_{0};
  std::atomic<long long> end_time_{0};
  std::atomic<long long> join_ticks_{0};
  nbase::Lock ranges_lock_;
  std::atomic<int> last_percent_{0};

  // Keeps one sender at a time so percents reach the window in rising order.
  nbase::Lock report_lock_;
  std::string expected_sha256_;
  std::atomic<DWORD> stall_timeout_ms_{30000};
  nbase::UniqueHandle size_thread_;
  nbase::UniqueHandle download_thread_;
};
