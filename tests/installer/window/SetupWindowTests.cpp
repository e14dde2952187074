// The real setup window in this process, end to end: the custom panel and a run to the end page,
// the keyboard alone, repaints through a run, untrusted and failing packages, and what the
// package is given. The flow's every branch is tested without a window beside it.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "installer/HttpClient/ProxyCredentials.h"
#include "installer/main/Log.h"
#include "installer/main/SystemUtil.h"
#include "installer/window/SetupForm.h"
#include "tests/installer/HttpClient/ScopedSystemProxy.h"
#include "tests/installer/main/TestChild.h"
#include "tests/installer/window/SetupTestSupport.h"
#include "tests/support/StalledRevocationServer.h"
#include "tests/ui/RepaintCheck.h"
#include "tools/demo/driver/InstallerDriver.h"
#include "ui/controls/CheckBox.h"
#include "ui/controls/Combo.h"
#include "ui/controls/Label.h"
#include "ui/controls/RichEdit.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/layouts/TabBox.h"
#include "ui/render/RenderContext.h"

namespace {

using setup_test::BoxAnswerer;
using setup_test::PumpUntil;

constexpr DWORD kWatchdogMs = 60000;

std::string DemoPackage() {
  return setup_test::ReadFileBytes(setup_test::FromBuildPath(DEMO_PACKAGE_PATH));
}

class SetupWindow : public testing::Test {
 protected:
  using Decide = BoxAnswerer::Decide;

  void SetUp() override {
    // The installer's own log, read back when a test fails.
    static const bool log_started = StartLog();
    (void)log_started;
    boxes_ =
        std::make_unique<BoxAnswerer>(::GetCurrentProcessId(), [this](const std::wstring& text) {
          std::lock_guard<std::mutex> guard(decide_lock_);
          if (decide_) return decide_(text);
          // A box no test step expects is answered so the run ends instead of hanging, and noted.
          unexpected_.push_back(text);
          return text.find(L"Ignore") != std::wstring::npos ? IDABORT : IDCANCEL;
        });
  }

  // How the following boxes are answered (a button id; 0 leaves a box open).
  void Answer(Decide decide) {
    std::lock_guard<std::mutex> guard(decide_lock_);
    decide_ = std::move(decide);
  }
  std::vector<std::wstring> BoxTexts() const { return boxes_->Texts(); }

  void Open(const std::map<std::wstring, std::wstring>& extra_urls = {}) {
    const std::wstring url =
        L"http://127.0.0.1:" + std::to_wstring(server_.Port()) + L"/Clipmint_full_setup.exe";
    std::map<std::wstring, std::wstring> urls = {
        {L"URLID_DOWN", url},
        {L"URLID_DOWN_X64", url},
        {L"URLID_DOWN_SHA256", L""},
        {L"URLID_DOWN_X64_SHA256", L""},
        // Nothing listens there: opening them must not matter to the run.
        {L"URLID_SERVICE", L"http://127.0.0.1:9/terms"},
        {L"URLID_INSTALL", L"http://127.0.0.1:9/welcome"},
    };
    for (const auto& [key, value] : extra_urls) urls[key] = value;
    skin_ = std::make_unique<setup_test::SkinCopy>(urls);
    ui::GlobalManager::Instance().Startup(L"resources\\", nullptr, true, L"themes\\default",
                                          L"lang\\English");
    form_ = std::make_unique<SetupForm>();
    ASSERT_TRUE(form_->Create(nullptr, kSetupWindowName,
                              WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, 0, true,
                              RECT()));
    form_->CenterWindow();
    form_->ShowWindow(true, true);
    PumpUntil([] { return false; }, 300);
  }

  void TearDown() override {
    form_.reset();
    ui::GlobalManager::Instance().Shutdown();
    skin_.reset();
    boxes_.reset();
    for (const std::wstring& text : unexpected_) ADD_FAILURE() << "unexpected box: " << text;
    if (HasFailure()) {
      const std::string log = setup_test::ReadFileBytes(LogPath());
      std::printf("installer log (end):\n%s\n",
                  log.substr(log.size() > 12000 ? log.size() - 12000 : 0).c_str());
    }
  }

  static std::wstring LogPath() {
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
    return std::wstring(folder) + L"\\Temp\\" + sysutil::GetExeBaseName() + L"_log.txt";
  }

  ui::Control* Find(const wchar_t* name) { return form_->FindControl(name); }

  // A key as the window receives it from the keyboard; `modifier` (VK_SHIFT, VK_CONTROL) is
  // held in this thread's key state meanwhile, where the window and the text services look.
  void Key(UINT vk, UINT modifier = 0) {
    BYTE state[256] = {};
    ::GetKeyboardState(state);
    if (modifier) state[modifier] = 0x80;
    ::SetKeyboardState(state);
    HWND hwnd = form_->GetHWND();
    ::SendMessageW(hwnd, WM_KEYDOWN, vk, 1);
    const wchar_t ch = vk == VK_TAB      ? L'\t'
                       : vk == VK_RETURN ? L'\r'
                       : vk == VK_SPACE  ? L' '
                       : vk == VK_ESCAPE ? 0x1B
                                         : 0;
    if (ch && ::IsWindow(hwnd)) ::SendMessageW(hwnd, WM_CHAR, ch, 1);
    if (::IsWindow(hwnd)) ::SendMessageW(hwnd, WM_KEYUP, vk, 0xC0000001);
    if (modifier) state[modifier] = 0;
    ::SetKeyboardState(state);
    PumpUntil([] { return false; }, 100);
  }
  void Type(const std::wstring& text) {
    for (wchar_t ch : text) ::SendMessageW(form_->GetHWND(), WM_CHAR, ch, 1);
  }
  std::wstring FocusName() {
    return form_->GetFocus() ? form_->GetFocus()->GetName() : std::wstring(L"(none)");
  }
  // What the screen shows of the window, for a person to look at.
  void Shot(const wchar_t* name) {
    PumpUntil([] { return false; }, 300);
    const std::wstring folder = setup_test::FromBuildPath(BUILD_DIR_PATH "/screenshots");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    demo::SaveWindowPng(form_->GetHWND(), folder + L"\\" + name + L".png");
  }

  void Click(const wchar_t* name) {
    ui::Control* control = Find(name);
    ASSERT_NE(nullptr, control) << name;
    const RECT& rect = control->GetPos();
    demo::ClickAt(form_->GetHWND(), {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    PumpUntil([] { return false; }, 200);
  }

  bool WaitForPage(int page, DWORD timeout_ms = kWatchdogMs) {
    return PumpUntil([&] { return form_->CurrentPage() == page; }, timeout_ms);
  }

  LONG WindowHeight() {
    RECT rect = {};
    ::GetWindowRect(form_->GetHWND(), &rect);
    return rect.bottom - rect.top;
  }

  setup_test::TinyHttpServer server_;
  std::unique_ptr<setup_test::SkinCopy> skin_;
  std::unique_ptr<SetupForm> form_;
  std::unique_ptr<BoxAnswerer> boxes_;
  std::mutex decide_lock_;
  Decide decide_;
  std::vector<std::wstring> unexpected_;
};

TEST_F(SetupWindow, CustomPanelOpensTo472AndFolderChecksRunBeforeAnything) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  auto* custom = dynamic_cast<ui::CheckBox*>(Find(L"checkbox_custom"));
  ASSERT_NE(nullptr, custom);
  const LONG closed_height = WindowHeight();
  Click(L"checkbox_custom");
  EXPECT_TRUE(custom->IsSelected());
  EXPECT_EQ(472, Find(L"switch")->GetFixedHeight());
  EXPECT_TRUE(Find(L"box_custom")->IsVisible());
  EXPECT_EQ(closed_height + 112, WindowHeight()) << "the window follows the panel";

  // An invalid folder: the red label, nothing sent, the page stays.
  auto* edit = dynamic_cast<ui::RichEdit*>(Find(L"edit_path"));
  ASSERT_NE(nullptr, edit);
  edit->SetText(L"Q:\\no such drive\\Clipmint");
  Click(L"btn_install");
  EXPECT_TRUE(Find(L"label_error")->IsVisible());
  EXPECT_EQ(SetupForm::kHomePage, form_->CurrentPage());

  Click(L"checkbox_custom");
  EXPECT_EQ(360, Find(L"switch")->GetFixedHeight());
  EXPECT_FALSE(Find(L"box_custom")->IsVisible());
  EXPECT_EQ(closed_height, WindowHeight());

  // Forward slashes are fine, and stored with backslashes once the run starts; the package
  // then gets the folder as typed.
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring typed =
      std::wstring(temp) + L"flow install " + std::to_wstring(::GetCurrentProcessId());
  setup_test::RemoveTree(typed);
  for (auto& c : typed) c = c == L'\\' ? L'/' : c;
  edit->SetText(typed);
  Click(L"btn_install");
  EXPECT_FALSE(Find(L"label_error")->IsVisible());
  EXPECT_EQ(SetupForm::kDownloadPage, form_->CurrentPage());
  // What the layered window shows of the download page: the slideshow picture, not blank.
  PumpUntil([] { return false; }, 600);
  {
    ui::IRenderContext* context = form_->GetRenderContext();
    const RECT& picture = Find(L"download_bk")->GetPos();
    const BYTE* pixel =
        context->GetBits() +
        (static_cast<size_t>(picture.top + 20) * context->GetWidth() + picture.left + 20) * 4;
    EXPECT_FALSE(pixel[0] > 240 && pixel[1] > 240 && pixel[2] > 240)
        << "the slideshow picture is not drawn " << picture.left << "," << picture.top << ","
        << picture.right << "," << picture.bottom;
  }
  std::wstring stored = typed + L"\\";
  for (auto& c : stored) c = c == L'/' ? L'\\' : c;
  EXPECT_EQ(stored, form_->Product().InstallFolder());

  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage)) << "no end page";
  EXPECT_EQ(L"/DIR=\"" + typed + L"\" /pellisar_down /wait_run /verysilent",
            nbase::UTF8ToUTF16(setup_test::ReadFileBytes(stored + L"setup_parameters.txt")));
  EXPECT_EQ("English", setup_test::ReadFileBytes(stored + L"cache\\language"));
  EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->TargetPath()))
      << "the package is deleted after the setup ran";
  EXPECT_TRUE(Find(L"closebtn")->IsVisible());
  EXPECT_FALSE(Find(L"minbtn")->IsVisible());
  setup_test::RemoveTree(stored.substr(0, stored.size() - 1));

  // Closing the end page asks nothing, opens the page after the installation and quits.
  Answer([](const std::wstring&) { return IDOK; });
  const size_t boxes_before = BoxTexts().size();
  const int quits = setup_test::QuitMessagesSeen();
  Click(L"closebtn");
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(form_->GetHWND()); }, kWatchdogMs));
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(L"http://127.0.0.1:9/welcome", kWatchdogMs));
  EXPECT_EQ(quits + 1, setup_test::QuitMessagesSeen());
  EXPECT_EQ(boxes_before, BoxTexts().size());
}

TEST_F(SetupWindow, AServerLostHalfWayIsWaitedForAndTheRunGoesOnByItself) {
  // The server goes half-way through the package, in the middle of an answer; it comes back
  // 20 seconds later, and nobody clicks anything.
  const std::string package = DemoPackage();
  server_.CutOffAfter(static_cast<long long>(package.size() / 2));
  ASSERT_TRUE(server_.Start(package));
  Open();
  form_->Downloader()->SetRetryPause(200);
  Answer([](const std::wstring&) { return IDCANCEL; });
  Click(L"btn_install");
  ASSERT_TRUE(PumpUntil([&] { return form_->Downloader()->Progress().done > 0; }, kWatchdogMs));
  const long long before = server_.BytesServed();
  EXPECT_GT(before, 0);
  EXPECT_LT(before, static_cast<long long>(package.size()));
  // With nothing arriving, the line beside the percentage says what the download waits for.
  auto* status = dynamic_cast<ui::LabelTemplate<ui::Control>*>(Find(L"label_status"));
  ASSERT_NE(nullptr, status);
  EXPECT_TRUE(PumpUntil(
      [&] { return status->GetText().find(L"aiting for the") != std::wstring::npos; }, 20000))
      << "status: " << status->GetText().c_str();
  Shot(L"download_waiting");
  PumpUntil([] { return false; }, 20000 - 12000);
  server_.CutOffAfter(-1);
  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage, 120000)) << "the run did not go on by itself";
  EXPECT_TRUE(BoxTexts().empty()) << "a lost server is a wait, not a box";
  // Only what was missing was fetched again (besides the probes' single bytes).
  EXPECT_LE(server_.BytesServed(), static_cast<long long>(package.size()) + 16);
  setup_test::RemoveTree(
      form_->Product().InstallFolder().substr(0, form_->Product().InstallFolder().size() - 1));
}

TEST_F(SetupWindow, AProxyWantingAnAccountGetsItFromThePromptAndNoFileKeepsIt) {
  server_.AskForProxyCredentials("alice:wonder land!");
  ASSERT_TRUE(server_.Start(DemoPackage()));
  // Set before the window opens: the downloader's size query starts with it.
  http_test::ScopedSystemProxy system_proxy;
  ASSERT_TRUE(system_proxy.Use(server_.Port()));
  // The credential prompt is a dialog too: the typist below answers it, and no message box
  // is expected, so none is answered here (one would hold the run, and show in BoxTexts).
  Answer([](const std::wstring&) { return 0; });
  // A user types a wrong password first, then the right one, into the system's prompt.
  std::atomic<int> prompts{0};
  std::atomic<bool> refused_said{false};
  nbase::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE stop_event = stop.get();
  nbase::UniqueHandle typist = nbase::StartThread("prompt typist", [&, stop_event] {
    for (DWORD waited = 0; waited < kWatchdogMs && prompts < 2; waited += 50) {
      HWND dialog = ::FindWindowW(nullptr, L"Sign in to the proxy");
      if (dialog && ::IsWindowVisible(dialog)) {
        std::vector<HWND> edits;
        std::wstring shown;
        setup_test::ForEachChild(dialog, [&](HWND child, const std::wstring& kind) {
          if (kind == L"Edit") edits.push_back(child);
          if (kind == L"Static") shown += setup_test::WindowText(child);
        });
        if (prompts == 1) refused_said = shown.find(L"did not accept") != std::wstring::npos;
        if (edits.size() >= 2) {
          const wchar_t* password = prompts == 0 ? L"wrong" : L"wonder land!";
          ::SendMessageW(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"alice"));
          ::SendMessageW(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password));
        }
        ++prompts;
        ::SendMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      }
      if (::WaitForSingleObject(stop_event, 50) == WAIT_OBJECT_0) return;
    }
  });
  Open();
  Click(L"btn_install");
  const bool ended = WaitForPage(SetupForm::kEndPage);
  ::SetEvent(stop_event);
  ::WaitForSingleObject(typist.get(), kWatchdogMs);
  ASSERT_TRUE(ended) << "the run did not get through the proxy; prompts: " << prompts.load();
  EXPECT_EQ(2, prompts.load());
  EXPECT_TRUE(refused_said) << "the second prompt did not say the first account was refused";
  // The account lives in memory only: not in the log, not beside the download.
  for (const char* secret : {"wonder land!", "YWxpY2U6d29uZGVyIGxhbmQh"}) {
    EXPECT_EQ(std::string::npos, setup_test::ReadFileBytes(LogPath()).find(secret));
  }
  proxy_credentials::Clear();
  setup_test::RemoveTree(
      form_->Product().InstallFolder().substr(0, form_->Product().InstallFolder().size() - 1));
}

TEST_F(SetupWindow, PackageWithWrongDigestIsNeverRun) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  const std::wstring wrong(64, L'0');
  Open({{L"URLID_DOWN_SHA256", wrong}, {L"URLID_DOWN_X64_SHA256", wrong}});
  std::atomic<int> asked{0};
  Answer([&](const std::wstring& text) {
    ++asked;
    return text.find(L"Ignore") != std::wstring::npos ? IDABORT : IDCANCEL;
  });
  auto* edit = dynamic_cast<ui::RichEdit*>(Find(L"edit_path"));
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"flow digest " + std::to_wstring(::GetCurrentProcessId());
  edit->SetText(folder);
  Click(L"btn_install");
  ASSERT_TRUE(PumpUntil([&] { return asked >= 1; }, kWatchdogMs));
  ASSERT_TRUE(WaitForPage(SetupForm::kHomePage));
  EXPECT_FALSE(setup_test::PathExists(folder + L"\\setup_parameters.txt"));
  EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->TargetPath()));
}

// The repaint invariant through a whole run of the real window: the surface its partial
// repaints built up equals a full repaint after the custom panel, the language switch, each
// progress report and slide, and on the end page.
TEST_F(SetupWindow, PartialRepaintsEqualAFullRepaintThroughARun) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "home";
  Click(L"checkbox_custom");
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "custom panel";
  auto* combo = dynamic_cast<ui::Combo*>(Find(L"combo_language"));
  ASSERT_NE(nullptr, combo);
  combo->SelectItem(1);
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "language switched";
  combo->SelectItem(0);
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "language switched back";
  Click(L"checkbox_custom");
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "custom panel closed";

  Click(L"btn_install");
  ASSERT_TRUE(WaitForPage(SetupForm::kDownloadPage));
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "download page";
  // Reports as the downloader sends them, and the slideshow's timer, while the real download
  // goes on beside them.
  for (int percent = 5; percent <= 95; percent += 15) {
    DownloadProgress record = {form_->Downloader(), percent};
    ::SendMessageW(form_->GetHWND(), WM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&record));
    EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "progress " << percent;
    ::SendMessageW(form_->GetHWND(), WM_TIMER, SetupForm::kSlideshowTimerId, 0);
    EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "slide after " << percent;
  }
  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage)) << "no end page";
  EXPECT_TRUE(ui_test::RepaintsAgree(*form_)) << "end page";
  setup_test::RemoveTree(
      form_->Product().InstallFolder().substr(0, form_->Product().InstallFolder().size() - 1));
}

TEST_F(SetupWindow, KeyboardAloneInstallsInGermanToAChosenFolderAndStartsTheProduct) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  // Escape asks the quit question, as Alt+F4 does; Cancel keeps the run.
  Answer([](const std::wstring&) { return IDCANCEL; });
  Key(VK_ESCAPE);
  ASSERT_TRUE(PumpUntil([&] { return !BoxTexts().empty(); }, kWatchdogMs));
  EXPECT_NE(std::wstring::npos, BoxTexts()[0].find(L"Are you sure you want to quit?"));
  PumpUntil([] { return false; }, 300);
  ASSERT_TRUE(::IsWindow(form_->GetHWND()));

  // The home page's stops in reading order, around and back.
  std::vector<std::wstring> order;
  for (int i = 0; i < 6; ++i) {
    Key(VK_TAB);
    order.push_back(FocusName());
  }
  EXPECT_EQ(order, (std::vector<std::wstring>{L"btn_install", L"btn_link", L"checkbox_custom",
                                              L"minbtn", L"closebtn", L"btn_install"}));
  EXPECT_TRUE(form_->IsFocusMarkShown());
  Shot(L"keyboard_home_install");
  Key(VK_TAB, VK_SHIFT);
  EXPECT_EQ(L"closebtn", FocusName());
  Shot(L"keyboard_home_close");

  // Custom Install by Space; German from the combo with an arrow; a folder typed over the
  // default one.
  Key(VK_TAB);
  Key(VK_TAB);
  Key(VK_TAB);
  ASSERT_EQ(L"checkbox_custom", FocusName());
  Key(VK_SPACE);
  ASSERT_TRUE(Find(L"box_custom")->IsVisible());
  Shot(L"keyboard_home_custom");
  Key(VK_TAB);
  ASSERT_EQ(L"combo_language", FocusName());
  Key(VK_DOWN);
  EXPECT_EQ(L"Jetzt installieren",
            dynamic_cast<ui::LabelTemplate<ui::Control>*>(Find(L"btn_install"))->GetText());
  Shot(L"keyboard_home_combo_german");
  Key(VK_TAB);
  ASSERT_EQ(L"edit_path", FocusName());
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"keyboard install " + std::to_wstring(::GetCurrentProcessId());
  setup_test::RemoveTree(folder);
  Key('A', VK_CONTROL);
  Type(folder);
  EXPECT_EQ(folder, dynamic_cast<ui::RichEdit*>(Find(L"edit_path"))->GetText());
  Key(VK_TAB);
  EXPECT_EQ(L"btn_path", FocusName());
  Shot(L"keyboard_home_browse");
  Key(VK_TAB, VK_SHIFT);

  // Return in the field presses the page's main button.
  Key(VK_RETURN);
  ASSERT_EQ(SetupForm::kDownloadPage, form_->CurrentPage());
  EXPECT_EQ(L"btn_hide", FocusName()) << "the download page takes the keyboard to Hide";
  Key(VK_TAB);
  EXPECT_EQ(L"btn_hide", FocusName()) << "the caption buttons are hidden while it runs";
  Shot(L"keyboard_download_hide");

  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage)) << "no end page";
  const std::wstring stored = folder + L"\\";
  EXPECT_EQ("German", setup_test::ReadFileBytes(stored + L"cache\\language"));
  EXPECT_EQ(L"/DIR=\"" + folder + L"\" /pellisar_down /wait_run /verysilent",
            nbase::UTF8ToUTF16(setup_test::ReadFileBytes(stored + L"setup_parameters.txt")));
  EXPECT_EQ(L"btn_start", FocusName()) << "the end page takes the keyboard to Start Now";
  Shot(L"keyboard_end_start");
  Key(VK_TAB);
  EXPECT_EQ(L"closebtn", FocusName());
  Shot(L"keyboard_end_close");

  // Return with the close button focused presses it; with nothing that takes Return focused
  // it is Start Now. Here: back to Start Now, then Return.
  Key(VK_TAB, VK_SHIFT);
  const int quits = setup_test::QuitMessagesSeen();
  Key(VK_RETURN);
  EXPECT_TRUE(PumpUntil([&] { return setup_test::PathExists(stored + L"minteo_started.txt"); },
                        kWatchdogMs))
      << "Start Now did not start the product";
  EXPECT_TRUE(PumpUntil([&] { return setup_test::QuitMessagesSeen() == quits + 1; }, kWatchdogMs));
  for (int i = 0; i < 100 && sysutil::IsProcessRunning(L"Minteo.exe"); ++i) ::Sleep(100);
}

// --- What runs elevated, and what the user is told -------------------------------------------

std::wstring ScratchFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + name + L" " + std::to_wstring(::GetCurrentProcessId());
}

// The box watcher looks every 50 ms; a box is photographed once it has had time to paint.
constexpr int kLooksBeforeShot = 8;

int CountLabel(const std::vector<std::string>& labels, const std::string& label) {
  return static_cast<int>(std::count(labels.begin(), labels.end(), label));
}

bool IsInstallFailedBox(const std::wstring& text) {
  return text.find(L"could not be completed") != std::wstring::npos;
}

// A package the verifier refused has its own box, with Retry and Cancel only.
bool IsRefusedBox(const std::wstring& text) {
  return text.find(L"could not be verified") != std::wstring::npos;
}

TEST_F(SetupWindow, UntrustedPackagesAreNeverRunAndAreDeleted) {
  const std::string good = DemoPackage();
  std::string flipped = good;
  flipped[4096] = static_cast<char>(flipped[4096] ^ 0x01);
  const std::wstring untrusted = setup_test::FromBuildPath(UNTRUSTED_PACKAGES_DIR) + L"\\";
  struct Variant {
    const char* what;
    std::string bytes;
  };
  const Variant variants[] = {
      {"flipped byte", flipped},
      {"appended bytes", good + std::string(32, '\0')},
      {"unsigned", setup_test::ReadFileBytes(untrusted + L"unsigned.exe")},
      {"second publisher", setup_test::ReadFileBytes(untrusted + L"other_publisher.exe")},
      {"no code-signing usage", setup_test::ReadFileBytes(untrusted + L"no_codesign.exe")},
      {"expired", setup_test::ReadFileBytes(untrusted + L"expired.exe")},
      {"self-signed look-alike", setup_test::ReadFileBytes(untrusted + L"lookalike.exe")},
  };
  ASSERT_TRUE(server_.Start(good));
  Open();
  const std::wstring folder = ScratchFolder(L"flow untrusted");
  dynamic_cast<ui::RichEdit*>(Find(L"edit_path"))->SetText(folder);
  std::atomic<int> failed_boxes{0};
  std::atomic<int> looks{0};
  Answer([&](const std::wstring& text) {
    if (!IsRefusedBox(text)) return IDCANCEL;
    // The first box is left up a moment to be painted and photographed.
    if (failed_boxes == 0 && ++looks < kLooksBeforeShot) return 0;
    if (failed_boxes == 0) setup_test::ShootMessageBoxes(L"flow_untrusted_box");
    ++failed_boxes;
    return IDCANCEL;
  });
  const std::vector<std::string> labels_before = setup_test::CollectorEventLabels();
  for (const Variant& variant : variants) {
    ASSERT_FALSE(variant.bytes.empty()) << variant.what;
    ASSERT_TRUE(server_.Start(variant.bytes));
    const int before = failed_boxes;
    Click(L"btn_install");
    ASSERT_TRUE(PumpUntil([&] { return failed_boxes > before; }, kWatchdogMs)) << variant.what;
    ASSERT_TRUE(WaitForPage(SetupForm::kHomePage)) << variant.what;
    EXPECT_FALSE(setup_test::PathExists(folder + L"\\setup_parameters.txt")) << variant.what;
    EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->DownloadPath())) << variant.what;
    EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->TargetPath())) << variant.what;
  }
  // A box still closing may be looked at twice.
  EXPECT_LE(static_cast<int>(sizeof(variants) / sizeof(variants[0])), failed_boxes.load());
  for (const std::wstring& text : BoxTexts()) {
    if (IsRefusedBox(text)) {
      EXPECT_NE(std::wstring::npos, text.find(LogPath())) << text;
      EXPECT_EQ(std::wstring::npos, text.find(L"Ignore")) << "no way to run it by hand";
    }
  }
  // Reported as failures with their codes, never as an installation.
  PumpUntil([] { return false; }, 1500);
  const std::vector<std::string> labels = setup_test::CollectorEventLabels();
  EXPECT_EQ(CountLabel(labels_before, "Install_Completed"),
            CountLabel(labels, "Install_Completed"));
  EXPECT_EQ(CountLabel(labels_before, "Install_Failed_0x800B0100") + 1,
            CountLabel(labels, "Install_Failed_0x800B0100"))
      << "the unsigned copy: no signature over the file";
  EXPECT_EQ(CountLabel(labels_before, "Install_Failed_0xE07A0008") + 1,
            CountLabel(labels, "Install_Failed_0xE07A0008"))
      << "appended bytes: more than the one signature at the file's end";
  setup_test::RemoveTree(folder);
}

using test_servers::StalledRevocationServer;

TEST_F(SetupWindow, QuittingWhileTheRevocationCheckHangsStopsTheRunAndClosesAtOnce) {
  StalledRevocationServer revocation(STALL_PORT);
  ASSERT_TRUE(revocation.listening()) << "port " << STALL_PORT << " is taken";
  ASSERT_TRUE(server_.Start(setup_test::ReadFileBytes(
      setup_test::FromBuildPath(UNTRUSTED_PACKAGES_DIR) + L"\\stalled_revocation.exe")));
  Open();
  const std::wstring folder = ScratchFolder(L"flow quit verifying");
  dynamic_cast<ui::RichEdit*>(Find(L"edit_path"))->SetText(folder);
  std::atomic<int> quit_questions{0};
  std::atomic<ULONGLONG> answered_at{0};
  Answer([&](const std::wstring& text) {
    if (text.find(L"Are you sure you want to quit?") == std::wstring::npos) return IDCANCEL;
    ++quit_questions;
    answered_at = ::GetTickCount64();
    return IDOK;
  });
  Click(L"btn_install");
  ASSERT_TRUE(PumpUntil([&] { return revocation.Connected(); }, kWatchdogMs))
      << "the verification never asked for the revocation list";
  const std::wstring download = form_->Downloader()->DownloadPath();
  const int quits = setup_test::QuitMessagesSeen();
  const ULONGLONG asked_at = ::GetTickCount64();
  ::PostMessageW(form_->GetHWND(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return setup_test::QuitMessagesSeen() > quits; }, kWatchdogMs));
  const ULONGLONG closed_at = ::GetTickCount64();
  ASSERT_EQ(1, quit_questions.load());
  std::printf("quit asked for: question answered after %llu ms, window closed %llu ms later\n",
              answered_at.load() - asked_at, closed_at - answered_at.load());
  // The revocation's wait alone would hold the verification 16 s; stopped, it ends at once
  // (the rest is the box's and the window's own closing).
  EXPECT_LT(closed_at - asked_at, 10000ull);
  for (const std::wstring& text : BoxTexts()) {
    EXPECT_EQ(std::wstring::npos, text.find(L"finishing")) << "refused as if it ran";
  }
  EXPECT_FALSE(setup_test::PathExists(folder + L"\\setup_parameters.txt")) << "it ran";
  EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->TargetPath()));
  EXPECT_FALSE(setup_test::PathExists(download)) << "the stopped run left the package";
  const std::string log = setup_test::ReadFileBytes(LogPath());
  EXPECT_NE(std::string::npos, log.find("the user quit during the package's verification"));
  setup_test::RemoveTree(folder);
}

TEST_F(SetupWindow, AFailingSetupIsReportedWithItsCodeAndOffersTheBrowser) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  const std::wstring folder = ScratchFolder(L"flow failing");
  dynamic_cast<ui::RichEdit*>(Find(L"edit_path"))->SetText(folder);
  ::SetEnvironmentVariableW(L"DEMO_PACKAGE_EXIT_CODE", L"7");
  std::atomic<bool> asked{false};
  std::atomic<int> looks{0};
  Answer([&](const std::wstring& text) {
    if (!IsInstallFailedBox(text)) return IDCANCEL;
    if (++looks < kLooksBeforeShot) return 0;
    setup_test::ShootMessageBoxes(L"flow_setup_failed_box");
    asked = true;
    return IDIGNORE;
  });
  const std::vector<std::string> labels_before = setup_test::CollectorEventLabels();
  bool end_page_seen = false;
  Click(L"btn_install");
  ASSERT_TRUE(PumpUntil(
      [&] {
        end_page_seen |= form_->CurrentPage() == SetupForm::kEndPage;
        return asked.load();
      },
      kWatchdogMs));
  ::SetEnvironmentVariableW(L"DEMO_PACKAGE_EXIT_CODE", nullptr);
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(
      L"http://127.0.0.1:" + std::to_wstring(server_.Port()) + L"/Clipmint_full_setup.exe",
      kWatchdogMs));
  EXPECT_FALSE(end_page_seen);
  EXPECT_EQ(SetupForm::kHomePage, form_->CurrentPage());
  ASSERT_FALSE(BoxTexts().empty());
  const std::wstring text = BoxTexts().back();
  EXPECT_NE(std::wstring::npos, text.find(L"(error 7)")) << text;
  EXPECT_NE(std::wstring::npos, text.find(LogPath())) << text;
  EXPECT_TRUE(setup_test::PathExists(folder + L"\\setup_parameters.txt")) << "the package ran";
  EXPECT_FALSE(setup_test::PathExists(form_->Downloader()->TargetPath()));

  std::vector<std::string> labels;
  PumpUntil(
      [&] {
        labels = setup_test::CollectorEventLabels();
        return CountLabel(labels, "Install_Failed_7") >
               CountLabel(labels_before, "Install_Failed_7");
      },
      10000);
  EXPECT_EQ(CountLabel(labels_before, "Install_Failed_7") + 1,
            CountLabel(labels, "Install_Failed_7"));
  EXPECT_EQ(CountLabel(labels_before, "Install_Completed"),
            CountLabel(labels, "Install_Completed"));
  setup_test::RemoveTree(folder);
}

TEST_F(SetupWindow, FolderWithTrailingBackslashArrivesIntactAndThePackageRunsInItsFolder) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  const std::wstring folder = ScratchFolder(L"flow slash") + L"\\";
  dynamic_cast<ui::RichEdit*>(Find(L"edit_path"))->SetText(folder);
  Click(L"btn_install");
  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage));
  const std::wstring record =
      nbase::UTF8ToUTF16(setup_test::ReadFileBytes(folder + L"setup_parameters.txt"));
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW((L"package " + record).c_str(), &count);
  ASSERT_NE(nullptr, args);
  std::vector<std::wstring> parsed(args + 1, args + count);
  ::LocalFree(args);
  ASSERT_EQ(4u, parsed.size()) << nbase::UTF16ToUTF8(record);
  EXPECT_EQ(L"/DIR=" + folder, parsed[0]);
  EXPECT_EQ(L"/verysilent", parsed[3]);
  // Started in the protected folder it was downloaded to, which is emptied afterwards.
  const std::wstring package_folder = sysutil::DirectoryPart(form_->Downloader()->TargetPath());
  EXPECT_EQ(package_folder.substr(0, package_folder.size() - 1),
            nbase::UTF8ToUTF16(setup_test::ReadFileBytes(folder + L"setup_cwd.txt")));
  EXPECT_NE(std::wstring::npos, package_folder.find(L"Nolt Clipmint Setup")) << package_folder;
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW((package_folder + L"*.exe").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "left in the package folder: " << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  demo::SaveWindowPng(form_->GetHWND(), setup_test::FromBuildPath(BUILD_DIR_PATH "/screenshots") +
                                            L"\\flow_end_page.png");
  setup_test::RemoveTree(folder.substr(0, folder.size() - 1));
}

TEST_F(SetupWindow, ReturnWithNothingFocusedInstallsAndEscapeClosesTheEndPage) {
  ASSERT_TRUE(server_.Start(DemoPackage()));
  Open();
  ASSERT_EQ(L"(none)", FocusName());
  Key(VK_RETURN);
  EXPECT_EQ(SetupForm::kDownloadPage, form_->CurrentPage());
  ASSERT_TRUE(WaitForPage(SetupForm::kEndPage)) << "no end page";
  setup_test::RemoveTree(
      form_->Product().InstallFolder().substr(0, form_->Product().InstallFolder().size() - 1));

  // On the end page Escape closes at once: no question, the page after the installation.
  Answer([](const std::wstring&) { return IDOK; });
  const int quits = setup_test::QuitMessagesSeen();
  Key(VK_ESCAPE);
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(form_->GetHWND()); }, kWatchdogMs));
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(L"http://127.0.0.1:9/welcome", kWatchdogMs));
  EXPECT_EQ(quits + 1, setup_test::QuitMessagesSeen());
  EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace

// --- The window on a small screen -------------------------------------------------------------

namespace {

// The screen the window must fit: 1280 by 800, as the bottom of the session's larger display.
constexpr LONG kSmallScreenHeight = 800;

// A child at 150 % opens the window where it stands centred on the small screen, opens the
// custom panel, then closes it at the bottom edge and goes through a change to 175 %. It writes
// the small screen and each window rectangle ("name left top right bottom" lines) to argv[0]
// and screenshots of the small screen to the folder argv[1]. A process of its own: the scale
// is the whole process's.
TEST_CHILD(window_on_small_screen) {
  const std::wstring out = nbase::UTF8ToUTF16(argv[0]);
  const std::wstring shots = nbase::UTF8ToUTF16(argv[1]);
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  dpi.AdaptDPI();
  dpi.SetScale(150);
  ui::GlobalManager::Instance().Startup(L"resources\\", nullptr, true, L"themes\\default",
                                        L"lang\\English");
  std::string report;
  auto line = [&](const char* name, const RECT& rect) {
    report += nbase::StringPrintf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right,
                                  rect.bottom);
  };
  {
    SetupForm form;
    if (!form.Create(nullptr, kSetupWindowName,
                     WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, 0, true, RECT())) {
      return 2;
    }
    const HWND hwnd = form.GetHWND();
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const RECT small = {work.left, work.bottom - kSmallScreenHeight, work.left + 1280, work.bottom};
    line("screen", small);
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    const LONG width = rect.right - rect.left;
    LONG height = rect.bottom - rect.top;
    ::SetWindowPos(hwnd, nullptr, small.left + (1280 - width) / 2,
                   small.top + (kSmallScreenHeight - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    form.ShowWindow(true, true);
    PumpUntil([] { return false; }, 600);
    ::GetWindowRect(hwnd, &rect);
    line("home", rect);
    // The whole display, whose bottom 800 rows are the small screen.
    auto shoot = [&](const wchar_t* name) {
      demo::SaveWindowPng(::GetDesktopWindow(), shots + L"\\" + name + L".png");
    };
    dynamic_cast<ui::CheckBox*>(form.FindControl(L"checkbox_custom"))->Selected(true, true);
    PumpUntil([] { return false; }, 600);
    ::GetWindowRect(hwnd, &rect);
    line("custom", rect);
    shoot(L"small_screen_150_custom");

    dynamic_cast<ui::CheckBox*>(form.FindControl(L"checkbox_custom"))->Selected(false, true);
    PumpUntil([] { return false; }, 300);
    ::GetWindowRect(hwnd, &rect);
    height = rect.bottom - rect.top;
    ::SetWindowPos(hwnd, nullptr, rect.left, small.bottom - height, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
    ::GetWindowRect(hwnd, &rect);
    // As the system suggests it: the top-left kept, the size scaled.
    RECT suggested = {rect.left, rect.top, rect.left + (rect.right - rect.left) * 175 / 150,
                      rect.top + height * 175 / 150};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(168, 168), reinterpret_cast<LPARAM>(&suggested));
    PumpUntil([] { return false; }, 600);
    ::GetWindowRect(hwnd, &rect);
    line("dpi", rect);
    shoot(L"small_screen_175_after_dpi_change");
  }
  ui::GlobalManager::Instance().Shutdown();
  return setup_test::WriteFileBytes(out, report) ? 0 : 1;
}

std::map<std::string, RECT> ReadRects(const std::string& text) {
  std::map<std::string, RECT> rects;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string row = text.substr(at, end - at);
    char name[32] = {};
    RECT rect = {};
    if (std::sscanf(row.c_str(), "%31s %ld %ld %ld %ld", name, &rect.left, &rect.top, &rect.right,
                    &rect.bottom) == 5) {
      rects[name] = rect;
    }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return rects;
}

TEST(SetupWindowOnScreen, At150PercentOn1280x800TheCustomPanelAndADpiChangeKeepItInside) {
  setup_test::SkinCopy skin({});
  const std::wstring out = skin.folder() + L"\\rects.txt";
  const std::wstring shots = setup_test::FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(shots.c_str(), nullptr);
  const testing_support::ChildResult child = testing_support::RunProgram(
      testing_support::SelfPath(),
      L"--child window_on_small_screen \"" + out + L"\" \"" + shots + L"\"", kWatchdogMs);
  ASSERT_TRUE(child.started);
  ASSERT_FALSE(child.timed_out);
  ASSERT_EQ(0u, child.exit_code);
  std::map<std::string, RECT> rects = ReadRects(setup_test::ReadFileBytes(out));
  ASSERT_EQ(4u, rects.size()) << setup_test::ReadFileBytes(out);
  std::printf("the window on the small screen:\n%s", setup_test::ReadFileBytes(out).c_str());
  const RECT screen = rects["screen"];
  const RECT home = rects["home"];
  const RECT custom = rects["custom"];
  EXPECT_GT(custom.bottom - custom.top, home.bottom - home.top) << "the panel opened";
  EXPECT_GT(custom.bottom - custom.top + home.top - screen.top, kSmallScreenHeight)
      << "opening the panel in place would leave the screen";
  for (const char* name : {"home", "custom", "dpi"}) {
    const RECT rect = rects[name];
    EXPECT_TRUE(rect.left >= screen.left && rect.top >= screen.top && rect.right <= screen.right &&
                rect.bottom <= screen.bottom)
        << name << ": " << rect.left << "," << rect.top << " " << rect.right << "," << rect.bottom;
  }
  EXPECT_EQ(home.left, custom.left) << "moved up, not sideways";
  const RECT dpi = rects["dpi"];
  EXPECT_GT(dpi.bottom - dpi.top, home.bottom - home.top) << "the DPI change was taken";
}

}  // namespace
