// Strict parsing of the number lists that markup attributes carry.
#include "base/NumberList.h"

#include <cerrno>
#include <cwchar>

namespace nbase {

bool ParseIntList(const std::wstring& value, int* out, int count) {
  int parsed[8] = {};
  if (count <= 0 || count > 8) return false;
  const wchar_t* p = value.c_str();
  for (int i = 0; i < count; ++i) {
    wchar_t* end = nullptr;
    errno = 0;
    const long number = std::wcstol(p, &end, 10);
    if (end == p || errno == ERANGE) return false;
    parsed[i] = static_cast<int>(number);
    if (i + 1 < count) {
      if (*end == L'\0') return false;
      p = end + 1;
    }
  }
  for (int i = 0; i < count; ++i) out[i] = parsed[i];
  return true;
}

bool ParseRectList(const std::wstring& value, RECT* rect) {
  int v[4] = {};
  if (!ParseIntList(value, v, 4)) return false;
  *rect = {v[0], v[1], v[2], v[3]};
  return true;
}

bool ParseSizeList(const std::wstring& value, SIZE* size) {
  int v[2] = {};
  if (!ParseIntList(value, v, 2)) return false;
  *size = {v[0], v[1]};
  return true;
}

bool ParseSingleInt(const std::wstring& value, int* out) {
  return ParseIntList(value, out, 1);
}

}  // namespace nbase
