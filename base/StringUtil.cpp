// Text helpers shared by every layer.
#include "base/StringUtil.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace nbase {
namespace {

template <typename Char>
void ReplaceAllImpl(std::basic_string<Char>& text, std::basic_string_view<Char> from,
                    std::basic_string_view<Char> to) {
  if (from.empty()) return;
  size_t position = 0;
  while ((position = text.find(from.data(), position, from.size())) != text.npos) {
    text.replace(position, from.size(), to.data(), to.size());
    position += to.size();
  }
}

template <typename Char>
std::vector<std::basic_string<Char>> SplitImpl(std::basic_string_view<Char> text,
                                               std::basic_string_view<Char> delimiters) {
  std::vector<std::basic_string<Char>> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(delimiters, start);
    if (end == text.npos) end = text.size();
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace

std::wstring StringPrintf(const wchar_t* format, ...) {
  std::wstring result(256, L'\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    const int written = std::vswprintf(&result[0], result.size(), format, args);
    va_end(args);
    if (written >= 0 && static_cast<size_t>(written) < result.size()) {
      result.resize(written);
      return result;
    }
    // The wide variant only says "too small", never how much is needed.
    if (result.size() >= (1u << 24)) return std::wstring();
    result.resize(result.size() * 2);
  }
}

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    result.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(&result[0], result.size(), format, args);
    result.resize(needed);
  }
  va_end(args);
  return result;
}

void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to) {
  ReplaceAllImpl(text, from, to);
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  ReplaceAllImpl(text, from, to);
}

std::vector<std::wstring> Split(std::wstring_view text, std::wstring_view delimiters) {
  return SplitImpl(text, delimiters);
}

std::vector<std::string> Split(std::string_view text, std::string_view delimiters) {
  return SplitImpl(text, delimiters);
}

namespace {

std::wstring Widen(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring result(needed, L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), length, &result[0], needed);
  return result;
}

}  // namespace

std::wstring UTF8ToUTF16(std::string_view utf8) {
  return Widen(CP_UTF8, utf8);
}

std::wstring AnsiToUTF16(std::string_view ansi) {
  return Widen(CP_ACP, ansi);
}

std::wstring AnsiToUTF16(const char* ansi) {
  return ansi ? Widen(CP_ACP, ansi) : std::wstring();
}

std::string UTF16ToUTF8(std::wstring_view utf16) {
  if (utf16.empty()) return std::string();
  const int length = static_cast<int>(utf16.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string result(needed, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, &result[0], needed, nullptr, nullptr);
  return result;
}

}  // namespace nbase
