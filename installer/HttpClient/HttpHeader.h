// The header fields of one HTTP message: extra request headers in, response heads parsed.
#pragma once

#include <map>
#include <string>

class CHttpHeader {
 public:
  CHttpHeader() = default;
  // Parses a response head: the text up to the first empty line (the rest is ignored).
  explicit CHttpHeader(const std::string& response_head);
  virtual ~CHttpHeader() = default;

  // The first value stored for a name wins; empty names or values change nothing.
  void AddRequestHeader(const std::string& name, const std::string& value);
  // "Host" is the one field that is replaced, since a client reconnects to other hosts.
  void SetHost(const std::string& host);
  // The value of an exact (case-sensitive) name, or empty text.
  std::string GetField(const std::string& name) const;

  // "Name: value\r\n" per field in map order, defaults included.
  std::string ComposeExtraHeaders();
  // Request line, fields and the closing empty line; kind 1 is POST, anything else GET.
  std::string ComposeRequestHead(int kind);

  void SetRequestPath(const std::string& path) { request_path_ = path; }
  int StatusCode() const { return status_code_; }
  const std::string& Version() const { return version_; }
  const std::string& Reason() const { return reason_; }

 private:
  void InsertDefaults();
  void AppendFields(std::string& text) const;

  int status_code_ = 0;
  std::string version_;
  std::string reason_;
  std::string request_path_;
  // std::string orders by unsigned byte values, shorter first on a common prefix.
  std::map<std::string, std::string> fields_;
};

// Strict readers of the numbers in response headers, which come from a server that may be
// hostile: only decimal digits count, and a value above `limit` is refused rather than clamped.
// The most a header's number may say when the caller has no tighter bound (18 digits).
constexpr long long kLargestHttpNumber = 999999999999999999LL;
// A Content-Length: "123" -> 123. False for a sign, blanks inside, other characters or overflow.
bool ParseHttpLength(const std::string& text, long long limit, long long& value);
// A Content-Range: "bytes FIRST-LAST/TOTAL" -> its three numbers. False for "*" forms, an
// unknown total, LAST before FIRST, LAST at or past TOTAL, or any number above `limit`.
bool ParseContentRange(const std::string& text, long long limit, long long& first, long long& last,
                       long long& total);
