// Quoting of arguments by the rules that CommandLineToArgvW and the C runtime parse with.
#pragma once

#include <string>

namespace cmdline {

// `value` ready to sit between two double quotes: every quote escaped, and the backslashes
// before a quote or before the closing quote doubled, so "C:\x\" cannot swallow what follows.
std::wstring EscapeInsideQuotes(const std::wstring& value);

// `value` as one argument: unchanged when it needs no quotes, otherwise quoted and escaped.
std::wstring QuoteArgument(const std::wstring& value);

}  // namespace cmdline
