// Text helpers shared by every layer: printf-style formatting, replace-all, split, UTF conversion.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nbase {

// printf-style formatting. In wide formats write wide text arguments as %ls, so the meaning does
// not depend on which C runtime's printf flavour the build selects.
std::wstring StringPrintf(const wchar_t* format, ...);
std::string StringPrintf(const char* format, ...);

// Replaces every occurrence of `from` (non-empty) left to right; replacements are not rescanned.
void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to);
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Splits at any of the delimiter characters; empty pieces are dropped.
std::vector<std::wstring> Split(std::wstring_view text, std::wstring_view delimiters);
std::vector<std::string> Split(std::string_view text, std::string_view delimiters);

// Invalid sequences become U+FFFD rather than truncating the text.
std::wstring UTF8ToUTF16(std::string_view utf8);
std::string UTF16ToUTF8(std::wstring_view utf16);
// Text in the system's ANSI code page, as the HTTP interface takes its narrow arguments.
std::wstring AnsiToUTF16(std::string_view ansi);
// The same for a C string; null reads as empty.
std::wstring AnsiToUTF16(const char* ansi);

}  // namespace nbase
