// What the downloader makes of an answer's head: the probe's facts about the file, and whether
// a piece's answer is the asked bytes of that same file. Pure functions of the header values.
#pragma once

#include <string>

// The header values the downloader reads of one answer; `has_*` tells an absent header from
// an empty one.
struct AnswerHead {
  int status = 0;
  bool has_length = false;
  std::string length;
  bool has_range = false;
  std::string content_range;
  std::string content_type;
  bool has_encoding = false;
  std::string content_encoding;
  std::string etag;
  std::string last_modified;
};

// The file as the probe saw it.
struct FileFacts {
  long long size = 0;
  bool ranges = false;
  std::string validator;  // sent back in If-Range and kept in the state file
  bool validator_is_etag = false;
};

enum class ProbeVerdict {
  Usable,
  Retry,   // refused for now (503, 429)
  Failed,  // `error` says why
};

// The probe asks for byte 0 alone. On Usable, `facts` describes the file.
ProbeVerdict JudgeProbe(const AnswerHead& head, FileFacts* facts, int* error);

enum class PieceVerdict {
  Body,     // the asked bytes follow
  Refused,  // 503, 429: another connection or a later try may be let in
  Failed,   // a broken answer another try may cure
  Fatal,    // no try can cure it (`error` says why)
  // Not the asked bytes of this file: a sign-in page (`error` HttpErrSignIn) or maybe another
  // version (HttpErrChanged); a probe tells which before anything on disk is dropped.
  Suspect,
};

// A piece's answer for [first, end) of the file `facts` describes. `length_known` tells
// whether the body's end is declared (else it is read until it ends).
PieceVerdict JudgePieceAnswer(const AnswerHead& head, const FileFacts& facts, long long first,
                              long long end, int* error, bool* length_known);

// The validator the answer carries in the form `facts` names (empty when it has none).
std::string AnswerValidator(const AnswerHead& head, bool etag);
