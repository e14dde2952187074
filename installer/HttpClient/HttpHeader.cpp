// Composing request headers and parsing response heads for the HTTP clients.
#include "installer/HttpClient/HttpHeader.h"

namespace {

const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/80.0.4044.92 Safari/537.36";

int LeadingDecimal(const std::string& text) {
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
    if (number > 0x7fffffff) return 0x7fffffff;
  }
  return static_cast<int>(number);
}

}  // namespace

CHttpHeader::CHttpHeader(const std::string& response_head) {
  std::string head = response_head.substr(0, response_head.find("\r\n\r\n"));
  size_t start = 0;
  bool first_line = true;
  for (;;) {
    const size_t end = head.find("\r\n", start);
    const std::string line =
        head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (first_line) {
      first_line = false;
      version_ = line.substr(0, 8);
      const size_t space1 = line.find(' ');
      if (space1 != std::string::npos) {
        const size_t space2 = line.find(' ', space1 + 1);
        status_code_ = LeadingDecimal(line.substr(
            space1 + 1, space2 == std::string::npos ? std::string::npos : space2 - space1 - 1));
        if (space2 != std::string::npos) reason_ = line.substr(space2 + 1);
      }
    } else {
      const size_t separator = line.find(": ");
      if (separator == std::string::npos) {
        fields_.emplace(line, std::string());
      } else {
        fields_.emplace(line.substr(0, separator), line.substr(separator + 2));
      }
    }
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

void CHttpHeader::AddRequestHeader(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty()) return;
  fields_.emplace(name, value);
}

void CHttpHeader::SetHost(const std::string& host) {
  if (!host.empty()) fields_["Host"] = host;
}

std::string CHttpHeader::GetField(const std::string& name) const {
  const auto it = fields_.find(name);
  return it == fields_.end() ? std::string() : it->second;
}

void CHttpHeader::InsertDefaults() {
  fields_.emplace("User-Agent", kUserAgent);
  fields_.emplace("Accept", "*/*");
  fields_.emplace("Connection", "Keep-Alive");
  fields_.emplace("Accept-Language", "zh-CN,zh;q=0.9");
}

void CHttpHeader::AppendFields(std::string& text) const {
  for (const auto& field : fields_) {
    text += field.first;
    text += ": ";
    text += field.second;
    text += "\r\n";
  }
}

std::string CHttpHeader::ComposeExtraHeaders() {
  InsertDefaults();
  std::string text;
  AppendFields(text);
  return text;
}

std::string CHttpHeader::ComposeRequestHead(int kind) {
  if (version_.empty()) version_ = "HTTP/1.1";
  InsertDefaults();
  std::string text = kind == 1 ? "POST " : "GET ";
  text += request_path_;
  text += ' ';
  text += version_;
  text += "\r\n";
  AppendFields(text);
  text += "\r\n";
  return text;
}

namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

bool ParseHttpLength(const std::string& text, long long limit, long long& value) {
  const std::string digits = Trimmed(text);
  if (digits.empty() || digits.size() > 18) return false;
  long long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number > limit) return false;
  value = number;
  return true;
}

bool ParseContentRange(const std::string& text, long long limit, long long& first, long long& last,
                       long long& total) {
  const std::string value = Trimmed(text);
  if (value.compare(0, 6, "bytes ") != 0) return false;
  const size_t dash = value.find('-', 6);
  const size_t slash = value.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
  long long a = 0, b = 0, n = 0;
  if (!ParseHttpLength(value.substr(6, dash - 6), limit, a) ||
      !ParseHttpLength(value.substr(dash + 1, slash - dash - 1), limit, b) ||
      !ParseHttpLength(value.substr(slash + 1), limit, n)) {
    return false;
  }
  if (b < a || b >= n) return false;
  first = a;
  last = b;
  total = n;
  return true;
}
