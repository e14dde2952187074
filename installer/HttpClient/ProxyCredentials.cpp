// The in-memory proxy account and the Basic and Digest answers to a proxy's challenge.
#include "installer/HttpClient/ProxyCredentials.h"

#include <windows.h>
#include <wincrypt.h>

#include <cctype>
#include <map>

#include "base/Lock.h"
#include "base/StringUtil.h"
#include "installer/HttpClient/CryptHandles.h"

namespace proxy_credentials {
namespace {

struct Account {
  nbase::Lock lock;
  std::string user;
  std::string password;
};

Account& TheAccount() {
  static Account* account = new Account();  // lives as long as the process's requests
  return *account;
}

void Wipe(std::string& text) {
  if (!text.empty()) ::SecureZeroMemory(&text[0], text.size());
  text.clear();
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned value = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += kDigits[(value >> 6) & 63];
    out += kDigits[value & 63];
  }
  if (i < bytes.size()) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(value >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// MD5 as Digest needs it, through the system's provider; empty when that fails.
std::string Md5Hex(const std::string& text) {
  HCRYPTPROV raw_provider = 0;
  if (!::CryptAcquireContextW(&raw_provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return std::string();
  }
  UniqueCryptProvider provider(raw_provider);
  HCRYPTHASH raw_hash = 0;
  if (!::CryptCreateHash(provider.get(), CALG_MD5, 0, 0, &raw_hash)) return std::string();
  UniqueCryptHash hash(raw_hash);
  BYTE digest[16];
  DWORD length = sizeof(digest);
  if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(text.data()),
                       static_cast<DWORD>(text.size()), 0) ||
      !::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &length, 0) || length != 16) {
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (BYTE b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The scheme (lower case) and the name=value pairs of one challenge.
std::string ParseChallenge(const std::string& challenge, std::map<std::string, std::string>* out) {
  size_t at = 0;
  while (at < challenge.size() && challenge[at] == ' ') ++at;
  const size_t scheme_end = challenge.find(' ', at);
  const std::string scheme = Lower(challenge.substr(at, scheme_end - at));
  at = scheme_end == std::string::npos ? challenge.size() : scheme_end;
  while (at < challenge.size()) {
    while (at < challenge.size() && (challenge[at] == ' ' || challenge[at] == ',')) ++at;
    const size_t equals = challenge.find('=', at);
    if (equals == std::string::npos) break;
    const std::string name = Lower(challenge.substr(at, equals - at));
    at = equals + 1;
    std::string value;
    if (at < challenge.size() && challenge[at] == '"') {
      ++at;
      while (at < challenge.size() && challenge[at] != '"') {
        if (challenge[at] == '\\' && at + 1 < challenge.size()) ++at;
        value += challenge[at++];
      }
      ++at;
    } else {
      const size_t end = challenge.find(',', at);
      value = challenge.substr(at, end == std::string::npos ? std::string::npos : end - at);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      at = end == std::string::npos ? challenge.size() : end;
    }
    (*out)[name] = value;
  }
  return scheme;
}

// A value fit to stand inside a quoted header parameter.
bool Quotable(const std::string& value) {
  for (char c : value) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace

void Set(const std::wstring& user, const std::wstring& password) {
  Account& account = TheAccount();
  nbase::AutoLock lock(account.lock);
  Wipe(account.user);
  Wipe(account.password);
  if (user.empty()) return;
  account.user = nbase::UTF16ToUTF8(user);
  account.password = nbase::UTF16ToUTF8(password);
}

void Clear() {
  Set(std::wstring(), std::wstring());
}

bool Get(std::string* user, std::string* password) {
  Account& account = TheAccount();
  nbase::AutoLock lock(account.lock);
  if (account.user.empty()) return false;
  *user = account.user;
  *password = account.password;
  return true;
}

bool Present() {
  Account& account = TheAccount();
  nbase::AutoLock lock(account.lock);
  return !account.user.empty();
}

std::string Answer(const std::vector<std::string>& challenges, const std::string& method,
                   const std::string& uri, const std::string& user, const std::string& password,
                   const std::string& cnonce) {
  bool basic = false;
  for (const std::string& challenge : challenges) {
    std::map<std::string, std::string> fields;
    const std::string scheme = ParseChallenge(challenge, &fields);
    if (scheme == "basic") basic = true;
    if (scheme != "digest") continue;
    const std::string algorithm = Lower(fields["algorithm"]);
    if (!algorithm.empty() && algorithm != "md5") continue;
    const std::string& realm = fields["realm"];
    const std::string& nonce = fields["nonce"];
    if (nonce.empty() || !Quotable(user) || !Quotable(realm) || !Quotable(nonce) ||
        !Quotable(uri)) {
      continue;
    }
    bool qop_auth = false;
    for (const std::string& option : nbase::Split(fields["qop"], ", ")) {
      if (Lower(option) == "auth") qop_auth = true;
    }
    const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    if (ha1.empty() || ha2.empty()) continue;
    const std::string count = "00000001";
    const std::string response =
        qop_auth ? Md5Hex(ha1 + ":" + nonce + ":" + count + ":" + cnonce + ":auth:" + ha2)
                 : Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    std::string value = "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" +
                        nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"";
    if (!algorithm.empty()) value += ", algorithm=MD5";
    if (qop_auth) value += ", qop=auth, nc=" + count + ", cnonce=\"" + cnonce + "\"";
    if (fields.count("opaque") && Quotable(fields["opaque"])) {
      value += ", opaque=\"" + fields["opaque"] + "\"";
    }
    return value;
  }
  if (basic) return "Basic " + Base64(user + ":" + password);
  return std::string();
}

}  // namespace proxy_credentials
