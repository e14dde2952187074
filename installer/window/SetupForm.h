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
// WM_SILENT_INSTALL_DONE.
class SetupForm : public ui::WindowImplBase {
 public:
  enum Page { kHomePage = 0, kDownloadPage = 1, kEndPage = 2 };
  static constexpr UINT_PTR kSlideshowTimerId = 3000;
  static constexpr UINT kSlideshowPeriodMs = 5000;
  static constexpr UINT_PTR kAnalyticsTimerId = 3001;

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
  CHttpDownloader* Downloader() const { return downloader_.get(); }

 protected:
  std::wstring GetWindowClassName() const override { return kSetupWindowName; }
  LRESULT OnCreate(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;
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

  // Window initialisation and data initialisation.
  void InitWindow();
  void BindControls();
  void InitData();
  nbase::ArchiveReader PackageReader() const;
  std::wstring LanguageText(const wchar_t* key) const;

  // Pages and what they show.
  void GoToPage(int page);
  void ShowCaptionButtons(bool close, bool minimize);
  void ResetToHome();
  void ApplyTexts();
  void ApplyPictures();
  void ShowCustomPanel(bool show);
  // The root's height is automatic: follow it when the custom panel opens or closes.
  void FitWindowToContent();
  int MessageBox(const std::wstring& text, UINT type);

  // Events and messages.
  bool Notify(ui::EventArgs& args);
  void OnWmClose(WPARAM wparam, bool& handled);
  void OnTimer(UINT_PTR id);
  // Sets up the analytics reporter once: after the first paint, or at the first event.
  void StartAnalytics();
  void OnDownloadProgress(LPARAM lparam);
  void OnDownloadFinished(bool success);
  void OnSilentInstallDone(std::unique_ptr<PackageRunResult> result);

  // Custom options.
  void FillLanguageCombo();
  void SwitchLanguage();
  void BrowseForFolder();
  bool CheckDisk(double required_bytes);

  // The installation run.
  PackagePins Pins() const;
  // Makes the protected download folder ready; false (with the error set) when it cannot be.
  bool PrepareDownloadFolder();
  void CreateDownloader();
  std::wstring PackageUrl() const;
  std::wstring PackageDigest() const;
  void InstallNow();
  void StartDownload();
  void Retry();
  void SetProgress(int percent);
  // "Go on" (true) or "stop" (false).
  bool CheckRunningProduct();
  void StartSilentInstall();
  void RunPackage(std::unique_ptr<PackageRunJob> job);
  // No end page and no "Install_Completed": the user is told what failed and may retry.
  // `retry_job` carries the still held package after a refused elevation.
  void OnInstallFailed(PackageRunOutcome outcome, DWORD code,
                       std::unique_ptr<PackageRunJob> retry_job);
  void ShowInstallFailedBox(DWORD code);
  void StartNow();
  // A box offering Retry (the download goes on from what is on disk) and Cancel (home).
  void ShowRetryBox(const wchar_t* text_id);
  void ShowUnknownErrorBox();

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
  Label* label_installing_ = nullptr;
  Label* label_progress_ = nullptr;
  ui::Progress* progress_ = nullptr;
  Button* btn_hide_ = nullptr;
  Label* label_tip_ = nullptr;
  ui::Control* end_bk_ = nullptr;
  ui::Box* box_end_bk_ = nullptr;
  Button* btn_start_ = nullptr;

  ProductInfo product_;
  LanguageList languages_;
  int slideshow_index_ = 1;
  nbase::ComPtr<ITaskbarList3> taskbar_;
  std::unique_ptr<CHttpDownloader> downloader_;
  std::wstring download_folder_;
  bool download_folder_ready_ = false;
  // The package is running elevated: quitting waits for its end.
  bool install_running_ = false;
  // A finished download that arrived while the quit question was open, for after the answer.
  bool finish_deferred_ = false;
  bool deferred_success_ = false;
  // The user confirmed quitting; nothing starts any more.
  bool quitting_ = false;
  bool analytics_started_ = false;

  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
};
