// Authenticode and chain checks of a held package file: the signature's own rules checked here
// on the held bytes, then the system's signature check and chain engine, bound at run time.
// The chain parameters' retrieval timeout is one of the "extra" fields.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "installer/trust/PackageVerifier.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "base/StringUtil.h"
#include "base/SystemLibrary.h"
#include "base/Thread.h"
#include "installer/HttpClient/Sha256.h"
#include "installer/trust/AuthenticodeSignature.h"
#include "installer/trust/CertificateRules.h"
#include "installer/trust/SignedImage.h"

namespace {

// Written out rather than taken from the SDK's import libraries, which the static link avoids.
constexpr GUID kActionGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Asked of the chain engine for revocation retrieval; not every engine honours it, so the
// build also runs on a worker that is waited for only so long.
constexpr DWORD kRevocationRetrievalMs = 12000;
// Kept back from the bound for the chain built again without revocation after a timeout.
constexpr DWORD kFallbackReserveMs = 4000;
// What a missing or unreachable revocation list leaves in the chain's status; see the header.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// The functions of wintrust and crypt32 the checks use, bound once from the system
// folder: neither may be a static import of an elevated program started from a
// downloads folder.
struct TrustApi {
  LONG(WINAPI* WinVerifyTrust)(HWND, GUID*, LPVOID) = nullptr;
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
  PCCERT_CONTEXT(WINAPI* CertDuplicateCertificateContext)(PCCERT_CONTEXT) = nullptr;
  HCERTSTORE(WINAPI* CertDuplicateStore)(HCERTSTORE) = nullptr;
  BOOL(WINAPI* CryptVerifyCertificateSignatureEx)
  (HCRYPTPROV_LEGACY, DWORD, DWORD, void*, DWORD, void*, DWORD, void*) = nullptr;
  BOOL(WINAPI* CertGetCertificateChain)
  (HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA, DWORD, LPVOID,
   PCCERT_CHAIN_CONTEXT*) = nullptr;
  VOID(WINAPI* CertFreeCertificateChain)(PCCERT_CHAIN_CONTEXT) = nullptr;
  BOOL(WINAPI* CertVerifyCertificateChainPolicy)
  (LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA, PCERT_CHAIN_POLICY_STATUS) = nullptr;
  DWORD(WINAPI* CertNameToStrW)(DWORD, PCERT_NAME_BLOB, DWORD, LPWSTR, DWORD) = nullptr;
  bool complete = false;
};

const TrustApi& Api() {
  static const TrustApi api = [] {
    TrustApi a;
    using nbase::BindSystemFunction;
    a.complete =
        BindSystemFunction(a.WinVerifyTrust, L"wintrust.dll", "WinVerifyTrust") &&
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
        BindSystemFunction(a.CertDuplicateCertificateContext, L"crypt32.dll",
                           "CertDuplicateCertificateContext") &&
        BindSystemFunction(a.CertDuplicateStore, L"crypt32.dll", "CertDuplicateStore") &&
        BindSystemFunction(a.CryptVerifyCertificateSignatureEx, L"crypt32.dll",
                           "CryptVerifyCertificateSignatureEx") &&
        BindSystemFunction(a.CertNameToStrW, L"crypt32.dll", "CertNameToStrW");
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
  CSha256Digest hash;
  hash.Update(data, size);
  return hash.HexDigest();
}

std::wstring Hex(const std::vector<BYTE>& bytes) {
  std::wstring text;
  for (BYTE b : bytes) text += nbase::StringPrintf(L"%02x", static_cast<unsigned>(b));
  return text;
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

std::wstring SubjectText(PCCERT_CONTEXT certificate) {
  wchar_t text[512] = {};
  Api().CertNameToStrW(kEncoding, &certificate->pCertInfo->Subject,
                       CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, text, 512);
  return text;
}

// The most telling code for a chain's error status, so the user's box and the event name it.
DWORD ChainErrorCode(DWORD status) {
  if (status & CERT_TRUST_IS_REVOKED) return static_cast<DWORD>(CRYPT_E_REVOKED);
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<DWORD>(CERT_E_WRONG_USAGE);
  return static_cast<DWORD>(CERT_E_CHAINING);
}

// One chain build on a worker of its own, so a distribution point that never answers cannot
// hold the verification past its bound. Shared with the worker, which may outlive the wait:
// after a timeout the worker alone still touches it, and frees it when the engine returns.
struct ChainJob {
  UniqueCertificate leaf;
  UniqueStore store;
  DWORD flags = 0;
  UniqueChain chain;
  DWORD error = 0;
  bool built = false;
};

void BuildChain(ChainJob& job) {
  static LPSTR code_signing = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &code_signing;
  chain_para.dwUrlRetrievalTimeout = kRevocationRetrievalMs;
  // The machine's engine: a root that only the (unprivileged) user added does not make a
  // package fit to run with administrator rights.
  job.built =
      Api().CertGetCertificateChain(HCCE_LOCAL_MACHINE, job.leaf.get(), nullptr, job.store.get(),
                                    &chain_para, job.flags, nullptr, job.chain.put()) &&
      job.chain;
  job.error = job.built ? 0 : ::GetLastError();
}

enum class WaitResult { kDone, kTimedOut, kCancelled };

// Builds the chain on a worker and waits for it at most `wait_ms`, or until `cancel` is set.
WaitResult BuildChainWithin(const std::shared_ptr<ChainJob>& job, DWORD wait_ms, HANDLE cancel) {
  nbase::UniqueHandle worker = nbase::StartThread("package chain", [job] { BuildChain(*job); });
  if (!worker) {
    BuildChain(*job);
    return WaitResult::kDone;
  }
  HANDLE handles[2] = {worker.get(), cancel};
  const DWORD count = cancel ? 2 : 1;
  const DWORD waited = ::WaitForMultipleObjects(count, handles, FALSE, wait_ms);
  if (waited == WAIT_OBJECT_0) return WaitResult::kDone;
  return waited == WAIT_OBJECT_0 + 1 ? WaitResult::kCancelled : WaitResult::kTimedOut;
}

std::shared_ptr<ChainJob> NewChainJob(PCCERT_CONTEXT leaf, HCERTSTORE store, DWORD flags) {
  auto job = std::make_shared<ChainJob>();
  job->leaf.reset(Api().CertDuplicateCertificateContext(leaf));
  job->store.reset(Api().CertDuplicateStore(store));
  job->flags = flags;
  return job;
}

bool Stopped(HANDLE cancel) {
  return cancel && ::WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

DWORD Elapsed(ULONGLONG start) {
  return static_cast<DWORD>(::GetTickCount64() - start);
}

// The chain's certificates, leaf first, against the floor and the usage along the path.
bool CheckChainRules(const CERT_SIMPLE_CHAIN& chain, DWORD& code, std::wstring& problem) {
  using namespace certificate_rules;
  const DWORD last = chain.cElement - 1;
  for (DWORD i = 0; i <= last; ++i) {
    PCCERT_CONTEXT certificate = chain.rgpElement[i]->pCertContext;
    const CERT_INFO& info = *certificate->pCertInfo;
    const std::wstring who =
        i == 0 ? L"the signing certificate" : L"the authority " + SubjectText(certificate);
    std::wstring key_problem;
    if (!MeetsKeyFloor(info, key_problem)) {
      code = kVerifyWeakAlgorithm;
      problem = who + L" has " + key_problem;
      return false;
    }
    // The root vouches for itself; its own signature proves nothing either way.
    if (i < last && !HasStrongSignature(info)) {
      code = kVerifyWeakAlgorithm;
      problem =
          who + L" is signed with " +
          nbase::UTF8ToUTF16(info.SignatureAlgorithm.pszObjId ? info.SignatureAlgorithm.pszObjId
                                                              : "an unknown algorithm") +
          L", below SHA-256";
      return false;
    }
    // Not every chain engine narrows a leaf's usage by the authorities above it.
    if (i > 0 && i < last && CodeSigning(info, true) == CodeSigningUsage::kNotAllowed) {
      code = kVerifyNotForCodeSigning;
      problem = who + L" may not certify code signing";
      return false;
    }
  }
  if (CodeSigning(*chain.rgpElement[0]->pCertContext->pCertInfo, false) !=
      CodeSigningUsage::kAllowed) {
    code = kVerifyNotForCodeSigning;
    problem = L"the signing certificate is not allowed for code signing";
    return false;
  }
  return true;
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

PackageVerdict PackageVerifier::Verify(HANDLE file, const std::wstring& path, HANDLE cancel,
                                       const TakenDigest* downloaded) const {
  const ULONGLONG start = ::GetTickCount64();
  SignedImage image;
  PackageVerdict result = Check(file, path, cancel, downloaded, start, image);
  result.bytes_read = image.bytes_read();
  return result;
}

PackageVerdict PackageVerifier::Check(HANDLE file, const std::wstring& path, HANDLE cancel,
                                      const TakenDigest* downloaded, ULONGLONG start,
                                      SignedImage& image) const {
  PackageVerdict verdict;
  if (!pins_.CanVerify()) {
    return Refuse(verdict, kVerifyNoPins, L"no publisher and no digest pinned");
  }
  if (file == nullptr || file == INVALID_HANDLE_VALUE) {
    return Refuse(verdict, kVerifyNotHeld, L"the package is not held open");
  }
  const std::string pinned_digest = Normalized(pins_.file_sha256);
  // The download hashed the bytes as they reached the disk; hashing them again here would only
  // repeat that, as long as the held file is the one it hashed.
  FileIdentity held_file;
  const bool digest_taken = !pinned_digest.empty() && downloaded && !downloaded->sha256.empty() &&
                            IdentifyFile(file, &held_file) && held_file == downloaded->file;
  verdict.digest_from_download = digest_taken;
  if (digest_taken && Normalized(downloaded->sha256) != pinned_digest) {
    return Refuse(verdict, kVerifyDigestMismatch,
                  L"the downloaded file's SHA-256 is " + nbase::UTF8ToUTF16(downloaded->sha256) +
                      L", not the pinned digest");
  }
  // A digest alone is a complete pin: that exact file was meant to run.
  if (!pins_.HasPublisher()) {
    if (!digest_taken) {
      const std::string actual = image.FileSha256(file, cancel);
      if (Stopped(cancel))
        return Refuse(verdict, kVerifyCancelled, L"the verification was stopped");
      if (actual.empty() || actual != pinned_digest) {
        return Refuse(
            verdict, kVerifyDigestMismatch,
            L"the file's SHA-256 is " + nbase::UTF8ToUTF16(actual) + L", not the pinned digest");
      }
    }
    verdict.trusted = true;
    verdict.reason = L"trusted: the file matches the pinned digest";
    return verdict;
  }

  const TrustApi& api = Api();
  if (!api.complete) {
    return Refuse(verdict, ::GetLastError(), L"the system's signature functions are missing");
  }

  // The signature's structure and the chain of digests from the image to the signer, checked
  // here first: a platform whose own check skips a link must not decide alone.
  std::wstring problem;
  DWORD code = 0;
  if (!image.Read(file, problem, code)) return Refuse(verdict, code, problem);
  AuthenticodeSignature signature;
  if (!signature.Parse(image.signature(), problem)) {
    return Refuse(verdict, kVerifyMalformedSignature, problem);
  }
  if (!IsStrongDigest(signature.image_algorithm()) ||
      signature.signer_algorithm() != signature.image_algorithm()) {
    return Refuse(verdict, kVerifyWeakAlgorithm,
                  std::wstring(L"the file is signed with ") +
                      DigestName(signature.image_algorithm()) + L" (signer: " +
                      DigestName(signature.signer_algorithm()) +
                      L"); SHA-256 or stronger, the same for both, is required");
  }
  std::vector<BYTE> image_digest;
  std::string file_digest;
  const bool digest_here = !pinned_digest.empty() && !digest_taken;
  if (!image.Hash(file, signature.image_algorithm(), image_digest,
                  digest_here ? &file_digest : nullptr, cancel)) {
    if (Stopped(cancel)) return Refuse(verdict, kVerifyCancelled, L"the verification was stopped");
    return Refuse(verdict, ::GetLastError(), L"the file cannot be read to its end");
  }
  if (image_digest != signature.image_digest()) {
    return Refuse(verdict, kVerifyImageMismatch,
                  L"the image's digest is " + Hex(image_digest) + L", the signature names " +
                      Hex(signature.image_digest()));
  }
  if (digest_here && file_digest != pinned_digest) {
    return Refuse(
        verdict, kVerifyDigestMismatch,
        L"the file's SHA-256 is " + nbase::UTF8ToUTF16(file_digest) + L", not the pinned digest");
  }
  const std::vector<BYTE> content_digest = signature.ContentDigest();
  if (content_digest.empty() || content_digest != signature.message_digest()) {
    return Refuse(verdict, kVerifyContentMismatch,
                  L"the signer's message digest does not match the signed content");
  }

  // The system's check reads the whole file again and cannot be interrupted: not begun once
  // the user has quit.
  if (Stopped(cancel)) return Refuse(verdict, kVerifyCancelled, L"the verification was stopped");
  const LONG system_check = CheckImageSignature(file, path);
  if (system_check != 0) {
    return Refuse(verdict, static_cast<DWORD>(system_check),
                  L"the signature does not cover this file or is missing");
  }

  // The same bytes through the system's decoder, for the certificates and the chain.
  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(image.signature().size()),
                          const_cast<BYTE*>(image.signature().data())};
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
    return Refuse(verdict, kVerifyMalformedSignature,
                  L"the signature must have exactly one signer");
  }
  // Where the system computes the content's digest too, it must describe the same content.
  // Some decoders hash this content type's whole encoding rather than its contents octets
  // (what the signer's attribute covers); either form of the same content is accepted, since
  // the comparison that decides was made above.
  BYTE computed[64];
  size = sizeof(computed);
  if (api.CryptMsgGetParam(message.get(), CMSG_COMPUTED_HASH_PARAM, 0, computed, &size)) {
    const std::vector<BYTE> system_digest(computed, computed + size);
    if (system_digest != content_digest && system_digest != signature.EncodedContentDigest()) {
      return Refuse(verdict, kVerifyContentMismatch,
                    L"the system's digest of the signed content is " + Hex(system_digest) +
                        L", the signer's is " + Hex(signature.message_digest()));
    }
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
  // The signature over the attributes, verified with the leaf's key from what was parsed here,
  // and by the system's message check as well.
  std::vector<BYTE> signed_blob = signature.SignedAttributesBlob();
  CRYPT_DATA_BLOB subject = {static_cast<DWORD>(signed_blob.size()), signed_blob.data()};
  if (signed_blob.empty() || !api.CryptVerifyCertificateSignatureEx(
                                 0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_BLOB,
                                 &subject, CRYPT_VERIFY_CERT_SIGN_ISSUER_PUBKEY,
                                 &leaf.get()->pCertInfo->SubjectPublicKeyInfo, 0, nullptr)) {
    return Refuse(verdict, kVerifySignerSignature,
                  L"the signer's key does not verify the signature (" +
                      nbase::UTF8ToUTF16(signature.signature_algorithm()) + L")");
  }
  if (!api.CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, leaf.get()->pCertInfo)) {
    return Refuse(verdict, ::GetLastError(), L"the signer's signature does not verify");
  }

  // Revocation first, on a worker waited for only until the bound leaves just enough for a
  // build without it; that one needs no network and counts the revocation as unknown.
  const DWORD used = Elapsed(start);
  const DWORD revocation_wait =
      used + kFallbackReserveMs < kVerifyBoundMs ? kVerifyBoundMs - kFallbackReserveMs - used : 0;
  auto job = NewChainJob(
      leaf.get(), store.get(),
      CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT);
  WaitResult waited = BuildChainWithin(job, revocation_wait, cancel);
  bool revocation_timed_out = false;
  if (waited == WaitResult::kTimedOut) {
    revocation_timed_out = true;
    job = NewChainJob(leaf.get(), store.get(), CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL);
    const DWORD now = Elapsed(start);
    waited = BuildChainWithin(job, now < kVerifyBoundMs ? kVerifyBoundMs - now : 0, cancel);
  }
  if (waited == WaitResult::kCancelled) {
    return Refuse(verdict, kVerifyCancelled, L"the verification was stopped");
  }
  if (waited == WaitResult::kTimedOut) {
    return Refuse(verdict, kVerifyTimedOut,
                  nbase::StringPrintf(L"no certificate chain within %lu ms",
                                      static_cast<unsigned long>(kVerifyBoundMs)));
  }
  if (!job->built) {
    return Refuse(verdict, job->error, L"no certificate chain could be built");
  }
  PCCERT_CHAIN_CONTEXT chain = job->chain.get();
  const DWORD status = chain->TrustStatus.dwErrorStatus;
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
  if (!api.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain, &policy_para,
                                            &policy_status) ||
      policy_status.dwError != 0) {
    return Refuse(verdict, policy_status.dwError ? policy_status.dwError : ::GetLastError(),
                  L"the chain fails the base chain policy");
  }
  // More than one simple chain means a trust list in between, which no package's chain has.
  if (chain->cChain != 1 || chain->rgpChain[0]->cElement < 2) {
    return Refuse(verdict, kVerifyChainTooShort,
                  L"the signing certificate is its own root: no authority vouches for it");
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  if (simple.rgpElement[0]->pCertContext->cbCertEncoded != leaf.get()->cbCertEncoded ||
      std::memcmp(simple.rgpElement[0]->pCertContext->pbCertEncoded, leaf.get()->pbCertEncoded,
                  leaf.get()->cbCertEncoded) != 0) {
    return Refuse(verdict, static_cast<DWORD>(CERT_E_CHAINING),
                  L"the chain does not start at the signer's certificate");
  }
  PCCERT_CONTEXT root = simple.rgpElement[simple.cElement - 1]->pCertContext;
  // Hashed from the bytes: the certificate property for this digest is not everywhere.
  verdict.root_sha256 = Sha256Hex(root->pbCertEncoded, root->cbCertEncoded);
  if (!CheckChainRules(simple, code, problem)) return Refuse(verdict, code, problem);

  std::wstring name;
  const bool single_name =
      certificate_rules::SingleCommonName(leaf.get()->pCertInfo->Subject, name, problem);
  // The system's subject text ends at a NUL; the log must show the name that was compared.
  const std::wstring printable = certificate_rules::Printable(name);
  if (!name.empty() && verdict.signer.find(printable) == std::wstring::npos) {
    verdict.signer += L" [common name: " + printable + L"]";
  }
  if (!single_name) return Refuse(verdict, kVerifyUnclearName, problem);
  if (name != pins_.publisher) {
    return Refuse(
        verdict, kVerifyPublisherMismatch,
        L"signed by " + certificate_rules::Printable(name) + L", not by " + pins_.publisher);
  }
  if (verdict.root_sha256.empty() || verdict.root_sha256 != Normalized(pins_.root_sha256)) {
    return Refuse(verdict, kVerifyRootMismatch, L"the chain ends in another root");
  }
  verdict.trusted = true;
  if (revocation_timed_out) {
    verdict.reason =
        nbase::StringPrintf(L"trusted (revocation unknown: no answer within %lu ms)",
                            static_cast<unsigned long>(kVerifyBoundMs - kFallbackReserveMs));
  } else {
    verdict.reason =
        (status & kRevocationUnknown) ? L"trusted (revocation could not be checked)" : L"trusted";
  }
  return verdict;
}
