// Loads system DLLs by full system-folder path and keeps them for the life of the process.
#include "base/SystemLibrary.h"

#include <map>
#include <string>

#include "base/Lock.h"

namespace nbase {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
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
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // Without the search-flag update the flag is rejected; a full path is just as safe.
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
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

FARPROC GetSystemProc(const wchar_t* library, const char* proc) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? ::GetProcAddress(module, proc) : nullptr;
}

}  // namespace nbase
