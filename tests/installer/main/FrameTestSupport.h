// Scratch folders, whole-file reads and writes, and renamed copies of this test program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/UniqueResource.h"
#include "tests/installer/main/TestChild.h"
#include "tests/support/TestFiles.h"

namespace frame_test {

using test_files::ReadAll;
using test_files::WriteAll;

// A fresh folder per test (path ends in "\\"), removed with its content afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& tag) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"frame_" + tag + L"_" + std::to_wstring(::GetCurrentProcessId()) +
            L"\\";
    Remove();
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(); }
  const std::wstring& path() const { return path_; }

  // A copy of this test program under another file name, to run as a child; the system's
  // error of a copy that failed is kept, so that a child that then cannot start says why.
  std::wstring CopySelfAs(const std::wstring& name) {
    copy_error_ = ::CopyFileW(testing_support::SelfPath().c_str(), (path_ + name).c_str(), FALSE)
                      ? ERROR_SUCCESS
                      : ::GetLastError();
    return path_ + name;
  }
  DWORD copy_error() const { return copy_error_; }

 private:
  void Remove() { test_files::RemoveTree(path_); }

  std::wstring path_;
  DWORD copy_error_ = ERROR_SUCCESS;
};

inline BOOL CALLBACK CloseSetupWindowIfOwned(HWND hwnd, LPARAM process_id) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (owner == static_cast<DWORD>(process_id) && std::wstring(name) == L"PELLISAR Setup") {
    ::PostMessageW(hwnd, WM_CLOSE, 1, 0);
  }
  return TRUE;
}

// Ends the setup window of process `process_id` the way its own close does (WM_CLOSE carrying
// a close code), which needs no answer to the quit question.
inline void CloseSetupWindowOf(DWORD process_id) {
  ::EnumWindows(&CloseSetupWindowIfOwned, static_cast<LPARAM>(process_id));
}

}  // namespace frame_test
