// Stand-in for the product's full setup package: unpacks the product into the folder named by
// /DIR= and records how it was called, so the installer's hand-over can be checked from outside.
#include <windows.h>

#include <cwchar>
#include <string>

#include "base/StringUtil.h"
#include "tools/demo_package/AtomicFile.h"
#include "tools/demo_package/DemoResources.h"

namespace {

// Exit codes the callers (the end-to-end tests) rely on.
constexpr int kExitInstalled = 0;
constexpr int kExitNoFolder = 2;
constexpr int kExitFailed = 3;

// A real setup spends a while copying; the installer's progress page must cope with that.
constexpr DWORD kSetupPauseMs = 1500;

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// Finds the first /DIR= switch. The value is read up to the closing quote rather than with the
// usual argument rules, because those would turn a folder ending in a backslash (`"C:\x\"`) into
// an escaped quote and swallow the switches after it.
bool FindFolderSwitch(const std::wstring& command_line, std::wstring* folder) {
  static constexpr wchar_t kSwitch[] = L"/DIR=";
  const size_t switch_length = std::wcslen(kSwitch);
  size_t i = 0;
  const size_t n = command_line.size();
  while (i < n) {
    while (i < n && IsBlank(command_line[i])) ++i;
    if (i >= n) break;
    if (n - i >= switch_length &&
        ::_wcsnicmp(command_line.c_str() + i, kSwitch, switch_length) == 0) {
      i += switch_length;
      size_t end;
      if (i < n && command_line[i] == L'"') {
        ++i;
        end = command_line.find(L'"', i);
        if (end == std::wstring::npos) end = n;
        *folder = command_line.substr(i, end - i);
        i = end + 1;
      } else {
        end = i;
        while (end < n && !IsBlank(command_line[end])) ++end;
        *folder = command_line.substr(i, end - i);
        i = end;
      }
      return true;
    }
    // Any other switch is skipped whole, quoted blanks included.
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(command_line[i]))) {
      if (command_line[i] == L'"') quoted = !quoted;
      ++i;
    }
  }
  return false;
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
  if (!FindFolderSwitch(parameters, &folder) || folder.empty()) return kExitNoFolder;

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

  ::Sleep(kSetupPauseMs);
  return kExitInstalled;
}
