// Stand-in for the product's full setup package: unpacks the product into the folder named by
// /DIR= and records how it was called, so the installer's hand-over can be checked from outside.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "tools/demo_package/AtomicFile.h"
#include "tools/demo_package/DemoResources.h"

namespace {

struct LocalArgsTraits {
  using Type = wchar_t**;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type args) noexcept { ::LocalFree(args); }
};
using LocalArgs = nbase::UniqueResource<LocalArgsTraits>;

// Exit codes the callers (the end-to-end tests) rely on.
constexpr int kExitInstalled = 0;
constexpr int kExitNoFolder = 2;
constexpr int kExitFailed = 3;

// A real setup spends a while copying; the installer's progress page must cope with that.
constexpr DWORD kSetupPauseMs = 1500;

// Finds the first /DIR= switch by the standard argument rules, the way the real package parses
// its command line: a folder the caller quoted badly arrives mangled here too.
bool FindFolderSwitch(const wchar_t* command_line, std::wstring* folder) {
  static constexpr wchar_t kSwitch[] = L"/DIR=";
  const size_t switch_length = std::wcslen(kSwitch);
  // With an empty string the shell's parser would return the program's own path instead.
  if (!command_line || !*command_line) return false;
  int count = 0;
  // Program name first, so the parser's special rules for it do not touch the arguments.
  const std::wstring full = std::wstring(L"package ") + command_line;
  LocalArgs args(::CommandLineToArgvW(full.c_str(), &count));
  if (!args) return false;
  for (int i = 1; i < count; ++i) {
    if (::_wcsnicmp(args.get()[i], kSwitch, switch_length) == 0) {
      *folder = args.get()[i] + switch_length;
      return true;
    }
  }
  return false;
}

// The code to end with when the caller asks for one, so tests can drive a failing setup.
int RequestedExitCode() {
  wchar_t value[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"DEMO_PACKAGE_EXIT_CODE", value, 32);
  if (length == 0 || length >= 32) return kExitInstalled;
  return static_cast<int>(std::wcstoul(value, nullptr, 10));
}

void TrimTrailingSeparators(std::wstring* path) {
  while (!path->empty() && (path->back() == L'\\' || path->back() == L'/')) path->pop_back();
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates `folder` (no trailing separator) and every missing parent.
DWORD CreateFolderTree(const std::wstring& folder) {
  if (folder.empty()) return ERROR_PATH_NOT_FOUND;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
  const size_t slash = folder.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) {
    std::wstring parent = folder.substr(0, slash);
    TrimTrailingSeparators(&parent);
    const DWORD error = CreateFolderTree(parent);
    if (error != ERROR_SUCCESS) return error;
  }
  if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
    const DWORD error = ::GetLastError();
    // Someone else may have created it between the check and the call.
    if (error == ERROR_ALREADY_EXISTS && IsFolder(folder)) return ERROR_SUCCESS;
    return error;
  }
  return ERROR_SUCCESS;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  full.resize(length);
  return full;
}

DWORD WriteEmbeddedProduct(const std::wstring& path) {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_MINTEO_EXE), RT_RCDATA);
  if (!resource) return ::GetLastError();
  const DWORD size = ::SizeofResource(nullptr, resource);
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
  return demo::WriteFileAtomically(path, bytes, size);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t* command_line, int) {
  const std::wstring parameters = command_line ? command_line : L"";
  std::wstring folder;
  if (!FindFolderSwitch(command_line, &folder) || folder.empty()) return kExitNoFolder;

  folder = FullPath(folder);
  TrimTrailingSeparators(&folder);
  if (folder.empty() || CreateFolderTree(folder) != ERROR_SUCCESS) return kExitFailed;

  // The record goes last: its presence means the product was unpacked completely.
  if (WriteEmbeddedProduct(folder + L"\\Minteo.exe") != ERROR_SUCCESS) return kExitFailed;
  const std::string record = nbase::UTF16ToUTF8(parameters);
  if (demo::WriteFileAtomically(folder + L"\\setup_parameters.txt", record.data(), record.size()) !=
      ERROR_SUCCESS) {
    return kExitFailed;
  }

  // Where it was started from, so the caller's choice of working folder can be checked too.
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  const std::string cwd_record = nbase::UTF16ToUTF8(cwd);
  demo::WriteFileAtomically(folder + L"\\setup_cwd.txt", cwd_record.data(), cwd_record.size());

  ::Sleep(kSetupPauseMs);
  return RequestedExitCode();
}
