// The shell's functions bound at run time: shell32 is a large library, and a static import would
// load it with the program, ahead of a first paint that needs none of it.
#pragma once

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include "base/SystemFunctionTable.h"

// clang-format off
#define SHELL_FUNCTIONS(X)     \
  X(SHGetFolderPathW)          \
  X(SHGetSpecialFolderPathW)   \
  X(SHBrowseForFolderW)        \
  X(SHGetPathFromIDListW)      \
  X(ShellExecuteW)             \
  X(ShellExecuteExW)
// clang-format on

struct ShellApi {
  NBASE_SYSTEM_FUNCTION_TABLE(SHELL_FUNCTIONS)
};

// Bound on first use from the system folder; the table lives for the whole process. Every
// entry exists on every system the installer runs on, so a gap means shell32 itself could not
// be loaded: callers then fail the way the call itself would have.
const ShellApi& ShellFunctions();
