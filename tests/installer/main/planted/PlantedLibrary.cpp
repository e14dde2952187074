// Stand-in for a library planted beside a program: leaves a marker file in its folder when loaded.
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
  std::wstring marker(path, length);
  marker.resize(marker.find_last_of(L"\\/") + 1);
  marker += L"planted_loaded.txt";
  HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}
