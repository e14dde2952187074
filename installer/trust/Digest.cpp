// SHA-2 digests for the signature checks; SHA-384 and SHA-512 come from the AES provider.
#include "installer/trust/Digest.h"

#include <cstdlib>

DigestAlgorithm DigestFromOid(const std::string& oid) {
  if (oid == "1.2.840.113549.2.5") return DigestAlgorithm::kMd5;
  if (oid == "1.3.14.3.2.26") return DigestAlgorithm::kSha1;
  if (oid == "2.16.840.1.101.3.4.2.1") return DigestAlgorithm::kSha256;
  if (oid == "2.16.840.1.101.3.4.2.2") return DigestAlgorithm::kSha384;
  if (oid == "2.16.840.1.101.3.4.2.3") return DigestAlgorithm::kSha512;
  return DigestAlgorithm::kUnknown;
}

bool IsStrongDigest(DigestAlgorithm algorithm) {
  return algorithm == DigestAlgorithm::kSha256 || algorithm == DigestAlgorithm::kSha384 ||
         algorithm == DigestAlgorithm::kSha512;
}

const wchar_t* DigestName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kMd5:
      return L"MD5";
    case DigestAlgorithm::kSha1:
      return L"SHA-1";
    case DigestAlgorithm::kSha256:
      return L"SHA-256";
    case DigestAlgorithm::kSha384:
      return L"SHA-384";
    case DigestAlgorithm::kSha512:
      return L"SHA-512";
    case DigestAlgorithm::kUnknown:
      break;
  }
  return L"an unknown digest";
}

Digest::Digest(DigestAlgorithm algorithm) {
  if (algorithm == DigestAlgorithm::kSha256) {
    sha256_ = std::make_unique<CSha256Digest>();
    ok_ = true;
    return;
  }
  if (algorithm != DigestAlgorithm::kSha384 && algorithm != DigestAlgorithm::kSha512) return;
  if (!::CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return;
  }
  const ALG_ID id = algorithm == DigestAlgorithm::kSha384 ? CALG_SHA_384 : CALG_SHA_512;
  ok_ = ::CryptCreateHash(provider_.get(), id, 0, 0, hash_.put()) != FALSE;
}

void Digest::Update(const void* data, size_t size) {
  if (!ok_ || size == 0) return;
  if (sha256_) {
    sha256_->Update(data, size);
  } else if (!::CryptHashData(hash_.get(), static_cast<const BYTE*>(data), static_cast<DWORD>(size),
                              0)) {
    ok_ = false;
  }
}

std::vector<BYTE> Digest::Finish() {
  if (!ok_) return {};
  ok_ = false;
  if (sha256_) {
    const std::string hex = sha256_->HexDigest();
    std::vector<BYTE> raw(hex.size() / 2);
    for (size_t i = 0; i < raw.size(); ++i) {
      raw[i] = static_cast<BYTE>(std::strtoul(hex.substr(i * 2, 2).c_str(), nullptr, 16));
    }
    return raw;
  }
  DWORD size = 0;
  DWORD field = sizeof(size);
  if (!::CryptGetHashParam(hash_.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &field, 0))
    return {};
  std::vector<BYTE> raw(size);
  if (!::CryptGetHashParam(hash_.get(), HP_HASHVAL, raw.data(), &size, 0)) return {};
  raw.resize(size);
  return raw;
}

std::vector<BYTE> Digest::Of(DigestAlgorithm algorithm, const void* data, size_t size) {
  Digest digest(algorithm);
  digest.Update(data, size);
  return digest.Finish();
}
