// The installation's run: which page shows, what is asked, and what each answer starts.
#include "installer/window/SetupFlow.h"

#include <iterator>
#include <utility>

#include "base/StringUtil.h"
#include "installer/main/Log.h"
#include "installer/window/SetupRules.h"

namespace setup {

namespace {

// Failures the user can do something about, each with its own box; a new one is one line.
constexpr DownloadFailureBox kOwnBoxes[] = {
    {HttpErrProxyAuth, L"STRID_BOX_PROXY_AUTH", MB_RETRYCANCEL | MB_ICONWARNING},
};

// Any other failure: the network is down, or something went wrong past it.
constexpr DownloadFailureBox kOfflineBox = {HttpErrConnect, L"STRID_BOX_NETWORK_ERROR",
                                            MB_RETRYCANCEL | MB_ICONWARNING};
constexpr DownloadFailureBox kUnknownBox = {HttpErrStatus, L"STRID_BOX_UNKOWN_ERROR",
                                            MB_ABORTRETRYIGNORE | MB_ICONWARNING};

}  // namespace

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
  LOG_APP(L"------- download success -------");
  if (!CheckRunningProduct()) return;
  system_.Report("Install_Time", DurationBucket(download_.ElapsedSeconds()));
  RunPackage();
}

void SetupFlow::DownloadFailed() {
  view_.ShowTaskbarState(TaskbarState::kError);
  const DownloadFailureBox& box = DownloadFailureBoxFor(
      download_.FailureReason(), [this] { return system_.IsInternetConnected(); });
  const int answer = view_.Ask(view_.Text(box.text_key), box.type);
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

void SetupFlow::HandOverToBrowser() {
  system_.Open(download_.Url());
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
    system_.Open(download_.Url());
  }
}

void SetupFlow::CloseRequested(UINT code) {
  if (stage_ == Stage::kEnd) {
    view_.CloseWindow(code);
    return;
  }
  if (stage_ == Stage::kQuitting || quit_question_open_) return;
  quit_question_open_ = true;
  if (stage_ == Stage::kRunning) {
    // The package is running with administrator rights; ending now would leave the product
    // half installed and no one to report it. The run's end decides what follows.
    view_.Ask(view_.Text(L"STRID_BOX_QUIT_FINISHING"), MB_OK | MB_ICONINFORMATION);
    quit_question_open_ = false;
    return;
  }
  const int answer = view_.Ask(view_.Text(L"STRID_BOX_QUIT"), MB_OKCANCEL | MB_ICONWARNING);
  quit_question_open_ = false;
  std::optional<bool> deferred = std::exchange(deferred_finish_, std::nullopt);
  if (answer != IDOK) {
    // A download that finished while the question was open goes on only now.
    if (deferred) DownloadFinished(*deferred);
    return;
  }
  stage_ = Stage::kQuitting;
  system_.Report("Cancel_Install", "");
  view_.CloseWindow(code);
}

void SetupFlow::StartNowClicked() {
  if (stage_ != Stage::kEnd) return;
  // As the signed-in user: the product must not inherit the installer's administrator rights.
  system_.StartProduct();
  CloseRequested(1);
}

void SetupFlow::WindowClosing() {
  if (stage_ == Stage::kEnd) system_.Open(view_.Text(L"URLID_INSTALL"));
  view_.EndLoop();
}

}  // namespace setup
