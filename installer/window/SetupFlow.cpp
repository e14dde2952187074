// The installation's run: which page shows, what is asked, and what each answer starts.
#include "installer/window/SetupFlow.h"

#include <iterator>
#include <utility>

#include "base/StringUtil.h"
#include "installer/main/Log.h"
#include "installer/trust/PackageVerifier.h"
#include "installer/window/SetupRules.h"

namespace setup {

namespace {

// Failures the user can do something about, each with its own box; a new one is one line.
constexpr DownloadFailureBox kOwnBoxes[] = {
    {HttpErrProxyAuth, L"STRID_BOX_PROXY_AUTH", MB_RETRYCANCEL | MB_ICONWARNING},
    {HttpErrSignIn, L"STRID_BOX_SIGN_IN", MB_RETRYCANCEL | MB_ICONWARNING},
    {HttpErrTooSlow, L"STRID_BOX_TOO_SLOW", MB_RETRYCANCEL | MB_ICONWARNING},
    // The package's bytes were not the ones pinned: refused like an untrusted package, and
    // never offered to the browser.
    {HttpErrDigest, L"STRID_BOX_PACKAGE_REFUSED", MB_RETRYCANCEL | MB_ICONERROR},
};

// Any other failure: the network is down, or something went wrong past it.
constexpr DownloadFailureBox kOfflineBox = {HttpErrConnect, L"STRID_BOX_NETWORK_ERROR",
                                            MB_RETRYCANCEL | MB_ICONWARNING};
constexpr DownloadFailureBox kUnknownBox = {HttpErrStatus, L"STRID_BOX_UNKOWN_ERROR",
                                            MB_ABORTRETRYIGNORE | MB_ICONWARNING};

}  // namespace

bool LostNetwork(HttpInterfaceError reason) {
  switch (reason) {
    case HttpErrOpen:
    case HttpErrConnect:
    case HttpErrSend:
    case HttpErrQuery:
    case HttpErrRead:
    case HttpErrResolve:
    case HttpErrSocket:
      return true;
    default:
      return false;
  }
}

const DownloadFailureBox& DownloadFailureBoxFor(HttpInterfaceError reason,
                                                const std::function<bool()>& connected) {
  for (const DownloadFailureBox& box : kOwnBoxes) {
    if (box.reason == reason) return box;
  }
  return connected && connected() ? kUnknownBox : kOfflineBox;
}

SetupFlow::SetupFlow(FlowView& view, PackageDownload& download, PackageRunner& runner,
                     FlowSystem& system)
    : view_(view), download_(download), runner_(runner), system_(system) {}

void SetupFlow::Start() {
  GoHome();
}

void SetupFlow::GoHome() {
  StopWaitingForNetwork();
  stage_ = Stage::kHome;
  view_.ShowPage(Page::kHome);
}

void SetupFlow::InstallClicked() {
  if (stage_ != Stage::kHome) return;
  if (!CheckRunningProduct()) return;
  if (!CheckDisk(download_.KnownFileSize() * 3)) return;
  // Nothing is downloaded into a folder whose access list is not ours.
  DWORD error = 0;
  if (!download_.PrepareFolder(&error)) {
    if (!error) error = ERROR_ACCESS_DENIED;
    system_.Report("Install_Failed", OutcomeCode(error));
    ShowInstallFailedBox(error);
    return;
  }
  system_.Report("Start_Install", "");
  stage_ = Stage::kDownloading;
  view_.ShowPage(Page::kDownload);
  view_.BeginRun();
  view_.SetProgress(0);
  download_.Start();
}

bool SetupFlow::CheckRunningProduct() {
  if (!system_.IsProductRunning()) return true;
  const int answer =
      view_.Ask(ReplacePlaceholder(view_.Text(L"STRID_BOX_APP_RUNNING"), system_.ProductName()),
                MB_OKCANCEL | MB_ICONWARNING);
  if (stage_ == Stage::kQuitting) return false;
  if (answer == IDCANCEL) {
    GoHome();
    return false;
  }
  if (answer == IDOK) system_.EndProduct();
  return true;
}

bool SetupFlow::CheckDisk(double required_bytes) {
  const std::wstring folder = view_.InstallFolder();
  if (!IsValidInstallFolder(
          folder, [this](const std::wstring& path) { return system_.IsDirectory(path); })) {
    view_.ShowFolderError(true);
    return false;
  }
  const int required_mb = RequiredMegabytes(required_bytes);
  if (static_cast<double>(required_mb) > system_.FreeDiskSpaceMB(folder)) {
    view_.Ask(ReplacePlaceholder(view_.Text(L"STRID_BOX_DISK_NOT_ENOUGH"),
                                 nbase::StringPrintf(L"%d", required_mb)),
              MB_OK | MB_ICONWARNING);
    return false;
  }
  view_.ShowFolderError(false);
  return true;
}

void SetupFlow::Retry() {
  LOG_APP(L"------- retry download -------");
  view_.SetProgress(0);
  download_.Start();
}

void SetupFlow::DownloadFinished(bool complete) {
  if (stage_ != Stage::kDownloading) return;
  if (quit_question_open_) {
    // Nothing runs while the user is being asked whether to quit.
    deferred_finish_ = complete;
    return;
  }
  if (!complete) {
    LOG_APP(L"------- download failed -------");
    DownloadFailed();
    return;
  }
  StopWaitingForNetwork();
  LOG_APP(L"------- download success -------");
  if (!CheckRunningProduct()) return;
  system_.Report("Install_Time", DurationBucket(download_.ElapsedSeconds()));
  RunPackage();
}

void SetupFlow::DownloadFailed() {
  const HttpInterfaceError reason = download_.FailureReason();
  if (reason == HttpErrProxyAuth) {
    SignInToProxy();
    return;
  }
  if ((LostNetwork(reason) || !system_.IsInternetConnected()) && WaitForNetwork()) return;
  StopWaitingForNetwork();
  view_.ShowTaskbarState(TaskbarState::kError);
  if (reason == HttpErrDiskFull) {
    // The disk filled while the package was written: the same box as before the start.
    view_.Ask(ReplacePlaceholder(
                  view_.Text(L"STRID_BOX_DISK_NOT_ENOUGH"),
                  nbase::StringPrintf(L"%d", RequiredMegabytes(download_.KnownFileSize() * 3))),
              MB_OK | MB_ICONWARNING);
    view_.ShowTaskbarState(TaskbarState::kIdle);
    if (stage_ == Stage::kDownloading) GoHome();
    return;
  }
  const DownloadFailureBox& box =
      DownloadFailureBoxFor(reason, [this] { return system_.IsInternetConnected(); });
  std::wstring text = view_.Text(box.text_key);
  // A digest that does not match refuses the package as the verifier would.
  const DWORD code = reason == HttpErrDigest ? kVerifyDigestMismatch : static_cast<DWORD>(reason);
  nbase::ReplaceAll(text, L"XX", nbase::UTF8ToUTF16(OutcomeCode(code)));
  nbase::ReplaceAll(text, L"YY", system_.LogPath());
  const int answer = view_.Ask(text, box.type);
  view_.ShowTaskbarState(TaskbarState::kIdle);
  if (stage_ != Stage::kDownloading) return;
  switch (answer) {
    case IDRETRY:
      Retry();
      break;
    case IDIGNORE:
      HandOverToBrowser();
      break;
    default:
      GoHome();
      break;
  }
}

void SetupFlow::SignInToProxy() {
  // An account given before and still met by the challenge was refused: ask again, saying so.
  const bool refused = download_.HasProxyAccount();
  std::wstring user, password;
  const bool given = view_.AskProxyAccount(refused, &user, &password);
  if (stage_ != Stage::kDownloading) return;
  if (!given) {
    GoHome();
    return;
  }
  download_.UseProxyAccount(user, password);
  ::SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
  Retry();
}

bool SetupFlow::WaitForNetwork() {
  const unsigned long long now = system_.NowMs();
  if (waiting_since_ms_ == 0) {
    LOG_APP(L"------- waiting for the network -------");
    waiting_since_ms_ = now == 0 ? 1 : now;
    view_.ShowWaitingForNetwork(true);
  }
  if (now - waiting_since_ms_ >= kNetworkWaitMs) return false;
  view_.ScheduleRetry(kNetworkRetryMs);
  return true;
}

void SetupFlow::StopWaitingForNetwork() {
  if (waiting_since_ms_ == 0) return;
  waiting_since_ms_ = 0;
  view_.ShowWaitingForNetwork(false);
}

void SetupFlow::RetryDue() {
  // The user may have quit or gone home meanwhile; only a waiting download goes on.
  if (stage_ != Stage::kDownloading || waiting_since_ms_ == 0 || quit_question_open_) return;
  download_.Start();
}

void SetupFlow::HandOverToBrowser() {
  OpenPage(download_.Url());
  stage_ = Stage::kEnd;
  view_.ShowPage(Page::kEnd);
  view_.EndLoop();
}

void SetupFlow::RunPackage() {
  stage_ = Stage::kRunning;
  if (!runner_.Start()) InstallFailed(PackageRunOutcome::kStartFailed, ERROR_NOT_ENOUGH_MEMORY, {});
}

void SetupFlow::PackageRunDone(PackageRunOutcome outcome, DWORD code,
                               std::unique_ptr<PackageRunJob> job) {
  if (stage_ != Stage::kRunning) {
    if (job) runner_.Discard(std::move(job));
    return;
  }
  if (start_held_) {
    // As with a finished download: nothing follows while the user is asked whether to quit.
    deferred_run_ = RunEnd{outcome, code, std::move(job)};
    return;
  }
  if (outcome == PackageRunOutcome::kStopped) {
    // Only a quit stops a run, and the window is closing by then; nothing to tell.
    if (job) runner_.Discard(std::move(job));
    GoHome();
    return;
  }
  if (outcome != PackageRunOutcome::kInstalled) {
    InstallFailed(outcome, code, std::move(job));
    return;
  }
  system_.Report("Install_Completed", "");
  // Nothing of the package stays behind in its folder once the product is installed.
  download_.EmptyFolder();
  stage_ = Stage::kEnd;
  view_.ShowPage(Page::kEnd);
  view_.ShowTaskbarState(TaskbarState::kIdle);
}

void SetupFlow::InstallFailed(PackageRunOutcome outcome, DWORD code,
                              std::unique_ptr<PackageRunJob> job) {
  // No end page and no "Install_Completed": the user is told what failed and may retry.
  system_.Report("Install_Failed", OutcomeCode(code));
  view_.ShowTaskbarState(TaskbarState::kNone);
  GoHome();
  // The run did not complete: its percentage must not stay on screen behind the box.
  view_.SetProgress(0);
  if (outcome == PackageRunOutcome::kElevationRefused && job) {
    const int answer =
        view_.Ask(ReplacePlaceholder(view_.Text(L"STRID_BOX_ADMIN_NEEDED"), system_.ProductName()),
                  MB_RETRYCANCEL | MB_ICONWARNING);
    if (answer == IDRETRY && stage_ == Stage::kHome) {
      // The same held, verified package is started again.
      stage_ = Stage::kRunning;
      view_.ShowPage(Page::kDownload);
      view_.SetProgress(90);
      if (!runner_.Restart(std::move(job))) {
        InstallFailed(PackageRunOutcome::kStartFailed, ERROR_NOT_ENOUGH_MEMORY, {});
      }
      return;
    }
    runner_.Discard(std::move(job));
    return;
  }
  if (outcome == PackageRunOutcome::kUntrusted) {
    // Never a way to fetch and run the same file by hand: only Retry or Cancel.
    std::wstring text = ReplacePlaceholder(view_.Text(L"STRID_BOX_PACKAGE_REFUSED"),
                                           nbase::UTF8ToUTF16(OutcomeCode(code)));
    nbase::ReplaceAll(text, L"YY", system_.LogPath());
    const int answer = view_.Ask(text, MB_RETRYCANCEL | MB_ICONERROR);
    if (answer == IDRETRY && stage_ == Stage::kHome) InstallClicked();
    return;
  }
  ShowInstallFailedBox(code);
}

void SetupFlow::ShowInstallFailedBox(DWORD code) {
  std::wstring text = ReplacePlaceholder(view_.Text(L"STRID_BOX_INSTALL_FAILED"),
                                         nbase::UTF8ToUTF16(OutcomeCode(code)));
  nbase::ReplaceAll(text, L"YY", system_.LogPath());
  const int answer = view_.Ask(text, MB_ABORTRETRYIGNORE | MB_ICONERROR);
  if (stage_ != Stage::kHome) return;
  if (answer == IDRETRY) {
    InstallClicked();
  } else if (answer == IDIGNORE) {
    // The browser downloads the package as the user, who runs it by hand.
    OpenPage(download_.Url());
  }
}

void SetupFlow::CloseRequested(UINT code) {
  if (stage_ == Stage::kEnd) {
    view_.CloseWindow(code);
    return;
  }
  if (stage_ == Stage::kQuitting || quit_question_open_) return;
  if (stage_ == Stage::kRunning) {
    CloseDuringRun(code);
    return;
  }
  quit_question_open_ = true;
  const int answer = view_.Ask(view_.Text(L"STRID_BOX_QUIT"), MB_OKCANCEL | MB_ICONWARNING);
  quit_question_open_ = false;
  std::optional<bool> deferred = std::exchange(deferred_finish_, std::nullopt);
  if (answer != IDOK) {
    // A download that finished while the question was open goes on only now.
    if (deferred) DownloadFinished(*deferred);
    return;
  }
  Quit(code);
}

void SetupFlow::CloseDuringRun(UINT code) {
  quit_question_open_ = true;
  if (!runner_.HoldStart()) {
    // The package is running with administrator rights; ending now would leave the product
    // half installed and no one to report it. The run's end decides what follows.
    view_.Ask(view_.Text(L"STRID_BOX_QUIT_FINISHING"), MB_OK | MB_ICONINFORMATION);
    quit_question_open_ = false;
    return;
  }
  // Still being verified (or verified, held at the start): nothing has run, so the user may
  // quit as during the download.
  start_held_ = true;
  const int answer = view_.Ask(view_.Text(L"STRID_BOX_QUIT"), MB_OKCANCEL | MB_ICONWARNING);
  start_held_ = false;
  quit_question_open_ = false;
  std::optional<RunEnd> ended = std::exchange(deferred_run_, std::nullopt);
  if (answer != IDOK) {
    runner_.ReleaseStart();
    if (ended) PackageRunDone(ended->outcome, ended->code, std::move(ended->job));
    return;
  }
  LOG_APP(L"------- quit before the package started: its run is stopped -------");
  runner_.StopRun();
  if (ended && ended->job) runner_.Discard(std::move(ended->job));
  Quit(code);
}

void SetupFlow::Quit(UINT code) {
  stage_ = Stage::kQuitting;
  system_.Report("Cancel_Install", "");
  view_.CloseWindow(code);
}

void SetupFlow::StartNowClicked() {
  if (stage_ != Stage::kEnd) return;
  // As the signed-in user: the product must not inherit the installer's administrator rights.
  if (!system_.StartProduct()) {
    // Never started from the installer's own elevated token; the user is told where it is.
    std::wstring text =
        ReplacePlaceholder(view_.Text(L"STRID_BOX_START_BY_HAND"), system_.ProductName());
    nbase::ReplaceAll(text, L"YY", system_.ProductExePath());
    view_.Ask(text, MB_OK | MB_ICONINFORMATION);
  }
  CloseRequested(1);
}

void SetupFlow::OpenPage(const std::wstring& url) {
  if (system_.Open(url)) return;
  view_.Ask(ReplacePlaceholder(view_.Text(L"STRID_BOX_OPEN_BY_HAND"), url),
            MB_OK | MB_ICONINFORMATION);
}

void SetupFlow::WindowClosing() {
  if (stage_ == Stage::kEnd) OpenPage(view_.Text(L"URLID_INSTALL"));
  view_.EndLoop();
}

}  // namespace setup
