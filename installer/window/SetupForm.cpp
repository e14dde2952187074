// The setup window: page flow, custom options, and the download, install and launch run.
#include "installer/window/SetupForm.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "base/StringUtil.h"
#include "installer/analytics/Analytics.h"
#include "installer/main/Log.h"
#include "installer/main/SystemUtil.h"
#include "installer/main/UserShell.h"
#include "installer/trust/ProtectedFolder.h"
#include "installer/window/SetupRules.h"
#include "ui/controls/Button.h"
#include "ui/controls/CheckBox.h"
#include "ui/controls/Combo.h"
#include "ui/controls/Label.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/controls/Progress.h"
#include "ui/controls/RichEdit.h"
#include "ui/core/GlobalManager.h"
#include "ui/layouts/TabBox.h"
#include "ui/layouts/VBox.h"

const wchar_t kSetupWindowName[] = L"PELLISAR Setup";

namespace {

constexpr int kIconGroupId = 107;
constexpr int kHomeHeight = 360;
constexpr int kHomeHeightWithCustomPanel = 472;

// Only one quit question at a time, however many close requests arrive while it is open.
bool g_quit_box_showing = false;

template <typename T>
T* Find(ui::Window& window, const wchar_t* name) {
  return dynamic_cast<T*>(window.FindControl(name));
}

}  // namespace

SetupForm::SetupForm() = default;

SetupForm::~SetupForm() {
  // The downloader's threads may still be fetching when the user quits; the process is ending
  // and they are not waited for, so the downloader is deliberately left to them.
  (void)downloader_.release();
}

LONG SetupForm::GetStyle() const {
  // The system menu and minimize box keep the taskbar button's restore and minimize working.
  return WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
}

LRESULT SetupForm::OnCreate(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  const LRESULT result = WindowImplBase::OnCreate(message, wparam, lparam, handled);
  if (result == 0 && GetRoot()) InitWindow();
  return result;
}

void SetupForm::InitWindow() {
  LOG_APP(L"------- init window -------");
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  big_icon_.reset(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconGroupId),
                                                  IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                  ::GetSystemMetrics(SM_CYICON), 0)));
  small_icon_.reset(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconGroupId),
                                                    IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                    ::GetSystemMetrics(SM_CYSMICON), 0)));
  if (big_icon_) {
    ::SendMessageW(GetHWND(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  }
  if (small_icon_) {
    ::SendMessageW(GetHWND(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
  }
  GetRoot()->AttachBubbledEvent(ui::kEventAll,
                                [this](ui::EventArgs& args) { return Notify(args); });
  BindControls();
  if (edit_path_) edit_path_->SetWordWrap(false);
  InitData();
}

void SetupForm::BindControls() {
  switch_ = Find<ui::TabBox>(*this, L"switch");
  minbtn_ = Find<Button>(*this, L"minbtn");
  closebtn_ = Find<Button>(*this, L"closebtn");
  btn_install_ = Find<Button>(*this, L"btn_install");
  btn_link_ = Find<Button>(*this, L"btn_link");
  label_link_left_ = Find<Label>(*this, L"label_link_left");
  control_space_ = FindControl(L"control_space");
  label_link_right_ = Find<Label>(*this, L"label_link_right");
  checkbox_custom_ = Find<CheckBox>(*this, L"checkbox_custom");
  box_custom_ = Find<ui::VBox>(*this, L"box_custom");
  label_language_ = Find<Label>(*this, L"label_langauge");
  combo_language_ = Find<ui::Combo>(*this, L"combo_language");
  label_path_ = Find<Label>(*this, L"label_path");
  edit_path_ = Find<ui::RichEdit>(*this, L"edit_path");
  label_error_ = Find<Label>(*this, L"label_error");
  download_bk_ = FindControl(L"download_bk");
  label_installing_ = Find<Label>(*this, L"label_installing");
  label_progress_ = Find<Label>(*this, L"label_progress");
  progress_ = Find<ui::Progress>(*this, L"progress");
  btn_hide_ = Find<Button>(*this, L"btn_hide");
  label_tip_ = Find<Label>(*this, L"label_tip");
  end_bk_ = FindControl(L"end_bk");
  box_end_bk_ = Find<ui::VBox>(*this, L"box_end_bk");
  btn_start_ = Find<Button>(*this, L"btn_start");
  // The skin must name every one of them; a missing one is a broken package, worth a line.
  const void* bound[] = {switch_,           minbtn_,          closebtn_,       btn_install_,
                         btn_link_,         label_link_left_, control_space_,  label_link_right_,
                         checkbox_custom_,  box_custom_,      label_language_, combo_language_,
                         label_path_,       edit_path_,       label_error_,    download_bk_,
                         label_installing_, label_progress_,  progress_,       btn_hide_,
                         label_tip_,        end_bk_,          box_end_bk_,     btn_start_};
  for (size_t i = 0; i < sizeof(bound) / sizeof(bound[0]); ++i) {
    if (!bound[i])
      LOG_ERR(L"setup_form.xml lacks control %u or gives it another class",
              static_cast<unsigned>(i));
  }
}

nbase::ArchiveReader SetupForm::PackageReader() const {
  return [](const std::wstring& path, std::string& bytes) {
    ui::GlobalManager& manager = ui::GlobalManager::Instance();
    if (!manager.IsUseZip()) return false;
    nbase::UniqueGlobalMemory block(manager.GetZipData(path));
    if (!block) return false;
    nbase::ScopedGlobalLock lock(block.get());
    if (!lock.data()) return false;
    const char* data = static_cast<const char*>(lock.data());
    bytes.assign(data, data + ::GlobalSize(block.get()));
    return true;
  };
}

std::wstring SetupForm::LanguageText(const wchar_t* key) const {
  return ui::GlobalManager::Instance().GetLanguageText(key);
}

void SetupForm::InitData() {
  LOG_APP(L"------- init data -------");
  const nbase::ArchiveReader reader = PackageReader();
  languages_.ChooseByText(LanguageList::TextFromExeName(),
                          ui::GlobalManager::Instance().GetLanguageTable(), reader);
  product_.Read(reader);
  CAnalytics::Instance().ConfigureFromProductTable(ProductTable());
  // Reading the machine identifier starts a system tool, which competes with the first paint
  // for the processor: it starts once the window is up (timers come after painting).
  ::SetTimer(GetHWND(), kAnalyticsTimerId, 0, nullptr);
  CreateDownloader();
  FillLanguageCombo();
  if (edit_path_) edit_path_->SetText(product_.DefaultInstallFolder());
  ResetToHome();
  ApplyTexts();
  ApplyPictures();
}

int SetupForm::CurrentPage() const {
  return switch_ ? switch_->GetCurSel() : -1;
}

void SetupForm::GoToPage(int page) {
  if (switch_) switch_->SelectItem(page);
}

void SetupForm::ShowCaptionButtons(bool close, bool minimize) {
  if (closebtn_) closebtn_->SetFadeVisible(close);
  if (minbtn_) minbtn_->SetFadeVisible(minimize);
}

void SetupForm::ResetToHome() {
  ShowCaptionButtons(true, true);
  if (checkbox_custom_) checkbox_custom_->Selected(false, false);
  ShowCustomPanel(false);
  GoToPage(kHomePage);
}

void SetupForm::ApplyTexts() {
  struct Binding {
    Label* label;
    const wchar_t* key;
  };
  const Binding bindings[] = {
      {btn_install_, L"STRID_HOMEPAGE_INSTALL"},
      {label_link_left_, L"STRID_HOMEPAGE_LINK_LEFT"},
      {btn_link_, L"STRID_HOMEPAGE_LINK_CENTER"},
      {label_link_right_, L"STRID_HOMEPAGE_LINK_RIGHT"},
      {checkbox_custom_, L"STRID_HOMEPAGE_CUSTOM"},
      {label_language_, L"STRID_HOMEPAGE_LANGUAGE_OPTIONS"},
      {label_path_, L"STRID_HOMEPAGE_INSTALL_PATH"},
      {label_error_, L"STRID_HOMEPAGE_INVALID_PATH"},
      {label_installing_, L"STRID_DOWNLOADPAGE_INSTALLING"},
      {label_tip_, L"STRID_DOWNLOADPAGE_INSTALL_TIP"},
      {btn_hide_, L"STRID_DOWNLOADPAGE_HIDE"},
      {btn_start_, L"STRID_DOWNLOADPAGE_START"},
  };
  for (const Binding& binding : bindings) {
    if (binding.label) binding.label->SetText(LanguageText(binding.key));
  }
  // English "." hugs the link; German "zu." needs a little air.
  if (control_space_ && label_link_right_) {
    control_space_->SetFixedWidth(label_link_right_->GetText().size() < 2 ? 1 : 3);
  }
}

void SetupForm::ApplyPictures() {
  const std::wstring& language = languages_.CurrentName();
  const std::wstring end_picture = nbase::StringPrintf(L"bkimage/%ls/end.jpg", language.c_str());
  if (end_bk_) end_bk_->SetAttribute(L"bkimage", end_picture);
  if (box_end_bk_) box_end_bk_->SetAttribute(L"bkimage", end_picture);
  if (download_bk_) {
    download_bk_->SetAttribute(
        L"bkimage", nbase::StringPrintf(L"bkimage/%ls/%d.jpg", language.c_str(), slideshow_index_));
  }
}

void SetupForm::ShowCustomPanel(bool show) {
  if (switch_) switch_->SetFixedHeight(show ? kHomeHeightWithCustomPanel : kHomeHeight);
  if (box_custom_) box_custom_->SetFadeVisible(show);
  FitWindowToContent();
}

void SetupForm::FitWindowToContent() {
  HWND hwnd = GetHWND();
  ui::Control* root = GetRoot();
  if (!hwnd || !root) return;
  SIZE size = root->EstimateSize({99999, 99999});
  if (size.cx <= 0 || size.cy <= 0) return;
  RECT rect = {};
  ::GetWindowRect(hwnd, &rect);
  if (rect.right - rect.left == size.cx && rect.bottom - rect.top == size.cy) return;
  ::SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  NeedUpdate();
}

int SetupForm::MessageBox(const std::wstring& text, UINT type) {
  return ::MessageBoxW(GetHWND(), text.c_str(), L"", type);
}

bool SetupForm::Notify(ui::EventArgs& args) {
  const std::wstring name = args.sender ? args.sender->GetName() : std::wstring();
  if (args.type == ui::kEventClick) {
    if (name == L"btn_install") {
      InstallNow();
    } else if (name == L"btn_link") {
      usershell::OpenAsUser(LanguageText(L"URLID_SERVICE"));
    } else if (name == L"btn_path") {
      BrowseForFolder();
    } else if (name == L"btn_hide") {
      ::SendMessageW(GetHWND(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"btn_start") {
      StartNow();
    }
  } else if (args.type == ui::kEventSelect || args.type == ui::kEventUnSelect) {
    if (name == L"checkbox_custom" && checkbox_custom_) {
      ShowCustomPanel(checkbox_custom_->IsSelected());
    } else if (name == L"combo_language") {
      SwitchLanguage();
    }
  }
  return true;
}

void SetupForm::Close(UINT code) {
  if (CurrentPage() == kEndPage) {
    WindowImplBase::Close(code);
    return;
  }
  if (g_quit_box_showing) return;
  g_quit_box_showing = true;
  if (install_running_) {
    // The package is running with administrator rights; ending now would leave the product
    // half installed and no one to report it. The run's end decides what follows.
    MessageBox(LanguageText(L"STRID_BOX_QUIT_FINISHING"), MB_OK | MB_ICONINFORMATION);
    g_quit_box_showing = false;
    return;
  }
  const int answer = MessageBox(LanguageText(L"STRID_BOX_QUIT"), MB_OKCANCEL | MB_ICONWARNING);
  g_quit_box_showing = false;
  if (answer != IDOK) {
    // A download that finished while the question was open goes on only now.
    if (finish_deferred_) {
      finish_deferred_ = false;
      OnDownloadFinished(deferred_success_);
    }
    return;
  }
  finish_deferred_ = false;
  quitting_ = true;
  StartAnalytics();
  CAnalytics::Instance().SendEvent("Cancel_Install", "");
  WindowImplBase::Close(code);
}

LRESULT SetupForm::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  handled = false;
  switch (message) {
    case WM_CLOSE:
      OnWmClose(wparam, handled);
      break;
    case WM_TIMER:
      OnTimer(wparam);
      break;
    case WM_DOWNLOAD_PROGRESS:
      OnDownloadProgress(lparam);
      break;
    case WM_DOWNLOAD_FINISHED:
      if (quitting_) break;
      if (g_quit_box_showing) {
        // Nothing runs while the user is being asked whether to quit.
        finish_deferred_ = true;
        deferred_success_ = lparam != 0;
        break;
      }
      OnDownloadFinished(lparam != 0);
      break;
    case WM_SILENT_INSTALL_DONE:
      OnSilentInstallDone(
          std::unique_ptr<PackageRunResult>(reinterpret_cast<PackageRunResult*>(lparam)));
      handled = true;
      break;
    default:
      break;
  }
  return 0;
}

void SetupForm::OnWmClose(WPARAM wparam, bool& handled) {
  if (wparam == 0) {
    // The system's request (Alt+F4, the system menu): through the question.
    Close(1);
    handled = true;
    return;
  }
  if (CurrentPage() == kEndPage) usershell::OpenAsUser(LanguageText(L"URLID_INSTALL"));
  ::PostQuitMessage(0);
}

void SetupForm::StartAnalytics() {
  if (analytics_started_) return;
  analytics_started_ = true;
  ::KillTimer(GetHWND(), kAnalyticsTimerId);
  CAnalytics::Instance().Init(nbase::UTF16ToUTF8(product_.AnalyticsCategory()),
                              nbase::UTF16ToUTF8(product_.AnalyticsPrefix()));
}

void SetupForm::OnTimer(UINT_PTR id) {
  if (id == kAnalyticsTimerId) {
    StartAnalytics();
    return;
  }
  if (id != kSlideshowTimerId) return;
  if (++slideshow_index_ > 3) slideshow_index_ = 1;
  if (download_bk_) {
    download_bk_->SetAttribute(
        L"bkimage", nbase::StringPrintf(L"bkimage/%ls/%d.jpg", languages_.CurrentName().c_str(),
                                        slideshow_index_));
  }
}

void SetupForm::OnDownloadProgress(LPARAM lparam) {
  const auto* record = reinterpret_cast<const DownloadProgress*>(lparam);
  if (!record) return;
  const int shown = setup::DisplayedPercent(record->percent);
  if (shown >= 0) SetProgress(shown);
}

// --- Custom options ---------------------------------------------------------------------------

void SetupForm::FillLanguageCombo() {
  if (!combo_language_) return;
  const std::wstring current = languages_.CurrentName();
  int selection = 0;
  // The list is keyed by name; its order is the order of the offered languages.
  for (const auto& [name, entry] : languages_.GetEntries()) {
    auto* item = new ui::ListContainerElement();
    item->SetClass(L"listitem");
    item->SetFixedHeight(28);
    item->SetBkColor(L"white");
    item->SetAttribute(L"textpadding", L"6,0,6,0");
    item->SetText(entry.display_name);
    combo_language_->Add(item);
    if (name == current) selection = static_cast<int>(combo_language_->GetCount()) - 1;
  }
  combo_language_->SelectItem(selection);
  if (edit_path_) edit_path_->SetText(product_.DefaultInstallFolder());
}

void SetupForm::SwitchLanguage() {
  if (!combo_language_) return;
  std::wstring chosen = languages_.CurrentName();
  const std::wstring shown = combo_language_->GetText();
  for (const auto& [name, entry] : languages_.GetEntries()) {
    if (entry.display_name == shown) {
      chosen = name;
      break;
    }
  }
  if (chosen == languages_.CurrentName()) return;
  languages_.Apply(chosen, ui::GlobalManager::Instance().GetLanguageTable(), PackageReader());
  ApplyTexts();
  ApplyPictures();
}

void SetupForm::BrowseForFolder() {
  BROWSEINFOW info = {};
  info.hwndOwner = GetHWND();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
  nbase::UniqueCoTaskMem chosen(::SHBrowseForFolderW(&info));
  if (!chosen) return;
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(chosen.get()), path)) return;
  const std::wstring folder =
      setup::BrowsedInstallFolder(path, product_.BrandName(), product_.DisplayName());
  if (!folder.empty() && edit_path_) edit_path_->SetText(folder);
}

bool SetupForm::CheckDisk(double required_bytes) {
  const std::wstring folder = edit_path_ ? edit_path_->GetText() : std::wstring();
  if (!setup::IsValidInstallFolder(folder, sysutil::IsDirectory)) {
    if (label_error_) label_error_->SetFadeVisible(true);
    return false;
  }
  const int required_mb = setup::RequiredMegabytes(required_bytes);
  if (static_cast<double>(required_mb) > sysutil::FreeDiskSpaceMB(folder)) {
    MessageBox(setup::ReplacePlaceholder(LanguageText(L"STRID_BOX_DISK_NOT_ENOUGH"),
                                         nbase::StringPrintf(L"%d", required_mb)),
               MB_OK | MB_ICONWARNING);
    return false;
  }
  if (label_error_) label_error_->SetFadeVisible(false);
  return true;
}

// --- The installation run ---------------------------------------------------------------------

std::wstring SetupForm::PackageUrl() const {
  return LanguageText(sysutil::Is64BitSystem() ? L"URLID_DOWN_X64" : L"URLID_DOWN");
}

std::wstring SetupForm::PackageDigest() const {
  return LanguageText(sysutil::Is64BitSystem() ? L"URLID_DOWN_X64_SHA256" : L"URLID_DOWN_SHA256");
}

PackagePins SetupForm::Pins() const {
  PackagePins pins;
  pins.publisher = product_.PublisherName();
  pins.root_sha256 = nbase::UTF16ToUTF8(product_.PublisherRootSha256());
  pins.file_sha256 = nbase::UTF16ToUTF8(PackageDigest());
  return pins;
}

bool SetupForm::PrepareDownloadFolder() {
  if (download_folder_.empty()) {
    download_folder_ = protected_folder::LocationFor(product_.DisplayName() + L" Setup");
  }
  if (download_folder_.empty() || !protected_folder::Prepare(download_folder_)) {
    LOG_ERR(L"cannot prepare the protected download folder %ls (error %lu)",
            download_folder_.c_str(), static_cast<unsigned long>(::GetLastError()));
    return false;
  }
  return true;
}

void SetupForm::CreateDownloader() {
  if (downloader_) return;
  // Prepared again before every download; made here so the size query can start at once.
  download_folder_ready_ = PrepareDownloadFolder();
  downloader_ = std::make_unique<CHttpDownloader>(GetHWND(), PackageUrl(), download_folder_,
                                                  nbase::UTF16ToUTF8(PackageDigest()));
}

void SetupForm::InstallNow() {
  StartAnalytics();
  if (!CheckRunningProduct()) return;
  if (!CheckDisk(downloader_->KnownFileSize() * 3)) return;
  // Nothing is downloaded into a folder whose access list is not ours.
  if (!PrepareDownloadFolder()) {
    const DWORD error = ::GetLastError();
    CAnalytics::Instance().SendEvent("Install_Failed",
                                     setup::OutcomeCode(error ? error : ERROR_ACCESS_DENIED));
    ShowInstallFailedBox(error ? error : ERROR_ACCESS_DENIED);
    return;
  }
  CAnalytics::Instance().SendEvent("Start_Install", "");
  ShowCaptionButtons(false, false);
  GoToPage(kDownloadPage);
  ShowCustomPanel(false);
  product_.SetInstallFolder(edit_path_ ? edit_path_->GetText() : std::wstring());
  if (!taskbar_) {
    nbase::ComPtr<ITaskbarList3> taskbar;
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_ITaskbarList3,
                                     taskbar.put_void())) &&
        SUCCEEDED(taskbar->HrInit())) {
      taskbar_ = std::move(taskbar);
    }
  }
  SetProgress(0);
  StartDownload();
  ::SetTimer(GetHWND(), kSlideshowTimerId, kSlideshowPeriodMs, nullptr);
  slideshow_index_ = 1;
}

void SetupForm::StartDownload() {
  LOG_APP(L"------- start download -------");
  if (!download_folder_ready_) download_folder_ready_ = PrepareDownloadFolder();
  sysutil::DeleteFilePath(downloader_->TargetPath());
  downloader_->Start();
}

void SetupForm::Retry() {
  LOG_APP(L"------- retry download -------");
  SetProgress(0);
  StartDownload();
}

void SetupForm::SetProgress(int percent) {
  if (!progress_ || static_cast<int>(progress_->GetValue()) == percent) return;
  progress_->SetValue(percent);
  if (label_progress_) label_progress_->SetText(nbase::StringPrintf(L"(%d%%)", percent));
  if (taskbar_) {
    taskbar_->SetProgressState(GetHWND(), TBPF_INDETERMINATE);
    taskbar_->SetProgressValue(GetHWND(), static_cast<ULONGLONG>(percent), 100);
  }
}

bool SetupForm::CheckRunningProduct() {
  const std::wstring& process = product_.ProcessName();
  if (process.empty() || !sysutil::IsProcessRunning(process)) return true;
  const int answer = MessageBox(
      setup::ReplacePlaceholder(LanguageText(L"STRID_BOX_APP_RUNNING"), product_.DisplayName()),
      MB_OKCANCEL | MB_ICONWARNING);
  if (answer == IDOK) {
    sysutil::TerminateProcesses(process);
    return true;
  }
  if (answer == IDCANCEL) {
    ResetToHome();
    return false;
  }
  return true;
}

void SetupForm::OnDownloadFinished(bool success) {
  if (!success) {
    LOG_APP(L"------- download failed -------");
    if (taskbar_) {
      taskbar_->SetProgressState(GetHWND(), TBPF_ERROR);
      taskbar_->SetProgressValue(GetHWND(), 100, 100);
    }
    // Failures the user can act on (a proxy asking for credentials, a network's sign-in page,
    // a link too slow to go on) get a box of their own instead of the generic one.
    const HttpInterfaceError reason = downloader_ ? downloader_->FailureReason() : HttpOk;
    if (reason == HttpErrProxyAuth) {
      ShowRetryBox(L"STRID_BOX_PROXY_AUTH");
    } else if (reason == HttpErrSignIn) {
      ShowRetryBox(L"STRID_BOX_SIGN_IN");
    } else if (reason == HttpErrTooSlow) {
      ShowRetryBox(L"STRID_BOX_TOO_SLOW");
    } else if (sysutil::IsInternetConnected()) {
      ShowUnknownErrorBox();
    } else {
      ShowRetryBox(L"STRID_BOX_NETWORK_ERROR");
    }
    if (taskbar_) {
      taskbar_->SetProgressState(GetHWND(), TBPF_INDETERMINATE);
      taskbar_->SetProgressValue(GetHWND(), 0, 100);
    }
    return;
  }
  LOG_APP(L"------- download success -------");
  if (!CheckRunningProduct()) return;
  CAnalytics::Instance().SendEvent("Install_Time",
                                   setup::DurationBucket(downloader_->ElapsedSeconds()));
  StartSilentInstall();
}

void SetupForm::StartSilentInstall() {
  auto job = std::make_unique<PackageRunJob>();
  job->window = GetHWND();
  job->download_path = downloader_->DownloadPath();
  job->target_path = downloader_->TargetPath();
  job->working_folder = download_folder_;
  job->install_folder = edit_path_ ? edit_path_->GetText() : std::wstring();
  job->pins = Pins();
  job->language_name = languages_.CurrentName();
  job->product = product_;
  RunPackage(std::move(job));
}

void SetupForm::RunPackage(std::unique_ptr<PackageRunJob> job) {
  install_running_ = true;
  if (!StartPackageRun(std::move(job))) {
    install_running_ = false;
    OnInstallFailed(PackageRunOutcome::kStartFailed, ERROR_NOT_ENOUGH_MEMORY, nullptr);
  }
}

void SetupForm::OnSilentInstallDone(std::unique_ptr<PackageRunResult> result) {
  install_running_ = false;
  if (!result) return;
  if (result->outcome != PackageRunOutcome::kInstalled) {
    OnInstallFailed(result->outcome, result->code, std::move(result->job));
    return;
  }
  CAnalytics::Instance().SendEvent("Install_Completed", "");
  // Nothing of the package stays behind in its folder once the product is installed.
  if (!download_folder_.empty()) protected_folder::Empty(download_folder_);
  ShowCaptionButtons(true, false);
  GoToPage(kEndPage);
  if (taskbar_) {
    taskbar_->SetProgressState(GetHWND(), TBPF_INDETERMINATE);
    taskbar_->SetProgressValue(GetHWND(), 0, 100);
  }
}

void SetupForm::OnInstallFailed(PackageRunOutcome outcome, DWORD code,
                                std::unique_ptr<PackageRunJob> retry_job) {
  CAnalytics::Instance().SendEvent("Install_Failed", setup::OutcomeCode(code));
  if (taskbar_) {
    taskbar_->SetProgressState(GetHWND(), TBPF_NOPROGRESS);
  }
  // The run did not complete: its percentage must not stay on screen behind the box.
  ResetToHome();
  SetProgress(0);
  if (outcome == PackageRunOutcome::kElevationRefused && retry_job) {
    const int answer = MessageBox(
        setup::ReplacePlaceholder(LanguageText(L"STRID_BOX_ADMIN_NEEDED"), product_.DisplayName()),
        MB_RETRYCANCEL | MB_ICONWARNING);
    if (answer == IDRETRY) {
      // The same held, verified package is started again.
      ShowCaptionButtons(false, false);
      GoToPage(kDownloadPage);
      SetProgress(90);
      RunPackage(std::move(retry_job));
      return;
    }
    DiscardHeldPackage(std::move(retry_job->held), retry_job->target_path);
    return;
  }
  ShowInstallFailedBox(code);
}

void SetupForm::ShowInstallFailedBox(DWORD code) {
  std::wstring text = setup::ReplacePlaceholder(LanguageText(L"STRID_BOX_INSTALL_FAILED"),
                                                nbase::UTF8ToUTF16(setup::OutcomeCode(code)));
  nbase::ReplaceAll(text, L"YY", LogSink::Instance().FilePath());
  const int answer = MessageBox(text, MB_ABORTRETRYIGNORE | MB_ICONERROR);
  if (answer == IDRETRY) {
    InstallNow();
  } else if (answer == IDIGNORE) {
    // The browser downloads the package as the user, who runs it by hand.
    usershell::OpenAsUser(PackageUrl());
  }
}

void SetupForm::ShowRetryBox(const wchar_t* text_id) {
  const int answer = MessageBox(LanguageText(text_id), MB_RETRYCANCEL | MB_ICONWARNING);
  if (answer == IDRETRY) {
    Retry();
  } else if (answer == IDCANCEL) {
    ResetToHome();
  }
}

void SetupForm::ShowUnknownErrorBox() {
  const int answer =
      MessageBox(LanguageText(L"STRID_BOX_UNKOWN_ERROR"), MB_ABORTRETRYIGNORE | MB_ICONWARNING);
  if (answer == IDABORT) {
    ResetToHome();
  } else if (answer == IDRETRY) {
    Retry();
  } else if (answer == IDIGNORE) {
    usershell::OpenAsUser(PackageUrl());
    ShowCaptionButtons(true, false);
    GoToPage(kEndPage);
    ::PostQuitMessage(0);
  }
}

void SetupForm::StartNow() {
  // As the signed-in user: the product must not inherit the installer's administrator rights.
  usershell::OpenAsUser(product_.ProductExePath(), std::wstring(), product_.InstallFolder(),
                        SW_SHOW);
  Close(1);
}
