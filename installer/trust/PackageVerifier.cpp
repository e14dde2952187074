// Authenticode and chain checks of a held package file through CryptoAPI, bound at run time.
// The chain parameters' retrieval timeout is one of the "extra" fields.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "installer/trust/PackageVerifier.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <cctype>
#include <vector>

#include "base/StringUtil.h"
#include "base/SystemLibrary.h"
#include "installer/HttpClient/FileHash.h"

namespace {

// Written out rather than taken from the SDK's import libraries, which the static link avoids.
constexpr GUID kActionGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Revocation lists are fetched at most this long per chain; a package check must not hang on a
// distribution point that does not answer.
constexpr DWORD kRevocationRetrievalMs = 15000;
// What a missing or unreachable revocation list leaves in the chain's status; see the header.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
// A certificate table larger than this is not a signature but an attack on the parser.
constexpr DWORD kMaxCertificateTable = 1 << 20;

// The functions of wintrust, crypt32 and imagehlp the checks use, bound once from the system
// folder: none of the three may be a static import of an elevated program started from a
// downloads folder.
struct TrustApi {
  LONG(WINAPI* WinVerifyTrust)(HWND, GUID*, LPVOID) = nullptr;
  BOOL(WINAPI* ImageGetCertificateData)(HANDLE, DWORD, LPWIN_CERTIFICATE, PDWORD) = nullptr;
  BOOL(WINAPI* CryptQueryObject)
  (DWORD, const void*, DWORD, DWORD, DWORD, DWORD*, DWORD*, DWORD*, HCERTSTORE*, HCRYPTMSG*,
   const void**) = nullptr;
  BOOL(WINAPI* CryptMsgGetParam)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*) = nullptr;
  BOOL(WINAPI* CryptMsgControl)(HCRYPTMSG, DWORD, DWORD, const void*) = nullptr;
  BOOL(WINAPI* CryptMsgClose)(HCRYPTMSG) = nullptr;
  BOOL(WINAPI* CertCloseStore)(HCERTSTORE, DWORD) = nullptr;
  PCCERT_CONTEXT(WINAPI* CertFindCertificateInStore)
  (HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT) = nullptr;
  BOOL(WINAPI* CertFreeCertificateContext)(PCCERT_CONTEXT) = nullptr;
  BOOL(WINAPI* CertGetCertificateChain)
  (HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA, DWORD, LPVOID,
   PCCERT_CHAIN_CONTEXT*) = nullptr;
  VOID(WINAPI* CertFreeCertificateChain)(PCCERT_CHAIN_CONTEXT) = nullptr;
  BOOL(WINAPI* CertVerifyCertificateChainPolicy)
  (LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA, PCERT_CHAIN_POLICY_STATUS) = nullptr;
  DWORD(WINAPI* CertGetNameStringW)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD) = nullptr;
  DWORD(WINAPI* CertNameToStrW)(DWORD, PCERT_NAME_BLOB, DWORD, LPWSTR, DWORD) = nullptr;
  BOOL(WINAPI* CertGetEnhancedKeyUsage)
  (PCCERT_CONTEXT, DWORD, PCERT_ENHKEY_USAGE, DWORD*) = nullptr;
  bool complete = false;
};

const TrustApi& Api() {
  static const TrustApi api = [] {
    TrustApi a;
    using nbase::BindSystemFunction;
    a.complete =
        BindSystemFunction(a.WinVerifyTrust, L"wintrust.dll", "WinVerifyTrust") &&
        BindSystemFunction(a.ImageGetCertificateData, L"imagehlp.dll", "ImageGetCertificateData") &&
        BindSystemFunction(a.CryptQueryObject, L"crypt32.dll", "CryptQueryObject") &&
        BindSystemFunction(a.CryptMsgGetParam, L"crypt32.dll", "CryptMsgGetParam") &&
        BindSystemFunction(a.CryptMsgControl, L"crypt32.dll", "CryptMsgControl") &&
        BindSystemFunction(a.CryptMsgClose, L"crypt32.dll", "CryptMsgClose") &&
        BindSystemFunction(a.CertCloseStore, L"crypt32.dll", "CertCloseStore") &&
        BindSystemFunction(a.CertFindCertificateInStore, L"crypt32.dll",
                           "CertFindCertificateInStore") &&
        BindSystemFunction(a.CertFreeCertificateContext, L"crypt32.dll",
                           "CertFreeCertificateContext") &&
        BindSystemFunction(a.CertGetCertificateChain, L"crypt32.dll", "CertGetCertificateChain") &&
        BindSystemFunction(a.CertFreeCertificateChain, L"crypt32.dll",
                           "CertFreeCertificateChain") &&
        BindSystemFunction(a.CertVerifyCertificateChainPolicy, L"crypt32.dll",
                           "CertVerifyCertificateChainPolicy") &&
        BindSystemFunction(a.CertGetNameStringW, L"crypt32.dll", "CertGetNameStringW") &&
        BindSystemFunction(a.CertNameToStrW, L"crypt32.dll", "CertNameToStrW") &&
        BindSystemFunction(a.CertGetEnhancedKeyUsage, L"crypt32.dll", "CertGetEnhancedKeyUsage");
    return a;
  }();
  return api;
}

// Handle wrappers over the bound functions; only made once Api() is known to be complete.
template <typename T, void (*Free)(T)>
struct BoundTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { Free(h); }
};
void FreeMessage(HCRYPTMSG h) {
  Api().CryptMsgClose(h);
}
void FreeStore(HCERTSTORE h) {
  Api().CertCloseStore(h, 0);
}
void FreeCertificate(PCCERT_CONTEXT h) {
  Api().CertFreeCertificateContext(h);
}
void FreeChain(PCCERT_CHAIN_CONTEXT h) {
  Api().CertFreeCertificateChain(h);
}
using UniqueMessage = nbase::UniqueResource<BoundTraits<HCRYPTMSG, &FreeMessage>>;
using UniqueStore = nbase::UniqueResource<BoundTraits<HCERTSTORE, &FreeStore>>;
using UniqueCertificate = nbase::UniqueResource<BoundTraits<PCCERT_CONTEXT, &FreeCertificate>>;
using UniqueChain = nbase::UniqueResource<BoundTraits<PCCERT_CHAIN_CONTEXT, &FreeChain>>;

std::string Normalized(const std::string& hex) {
  std::string out;
  for (char c : hex) {
    if (!std::isspace(static_cast<unsigned char>(c)))
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

PackageVerdict Refuse(PackageVerdict verdict, DWORD code, const std::wstring& reason) {
  verdict.trusted = false;
  verdict.code = code ? code : static_cast<DWORD>(E_FAIL);
  verdict.reason = reason;
  return verdict;
}

std::string Sha256Hex(const BYTE* data, DWORD size) {
  CSha256 hash;
  hash.Update(data, size);
  return hash.HexDigest();
}

// Digest of everything behind the handle, read from the start through the handle itself.
std::string HeldFileSha256(HANDLE file) {
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::string();
  CSha256 hash;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return std::string();
    if (read == 0) break;
    if (!hash.Update(buffer.data(), read)) return std::string();
  }
  return hash.HexDigest();
}

// The system's check of the signature over the image; under Wine it also passes chains that
// are not trusted, so it only answers "is the image what was signed".
LONG CheckImageSignature(HANDLE file, const std::wstring& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();
  file_info.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  // The chain and its revocation are checked below, under rules of our own.
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = kActionGenericVerifyV2;
  return Api().WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

// The PKCS #7 signed data of the image's first certificate-table entry, the one the system's
// check verified.
bool ReadSignedData(HANDLE file, std::vector<BYTE>& signed_data, DWORD& error) {
  DWORD needed = 0;
  Api().ImageGetCertificateData(file, 0, nullptr, &needed);
  if (needed < offsetof(WIN_CERTIFICATE, bCertificate) || needed > kMaxCertificateTable) {
    error =
        needed ? static_cast<DWORD>(TRUST_E_BAD_DIGEST) : static_cast<DWORD>(TRUST_E_NOSIGNATURE);
    return false;
  }
  std::vector<BYTE> entry(needed);
  auto* certificate = reinterpret_cast<WIN_CERTIFICATE*>(entry.data());
  DWORD size = needed;
  if (!Api().ImageGetCertificateData(file, 0, certificate, &size)) {
    error = ::GetLastError();
    return false;
  }
  const DWORD header = offsetof(WIN_CERTIFICATE, bCertificate);
  if (certificate->wCertificateType != WIN_CERT_TYPE_PKCS_SIGNED_DATA ||
      certificate->dwLength <= header || certificate->dwLength > needed) {
    error = static_cast<DWORD>(TRUST_E_NOSIGNATURE);
    return false;
  }
  signed_data.assign(entry.data() + header, entry.data() + certificate->dwLength);
  return true;
}

std::wstring SubjectText(PCCERT_CONTEXT certificate) {
  wchar_t text[512] = {};
  Api().CertNameToStrW(kEncoding, &certificate->pCertInfo->Subject,
                       CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, text, 512);
  return text;
}

std::wstring CommonName(PCCERT_CONTEXT certificate) {
  wchar_t name[512] = {};
  Api().CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0,
                           const_cast<char*>(szOID_COMMON_NAME), name, 512);
  return name;
}

// Only an explicit code-signing usage counts: a certificate without the extension is allowed
// everything by the chain rules, which is not what a publisher's signing certificate looks like.
bool AllowsCodeSigning(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!Api().CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                                     &size) ||
      size < sizeof(CERT_ENHKEY_USAGE)) {
    return false;
  }
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!Api().CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage,
                                     &size)) {
    return false;
  }
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (std::string(usage->rgpszUsageIdentifier[i]) == szOID_PKIX_KP_CODE_SIGNING) return true;
  }
  return false;
}

// The most telling code for a chain's error status, so the user's box and the event name it.
DWORD ChainErrorCode(DWORD status) {
  if (status & CERT_TRUST_IS_REVOKED) return static_cast<DWORD>(CRYPT_E_REVOKED);
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<DWORD>(CERT_E_WRONG_USAGE);
  return static_cast<DWORD>(CERT_E_CHAINING);
}

}  // namespace

bool PackagePins::CanVerify() const {
  return HasPublisher() || !Normalized(file_sha256).empty();
}

nbase::UniqueFileHandle HoldPackageFile(const std::wstring& path) {
  return nbase::UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
}

PackageVerdict PackageVerifier::Verify(HANDLE file, const std::wstring& path) const {
  PackageVerdict verdict;
  if (!pins_.CanVerify()) {
    return Refuse(verdict, kVerifyNoPins, L"no publisher and no digest pinned");
  }
  if (file == nullptr || file == INVALID_HANDLE_VALUE) {
    return Refuse(verdict, kVerifyNotHeld, L"the package is not held open");
  }

  if (!pins_.file_sha256.empty()) {
    const std::string actual = HeldFileSha256(file);
    if (actual.empty() || actual != Normalized(pins_.file_sha256)) {
      return Refuse(
          verdict, kVerifyDigestMismatch,
          L"the file's SHA-256 is " + nbase::UTF8ToUTF16(actual) + L", not the pinned digest");
    }
  }
  // A digest alone is a complete pin: that exact file was meant to run.
  if (!pins_.HasPublisher()) {
    verdict.trusted = true;
    verdict.reason = L"trusted: the file matches the pinned digest";
    return verdict;
  }

  const TrustApi& api = Api();
  if (!api.complete) {
    return Refuse(verdict, ::GetLastError(), L"the system's signature functions are missing");
  }
  const LONG image = CheckImageSignature(file, path);
  if (image != 0) {
    return Refuse(verdict, static_cast<DWORD>(image),
                  L"the signature does not cover this file or is missing");
  }

  std::vector<BYTE> signed_data;
  DWORD error = 0;
  if (!ReadSignedData(file, signed_data, error)) {
    return Refuse(verdict, error, L"no signature in the file's certificate table");
  }
  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(signed_data.size()), signed_data.data()};
  UniqueStore store;
  UniqueMessage message;
  if (!api.CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr,
                            store.put(), message.put(), nullptr)) {
    return Refuse(verdict, ::GetLastError(), L"the signature cannot be decoded");
  }
  DWORD signers = 0;
  DWORD size = sizeof(signers);
  if (!api.CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) ||
      signers != 1) {
    return Refuse(verdict, static_cast<DWORD>(TRUST_E_NOSIGNATURE),
                  L"the signature must have exactly one signer");
  }
  size = 0;
  api.CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size);
  if (size < sizeof(CERT_INFO)) {
    return Refuse(verdict, static_cast<DWORD>(TRUST_E_NO_SIGNER_CERT), L"no signer information");
  }
  std::vector<BYTE> signer_info(size);
  if (!api.CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signer_info.data(),
                            &size)) {
    return Refuse(verdict, ::GetLastError(), L"no signer information");
  }
  UniqueCertificate leaf(api.CertFindCertificateInStore(
      store.get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, signer_info.data(), nullptr));
  if (!leaf) {
    return Refuse(verdict, static_cast<DWORD>(TRUST_E_NO_SIGNER_CERT),
                  L"the signer's certificate is not in the signature");
  }
  verdict.signer = SubjectText(leaf.get());
  if (!api.CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, leaf.get()->pCertInfo)) {
    return Refuse(verdict, ::GetLastError(), L"the signer's signature does not verify");
  }

  LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  chain_para.dwUrlRetrievalTimeout = kRevocationRetrievalMs;
  UniqueChain chain;
  // The machine's engine: a root that only the (unprivileged) user added does not make a
  // package fit to run with administrator rights.
  if (!api.CertGetCertificateChain(HCCE_LOCAL_MACHINE, leaf.get(), nullptr, store.get(),
                                   &chain_para,
                                   CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                       CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                   nullptr, chain.put()) ||
      !chain) {
    return Refuse(verdict, ::GetLastError(), L"no certificate chain could be built");
  }
  const DWORD status = chain.get()->TrustStatus.dwErrorStatus;
  if ((status & ~kRevocationUnknown) != 0) {
    return Refuse(verdict, ChainErrorCode(status),
                  nbase::StringPrintf(L"the chain is not trusted (status 0x%08lX)",
                                      static_cast<unsigned long>(status)));
  }
  CERT_CHAIN_POLICY_PARA policy_para = {};
  policy_para.cbSize = sizeof(policy_para);
  policy_para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  CERT_CHAIN_POLICY_STATUS policy_status = {};
  policy_status.cbSize = sizeof(policy_status);
  if (!api.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy_para,
                                            &policy_status) ||
      policy_status.dwError != 0) {
    return Refuse(verdict, policy_status.dwError ? policy_status.dwError : ::GetLastError(),
                  L"the chain fails the base chain policy");
  }
  if (chain.get()->cChain < 1 || chain.get()->rgpChain[0]->cElement < 2) {
    return Refuse(verdict, kVerifyChainTooShort,
                  L"the signing certificate is its own root: no authority vouches for it");
  }
  const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[chain.get()->cChain - 1];
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  // Hashed from the bytes: the certificate property for this digest is not everywhere.
  verdict.root_sha256 = Sha256Hex(root->pbCertEncoded, root->cbCertEncoded);

  if (!AllowsCodeSigning(leaf.get())) {
    return Refuse(verdict, kVerifyNotForCodeSigning,
                  L"the signing certificate is not allowed for code signing");
  }
  if (CommonName(leaf.get()) != pins_.publisher) {
    return Refuse(verdict, kVerifyPublisherMismatch,
                  L"signed by " + CommonName(leaf.get()) + L", not by " + pins_.publisher);
  }
  if (verdict.root_sha256.empty() || verdict.root_sha256 != Normalized(pins_.root_sha256)) {
    return Refuse(verdict, kVerifyRootMismatch, L"the chain ends in another root");
  }
  verdict.trusted = true;
  verdict.reason =
      (status & kRevocationUnknown) ? L"trusted (revocation could not be checked)" : L"trusted";
  return verdict;
}
