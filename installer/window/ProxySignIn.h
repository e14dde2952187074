// Asks the user for the proxy's user name and password with the system's credential prompt,
// bound at run time; nothing typed is saved by the system or written anywhere.
#pragma once

#include <windows.h>

#include <string>

namespace proxy_sign_in {

struct Words {
  std::wstring caption;  // the prompt's title
  std::wstring message;  // why the installer asks
  std::wstring refused;  // the line added when the last account was not accepted
};

// Shows the prompt over `owner` (its thread waits, pumping messages, as for a message box).
// `refused` says the account given before was refused. True with the account when the user
// confirmed; false when they cancelled or the prompt could not be shown.
bool Ask(HWND owner, bool refused, const Words& words, std::wstring* user, std::wstring* password);

}  // namespace proxy_sign_in
