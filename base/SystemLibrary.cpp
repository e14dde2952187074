// Loads system DLLs by full system-folder path and keeps them for the life of the process.
#include "base/SystemLibrary.h"

#include <map>
#include <string>
#include <vector>

#include "base/Lock.h"

namespace nbase {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif

Lock& CacheLock() {
  // Never destroyed: a library may still be bound while the process runs its exit-time
  // destructors.
  static Lock* lock = new Lock();
  return *lock;
}

std::map<std::wstring, HMODULE>& Cache() {
  static std::map<std::wstring, HMODULE> modules;
  return modules;
}

HMODULE LoadFromSystemFolder(const wchar_t* name) {
  // By full path, and the library's own imports looked for in its folder: a system library
  // whose dependency is resolved along the process's search path can otherwise pick a copy
  // planted beside the program (Wine's loader does, whatever the search flags say).
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
  HMODULE module = ::LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // Without the search-flag update the flags are rejected; the altered search order starts in
  // the library's folder too.
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool HardenDllSearchPath() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  return set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  AutoLock guard(CacheLock());
  auto& cache = Cache();
  auto found = cache.find(name);
  if (found != cache.end()) return found->second;
  HMODULE module = LoadFromSystemFolder(name);
  if (module) cache.emplace(name, module);
  return module;
}

std::vector<std::wstring> PreloadSystemLibraries(const std::vector<const wchar_t*>& names) {
  std::vector<std::wstring> missing;
  for (const wchar_t* name : names) {
    if (!LoadSystemLibrary(name)) missing.emplace_back(name);
  }
  return missing;
}

FARPROC GetSystemProc(const wchar_t* library, const char* proc) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? ::GetProcAddress(module, proc) : nullptr;
}

}  // namespace nbase
