// The setup window's decisions that need no window: folder checks, progress scaling, buckets.
#pragma once

#include <functional>
#include <string>

namespace setup {

// The analytics suffix for a download of `seconds` (truncated to whole seconds); empty for
// 0 or less.
std::string DurationBucket(double seconds);

// What the bar shows for a downloader percent: ceil(percent * 0.9), so the download fills the
// bar up to 90. -1 for a value above 100 taken as unsigned (negatives included): ignore it.
int DisplayedPercent(int downloader_percent);

// A copy of `folder` with "//" appended, "/" turned into "\\" and doubled backslashes collapsed,
// so it ends in exactly one backslash.
std::wstring NormalizedFolder(const std::wstring& folder);

// Whether `folder` may be installed into: it names a drive (a ":" and at least three characters
// once normalised), its first three characters are an existing directory, and the rest has no
// character a Windows path cannot hold.
bool IsValidInstallFolder(const std::wstring& folder,
                          const std::function<bool(const std::wstring&)>& is_directory);

// Whole megabytes (2^20 bytes) in `bytes`, truncated.
int RequiredMegabytes(double bytes);

// The command line the full setup package gets: the folder in quotes after "/DIR=" (escaped by
// the standard rules, so a trailing backslash stays part of it), then the three switches.
std::wstring SilentInstallParameters(const std::wstring& folder);

// A failure's code as the user's box and the "Install_Failed" event show it: HRESULTs in hex
// ("0x800B0100"), exit codes and Windows errors in decimal.
std::string OutcomeCode(unsigned long code);

// The install folder for a folder picked in the browser: brand and display name appended.
std::wstring BrowsedInstallFolder(const std::wstring& picked, const std::wstring& brand,
                                  const std::wstring& display_name);

// `text` with every "XX" replaced by `value`.
std::wstring ReplacePlaceholder(std::wstring text, const std::wstring& value);

// The language's words for the line beside the download's percentage; "XX" and "YY" stand for
// the numbers.
struct ProgressWords {
  std::wstring amount;        // "XX of YY": megabytes done and in all
  std::wstring decimal;       // the decimal separator
  std::wstring hours_left;    // "about XX hours left"
  std::wstring minutes_left;  // "about XX minutes left"
  std::wstring minute_left;   // "about a minute left"
  std::wstring seconds_left;  // "less than a minute left"
  std::wstring waiting;       // "Waiting for the server..."
};

// What the download is doing: "12.3 MB of 45.0 MB", then the time left once the rate has had
// `running_seconds` >= 5 to settle, or the wait for the server once nothing has arrived for 10
// seconds. MB are 10^6 bytes. Empty while the size is unknown.
std::wstring DescribeDownload(long long done, long long total, double rate, double idle_seconds,
                              double running_seconds, const ProgressWords& words);

}  // namespace setup
