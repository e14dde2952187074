// The rules every certificate of a package's chain must meet beyond what the chain engine
// checks: the publisher's exact name, the algorithm floor, and code signing along the path.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace certificate_rules {

// The one common name of `subject` (DER), decoded to its full length. False with `problem`
// when there is none, more than one, an encoding this reader does not know, or a NUL or other
// control character inside, which a text comparison elsewhere would cut short.
bool SingleCommonName(const CERT_NAME_BLOB& subject, std::wstring& name, std::wstring& problem);

// RSA of at least 2048 bits or ECDSA on P-256, P-384 or P-521.
bool MeetsKeyFloor(const CERT_INFO& certificate, std::wstring& problem);
// A signature by RSA or ECDSA with SHA-256 or a longer SHA-2 digest.
bool HasStrongSignature(const CERT_INFO& certificate);

enum class CodeSigningUsage { kNoExtension, kAllowed, kNotAllowed };
// What the certificate's extended key usage extension says about code signing. The
// any-purpose usage counts as allowing it only when `any_purpose_allows` (for the CAs above a
// leaf, whose extension narrows what they may certify; a leaf must name code signing itself).
CodeSigningUsage CodeSigning(const CERT_INFO& certificate, bool any_purpose_allows);

// `text` with control characters written as \xNN, so a log line shows all of a name.
std::wstring Printable(const std::wstring& text);

}  // namespace certificate_rules
