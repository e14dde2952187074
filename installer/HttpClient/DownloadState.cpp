// The state record's lines: a version line, the URL, the size, the validator, then one
// "done FIRST END" line per finished stretch.
#include "installer/HttpClient/DownloadState.h"

#include "base/StringUtil.h"
#include "installer/HttpClient/HttpHeader.h"

namespace {

constexpr long long kMaxFileSize = 1LL << 42;

}  // namespace

std::string FormatDownloadState(const std::string& url, long long size,
                                const std::string& validator,
                                const std::vector<PieceScheduler::Stretch>& done) {
  std::string text = "download-state 1\nurl " + url + nbase::StringPrintf("\nsize %lld\n", size) +
                     "validator " + validator + "\n";
  for (const auto& stretch : done) {
    text += nbase::StringPrintf("done %lld %lld\n", stretch.first, stretch.end);
  }
  return text;
}

bool ParseDownloadState(const std::string& text, const std::string& url, long long size,
                        const std::string& validator, std::vector<PieceScheduler::Stretch>* done) {
  done->clear();
  size_t at = 0;
  int line_number = 0;
  long long previous_end = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;  // cut off while written
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    switch (line_number++) {
      case 0:
        if (line != "download-state 1") return false;
        break;
      case 1:
        if (line != "url " + url) return false;
        break;
      case 2: {
        long long recorded = 0;
        if (line.compare(0, 5, "size ") != 0 ||
            !ParseHttpLength(line.substr(5), kMaxFileSize, recorded) || recorded != size) {
          return false;
        }
        break;
      }
      case 3:
        if (line != "validator " + validator) return false;
        break;
      default: {
        const size_t space = line.find(' ', 5);
        long long first = 0, last = 0;
        if (line.compare(0, 5, "done ") != 0 || space == std::string::npos ||
            !ParseHttpLength(line.substr(5, space - 5), kMaxFileSize, first) ||
            !ParseHttpLength(line.substr(space + 1), kMaxFileSize, last) || first < previous_end ||
            last <= first || last > size) {
          return false;
        }
        done->push_back({first, last});
        previous_end = last;
      }
    }
  }
  return line_number >= 4;
}
