// The probe's and the pieces' answer rules: statuses, ranges, lengths, codings, validators and
// the signs of a page that stands in the file's place.
#include "installer/HttpClient/DownloadAnswer.h"

#include <algorithm>

#include "installer/HttpClient/HttpHeader.h"
#include "installer/HttpClient/HttpInterface.h"

namespace {

// Far larger than any package (the window's disk check refuses such sizes by itself); a length
// beyond it is a hostile or broken answer.
constexpr long long kMaxFileSize = 1LL << 42;

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

// A validator fit to be sent back in If-Range and written into the state file.
bool UsableValidator(const std::string& value) {
  if (value.empty() || value.size() > 200) return false;
  for (char c : value) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

// Whether the body is the resource's bytes as they are: no content coding at all.
bool IdentityEncoding(const AnswerHead& head) {
  if (!head.has_encoding) return true;
  const std::string coding = Lower(Trim(head.content_encoding));
  return coding.empty() || coding == "identity";
}

// A web page where a program was asked for: what a network's sign-in portal sends.
bool IsPage(const AnswerHead& head) {
  const std::string type = Lower(Trim(head.content_type));
  return type.compare(0, 9, "text/html") == 0 || type.compare(0, 21, "application/xhtml+xml") == 0;
}

}  // namespace

std::string AnswerValidator(const AnswerHead& head, bool etag) {
  return Trim(etag ? head.etag : head.last_modified);
}

ProbeVerdict JudgeProbe(const AnswerHead& head, FileFacts* facts, int* error) {
  *facts = FileFacts();
  *error = HttpOk;
  const int status = head.status;
  if (status == 407) {
    *error = HttpErrProxyAuth;
    return ProbeVerdict::Failed;
  }
  if (status == 503 || status == 429) {
    *error = HttpErrStatus;
    return ProbeVerdict::Retry;
  }
  // 511 is the status made for sign-in portals; a page where the file should be is one too.
  if (status == 511 || (status == 200 && IsPage(head))) {
    *error = HttpErrSignIn;
    return ProbeVerdict::Failed;
  }
  if (status != 206 && status != 200) {
    *error = HttpErrStatus;
    return ProbeVerdict::Failed;
  }
  if (!IdentityEncoding(head)) {
    *error = HttpErrRange;
    return ProbeVerdict::Failed;
  }
  if (status == 206) {
    long long first = 0, last = 0;
    if (!head.has_range ||
        !ParseContentRange(head.content_range, kMaxFileSize, first, last, facts->size) ||
        first != 0 || last != 0) {
      *error = HttpErrRange;
      return ProbeVerdict::Failed;
    }
    facts->ranges = true;
  } else if (!head.has_length || !ParseHttpLength(head.length, kMaxFileSize, facts->size)) {
    *error = HttpErrSize;
    return ProbeVerdict::Failed;
  }
  if (facts->size <= 0) {
    *error = HttpErrSize;
    return ProbeVerdict::Failed;
  }
  const std::string etag = AnswerValidator(head, true);
  // A weak tag may not be sent in If-Range; the modification time serves instead.
  if (UsableValidator(etag) && etag.compare(0, 2, "W/") != 0) {
    facts->validator = etag;
    facts->validator_is_etag = true;
  } else {
    const std::string modified = AnswerValidator(head, false);
    if (UsableValidator(modified)) facts->validator = modified;
  }
  return ProbeVerdict::Usable;
}

PieceVerdict JudgePieceAnswer(const AnswerHead& head, const FileFacts& facts, long long first,
                              long long end, int* error, bool* length_known) {
  *error = HttpOk;
  *length_known = head.has_length;
  const int status = head.status;
  if (status == 407) {
    *error = HttpErrProxyAuth;
    return PieceVerdict::Fatal;
  }
  if (status == 503 || status == 429) {
    *error = HttpErrStatus;
    return PieceVerdict::Refused;
  }
  if (status == 511 || (status == 200 && IsPage(head))) {
    *error = HttpErrSignIn;
    return PieceVerdict::Suspect;
  }
  if (!IdentityEncoding(head)) {
    *error = HttpErrRange;
    return PieceVerdict::Fatal;
  }
  const std::string validator = AnswerValidator(head, facts.validator_is_etag);
  long long expected_length = facts.size;
  if (facts.ranges) {
    if (status == 200) {
      // The whole of something: a new version of the file when it names one, else a page
      // that is not the file at all.
      const bool names_version =
          !AnswerValidator(head, true).empty() || !AnswerValidator(head, false).empty();
      *error = names_version ? HttpErrChanged : HttpErrSignIn;
      return PieceVerdict::Suspect;
    }
    if (status != 206) {
      *error = HttpErrStatus;
      return PieceVerdict::Failed;
    }
    long long got_first = 0, got_last = 0, total = 0;
    if (!head.has_range ||
        !ParseContentRange(head.content_range, kMaxFileSize, got_first, got_last, total)) {
      *error = HttpErrRange;
      return PieceVerdict::Failed;
    }
    if (total != facts.size) {
      *error = HttpErrChanged;
      return PieceVerdict::Suspect;
    }
    if (got_first != first || got_last != end - 1) {
      *error = HttpErrRange;
      return PieceVerdict::Failed;
    }
    expected_length = end - first;
  } else if (status != 200) {
    *error = HttpErrStatus;
    return PieceVerdict::Failed;
  }
  if (!facts.validator.empty() && !validator.empty() && validator != facts.validator) {
    *error = HttpErrChanged;
    return PieceVerdict::Suspect;
  }
  if (head.has_length) {
    long long value = 0;
    if (!ParseHttpLength(head.length, kMaxFileSize, value) || value != expected_length) {
      *error = facts.ranges ? HttpErrRange : HttpErrChanged;
      return facts.ranges ? PieceVerdict::Failed : PieceVerdict::Suspect;
    }
  }
  return PieceVerdict::Body;
}
