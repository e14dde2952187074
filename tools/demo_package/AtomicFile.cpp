// Whole-file writes through a temporary name and a rename.
#include "tools/demo_package/AtomicFile.h"

#include <string>

#include "base/UniqueResource.h"

namespace demo {

namespace {

DWORD WriteAndFlush(const std::wstring& path, const void* bytes, size_t size) {
  nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  const auto* next = static_cast<const char*>(bytes);
  size_t left = size;
  while (left > 0) {
    // WriteFile takes a DWORD count; the product is small, but stay correct for any size.
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file.get(), next, chunk, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    next += written;
    left -= written;
  }
  if (!::FlushFileBuffers(file.get())) return ::GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteFileAtomically(const std::wstring& path, const void* bytes, size_t size) {
  // The process id keeps two concurrent runs from writing into the same temporary file.
  const std::wstring temporary = path + L".part" + std::to_wstring(::GetCurrentProcessId());
  DWORD error = WriteAndFlush(temporary, bytes, size);
  if (error == ERROR_SUCCESS &&
      !::MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
  }
  if (error != ERROR_SUCCESS) ::DeleteFileW(temporary.c_str());
  return error;
}

std::wstring OwnFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace demo
