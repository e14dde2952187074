// SHA-256 of a file through the system's CryptoAPI, for checking a downloaded package.
#pragma once

#include <string>

// Lower-case hexadecimal digest of the file's bytes; empty when the file or the provider
// cannot be used.
std::string FileSha256Hex(const std::wstring& path);

// Whether two digests in hexadecimal text name the same value (case and surrounding blanks
// do not matter).
bool SameHexDigest(const std::string& a, const std::string& b);
