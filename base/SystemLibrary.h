// Run-time binding of system DLLs from the system folder only, never from beside the exe.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace nbase {

// The loader resolves static imports from the program's own folder first. An installer runs
// from the Downloads folder with administrator rights, so only libraries that Windows always
// takes from the system folder (the KnownDLLs) may appear in the import table; everything
// else is bound here, at run time, from the system folder.

// Restricts the process's DLL search to the system folder. Call first thing in the entry.
// Returns false where the OS lacks the API (an unpatched Windows 7); loads below stay safe.
bool HardenDllSearchPath();

// Loads `name` (for example L"winmm.dll") from the system folder. The module stays loaded for
// the life of the process so the function pointers callers cache stay valid. Null on failure,
// with GetLastError describing why.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Loads each of `names` as above, in the order given, and keeps it. A library already loaded
// is what the loader hands out for a later import of the same name, so a library loaded here
// before anything pulls it in can no longer be picked up from beside the program. List a
// library's own dependencies before it: its imports are resolved while it loads. Returns the
// names that could not be loaded (absent from this version of the system).
std::vector<std::wstring> PreloadSystemLibraries(const std::vector<const wchar_t*>& names);

// Looks up an export of a system library, loading it as above. Null on failure.
FARPROC GetSystemProc(const wchar_t* library, const char* proc);

template <typename Fn>
Fn GetSystemFunction(const wchar_t* library, const char* proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetSystemProc(library, proc)));
}

// Fills `slot` with an export of a system library; false when it is missing, so a caller can
// bind a whole table and tell whether every entry is there.
template <typename Fn>
bool BindSystemFunction(Fn& slot, const wchar_t* library, const char* proc) {
  slot = GetSystemFunction<Fn>(library, proc);
  return slot != nullptr;
}

// Binds a table of one library's exports, entry by entry, and remembers whether every one
// was found: a table with a gap is refused as a whole rather than failing at its first call.
class SystemFunctionBinder {
 public:
  explicit SystemFunctionBinder(const wchar_t* library) noexcept : library_(library) {}

  template <typename Fn>
  void operator()(Fn& slot, const char* proc) {
    complete_ &= BindSystemFunction(slot, library_, proc);
  }
  bool complete() const noexcept { return complete_; }

 private:
  const wchar_t* library_;
  bool complete_ = true;
};

}  // namespace nbase
