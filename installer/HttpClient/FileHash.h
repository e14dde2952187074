// SHA-256 of a file through the system's CryptoAPI, for checking a downloaded package.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "base/UniqueResource.h"

// A digest fed block by block, so a file can be hashed while it is being written.
class CSha256 {
 public:
  CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  // False once the provider has failed; the digest is then empty.
  bool Update(const void* data, DWORD size);
  // Lower-case hexadecimal digest of everything fed so far; empty after a failure.
  std::string HexDigest();

 private:
  struct ProviderTraits {
    using Type = HCRYPTPROV;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
  };
  struct HashTraits {
    using Type = HCRYPTHASH;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
  };

  // Declared first: the hash must be destroyed before its provider is released.
  nbase::UniqueResource<ProviderTraits> provider_;
  nbase::UniqueResource<HashTraits> hash_;
  bool failed_ = false;
};

// Lower-case hexadecimal digest of the file's bytes; empty when the file or the provider
// cannot be used.
std::string FileSha256Hex(const std::wstring& path);

// Whether two digests in hexadecimal text name the same value (case and surrounding blanks
// do not matter).
bool SameHexDigest(const std::string& a, const std::string& b);
