// The installation's run without a window: pages, questions and their answers, held
// downloads, failures and retries, the package run's outcomes, driven through fakes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "installer/window/SetupFlow.h"

namespace {

using setup::Page;
using setup::SetupFlow;
using Stage = SetupFlow::Stage;

// Texts are their keys with both placeholders left in, so a box shows what filled them.
class FakeView : public setup::FlowView {
 public:
  std::function<int(const std::wstring& text)> answer = [](const std::wstring&) { return IDOK; };
  std::vector<std::wstring> asked;
  std::vector<Page> pages;
  std::vector<int> progress;
  bool folder_error = false;
  std::wstring folder = L"C:\\Program Files\\Nolt\\Nolt Clipmint";
  int runs_begun = 0;
  std::vector<UINT> closed_with;
  int loops_ended = 0;
  std::vector<UINT> types;
  // The proxy prompt: each time it showed, whether it said the last account was refused.
  std::vector<bool> proxy_prompts;
  bool proxy_account = true;
  std::vector<bool> waiting_shown;
  std::vector<DWORD> retries_scheduled;

  std::wstring Text(const wchar_t* key) const override { return std::wstring(key) + L" XX YY"; }
  int Ask(const std::wstring& text, UINT type) override {
    asked.push_back(text);
    types.push_back(type);
    return answer(text);
  }
  bool AskProxyAccount(bool refused, std::wstring* user, std::wstring* password) override {
    proxy_prompts.push_back(refused);
    if (!proxy_account) return false;
    *user = L"alice";
    *password = L"wonder land!";
    return true;
  }
  void ShowWaitingForNetwork(bool waiting) override { waiting_shown.push_back(waiting); }
  void ScheduleRetry(DWORD milliseconds) override { retries_scheduled.push_back(milliseconds); }
  void ShowPage(Page page) override { pages.push_back(page); }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void ShowTaskbarState(setup::TaskbarState) override {}
  std::wstring InstallFolder() const override { return folder; }
  void ShowFolderError(bool shown) override { folder_error = shown; }
  void BeginRun() override { ++runs_begun; }
  void CloseWindow(UINT code) override { closed_with.push_back(code); }
  void EndLoop() override { ++loops_ended; }

  Page LastPage() const { return pages.empty() ? Page::kHome : pages.back(); }
  bool AskedFor(const std::wstring& key) const {
    for (const std::wstring& text : asked) {
      if (text.find(key) != std::wstring::npos) return true;
    }
    return false;
  }
};

class FakeDownload : public setup::PackageDownload {
 public:
  double size = 10.0 * 1024 * 1024;
  HttpInterfaceError reason = HttpErrStatus;
  bool folder_ok = true;
  int starts = 0;
  int emptied = 0;
  std::wstring proxy_user;

  double KnownFileSize() const override { return size; }
  double ElapsedSeconds() const override { return 12; }
  HttpInterfaceError FailureReason() const override { return reason; }
  std::wstring Url() const override { return L"http://packages/full.exe"; }
  bool PrepareFolder(DWORD* error) override {
    if (!folder_ok) *error = ERROR_ACCESS_DENIED;
    return folder_ok;
  }
  void Start() override { ++starts; }
  void EmptyFolder() override { ++emptied; }
  void UseProxyAccount(const std::wstring& user, const std::wstring&) override {
    proxy_user = user;
  }
  bool HasProxyAccount() const override { return !proxy_user.empty(); }
};

class FakeRunner : public setup::PackageRunner {
 public:
  bool can_start = true;
  // The current run's package has started: it can no longer be held or stopped.
  bool package_started = false;
  int starts = 0;
  int holds = 0;
  int releases = 0;
  int stops = 0;
  std::vector<PackageRunJob*> restarted;
  std::vector<PackageRunJob*> discarded;
  std::vector<std::unique_ptr<PackageRunJob>> kept;

  bool Start() override {
    ++starts;
    return can_start;
  }
  bool Restart(std::unique_ptr<PackageRunJob> job) override {
    restarted.push_back(job.get());
    kept.push_back(std::move(job));
    return can_start;
  }
  void Discard(std::unique_ptr<PackageRunJob> job) override {
    discarded.push_back(job.get());
    kept.push_back(std::move(job));
  }
  bool HoldStart() override {
    if (package_started) return false;
    ++holds;
    return true;
  }
  void ReleaseStart() override { ++releases; }
  void StopRun() override { ++stops; }
};

class FakeSystem : public setup::FlowSystem {
 public:
  bool product_running = false;
  // Whether the launch as the signed-in user starts the product and opens pages.
  bool product_starts = true;
  bool opens = true;
  int products_ended = 0;
  int products_started = 0;
  double free_mb = 1e9;
  bool online = true;
  std::vector<std::wstring> opened;
  std::vector<std::string> reports;

  std::wstring ProductName() const override { return L"Nolt Clipmint"; }
  bool IsProductRunning() override { return product_running; }
  void EndProduct() override {
    ++products_ended;
    product_running = false;
  }
  bool StartProduct() override {
    ++products_started;
    return product_starts;
  }
  std::wstring ProductExePath() const override { return L"C:\\Nolt Clipmint\\Minteo.exe"; }
  bool IsDirectory(const std::wstring& path) override { return path == L"C:\\"; }
  double FreeDiskSpaceMB(const std::wstring&) override { return free_mb; }
  bool IsInternetConnected() override { return online; }
  bool Open(const std::wstring& url) override {
    opened.push_back(url);
    return opens;
  }
  void Report(const char* event, const std::string& label) override {
    reports.push_back(label.empty() ? event : std::string(event) + "_" + label);
  }
  std::wstring LogPath() const override { return L"C:\\log.txt"; }
  unsigned long long NowMs() override { return now_ms; }
  unsigned long long now_ms = 1000;

  int Count(const std::string& report) const {
    int count = 0;
    for (const std::string& seen : reports) count += seen == report;
    return count;
  }
};

class Flow : public testing::Test {
 protected:
  void SetUp() override { flow_.Start(); }

  // Home page to a running package.
  void RunToPackage() {
    flow_.InstallClicked();
    ASSERT_EQ(Stage::kDownloading, flow_.CurrentStage());
    flow_.DownloadFinished(true);
    ASSERT_EQ(Stage::kRunning, flow_.CurrentStage());
  }

  FakeView view_;
  FakeDownload download_;
  FakeRunner runner_;
  FakeSystem system_;
  SetupFlow flow_{view_, download_, runner_, system_};
};

TEST_F(Flow, AWholeRunReachesTheEndPageAndClosingItAsksNothing) {
  EXPECT_EQ(Page::kHome, view_.LastPage());
  flow_.InstallClicked();
  EXPECT_EQ(Page::kDownload, view_.LastPage());
  EXPECT_EQ(1, view_.runs_begun);
  EXPECT_EQ(1, download_.starts);
  EXPECT_EQ(0, view_.progress.back());
  EXPECT_FALSE(view_.folder_error);
  // A second press (Return held down) must not start a second download.
  flow_.InstallClicked();
  EXPECT_EQ(1, download_.starts);

  flow_.DownloadFinished(true);
  EXPECT_EQ(1, runner_.starts);
  flow_.PackageRunDone(PackageRunOutcome::kInstalled, 0, nullptr);
  EXPECT_EQ(Page::kEnd, view_.LastPage());
  EXPECT_EQ(Stage::kEnd, flow_.CurrentStage());
  EXPECT_EQ(1, download_.emptied);
  EXPECT_EQ((std::vector<std::string>{"Start_Install", "Install_Time_0-15s", "Install_Completed"}),
            system_.reports);

  flow_.StartNowClicked();
  EXPECT_EQ(1, system_.products_started);
  EXPECT_EQ(std::vector<UINT>{1}, view_.closed_with);
  flow_.WindowClosing();
  EXPECT_EQ(std::vector<std::wstring>{L"URLID_INSTALL XX YY"}, system_.opened);
  EXPECT_EQ(1, view_.loops_ended);
  EXPECT_TRUE(view_.asked.empty());
}

TEST_F(Flow, WhatTheInstallerMayNotStartItselfIsShownWhereToFind) {
  RunToPackage();
  flow_.PackageRunDone(PackageRunOutcome::kInstalled, 0, nullptr);
  system_.product_starts = false;
  system_.opens = false;
  flow_.StartNowClicked();
  EXPECT_EQ(1, system_.products_started);
  ASSERT_EQ(1u, view_.asked.size());
  EXPECT_EQ(L"STRID_BOX_START_BY_HAND Nolt Clipmint C:\\Nolt Clipmint\\Minteo.exe", view_.asked[0]);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), view_.types[0]);
  EXPECT_EQ(std::vector<UINT>{1}, view_.closed_with) << "the box is only told, then it closes";
  // The welcome page the end opens, and any link of the pages: their address.
  flow_.WindowClosing();
  ASSERT_EQ(2u, view_.asked.size());
  EXPECT_EQ(0u, view_.asked[1].find(L"STRID_BOX_OPEN_BY_HAND URLID_INSTALL")) << view_.asked[1];
  EXPECT_EQ(1, view_.loops_ended);
  flow_.OpenPage(L"http://site/terms");
  EXPECT_EQ(L"STRID_BOX_OPEN_BY_HAND http://site/terms YY", view_.asked.back());
  system_.opens = true;
  flow_.OpenPage(L"http://site/terms");
  EXPECT_EQ(3u, view_.asked.size()) << "an opened page needs no box";

  // The browser that should fetch the package after a failure: its address is given instead.
  FakeView view;
  FakeSystem system;
  system.opens = false;
  SetupFlow flow(view, download_, runner_, system);
  flow.Start();
  view.answer = [](const std::wstring& text) {
    return text.find(L"UNKOWN") != std::wstring::npos ? IDIGNORE : IDOK;
  };
  flow.InstallClicked();
  flow.DownloadFinished(false);
  EXPECT_TRUE(view.AskedFor(L"STRID_BOX_OPEN_BY_HAND http://packages/full.exe"));
  EXPECT_EQ(Stage::kEnd, flow.CurrentStage());
}

TEST_F(Flow, FolderAndDiskChecksStopTheRunBeforeAnythingStarts) {
  view_.folder = L"Q:\\no such drive\\Clipmint";
  flow_.InstallClicked();
  EXPECT_TRUE(view_.folder_error);
  EXPECT_EQ(0, download_.starts);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_TRUE(system_.reports.empty());

  // Three times a package of 1 TiB, in whole megabytes.
  view_.folder = L"C:\\Clipmint";
  download_.size = 1099511627776.0;
  system_.free_mb = 1000;
  flow_.InstallClicked();
  ASSERT_EQ(1u, view_.asked.size());
  EXPECT_NE(std::wstring::npos, view_.asked[0].find(L"STRID_BOX_DISK_NOT_ENOUGH 3145728"));
  EXPECT_EQ(0, download_.starts);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());

  // A folder that cannot be made ours is a failure with its code, and Retry tries again.
  download_.size = 1024;
  download_.folder_ok = false;
  int boxes = 0;
  view_.answer = [&](const std::wstring&) { return ++boxes == 1 ? IDRETRY : IDABORT; };
  flow_.InstallClicked();
  EXPECT_EQ(2, system_.Count("Install_Failed_5"));
  EXPECT_NE(std::wstring::npos, view_.asked.back().find(L"STRID_BOX_INSTALL_FAILED 5 C:\\log.txt"));
  EXPECT_EQ(0, download_.starts);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
}

TEST_F(Flow, TheQuitQuestionIsAskedOnceAndCancelKeepsTheRun) {
  flow_.InstallClicked();
  // More close requests while the question is open, as impatient clicks send them.
  view_.answer = [&](const std::wstring&) {
    flow_.CloseRequested(1);
    flow_.CloseRequested(1);
    return IDCANCEL;
  };
  flow_.CloseRequested(1);
  EXPECT_EQ(1u, view_.asked.size());
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_QUIT"));
  EXPECT_TRUE(view_.closed_with.empty());
  EXPECT_EQ(Stage::kDownloading, flow_.CurrentStage());

  // OK quits: reported, the window closes, and a download finishing after that runs nothing.
  view_.answer = [](const std::wstring&) { return IDOK; };
  flow_.CloseRequested(1);
  EXPECT_EQ(std::vector<UINT>{1}, view_.closed_with);
  EXPECT_EQ(1, system_.Count("Cancel_Install"));
  flow_.DownloadFinished(true);
  EXPECT_EQ(0, runner_.starts);
  flow_.CloseRequested(1);
  EXPECT_EQ(2u, view_.asked.size());
}

TEST_F(Flow, AnOpenQuitQuestionHoldsAFinishedDownloadUntilAnswered) {
  for (int answer : {IDCANCEL, IDOK}) {
    SCOPED_TRACE(answer == IDOK ? "quit" : "stay");
    FakeView view;
    FakeRunner runner;
    FakeSystem system;
    SetupFlow flow(view, download_, runner, system);
    flow.Start();
    flow.InstallClicked();
    view.answer = [&](const std::wstring&) {
      flow.DownloadFinished(true);
      EXPECT_EQ(0, runner.starts) << "ran under the question";
      return answer;
    };
    flow.CloseRequested(1);
    EXPECT_EQ(answer == IDCANCEL ? 1 : 0, runner.starts);
    EXPECT_EQ(answer == IDCANCEL ? 0 : 1, system.Count("Cancel_Install"));
  }
  // A failure held the same way is shown once the question is gone.
  view_.answer = [&](const std::wstring& text) {
    if (text.find(L"STRID_BOX_QUIT") != std::wstring::npos) flow_.DownloadFinished(false);
    return IDCANCEL;
  };
  flow_.InstallClicked();
  flow_.CloseRequested(1);
  ASSERT_EQ(2u, view_.asked.size());
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_UNKOWN_ERROR"));
}

TEST_F(Flow, WhileThePackageRunsQuittingIsRefusedWithTheFinishingBox) {
  RunToPackage();
  runner_.package_started = true;
  flow_.CloseRequested(1);
  ASSERT_EQ(1u, view_.asked.size());
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_QUIT_FINISHING"));
  EXPECT_TRUE(view_.closed_with.empty());
  EXPECT_EQ(0, system_.Count("Cancel_Install"));
  // The run ending while the box is still up decides what follows.
  view_.answer = [&](const std::wstring&) {
    flow_.PackageRunDone(PackageRunOutcome::kInstalled, 0, nullptr);
    return IDOK;
  };
  flow_.CloseRequested(1);
  EXPECT_EQ(Page::kEnd, view_.LastPage());
  EXPECT_TRUE(view_.closed_with.empty());
  EXPECT_EQ(0, runner_.stops);
}

TEST_F(Flow, QuittingWhileThePackageIsVerifiedAsksAndStopsTheRunBeforeItStarts) {
  RunToPackage();
  // Staying lets the held run go on, and it may still end in the end page.
  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  flow_.CloseRequested(1);
  ASSERT_EQ(1u, view_.asked.size());
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_QUIT XX"));
  EXPECT_FALSE(view_.AskedFor(L"STRID_BOX_QUIT_FINISHING"));
  EXPECT_EQ(1, runner_.holds);
  EXPECT_EQ(1, runner_.releases);
  EXPECT_EQ(0, runner_.stops);
  EXPECT_EQ(Stage::kRunning, flow_.CurrentStage());
  EXPECT_TRUE(view_.closed_with.empty());

  // Quitting stops it: the window closes, reported as a cancel, never as a failure.
  view_.answer = [](const std::wstring&) { return IDOK; };
  flow_.CloseRequested(1);
  EXPECT_EQ(1, runner_.stops);
  EXPECT_EQ(1, runner_.releases);
  EXPECT_EQ(std::vector<UINT>{1}, view_.closed_with);
  EXPECT_EQ(Stage::kQuitting, flow_.CurrentStage());
  EXPECT_EQ(1, system_.Count("Cancel_Install"));
  // The stopped run's report after that changes nothing.
  flow_.PackageRunDone(PackageRunOutcome::kStopped, kVerifyCancelled, nullptr);
  EXPECT_EQ(0, system_.Count("Install_Failed_0xE07A000F"));
  EXPECT_EQ(2u, view_.asked.size());
  EXPECT_NE(Page::kEnd, view_.LastPage());
}

TEST_F(Flow, ARunThatEndsUnderTheQuitQuestionWaitsForTheAnswer) {
  for (int answer : {IDCANCEL, IDOK}) {
    SCOPED_TRACE(answer == IDOK ? "quit" : "stay");
    FakeView view;
    FakeRunner runner;
    FakeSystem system;
    SetupFlow flow(view, download_, runner, system);
    flow.Start();
    flow.InstallClicked();
    flow.DownloadFinished(true);
    // The verifier refuses the package while the user is being asked.
    view.answer = [&](const std::wstring& text) {
      if (text.find(L"STRID_BOX_QUIT") != std::wstring::npos) {
        flow.PackageRunDone(PackageRunOutcome::kUntrusted, kVerifyImageMismatch, nullptr);
        EXPECT_EQ(1u, view.asked.size()) << "a box over the question";
        return answer;
      }
      return IDCANCEL;
    };
    flow.CloseRequested(1);
    if (answer == IDOK) {
      EXPECT_EQ(1u, view.asked.size());
      EXPECT_EQ(1, system.Count("Cancel_Install"));
      EXPECT_EQ(0, system.Count("Install_Failed_0xE07A0009"));
    } else {
      EXPECT_TRUE(view.AskedFor(L"STRID_BOX_PACKAGE_REFUSED"));
      EXPECT_EQ(1, system.Count("Install_Failed_0xE07A0009"));
      EXPECT_EQ(Stage::kHome, flow.CurrentStage());
    }
  }
  // A refused elevation's held package under a confirmed quit is let go, not kept.
  RunToPackage();
  auto job = std::make_unique<PackageRunJob>();
  PackageRunJob* held = job.get();
  view_.answer = [&](const std::wstring&) {
    flow_.PackageRunDone(PackageRunOutcome::kElevationRefused, ERROR_CANCELLED, std::move(job));
    return IDOK;
  };
  flow_.CloseRequested(1);
  EXPECT_EQ(std::vector<PackageRunJob*>{held}, runner_.discarded);
  EXPECT_TRUE(runner_.restarted.empty());
  EXPECT_EQ(1u, view_.asked.size());
}

TEST_F(Flow, EachDownloadFailureReasonGetsItsBox) {
  auto online = [] { return true; };
  auto offline = [] { return false; };
  EXPECT_STREQ(L"STRID_BOX_PROXY_AUTH",
               setup::DownloadFailureBoxFor(HttpErrProxyAuth, offline).text_key);
  EXPECT_STREQ(L"STRID_BOX_PROXY_AUTH",
               setup::DownloadFailureBoxFor(HttpErrProxyAuth, online).text_key);
  EXPECT_STREQ(L"STRID_BOX_SIGN_IN", setup::DownloadFailureBoxFor(HttpErrSignIn, online).text_key);
  EXPECT_STREQ(L"STRID_BOX_TOO_SLOW",
               setup::DownloadFailureBoxFor(HttpErrTooSlow, offline).text_key);
  // A package whose digest is not the pinned one is refused, and offers no browser.
  EXPECT_STREQ(L"STRID_BOX_PACKAGE_REFUSED",
               setup::DownloadFailureBoxFor(HttpErrDigest, online).text_key);
  EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL | MB_ICONERROR),
            setup::DownloadFailureBoxFor(HttpErrDigest, online).type);
  for (HttpInterfaceError reason : {HttpErrConnect, HttpErrRead, HttpErrStatus}) {
    EXPECT_STREQ(L"STRID_BOX_UNKOWN_ERROR", setup::DownloadFailureBoxFor(reason, online).text_key);
    EXPECT_EQ(static_cast<UINT>(MB_ABORTRETRYIGNORE | MB_ICONWARNING),
              setup::DownloadFailureBoxFor(reason, online).type);
    EXPECT_STREQ(L"STRID_BOX_NETWORK_ERROR",
                 setup::DownloadFailureBoxFor(reason, offline).text_key);
  }
  // Own boxes never need to know whether the network is up.
  bool asked = false;
  setup::DownloadFailureBoxFor(HttpErrProxyAuth, [&] { return asked = true; });
  EXPECT_FALSE(asked);
}

TEST_F(Flow, DownloadFailureAnswersRetryReturnHomeOrHandOverToTheBrowser) {
  // Retry: a fresh attempt from 0; then Abort on the unknown error's box: home.
  int answers = 0;
  view_.answer = [&](const std::wstring&) { return ++answers == 1 ? IDRETRY : IDABORT; };
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  EXPECT_EQ(2, download_.starts);
  EXPECT_EQ(0, view_.progress.back());
  EXPECT_EQ(Stage::kDownloading, flow_.CurrentStage());
  flow_.DownloadFinished(false);
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_UNKOWN_ERROR"));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_EQ(Page::kHome, view_.LastPage());

  // A network's sign-in page: its box, and Cancel goes home.
  download_.reason = HttpErrSignIn;
  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_SIGN_IN"));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());

  // Ignore: the package in the browser, the end page, and the installer ends.
  system_.online = true;
  download_.reason = HttpErrStatus;
  view_.answer = [](const std::wstring&) { return IDIGNORE; };
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  EXPECT_EQ(std::vector<std::wstring>{L"http://packages/full.exe"}, system_.opened);
  EXPECT_EQ(Page::kEnd, view_.LastPage());
  EXPECT_EQ(1, view_.loops_ended);
  EXPECT_EQ(0, runner_.starts);
}

TEST_F(Flow, QuittingUnderAFailureBoxLeavesItsAnswerUnused) {
  flow_.InstallClicked();
  view_.answer = [&](const std::wstring& text) {
    if (text.find(L"STRID_BOX_QUIT") != std::wstring::npos) return IDOK;
    flow_.CloseRequested(1);
    return IDRETRY;
  };
  flow_.DownloadFinished(false);
  EXPECT_EQ(Stage::kQuitting, flow_.CurrentStage());
  EXPECT_EQ(1, download_.starts);
  EXPECT_EQ(std::vector<UINT>{1}, view_.closed_with);
}

TEST_F(Flow, ARunningProductIsEndedOnOkAndCancelReturnsHome) {
  system_.product_running = true;
  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  flow_.InstallClicked();
  EXPECT_NE(std::wstring::npos, view_.asked.back().find(L"STRID_BOX_APP_RUNNING Nolt Clipmint"));
  EXPECT_EQ(0, download_.starts);
  EXPECT_EQ(0, system_.products_ended);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());

  view_.answer = [](const std::wstring&) { return IDOK; };
  flow_.InstallClicked();
  EXPECT_EQ(1, system_.products_ended);
  EXPECT_EQ(1, download_.starts);

  // Started again during the download: asked again before the package runs.
  system_.product_running = true;
  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  flow_.DownloadFinished(true);
  EXPECT_EQ(0, runner_.starts);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
}

TEST_F(Flow, AFailedRunIsReportedWithItsCodeAndOffersRetryAndTheBrowser) {
  RunToPackage();
  int boxes = 0;
  view_.answer = [&](const std::wstring&) { return ++boxes == 1 ? IDRETRY : IDIGNORE; };
  flow_.PackageRunDone(PackageRunOutcome::kSetupFailed, 7, nullptr);
  EXPECT_EQ(1, system_.Count("Install_Failed_7"));
  EXPECT_NE(std::wstring::npos, view_.asked.back().find(L"STRID_BOX_INSTALL_FAILED 7 C:\\log.txt"));
  EXPECT_EQ(0, system_.Count("Install_Completed"));
  // Retry starts over with a fresh download.
  EXPECT_EQ(2, download_.starts);
  EXPECT_EQ(Stage::kDownloading, flow_.CurrentStage());

  // Ignore hands a package that was verified and ran, but failed, to the browser.
  flow_.DownloadFinished(true);
  flow_.PackageRunDone(PackageRunOutcome::kSetupFailed, 0x800B0100, nullptr);
  EXPECT_EQ(1, system_.Count("Install_Failed_0x800B0100"));
  EXPECT_EQ(std::vector<std::wstring>{L"http://packages/full.exe"}, system_.opened);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_EQ(Page::kHome, view_.LastPage());
  EXPECT_EQ(0, view_.progress.back()) << "no percentage stays behind the box";

  // A run that cannot even start fails the same way.
  runner_.can_start = false;
  view_.answer = [](const std::wstring&) { return IDABORT; };
  flow_.InstallClicked();
  flow_.DownloadFinished(true);
  EXPECT_EQ(1, system_.Count("Install_Failed_8"));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  // An outcome for no run in progress is dropped, its held package with it.
  auto stray = std::make_unique<PackageRunJob>();
  PackageRunJob* stray_job = stray.get();
  flow_.PackageRunDone(PackageRunOutcome::kInstalled, 0, std::move(stray));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_EQ(std::vector<PackageRunJob*>{stray_job}, runner_.discarded);
}

TEST_F(Flow, ARefusedElevationRetriesTheHeldPackageOrDiscardsIt) {
  RunToPackage();
  view_.answer = [](const std::wstring&) { return IDRETRY; };
  auto job = std::make_unique<PackageRunJob>();
  PackageRunJob* held = job.get();
  flow_.PackageRunDone(PackageRunOutcome::kElevationRefused, ERROR_CANCELLED, std::move(job));
  EXPECT_NE(std::wstring::npos, view_.asked.back().find(L"STRID_BOX_ADMIN_NEEDED Nolt Clipmint"));
  EXPECT_EQ(std::vector<PackageRunJob*>{held}, runner_.restarted);
  EXPECT_EQ(Stage::kRunning, flow_.CurrentStage());
  EXPECT_EQ(Page::kDownload, view_.LastPage());
  EXPECT_EQ(90, view_.progress.back());
  EXPECT_EQ(1, download_.starts) << "the same bytes, not a new download";

  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  job = std::make_unique<PackageRunJob>();
  held = job.get();
  flow_.PackageRunDone(PackageRunOutcome::kElevationRefused, ERROR_CANCELLED, std::move(job));
  EXPECT_EQ(std::vector<PackageRunJob*>{held}, runner_.discarded);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_EQ(2, system_.Count("Install_Failed_1223"));
  EXPECT_FALSE(view_.AskedFor(L"STRID_BOX_INSTALL_FAILED"));
}

TEST_F(Flow, ALostNetworkIsWaitedForTenMinutesWithoutABoxThenAsked) {
  download_.reason = HttpErrConnect;
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  EXPECT_TRUE(view_.asked.empty()) << "a lost network is a wait, not a box";
  EXPECT_TRUE(flow_.WaitingForNetwork());
  EXPECT_EQ(std::vector<bool>{true}, view_.waiting_shown);
  ASSERT_EQ(1u, view_.retries_scheduled.size());
  EXPECT_EQ(Page::kDownload, view_.LastPage()) << "the page and its percentage stay";
  // Each pause over starts an attempt of its own, which goes on from what is on disk.
  for (int i = 0; i < 5; ++i) {
    system_.now_ms += SetupFlow::kNetworkRetryMs;
    flow_.RetryDue();
    flow_.DownloadFinished(false);
  }
  EXPECT_EQ(6, download_.starts);
  EXPECT_TRUE(view_.asked.empty());
  // The network is back: the download finishes and the page no longer waits.
  system_.now_ms += SetupFlow::kNetworkRetryMs;
  flow_.RetryDue();
  flow_.DownloadFinished(true);
  EXPECT_FALSE(flow_.WaitingForNetwork());
  EXPECT_EQ(false, view_.waiting_shown.back());
  EXPECT_EQ(Stage::kRunning, flow_.CurrentStage());
}

TEST_F(Flow, AfterTenMinutesOfNoNetworkTheBoxComesAndGoingHomeStopsTheRetries) {
  download_.reason = HttpErrRead;
  system_.online = false;
  view_.answer = [](const std::wstring&) { return IDCANCEL; };
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  system_.now_ms += SetupFlow::kNetworkWaitMs;
  flow_.RetryDue();
  flow_.DownloadFinished(false);
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_NETWORK_ERROR"));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_FALSE(flow_.WaitingForNetwork());
  const int starts = download_.starts;
  flow_.RetryDue();
  EXPECT_EQ(starts, download_.starts) << "a pause that ends after going home starts nothing";

  // Quitting while waiting: the pause's end starts nothing either.
  view_.answer = [](const std::wstring&) { return IDOK; };
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  flow_.CloseRequested(1);
  flow_.RetryDue();
  EXPECT_EQ(starts + 1, download_.starts);
}

TEST_F(Flow, AProxyAskingForCredentialsGetsThePromptAgainWhenRefusedAndCancelGoesHome) {
  download_.reason = HttpErrProxyAuth;
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  EXPECT_EQ(std::vector<bool>{false}, view_.proxy_prompts);
  EXPECT_EQ(L"alice", download_.proxy_user);
  EXPECT_EQ(2, download_.starts) << "the account given is tried at once";
  // The proxy still refuses: the prompt says so; Cancel returns home.
  view_.proxy_account = false;
  flow_.DownloadFinished(false);
  EXPECT_EQ((std::vector<bool>{false, true}), view_.proxy_prompts);
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
  EXPECT_TRUE(view_.asked.empty()) << "no box besides the prompt";
}

TEST_F(Flow, ARefusedPackageGetsItsOwnBoxWithNoWayToRunItByHand) {
  RunToPackage();
  view_.answer = [](const std::wstring&) { return IDIGNORE; };
  flow_.PackageRunDone(PackageRunOutcome::kUntrusted, 0xE07A0004, nullptr);
  ASSERT_EQ(1u, view_.asked.size());
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_PACKAGE_REFUSED 0xE07A0004 C:\\log.txt"));
  EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL | MB_ICONERROR), view_.types.back());
  EXPECT_TRUE(system_.opened.empty());
  EXPECT_EQ(Page::kHome, view_.LastPage());
  // Retry downloads again rather than run the same file.
  view_.answer = [](const std::wstring&) { return IDRETRY; };
  RunToPackage();
  flow_.PackageRunDone(PackageRunOutcome::kUntrusted, 0xE07A0004, nullptr);
  EXPECT_EQ(Stage::kDownloading, flow_.CurrentStage());
}

TEST_F(Flow, ADiskThatFillsDuringTheDownloadGetsTheDiskBoxWithTheSpaceNeeded) {
  download_.reason = HttpErrDiskFull;
  flow_.InstallClicked();
  flow_.DownloadFinished(false);
  // Three times the 10 MiB package, as before the start.
  EXPECT_TRUE(view_.AskedFor(L"STRID_BOX_DISK_NOT_ENOUGH 30 YY"));
  EXPECT_EQ(Stage::kHome, flow_.CurrentStage());
}

}  // namespace
