// Argument quoting by the standard command-line rules.
#include "installer/main/CommandLine.h"

namespace cmdline {

std::wstring EscapeInsideQuotes(const std::wstring& value) {
  std::wstring out;
  size_t backslashes = 0;
  for (const wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only in front of a quote: there each one needs a partner, and the
    // quote itself one more.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  // The closing quote follows.
  out.append(backslashes * 2, L'\\');
  return out;
}

std::wstring QuoteArgument(const std::wstring& value) {
  if (!value.empty() && value.find_first_of(L" \t\n\v\"") == std::wstring::npos) return value;
  return L"\"" + EscapeInsideQuotes(value) + L"\"";
}

}  // namespace cmdline
