// The setup window: page flow, custom options, and the download, install and launch run.
#include "installer/window/SetupForm.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "base/ComIds.h"
#include "base/StringUtil.h"
#include "base/SystemLibrary.h"
#include "installer/HttpClient/ProxyCredentials.h"
#include "installer/analytics/Analytics.h"
#include "installer/main/Log.h"
#include "installer/main/ShellFunctions.h"
#include "installer/main/SystemUtil.h"
#include "installer/main/UserShell.h"
#include "installer/trust/ProtectedFolder.h"
#include "installer/window/ProxySignIn.h"
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

bool Launched(usershell::LaunchRoute route) {
  return route == usershell::LaunchRoute::kDesktopShell || route == usershell::LaunchRoute::kDirect;
}

template <typename T>
T* Find(ui::Window& window, const wchar_t* name) {
  return dynamic_cast<T*>(window.FindControl(name));
}

}  // namespace

// The downloader as the flow sees it: the protected folder it writes into and its attempts.
class SetupForm::Download : public setup::PackageDownload {
 public:
  explicit Download(SetupForm& form) : form_(form) {}
  double KnownFileSize() const override { return form_.TheDownloader().KnownFileSize(); }
  double ElapsedSeconds() const override { return form_.TheDownloader().ElapsedSeconds(); }
  HttpInterfaceError FailureReason() const override {
    return form_.TheDownloader().FailureReason();
  }
  std::wstring Url() const override { return form_.PackageUrl(); }
  bool PrepareFolder(DWORD* error) override {
    if (form_.PrepareDownloadFolder()) return true;
    *error = ::GetLastError();
    return false;
  }
  void Start() override {
    LOG_APP(L"------- start download -------");
    if (!form_.download_folder_ready_) form_.download_folder_ready_ = form_.PrepareDownloadFolder();
    sysutil::DeleteFilePath(form_.TheDownloader().TargetPath());
    form_.TheDownloader().Start();
  }
  void EmptyFolder() override {
    if (!form_.download_folder_.empty()) protected_folder::Empty(form_.download_folder_);
  }
  void UseProxyAccount(const std::wstring& user, const std::wstring& password) override {
    proxy_credentials::Set(user, password);
  }
  bool HasProxyAccount() const override { return proxy_credentials::Present(); }

 private:
  SetupForm& form_;
};

// The package run as the flow sees it: a job copied from the window's fields for its thread.
class SetupForm::Runner : public setup::PackageRunner {
 public:
  explicit Runner(SetupForm& form) : form_(form) {}
  bool Start() override {
    auto job = std::make_unique<PackageRunJob>();
    job->window = form_.GetHWND();
    job->download_path = form_.TheDownloader().DownloadPath();
    job->target_path = form_.TheDownloader().TargetPath();
    job->working_folder = form_.download_folder_;
    job->install_folder = form_.InstallFolder();
    job->pins = form_.Pins();
    job->downloaded = form_.TheDownloader().FinishedDigest();
    job->language_name = form_.languages_.CurrentName();
    job->product = form_.product_;
    gate_ = job->gate;
    return StartPackageRun(std::move(job));
  }
  bool Restart(std::unique_ptr<PackageRunJob> job) override {
    // The last run passed its gate; the one that runs the held package again has its own.
    job->gate = std::make_shared<PackageRunGate>();
    gate_ = job->gate;
    return StartPackageRun(std::move(job));
  }
  void Discard(std::unique_ptr<PackageRunJob> job) override {
    if (job) DiscardHeldPackage(std::move(job->held), job->target_path);
  }
  bool HoldStart() override { return !gate_ || gate_->Hold(); }
  void ReleaseStart() override {
    if (gate_) gate_->Release();
  }
  void StopRun() override {
    if (!gate_) return;
    gate_->Stop();
    // The verifier's waits end at once; what may still run is a read of the package or the
    // system's own signature check, each bounded by the file's size.
    if (!gate_->WaitFinished(kStopWaitMs)) {
      LOG_WAR(L"the stopped package run did not end within %lu ms; it starts nothing",
              static_cast<unsigned long>(kStopWaitMs));
    }
  }

 private:
  static constexpr DWORD kStopWaitMs = 5000;
  SetupForm& form_;
  std::shared_ptr<PackageRunGate> gate_;
};

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
  BindControls();
  BindHandlers();
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
  label_slide_title_ = Find<Label>(*this, L"label_slide_title");
  label_slide_text_ = Find<Label>(*this, L"label_slide_text");
  label_installing_ = Find<Label>(*this, L"label_installing");
  label_progress_ = Find<Label>(*this, L"label_progress");
  label_status_ = Find<Label>(*this, L"label_status");
  progress_ = Find<ui::Progress>(*this, L"progress");
  btn_hide_ = Find<Button>(*this, L"btn_hide");
  label_tip_ = Find<Label>(*this, L"label_tip");
  end_bk_ = FindControl(L"end_bk");
  box_end_bk_ = Find<ui::VBox>(*this, L"box_end_bk");
  label_end_title_ = Find<Label>(*this, L"label_end_title");
  label_end_text_ = Find<Label>(*this, L"label_end_text");
  btn_start_ = Find<Button>(*this, L"btn_start");
  btn_path_ = Find<Button>(*this, L"btn_path");
  // The skin must name every one of them; a missing one is a broken package, worth a line.
  const void* bound[] = {switch_,           minbtn_,
                         closebtn_,         btn_install_,
                         btn_link_,         label_link_left_,
                         control_space_,    label_link_right_,
                         checkbox_custom_,  box_custom_,
                         label_language_,   combo_language_,
                         label_path_,       edit_path_,
                         label_error_,      download_bk_,
                         label_installing_, label_progress_,
                         progress_,         btn_hide_,
                         label_tip_,        end_bk_,
                         box_end_bk_,       btn_start_,
                         btn_path_,         label_slide_title_,
                         label_slide_text_, label_end_title_,
                         label_end_text_};
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
  // The downloader's size query, the machine identifier (a system tool) and the libraries they
  // need compete with the first paint for the processor: they start once the window is up
  // (timers come after painting).
  ::SetTimer(GetHWND(), kAfterFirstPaintTimerId, 0, nullptr);
  if (edit_path_) edit_path_->SetText(product_.DefaultInstallFolder());
  download_port_ = std::make_unique<Download>(*this);
  runner_port_ = std::make_unique<Runner>(*this);
  setup::FlowView& view = *this;
  setup::FlowSystem& system = *this;
  flow_ = std::make_unique<setup::SetupFlow>(view, *download_port_, *runner_port_, system);
  flow_->Start();
  ApplyTexts();
  ApplyPictures();
}

void SetupForm::BindHandlers() {
  auto on_click = [](ui::Control* control, std::function<void()> handler) {
    if (!control) return;
    control->AttachEvent(ui::kEventClick, [handler = std::move(handler)](ui::EventArgs&) {
      handler();
      return true;
    });
  };
  on_click(btn_install_, [this] {
    AfterFirstPaint();
    flow_->InstallClicked();
  });
  on_click(btn_link_, [this] { flow_->OpenPage(LanguageText(L"URLID_SERVICE")); });
  on_click(btn_path_, [this] { BrowseForFolder(); });
  on_click(btn_hide_, [this] { ::SendMessageW(GetHWND(), WM_SYSCOMMAND, SC_MINIMIZE, 0); });
  on_click(btn_start_, [this] { flow_->StartNowClicked(); });
  auto on_select = [](ui::Control* control, std::function<void()> handler) {
    if (!control) return;
    for (int type : {ui::kEventSelect, ui::kEventUnSelect}) {
      control->AttachEvent(type, [handler](ui::EventArgs&) {
        handler();
        return true;
      });
    }
  };
  on_select(checkbox_custom_, [this] { ShowCustomPanel(checkbox_custom_->IsSelected()); });
  on_select(combo_language_, [this] { SwitchLanguage(); });
}

int SetupForm::CurrentPage() const {
  return switch_ ? switch_->GetCurSel() : -1;
}

void SetupForm::ShowCaptionButtons(bool close, bool minimize) {
  if (closebtn_) closebtn_->SetFadeVisible(close);
  if (minbtn_) minbtn_->SetFadeVisible(minimize);
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
      {label_end_title_, L"STRID_ENDPAGE_TITLE"},
      {label_end_text_, L"STRID_ENDPAGE_TEXT"},
  };
  for (const Binding& binding : bindings) {
    if (binding.label) binding.label->SetText(LanguageText(binding.key));
  }
  // English "." hugs the link; German "zu." needs a little air.
  if (control_space_ && label_link_right_) {
    control_space_->SetFixedWidth(label_link_right_->GetText().size() < 2 ? 1 : 3);
  }
  ShowSlide();
}

void SetupForm::ApplyPictures() {
  // One set of pictures for every language: their words are the labels over them.
  const wchar_t kEndPicture[] = L"bkimage/end.jpg";
  if (end_bk_) end_bk_->SetAttribute(L"bkimage", kEndPicture);
  if (box_end_bk_) box_end_bk_->SetAttribute(L"bkimage", kEndPicture);
}

void SetupForm::ShowSlide() {
  if (download_bk_) {
    download_bk_->SetAttribute(L"bkimage",
                               nbase::StringPrintf(L"bkimage/slide/%d.jpg", slideshow_index_));
  }
  if (label_slide_title_) {
    label_slide_title_->SetText(
        LanguageText(nbase::StringPrintf(L"STRID_SLIDE_%d_TITLE", slideshow_index_).c_str()));
  }
  if (label_slide_text_) {
    label_slide_text_->SetText(
        LanguageText(nbase::StringPrintf(L"STRID_SLIDE_%d_TEXT", slideshow_index_).c_str()));
  }
}

void SetupForm::ShowCustomPanel(bool show) {
  if (show) FillLanguageCombo();
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
  // Grown downwards, it may now run past the screen's bottom: what is below could not be seen.
  KeepInWorkArea();
  NeedUpdate();
}

void SetupForm::AfterFirstPaint() {
  while (!first_paint_done_) AfterFirstPaintStep();
}

void SetupForm::AfterFirstPaintStep() {
  if (first_paint_done_) return;
  const std::vector<const wchar_t*>& libraries = sysutil::LibrariesAfterFirstPaint();
  if (after_paint_step_ == 0) {
    ::KillTimer(GetHWND(), kAfterFirstPaintTimerId);
    // The taskbar shows the program's own icon until then.
    SetIcons();
  } else if (after_paint_step_ == 1) {
    // The lines logged since the start reach the file; finding its folder loads the shell.
    OpenLogFile();
  }
  if (after_paint_step_ < libraries.size()) {
    // One library a step, so what the window is sent meanwhile (a screen reader's question,
    // a click) is answered between them. They come before anything below can pull one in.
    const wchar_t* name = libraries[after_paint_step_++];
    if (!nbase::LoadSystemLibrary(name)) LOG_APP(L"app: no system library %ls", name);
    ::PostMessageW(GetHWND(), kAfterFirstPaintStepMessage, 0, 0);
    return;
  }
  first_paint_done_ = true;
  FillLanguageCombo();
  CreateDownloader();
  CAnalytics::Instance().Init(nbase::UTF16ToUTF8(product_.AnalyticsCategory()),
                              nbase::UTF16ToUTF8(product_.AnalyticsPrefix()));
}

void SetupForm::SetIcons() {
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
}

CHttpDownloader& SetupForm::TheDownloader() {
  AfterFirstPaint();
  return *downloader_;
}

void SetupForm::OnTimer(UINT_PTR id) {
  if (id == kAfterFirstPaintTimerId) {
    AfterFirstPaintStep();
    return;
  }
  if (id == kStatusTimerId) {
    UpdateStatusLine();
    return;
  }
  if (id == kRetryTimerId) {
    ::KillTimer(GetHWND(), kRetryTimerId);
    if (flow_) flow_->RetryDue();
    return;
  }
  if (id != kSlideshowTimerId) return;
  if (++slideshow_index_ > 3) slideshow_index_ = 1;
  ShowSlide();
}

void SetupForm::UpdateStatusLine() {
  if (!label_status_) return;
  std::wstring text;
  if (waiting_for_network_) {
    text = LanguageText(L"STRID_PROGRESS_WAITING_NETWORK");
  } else if (downloader_) {
    const CHttpDownloader::ProgressSnapshot progress = downloader_->Progress();
    if (progress.running) {
      setup::ProgressWords words = {LanguageText(L"STRID_PROGRESS_AMOUNT"),
                                    LanguageText(L"STRID_PROGRESS_DECIMAL"),
                                    LanguageText(L"STRID_PROGRESS_HOURS_LEFT"),
                                    LanguageText(L"STRID_PROGRESS_MINUTES_LEFT"),
                                    LanguageText(L"STRID_PROGRESS_MINUTE_LEFT"),
                                    LanguageText(L"STRID_PROGRESS_SECONDS_LEFT"),
                                    LanguageText(L"STRID_PROGRESS_WAITING_SERVER")};
      text = setup::DescribeDownload(progress.done, progress.total, progress.rate,
                                     progress.idle_seconds, progress.running_seconds, words);
    }
  }
  // The label raises its name change for screen readers only when the words change.
  if (label_status_->GetText() != text) label_status_->SetText(text);
}

bool SetupForm::AskProxyAccount(bool refused, std::wstring* user, std::wstring* password) {
  const proxy_sign_in::Words words = {LanguageText(L"STRID_PROXY_SIGNIN_CAPTION"),
                                      LanguageText(L"STRID_PROXY_SIGNIN_TEXT"),
                                      LanguageText(L"STRID_PROXY_SIGNIN_REFUSED")};
  return proxy_sign_in::Ask(GetHWND(), refused, words, user, password);
}

void SetupForm::ShowWaitingForNetwork(bool waiting) {
  waiting_for_network_ = waiting;
  UpdateStatusLine();
}

void SetupForm::ScheduleRetry(DWORD milliseconds) {
  ::SetTimer(GetHWND(), kRetryTimerId, milliseconds, nullptr);
}

void SetupForm::OnDownloadProgress(LPARAM lparam) {
  const auto* record = reinterpret_cast<const DownloadProgress*>(lparam);
  if (!record) return;
  const int shown = setup::DisplayedPercent(record->percent);
  if (shown >= 0) SetProgress(shown);
}

// --- Custom options ---------------------------------------------------------------------------

void SetupForm::FillLanguageCombo() {
  if (!combo_language_ || language_combo_filled_) return;
  language_combo_filled_ = true;
  const std::wstring current = languages_.CurrentName();
  int selection = 0;
  // The list is keyed by name; its order is the order of the offered languages.
  for (const auto& [name, entry] : languages_.GetEntries()) {
    auto* item = new ui::ListContainerElement();
    item->SetClass(L"listitem");
    item->SetFixedHeight(28);
    item->SetBkColor(L"white");
    item->SetAttribute(L"textpadding", L"6,0,6,0");
    // Left as the closed combo shows the choice, so the open list lines up with it.
    item->SetTextStyle(ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEndEllipsis);
    item->SetText(entry.display_name);
    combo_language_->Add(item);
    if (name == current) selection = static_cast<int>(combo_language_->GetCount()) - 1;
  }
  combo_language_->SelectItem(selection);
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
}

void SetupForm::BrowseForFolder() {
  BROWSEINFOW info = {};
  info.hwndOwner = GetHWND();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
  const ShellApi& shell = ShellFunctions();
  if (!shell.complete) return;
  nbase::UniqueCoTaskMem chosen(shell.SHBrowseForFolderW(&info));
  if (!chosen) return;
  wchar_t path[MAX_PATH] = {};
  if (!shell.SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(chosen.get()), path)) return;
  const std::wstring folder =
      setup::BrowsedInstallFolder(path, product_.BrandName(), product_.DisplayName());
  if (!folder.empty() && edit_path_) edit_path_->SetText(folder);
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

// --- Events for the flow ----------------------------------------------------------------------

void SetupForm::Close(UINT code) {
  if (flow_) {
    flow_->CloseRequested(code);
  } else {
    WindowImplBase::Close(code);
  }
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
    case kAfterFirstPaintStepMessage:
      AfterFirstPaintStep();
      handled = true;
      break;
    case WM_DOWNLOAD_PROGRESS:
      OnDownloadProgress(lparam);
      break;
    case WM_DOWNLOAD_FINISHED:
      if (flow_) flow_->DownloadFinished(lparam != 0);
      break;
    case WM_SILENT_INSTALL_DONE: {
      std::unique_ptr<PackageRunResult> result(reinterpret_cast<PackageRunResult*>(lparam));
      if (result && flow_) {
        flow_->PackageRunDone(result->outcome, result->code, std::move(result->job));
      }
      handled = true;
      break;
    }
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
  if (flow_) {
    flow_->WindowClosing();
  } else {
    ::PostQuitMessage(0);
  }
}

// --- What the flow shows ----------------------------------------------------------------------

int SetupForm::Ask(const std::wstring& text, UINT type) {
  return ::MessageBoxW(GetHWND(), text.c_str(), L"", type);
}

void SetupForm::ShowPage(setup::Page page) {
  const bool changes = CurrentPage() != static_cast<int>(page);
  // What takes the keyboard when the page shows: the button the user pressed has gone with
  // the page it was on, and a screen reader only follows a focus it is told about.
  Button* first = nullptr;
  switch (page) {
    case setup::Page::kHome:
      ShowCaptionButtons(true, true);
      if (checkbox_custom_) checkbox_custom_->Selected(false, false);
      ShowCustomPanel(false);
      first = btn_install_;
      break;
    case setup::Page::kDownload:
      ShowCaptionButtons(false, false);
      ShowCustomPanel(false);
      first = btn_hide_;
      break;
    case setup::Page::kEnd:
      ShowCaptionButtons(true, false);
      first = btn_start_;
      break;
  }
  if (switch_) switch_->SelectItem(static_cast<int>(page));
  if (changes && first) SetFocusControl(first);
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

void SetupForm::ShowTaskbarState(setup::TaskbarState state) {
  if (!taskbar_) return;
  switch (state) {
    case setup::TaskbarState::kNone:
      taskbar_->SetProgressState(GetHWND(), TBPF_NOPROGRESS);
      break;
    case setup::TaskbarState::kError:
      taskbar_->SetProgressState(GetHWND(), TBPF_ERROR);
      taskbar_->SetProgressValue(GetHWND(), 100, 100);
      break;
    case setup::TaskbarState::kIdle:
      taskbar_->SetProgressState(GetHWND(), TBPF_INDETERMINATE);
      taskbar_->SetProgressValue(GetHWND(), 0, 100);
      break;
  }
}

std::wstring SetupForm::InstallFolder() const {
  return edit_path_ ? edit_path_->GetText() : std::wstring();
}

void SetupForm::ShowFolderError(bool shown) {
  if (label_error_) label_error_->SetFadeVisible(shown);
}

void SetupForm::BeginRun() {
  product_.SetInstallFolder(InstallFolder());
  if (!taskbar_) {
    nbase::ComPtr<ITaskbarList3> taskbar;
    if (SUCCEEDED(::CoCreateInstance(nbase::kClsidTaskbarList, nullptr, CLSCTX_ALL,
                                     nbase::kIidTaskbarList3, taskbar.put_void())) &&
        SUCCEEDED(taskbar->HrInit())) {
      taskbar_ = std::move(taskbar);
    }
  }
  ::SetTimer(GetHWND(), kSlideshowTimerId, kSlideshowPeriodMs, nullptr);
  ::SetTimer(GetHWND(), kStatusTimerId, kStatusPeriodMs, nullptr);
  slideshow_index_ = 1;
  ShowSlide();
}

void SetupForm::CloseWindow(UINT code) {
  WindowImplBase::Close(code);
}

void SetupForm::EndLoop() {
  ::PostQuitMessage(0);
}

// --- What the flow needs of the machine -------------------------------------------------------

bool SetupForm::IsProductRunning() {
  const std::wstring& process = product_.ProcessName();
  return !process.empty() && sysutil::IsProcessRunning(process);
}

void SetupForm::EndProduct() {
  sysutil::TerminateProcesses(product_.ProcessName());
}

bool SetupForm::StartProduct() {
  return Launched(usershell::OpenAsUser(product_.ProductExePath(), std::wstring(),
                                        product_.InstallFolder(), SW_SHOW));
}

bool SetupForm::IsDirectory(const std::wstring& path) {
  return sysutil::IsDirectory(path);
}

double SetupForm::FreeDiskSpaceMB(const std::wstring& folder) {
  return sysutil::FreeDiskSpaceMB(folder);
}

bool SetupForm::IsInternetConnected() {
  return sysutil::IsInternetConnected();
}

bool SetupForm::Open(const std::wstring& url) {
  return Launched(usershell::OpenAsUser(url));
}

void SetupForm::Report(const char* event, const std::string& label) {
  AfterFirstPaint();
  CAnalytics::Instance().SendEvent(event, label);
}

std::wstring SetupForm::LogPath() const {
  return LogSink::Instance().FilePath();
}
