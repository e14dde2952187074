// The setup window's decisions that need no window.
#include "installer/window/SetupRules.h"

#include <algorithm>

#include <cmath>

#include "base/StringUtil.h"
#include "installer/main/CommandLine.h"

namespace setup {

std::string DurationBucket(double seconds) {
  // Truncation toward zero: 15.9 s is still "0-15s", 0.4 s reports no bucket at all.
  const long long s = static_cast<long long>(seconds);
  if (s <= 0) return std::string();
  if (s <= 15) return "0-15s";
  if (s <= 30) return "15.1-30s";
  if (s <= 60) return "30.1s-1min";
  if (s <= 120) return "1-2mins";
  if (s <= 180) return "2-3mins";
  if (s <= 300) return "3-5mins";
  if (s <= 600) return "5-10mins";
  return "over 10mins";
}

int DisplayedPercent(int downloader_percent) {
  if (static_cast<unsigned>(downloader_percent) > 100u) return -1;
  return static_cast<int>(std::ceil(downloader_percent * 0.9));
}

std::wstring NormalizedFolder(const std::wstring& folder) {
  std::wstring copy = folder + L"//";
  nbase::ReplaceAll(copy, L"/", L"\\");
  while (copy.find(L"\\\\") != std::wstring::npos) nbase::ReplaceAll(copy, L"\\\\", L"\\");
  return copy;
}

bool IsValidInstallFolder(const std::wstring& folder,
                          const std::function<bool(const std::wstring&)>& is_directory) {
  const std::wstring copy = NormalizedFolder(folder);
  if (copy.find(L':') == std::wstring::npos || copy.size() < 3) return false;
  if (!is_directory(copy.substr(0, 3))) return false;
  return copy.find_first_of(L":*?\"<>|", 3) == std::wstring::npos;
}

int RequiredMegabytes(double bytes) {
  // A size beyond what a 32-bit count can hold still has to read as "too big", never wrap.
  const double megabytes = bytes * 9.5367431640625e-07;
  if (megabytes >= 2147483647.0) return 2147483647;
  return megabytes > 0 ? static_cast<int>(megabytes) : 0;
}

std::wstring SilentInstallParameters(const std::wstring& folder) {
  return L"/DIR=\"" + cmdline::EscapeInsideQuotes(folder) +
         L"\" /pellisar_down /wait_run /verysilent";
}

std::string OutcomeCode(unsigned long code) {
  // HRESULTs read as hex everywhere they are documented; exit codes and Win32 errors as numbers.
  if (code & 0x80000000ul) return nbase::StringPrintf("0x%08lX", code);
  return nbase::StringPrintf("%lu", code);
}

std::wstring BrowsedInstallFolder(const std::wstring& picked, const std::wstring& brand,
                                  const std::wstring& display_name) {
  if (picked.empty()) return std::wstring();
  std::wstring folder = picked;
  if (folder.back() != L'\\') folder += L'\\';
  folder += brand + L"\\" + display_name;
  nbase::ReplaceAll(folder, L"/", L"\\");
  return folder;
}

std::wstring ReplacePlaceholder(std::wstring text, const std::wstring& value) {
  nbase::ReplaceAll(text, L"XX", value);
  return text;
}

namespace {

std::wstring Megabytes(long long bytes, const std::wstring& decimal) {
  const long long tenths = (bytes + 50000) / 100000;
  return nbase::StringPrintf(L"%lld", tenths / 10) + decimal +
         nbase::StringPrintf(L"%lld", tenths % 10) + L" MB";
}

}  // namespace

std::wstring DescribeDownload(long long done, long long total, double rate, double idle_seconds,
                              double running_seconds, const ProgressWords& words) {
  if (total <= 0) return std::wstring();
  done = std::max(0LL, std::min(done, total));
  std::wstring text = words.amount;
  nbase::ReplaceAll(text, L"XX", Megabytes(done, words.decimal));
  nbase::ReplaceAll(text, L"YY", Megabytes(total, words.decimal));
  if (done >= total) return text;
  if (idle_seconds >= 10) return text + L", " + words.waiting;
  if (rate <= 0 || running_seconds < 5) return text;
  const double seconds = static_cast<double>(total - done) / rate;
  std::wstring left;
  if (seconds >= 5400) {
    left = ReplacePlaceholder(words.hours_left,
                              std::to_wstring(static_cast<long long>(seconds / 3600 + 0.5)));
  } else if (seconds >= 90) {
    left = ReplacePlaceholder(words.minutes_left,
                              std::to_wstring(static_cast<long long>(seconds / 60 + 0.5)));
  } else if (seconds >= 45) {
    left = words.minute_left;
  } else {
    left = words.seconds_left;
  }
  return text + L", " + left;
}

}  // namespace setup
