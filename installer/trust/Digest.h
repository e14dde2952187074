// The digests a signature may name, computed in process (SHA-256) or by the system provider.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "installer/HttpClient/CryptHandles.h"
#include "installer/HttpClient/Sha256.h"

enum class DigestAlgorithm { kUnknown, kMd5, kSha1, kSha256, kSha384, kSha512 };

// The algorithm an identifier names ("2.16.840.1.101.3.4.2.1" is SHA-256).
DigestAlgorithm DigestFromOid(const std::string& oid);
// SHA-256 and the longer SHA-2 digests; MD5 and SHA-1 collide on demand.
bool IsStrongDigest(DigestAlgorithm algorithm);
const wchar_t* DigestName(DigestAlgorithm algorithm);

// Owned by one thread.
class Digest {
 public:
  // Fails (ok() false) for anything but a strong digest.
  explicit Digest(DigestAlgorithm algorithm);
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  bool ok() const { return ok_; }
  void Update(const void* data, size_t size);
  // The raw digest of everything fed; empty after a failure. The object is spent afterwards.
  std::vector<BYTE> Finish();

  static std::vector<BYTE> Of(DigestAlgorithm algorithm, const void* data, size_t size);

 private:
  // SHA-256 runs in process: the image hash reads the whole package, and the provider's is
  // several times slower.
  std::unique_ptr<CSha256Digest> sha256_;
  // Declared first: the hash must be destroyed before its provider is released.
  UniqueCryptProvider provider_;
  UniqueCryptHash hash_;
  bool ok_ = false;
};
