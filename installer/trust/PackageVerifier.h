// Decides whether a downloaded setup package may run elevated: signature, chain, publisher pins.
#pragma once

#include <windows.h>

#include <string>

#include "base/UniqueResource.h"
#include "installer/HttpClient/FileHash.h"

class SignedImage;

// Who must have signed the package, and optionally its exact bytes. A publisher pin is the
// subject common name of the code-signing certificate together with the SHA-256 of the root
// certificate its chain ends in; either half alone pins nothing and is refused.
struct PackagePins {
  std::wstring publisher;
  std::string root_sha256;  // hex
  std::string file_sha256;  // hex; empty for no digest check

  bool HasPublisher() const { return !publisher.empty() && !root_sha256.empty(); }
  // Whether the pins can tell a good package from a bad one at all.
  bool CanVerify() const;
};

struct PackageVerdict {
  bool trusted = false;
  // Why it was refused: a Windows error or HRESULT of the failing step, or one of the codes
  // below for a rule of ours. 0 when trusted.
  DWORD code = 0;
  std::wstring reason;
  std::wstring signer;      // the signing certificate's subject, as text
  std::string root_sha256;  // SHA-256 (hex) of the chain's root certificate
  // Bytes of the held file read by the checks made here (the system's own signature check
  // reads it once more, itself).
  unsigned long long bytes_read = 0;
  // The pinned digest was compared with the one the download took, not taken again.
  bool digest_from_download = false;
};

// Codes for refusals that no system call reports (customer-defined HRESULTs, facility 0x7A).
constexpr DWORD kVerifyNoPins = 0xE07A0001;
constexpr DWORD kVerifyChainTooShort = 0xE07A0002;
constexpr DWORD kVerifyNotForCodeSigning = 0xE07A0003;
constexpr DWORD kVerifyPublisherMismatch = 0xE07A0004;
constexpr DWORD kVerifyRootMismatch = 0xE07A0005;
constexpr DWORD kVerifyDigestMismatch = 0xE07A0006;
constexpr DWORD kVerifyNotHeld = 0xE07A0007;
// The signature's bytes are not exactly one well-formed signature at the end of the file.
constexpr DWORD kVerifyMalformedSignature = 0xE07A0008;
// The image is not the one whose digest was signed.
constexpr DWORD kVerifyImageMismatch = 0xE07A0009;
// The signer's message digest does not cover the signed content.
constexpr DWORD kVerifyContentMismatch = 0xE07A000A;
// A digest, signature or key below the floor.
constexpr DWORD kVerifyWeakAlgorithm = 0xE07A000B;
// The signer's subject has no single readable common name.
constexpr DWORD kVerifyUnclearName = 0xE07A000C;
// The signer's key does not verify its signature over the authenticated attributes.
constexpr DWORD kVerifySignerSignature = 0xE07A000D;
// The chain could not be built within the verification's time bound.
constexpr DWORD kVerifyTimedOut = 0xE07A000E;
// The caller asked to stop.
constexpr DWORD kVerifyCancelled = 0xE07A000F;

// How long a verification may take whatever the network does; revocation that has not
// answered by then counts as unknown.
constexpr DWORD kVerifyBoundMs = 20000;

// Opens `path` the way a package is verified and run: readable and deletable through the handle
// (for the rename into place and the clean-up), with nobody else allowed to write, rename or
// delete it while the handle is held. Empty on failure, GetLastError telling why.
nbase::UniqueFileHandle HoldPackageFile(const std::wstring& path);

// Stateless apart from its pins: any thread may verify, several at once.
class PackageVerifier {
 public:
  explicit PackageVerifier(PackagePins pins) : pins_(std::move(pins)) {}

  // Verifies the bytes behind `file`, which must be held as HoldPackageFile holds it for as long
  // as the verdict is relied on (until the package's process has ended); `path` names the same
  // file for the system's signature check, which reports it in its own logging.
  //
  // Trusted only when all of these hold: the file ends in exactly one signature and nothing
  // else; the image's digest, computed here with the signature's SHA-2 digest, equals the
  // signed one; the signer's message digest equals the digest of the signed content; the
  // signer's key verifies its signature over the authenticated attributes; the system's check
  // agrees; the signer's
  // chain, built by the machine's chain engine (so roots that only the user trusts do not
  // count), has no error status and passes the base chain policy; the chain has a root apart
  // from the leaf; the leaf names code signing among its extended key usages; the leaf's
  // subject common name equals the pinned publisher; the root's SHA-256 equals the pinned root;
  // and, when a digest is pinned, the file's SHA-256 equals it.
  //
  // Revocation: the chain is checked for revocation (roots excluded) on a worker thread that is
  // waited for no longer than the verification's bound (kVerifyBoundMs in all); a certificate
  // known to be revoked is refused, while "revocation unknown", "offline" or no answer in time
  // (the chain is then built again without revocation) is accepted and only logged by the
  // caller's reason text, because a package whose authority publishes no revocation list would
  // otherwise never install. `cancel`, when given, is an event that ends the wait at once with
  // kVerifyCancelled, and so do the reads of the file between blocks.
  //
  // `downloaded`, when given, is the digest the download took of the same file as it was
  // written: when it describes the held file (same volume, file index and size) it is the
  // pinned digest's check, and the file is read once only, for the image's digest. A digest
  // of any other file is ignored and the held bytes are hashed instead. Timestamps:
  // countersignatures are not honoured; the chain must be valid now, so a package signed with a
  // certificate that has since expired is refused and has to be signed again.
  PackageVerdict Verify(HANDLE file, const std::wstring& path, HANDLE cancel = nullptr,
                        const TakenDigest* downloaded = nullptr) const;

  const PackagePins& pins() const { return pins_; }

 private:
  PackageVerdict Check(HANDLE file, const std::wstring& path, HANDLE cancel,
                       const TakenDigest* downloaded, ULONGLONG start, SignedImage& image) const;

  PackagePins pins_;
};
