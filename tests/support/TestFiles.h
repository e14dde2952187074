// File helpers every test program may use: build paths under Wine, whole-file reads and writes,
// and removal of a folder with its content.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/UniqueResource.h"

namespace test_files {

// Build paths arrive as host paths; Wine maps the host root to drive Z:.
inline std::wstring FromBuildPath(const char* path) {
  std::wstring result;
  for (const char* p = path; *p; ++p) result += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  if (!result.empty() && result[0] == L'\\') result = L"Z:" + result;
  return result;
}

// Empty when the file cannot be opened.
inline std::string ReadAll(const std::wstring& path) {
  nbase::UniqueStdioFile file(::_wfopen(path.c_str(), L"rb"));
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0;) {
    bytes.append(buffer, got);
  }
  return bytes;
}

inline bool WriteAll(const std::wstring& path, const std::string& bytes) {
  nbase::UniqueStdioFile file(::_wfopen(path.c_str(), L"wb"));
  return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

// Removes `folder` (with or without a trailing backslash) and everything in it, if it exists.
inline void RemoveTree(std::wstring folder) {
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  folder += L'\0';  // the shell takes a double-NUL list
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = folder.c_str();
  operation.fFlags = FOF_NO_UI;
  ::SHFileOperationW(&operation);
}

}  // namespace test_files
