// SetupFlow: the installation's run as stages and events, with no window of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "installer/HttpClient/HttpInterface.h"
#include "installer/window/PackageRun.h"

namespace setup {

enum class Page { kHome = 0, kDownload = 1, kEnd = 2 };

// What the taskbar button shows behind the window's own progress.
enum class TaskbarState { kNone, kError, kIdle };

// What the flow shows and asks through the window.
class FlowView {
 public:
  virtual ~FlowView() = default;
  virtual std::wstring Text(const wchar_t* key) const = 0;
  // A modal box; the button pressed (IDOK, IDRETRY, ...). Other events may arrive meanwhile.
  virtual int Ask(const std::wstring& text, UINT type) = 0;
  // The page with its caption buttons; the home page always with its custom panel closed.
  virtual void ShowPage(Page page) = 0;
  virtual void SetProgress(int percent) = 0;
  virtual void ShowTaskbarState(TaskbarState state) = 0;
  virtual std::wstring InstallFolder() const = 0;
  virtual void ShowFolderError(bool shown) = 0;
  // A run leaves the home page: the typed folder is taken and the slideshow starts.
  virtual void BeginRun() = 0;
  // Lets the window close; `code` is what it was asked to close with.
  virtual void CloseWindow(UINT code) = 0;
  // Ends the UI loop, the window with it.
  virtual void EndLoop() = 0;
  // Asks for the proxy's user name and password (`refused`: the last ones were not taken).
  // True with the account when the user gave one; false when they cancelled.
  virtual bool AskProxyAccount(bool refused, std::wstring* user, std::wstring* password) = 0;
  // The line beside the percentage says the download waits for the network (or no longer).
  virtual void ShowWaitingForNetwork(bool waiting) = 0;
  // RetryDue arrives after `milliseconds` (a later call replaces an earlier one).
  virtual void ScheduleRetry(DWORD milliseconds) = 0;
};

// The package's download.
class PackageDownload {
 public:
  virtual ~PackageDownload() = default;
  virtual double KnownFileSize() const = 0;
  virtual double ElapsedSeconds() const = 0;
  virtual HttpInterfaceError FailureReason() const = 0;
  virtual std::wstring Url() const = 0;
  // The protected folder made ready; false with the system's error when it cannot be.
  virtual bool PrepareFolder(DWORD* error) = 0;
  // A fresh attempt; its end arrives as DownloadFinished.
  virtual void Start() = 0;
  virtual void EmptyFolder() = 0;
  // The proxy account every later request gives when a proxy asks; kept in memory only.
  virtual void UseProxyAccount(const std::wstring& user, const std::wstring& password) = 0;
  virtual bool HasProxyAccount() const = 0;
};

// The verification and elevated run of the downloaded package; its end arrives as
// PackageRunDone.
class PackageRunner {
 public:
  virtual ~PackageRunner() = default;
  // False when no run could be started.
  virtual bool Start() = 0;
  // The still held package of a refused elevation, run again.
  virtual bool Restart(std::unique_ptr<PackageRunJob> job) = 0;
  virtual void Discard(std::unique_ptr<PackageRunJob> job) = 0;
  // Keeps the package of the current run from starting while the user is asked whether to
  // quit. False when the package has already started: that run cannot be stopped any more.
  virtual bool HoldStart() = 0;
  // The user stays: the held run goes on.
  virtual void ReleaseStart() = 0;
  // Stops the held run, which then starts nothing; waits a bounded while for its thread to
  // end, so what it leaves behind is cleaned up and logged before the window closes.
  virtual void StopRun() = 0;
};

// What the flow needs of the machine and the product.
class FlowSystem {
 public:
  virtual ~FlowSystem() = default;
  virtual std::wstring ProductName() const = 0;
  virtual bool IsProductRunning() = 0;
  virtual void EndProduct() = 0;
  // As the signed-in user; false when it was not started (then the user starts it by hand).
  virtual bool StartProduct() = 0;
  // Where the installed program is, for a user who starts it by hand.
  virtual std::wstring ProductExePath() const = 0;
  virtual bool IsDirectory(const std::wstring& path) = 0;
  virtual double FreeDiskSpaceMB(const std::wstring& folder) = 0;
  virtual bool IsInternetConnected() = 0;
  // In the user's browser, as the signed-in user; false when it was not opened.
  virtual bool Open(const std::wstring& url) = 0;
  virtual void Report(const char* event, const std::string& label) = 0;
  virtual std::wstring LogPath() const = 0;
  // Milliseconds of a clock that only goes forward.
  virtual unsigned long long NowMs() = 0;
};

// The box a failed download shows. Every answer means the same in each of them: Retry tries
// again, Cancel or Abort return home, Ignore hands the package to the browser and ends.
struct DownloadFailureBox {
  HttpInterfaceError reason;
  const wchar_t* text_key;
  UINT type;
};

// The box for `reason`: its own where the user can act on it, else whether the network is
// reachable at all decides (`connected` is asked only then).
const DownloadFailureBox& DownloadFailureBoxFor(HttpInterfaceError reason,
                                                const std::function<bool()>& connected);

// Lives on the UI thread with the window that feeds it events. A box the flow asks is modal,
// so an event may arrive while an earlier one still waits for its answer: every handler looks
// at the stage again after a box.
class SetupFlow {
 public:
  enum class Stage { kHome, kDownloading, kRunning, kEnd, kQuitting };

  SetupFlow(FlowView& view, PackageDownload& download, PackageRunner& runner, FlowSystem& system);

  void Start();
  void InstallClicked();
  // The user asked to close (the close button, Escape, Alt+F4).
  void CloseRequested(UINT code);
  void DownloadFinished(bool complete);
  void PackageRunDone(PackageRunOutcome outcome, DWORD code, std::unique_ptr<PackageRunJob> job);
  void StartNowClicked();
  // A page of the product's site, opened in the user's browser (the address shown when not).
  void OpenPage(const std::wstring& url);
  // The window is closing for good.
  void WindowClosing();
  // The pause ScheduleRetry asked for is over.
  void RetryDue();

  Stage CurrentStage() const { return stage_; }
  bool WaitingForNetwork() const { return waiting_since_ms_ != 0; }

  // How long the download waits for a lost network, trying again every kNetworkRetryMs, before
  // it tells the user.
  static constexpr unsigned long long kNetworkWaitMs = 10 * 60 * 1000;
  static constexpr DWORD kNetworkRetryMs = 5000;

 private:
  void GoHome();
  // "Go on" (true) or "stop" (false, back home).
  bool CheckRunningProduct();
  bool CheckDisk(double required_bytes);
  void Retry();
  void DownloadFailed();
  // The network is gone: wait for it (true), or the wait is over (false).
  bool WaitForNetwork();
  void StopWaitingForNetwork();
  void SignInToProxy();
  void RunPackage();
  void InstallFailed(PackageRunOutcome outcome, DWORD code, std::unique_ptr<PackageRunJob> job);
  // A close request while the package is checked or run.
  void CloseDuringRun(UINT code);
  void Quit(UINT code);
  void ShowInstallFailedBox(DWORD code);
  void HandOverToBrowser();

  FlowView& view_;
  PackageDownload& download_;
  PackageRunner& runner_;
  FlowSystem& system_;
  Stage stage_ = Stage::kHome;
  // Only one quit question at a time, however many close requests arrive while it is open.
  bool quit_question_open_ = false;
  // A download that finished while the quit question was open, for after the answer.
  std::optional<bool> deferred_finish_;
  // The quit question is open over a run whose start it holds.
  bool start_held_ = false;
  // A package run that ended while the quit question was open, for after the answer.
  struct RunEnd {
    PackageRunOutcome outcome;
    DWORD code;
    std::unique_ptr<PackageRunJob> job;
  };
  std::optional<RunEnd> deferred_run_;
  // When the download began waiting for the network; 0 while it does not.
  unsigned long long waiting_since_ms_ = 0;
};

// Whether a download that failed with `reason` lost its network rather than met a fault of
// the server's or the file's.
bool LostNetwork(HttpInterfaceError reason);

}  // namespace setup
