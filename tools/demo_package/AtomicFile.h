// Whole-file writes that either land completely under the final name or leave nothing behind.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace demo {

// Writes `bytes` to a temporary name beside `path`, flushes it and renames it over `path`, so a
// reader never sees a partly written file. Returns ERROR_SUCCESS or the error of the failing call.
DWORD WriteFileAtomically(const std::wstring& path, const void* bytes, size_t size);

// The folder that holds this program, ending in a backslash.
std::wstring OwnFolder();

}  // namespace demo
