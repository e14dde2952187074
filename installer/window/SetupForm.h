// SetupForm: the installer's one window and the controller of the whole installation.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <string>

#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpDownloader.h"
#include "installer/main/LanguageList.h"
#include "installer/main/ProductInfo.h"
#include "installer/trust/PackageVerifier.h"
#include "installer/window/PackageRun.h"
#include "installer/window/SetupFlow.h"
#include "ui/core/WindowImplBase.h"

namespace ui {
class Box;
class Combo;
class Control;
class Progress;
class RichEdit;
class TabBox;
template <typename InheritType>
class ButtonTemplate;
template <typename InheritType>
class CheckBoxTemplate;
template <typename InheritType>
class LabelTemplate;
}  // namespace ui

// The window's class name and title.
extern const wchar_t kSetupWindowName[];

// Made, shown and destroyed on the UI thread, which runs every handler. The downloader's
// threads reach it only by the two download messages; the package run's thread only by
// WM_SILENT_INSTALL_DONE. What the run does next is the flow's to decide; the window shows it.
class SetupForm : public ui::WindowImplBase, private setup::FlowView, private setup::FlowSystem {
 public:
  enum Page { kHomePage = 0, kDownloadPage = 1, kEndPage = 2 };
  static constexpr UINT_PTR kSlideshowTimerId = 3000;
  static constexpr UINT kSlideshowPeriodMs = 5000;
  static constexpr UINT_PTR kAfterFirstPaintTimerId = 3001;
  static constexpr UINT kAfterFirstPaintStepMessage = WM_APP + 1;
  // The line beside the percentage is refreshed this often while the download page shows.
  static constexpr UINT_PTR kStatusTimerId = 3002;
  static constexpr UINT kStatusPeriodMs = 1000;
  // The flow's pause before it tries a lost network again.
  static constexpr UINT_PTR kRetryTimerId = 3003;

  SetupForm();
  ~SetupForm() override;

  std::wstring GetSkinFolder() override { return L"form"; }
  std::wstring GetSkinFile() override { return L"setup_form.xml"; }
  LONG GetStyle() const override;
  // Asks before quitting a run that has not reached the end page.
  void Close(UINT code = 0) override;

  // For the page flow and its tests.
  int CurrentPage() const;
  const ProductInfo& Product() const { return product_; }
  const LanguageList& Languages() const { return languages_; }
  CHttpDownloader* Downloader() { return &TheDownloader(); }

 protected:
  std::wstring GetWindowClassName() const override { return kSetupWindowName; }
  LRESULT OnCreate(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;
  bool CentersWhenCreated() const override { return true; }
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;

 private:
  using Button = ui::ButtonTemplate<ui::Control>;
  using CheckBox = ui::CheckBoxTemplate<ui::Control>;
  using Label = ui::LabelTemplate<ui::Control>;

  struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type icon) noexcept { ::DestroyIcon(icon); }
  };
  using UniqueIcon = nbase::UniqueResource<IconTraits>;

  class Download;
  class Runner;

  // Window initialisation and data initialisation.
  void InitWindow();
  void BindControls();
  void BindHandlers();
  void InitData();
  nbase::ArchiveReader PackageReader() const;
  std::wstring LanguageText(const wchar_t* key) const;

  // Pages and what they show.
  void ShowCaptionButtons(bool close, bool minimize);
  // Every text in the current language, the slide's words included.
  void ApplyTexts();
  void ApplyPictures();
  // The slideshow's current picture and its words, in the current language.
  void ShowSlide();
  void ShowCustomPanel(bool show);
  // The root's height is automatic: follow it when the custom panel opens or closes.
  void FitWindowToContent();

  // setup::FlowView
  std::wstring Text(const wchar_t* key) const override { return LanguageText(key); }
  int Ask(const std::wstring& text, UINT type) override;
  void ShowPage(setup::Page page) override;
  void SetProgress(int percent) override;
  void ShowTaskbarState(setup::TaskbarState state) override;
  std::wstring InstallFolder() const override;
  void ShowFolderError(bool shown) override;
  void BeginRun() override;
  void CloseWindow(UINT code) override;
  void EndLoop() override;
  bool AskProxyAccount(bool refused, std::wstring* user, std::wstring* password) override;
  void ShowWaitingForNetwork(bool waiting) override;
  void ScheduleRetry(DWORD milliseconds) override;

  // setup::FlowSystem
  std::wstring ProductName() const override { return product_.DisplayName(); }
  bool IsProductRunning() override;
  void EndProduct() override;
  bool StartProduct() override;
  std::wstring ProductExePath() const override { return product_.ProductExePath(); }
  bool IsDirectory(const std::wstring& path) override;
  double FreeDiskSpaceMB(const std::wstring& folder) override;
  bool IsInternetConnected() override;
  bool Open(const std::wstring& url) override;
  void Report(const char* event, const std::string& label) override;
  std::wstring LogPath() const override;
  unsigned long long NowMs() override { return ::GetTickCount64(); }

  // Messages.
  void OnWmClose(WPARAM wparam, bool& handled);
  void OnTimer(UINT_PTR id);
  // Once, after the first paint: the window's icons, the libraries the network, the checks and
  // the shell pull in, then the downloader with its size query and the analytics. Taken a step
  // per posted message from the first timer on; a click or an event that needs them first
  // takes the remaining steps at once.
  void AfterFirstPaint();
  void AfterFirstPaintStep();
  CHttpDownloader& TheDownloader();
  void SetIcons();
  void OnDownloadProgress(LPARAM lparam);
  // Bytes, time left or what the download waits for, beside the percentage.
  void UpdateStatusLine();

  // Custom options.
  // The list of languages is hidden in the custom panel: filled once, when the panel first
  // opens or once the steps after the first paint are done, whichever comes first.
  void FillLanguageCombo();
  void SwitchLanguage();
  void BrowseForFolder();

  // The installation run's parts.
  PackagePins Pins() const;
  // Makes the protected download folder ready; false (with the error set) when it cannot be.
  bool PrepareDownloadFolder();
  void CreateDownloader();
  std::wstring PackageUrl() const;
  std::wstring PackageDigest() const;

  // Declared first so COM outlives the taskbar interface below.
  nbase::ScopedCoInitialize com_;

  ui::TabBox* switch_ = nullptr;
  Button* minbtn_ = nullptr;
  Button* closebtn_ = nullptr;
  Button* btn_install_ = nullptr;
  Button* btn_link_ = nullptr;
  Label* label_link_left_ = nullptr;
  ui::Control* control_space_ = nullptr;
  Label* label_link_right_ = nullptr;
  CheckBox* checkbox_custom_ = nullptr;
  ui::Box* box_custom_ = nullptr;
  Label* label_language_ = nullptr;
  ui::Combo* combo_language_ = nullptr;
  Label* label_path_ = nullptr;
  ui::RichEdit* edit_path_ = nullptr;
  Label* label_error_ = nullptr;
  ui::Control* download_bk_ = nullptr;
  Label* label_slide_title_ = nullptr;
  Label* label_slide_text_ = nullptr;
  Label* label_installing_ = nullptr;
  Label* label_progress_ = nullptr;
  Label* label_status_ = nullptr;
  ui::Progress* progress_ = nullptr;
  Button* btn_hide_ = nullptr;
  Label* label_tip_ = nullptr;
  ui::Control* end_bk_ = nullptr;
  ui::Box* box_end_bk_ = nullptr;
  Label* label_end_title_ = nullptr;
  Label* label_end_text_ = nullptr;
  Button* btn_start_ = nullptr;
  Button* btn_path_ = nullptr;

  ProductInfo product_;
  LanguageList languages_;
  int slideshow_index_ = 1;
  nbase::ComPtr<ITaskbarList3> taskbar_;
  std::unique_ptr<CHttpDownloader> downloader_;
  std::wstring download_folder_;
  bool download_folder_ready_ = false;
  bool first_paint_done_ = false;
  size_t after_paint_step_ = 0;
  bool language_combo_filled_ = false;
  bool waiting_for_network_ = false;
  std::unique_ptr<Download> download_port_;
  std::unique_ptr<Runner> runner_port_;
  std::unique_ptr<setup::SetupFlow> flow_;

  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
};
