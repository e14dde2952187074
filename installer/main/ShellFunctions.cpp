// Run-time binding of the shell functions the installer calls.
#include "installer/main/ShellFunctions.h"

const ShellApi& ShellFunctions() {
  static const ShellApi api = nbase::BindSystemTable<ShellApi>(L"shell32.dll");
  return api;
}
