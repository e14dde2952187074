// The proxy account the user typed when a proxy asked for one: kept in memory only, for every
// request of the process that goes through the proxy, and the answers to its challenges.
#pragma once

#include <string>
#include <vector>

namespace proxy_credentials {

// Replaces the account; an empty user name forgets it. Never written anywhere.
void Set(const std::wstring& user, const std::wstring& password);
void Clear();
// The account as UTF-8; false when none was given.
bool Get(std::string* user, std::string* password);
// Whether an account was given (so a second 407 means it was refused).
bool Present();

// The Proxy-Authorization value answering `challenges` (the Proxy-Authenticate values of a
// 407) for a request `method` `uri`: Digest (MD5, with or without qop "auth") where offered,
// else Basic; empty when no challenge is one of those. `cnonce` is the client's nonce.
std::string Answer(const std::vector<std::string>& challenges, const std::string& method,
                   const std::string& uri, const std::string& user, const std::string& password,
                   const std::string& cnonce);

}  // namespace proxy_credentials
