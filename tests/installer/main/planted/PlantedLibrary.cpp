// Stand-in for a library planted beside a program: when loaded, adds its own file name to a
// marker file in its folder.
// Keeps the system declaration of the exported function (with its import attribute) out.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

// Exported under the planted library's real name so a program importing it starts normally.
extern "C" __declspec(dllexport) DWORD WINAPI timeGetTime() {
  return ::GetTickCount();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
  const std::wstring self(path, length);
  const size_t folder_end = self.find_last_of(L"\\/") + 1;
  const std::wstring marker = self.substr(0, folder_end) + L"planted_loaded.txt";
  // Several planted copies may load into one process: each appends, none replaces.
  HANDLE file = ::CreateFileW(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char name[MAX_PATH] = {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, self.c_str() + folder_end, -1, name,
                                         MAX_PATH - 2, nullptr, nullptr);
  if (size > 0) {
    name[size - 1] = '\n';
    DWORD written = 0;
    ::WriteFile(file, name, static_cast<DWORD>(size), &written, nullptr);
  }
  ::CloseHandle(file);
  return TRUE;
}
