// The credential prompt of the system's credui library, asked never to save what is typed.
#include "installer/window/ProxySignIn.h"

#include <wincred.h>

#include <vector>

#include "base/SystemFunctionTable.h"

namespace proxy_sign_in {
namespace {

// clang-format off
#define CREDUI_FUNCTIONS(X) \
  X(CredUIPromptForCredentialsW)
// clang-format on

struct CredUiApi {
  NBASE_SYSTEM_FUNCTION_TABLE(CREDUI_FUNCTIONS)
};

constexpr wchar_t kTarget[] = L"proxy";

const CredUiApi& CredUi() {
  static const CredUiApi api = nbase::BindSystemTable<CredUiApi>(L"credui.dll");
  return api;
}

}  // namespace

bool Ask(HWND owner, bool refused, const Words& words, std::wstring* user, std::wstring* password) {
  const CredUiApi& api = CredUi();
  if (!api.complete) return false;
  std::wstring message = words.message;
  if (refused) message += L"\n\n" + words.refused;
  CREDUI_INFOW info = {};
  info.cbSize = sizeof(info);
  info.hwndParent = owner;
  info.pszMessageText = message.c_str();
  info.pszCaptionText = words.caption.c_str();
  std::vector<wchar_t> name(CREDUI_MAX_USERNAME_LENGTH + 1, L'\0');
  std::vector<wchar_t> secret(CREDUI_MAX_PASSWORD_LENGTH + 1, L'\0');
  if (user && !user->empty() && user->size() < name.size() - 1) {
    std::copy(user->begin(), user->end(), name.begin());
  }
  BOOL save = FALSE;
  // A generic account of the proxy's own, never kept by the system's credential store.
  const DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_DO_NOT_PERSIST |
                      CREDUI_FLAGS_ALWAYS_SHOW_UI | CREDUI_FLAGS_EXCLUDE_CERTIFICATES |
                      (refused ? CREDUI_FLAGS_INCORRECT_PASSWORD : 0);
  const DWORD result =
      api.CredUIPromptForCredentialsW(&info, L"proxy", nullptr, refused ? ERROR_LOGON_FAILURE : 0,
                                      name.data(), static_cast<ULONG>(name.size()), secret.data(),
                                      static_cast<ULONG>(secret.size()), &save, flags);
  const bool confirmed = result == NO_ERROR && name[0] != L'\0';
  if (confirmed) {
    *user = name.data();
    // Some prompts qualify a bare name with the target, which is not what the user typed.
    const std::wstring qualified = std::wstring(kTarget) + L"\\";
    if (user->compare(0, qualified.size(), qualified) == 0) user->erase(0, qualified.size());
    *password = secret.data();
  }
  ::SecureZeroMemory(secret.data(), secret.size() * sizeof(wchar_t));
  return confirmed;
}

}  // namespace proxy_sign_in
