// The setup window's decisions that need no window.
#include "installer/window/SetupRules.h"

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

}  // namespace setup
