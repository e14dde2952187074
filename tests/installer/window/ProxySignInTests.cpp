// The system's credential prompt for the proxy, filled in and answered from a second thread as
// a user would, in both languages' words.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "installer/window/ProxySignIn.h"
#include "tests/installer/window/SetupTestSupport.h"
#include "tools/demo/driver/InstallerDriver.h"

namespace {

constexpr DWORD kWatchdogMs = 20000;

// The screenshot of the prompt, for a person to look at, is taken before anything is typed.
std::wstring ShotPath(const wchar_t* name) {
  const std::wstring folder = setup_test::FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\" + name + L".png";
}

struct Typing {
  Typing(std::wstring caption_text, std::wstring user_text, std::wstring password_text)
      : caption(std::move(caption_text)),
        user(std::move(user_text)),
        password(std::move(password_text)) {}
  std::wstring caption;
  std::wstring user;
  std::wstring password;
  bool cancel = false;
  const wchar_t* shot = nullptr;
  // What the prompt showed: its static texts, joined.
  std::wstring shown;
  bool found = false;
};

BOOL CALLBACK Collect(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 63);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1023);
  return text;
}

// Waits for the prompt of `typing.caption`, types the account into its two fields (the user
// name's inside its combo, then the password) and presses OK or Cancel.
void TypeInto(Typing& typing, HANDLE stop) {
  for (DWORD waited = 0; waited < kWatchdogMs; waited += 50) {
    HWND dialog = ::FindWindowW(nullptr, typing.caption.c_str());
    if (dialog && ::IsWindowVisible(dialog)) {
      typing.found = true;
      if (typing.shot) {
        ::RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        demo::SaveWindowPng(::GetDesktopWindow(), ShotPath(typing.shot));
      }
      std::vector<HWND> children;
      ::EnumChildWindows(dialog, Collect, reinterpret_cast<LPARAM>(&children));
      std::vector<HWND> edits;
      for (HWND child : children) {
        const std::wstring kind = ClassOf(child);
        if (kind == L"Edit") edits.push_back(child);
        if (kind == L"Static") typing.shown += TextOf(child) + L"\n";
      }
      if (edits.size() >= 2) {
        ::SendMessageW(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typing.user.c_str()));
        ::SendMessageW(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typing.password.c_str()));
      }
      HWND button = ::GetDlgItem(dialog, typing.cancel ? IDCANCEL : IDOK);
      ::SendMessageW(button, BM_CLICK, 0, 0);
      return;
    }
    if (::WaitForSingleObject(stop, 50) == WAIT_OBJECT_0) return;
  }
}

bool AskWithTyping(Typing& typing, bool refused, const proxy_sign_in::Words& words,
                   std::wstring* user, std::wstring* password) {
  nbase::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE stop_event = stop.get();
  nbase::UniqueHandle typist =
      nbase::StartThread("prompt typist", [&typing, stop_event] { TypeInto(typing, stop_event); });
  const bool confirmed = proxy_sign_in::Ask(nullptr, refused, words, user, password);
  ::SetEvent(stop_event);
  ::WaitForSingleObject(typist.get(), kWatchdogMs);
  return confirmed;
}

TEST(ProxySignIn, PromptGivesWhatWasTypedSaysWhenItWasRefusedAndCancelGivesNothing) {
  const proxy_sign_in::Words english = {L"Sign in to the proxy",
                                        L"Your proxy server asks for a user name and password.",
                                        L"The proxy did not accept that user name and password."};
  Typing first{english.caption, L"alice", L"wonder land!"};
  first.shot = L"proxy_prompt_en";
  std::wstring user, password;
  ASSERT_TRUE(AskWithTyping(first, false, english, &user, &password));
  ASSERT_TRUE(first.found) << "the prompt never showed";
  EXPECT_EQ(user, L"alice");
  EXPECT_EQ(password, L"wonder land!");
  EXPECT_NE(first.shown.find(english.message), std::wstring::npos) << first.shown.c_str();
  EXPECT_EQ(first.shown.find(english.refused), std::wstring::npos);

  const proxy_sign_in::Words german = {
      L"Beim Proxy anmelden", L"Ihr Proxyserver verlangt einen Benutzernamen und ein Kennwort.",
      L"Der Proxy hat diesen Benutzernamen und dieses Kennwort nicht angenommen."};
  Typing again{german.caption, L"alice", L"wonder land!"};
  again.shot = L"proxy_prompt_de_refused";
  ASSERT_TRUE(AskWithTyping(again, true, german, &user, &password));
  EXPECT_NE(again.shown.find(german.refused), std::wstring::npos) << again.shown.c_str();

  Typing cancel{english.caption, L"bob", L"x"};
  cancel.cancel = true;
  std::wstring kept_user = L"unchanged", kept_password = L"unchanged";
  EXPECT_FALSE(AskWithTyping(cancel, false, english, &kept_user, &kept_password));
  EXPECT_TRUE(cancel.found);
  EXPECT_EQ(kept_password, L"unchanged");
}

}  // namespace
