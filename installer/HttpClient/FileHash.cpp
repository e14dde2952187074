// File digests with the AES provider of CryptoAPI, the one that carries SHA-256 since XP SP3.
#include "installer/HttpClient/FileHash.h"

#include <windows.h>
#include <wincrypt.h>

#include <cctype>
#include <vector>

#include "base/UniqueResource.h"

namespace {

struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};

std::string Normalized(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

std::string FileSha256Hex(const std::wstring& path) {
  nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::string();
  nbase::UniqueResource<CryptProviderTraits> provider;
  if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return std::string();
  }
  nbase::UniqueResource<CryptHashTraits> hash;
  if (!::CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put())) return std::string();
  std::vector<BYTE> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return std::string();
    }
    if (got == 0) break;
    if (!::CryptHashData(hash.get(), buffer.data(), got, 0)) return std::string();
  }
  BYTE digest[32] = {};
  DWORD length = sizeof(digest);
  if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &length, 0) || length != 32) {
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool SameHexDigest(const std::string& a, const std::string& b) {
  const std::string left = Normalized(a);
  return !left.empty() && left == Normalized(b);
}
