// Certificate fields read from their own DER bytes: the chain engine's decoded strings stop at
// the first NUL, and what the engine leaves unchecked differs between platforms.
#include "installer/trust/CertificateRules.h"

#include <cstring>

#include "base/StringUtil.h"
#include "installer/trust/Der.h"

namespace certificate_rules {
namespace {

constexpr char kCommonName[] = "2.5.4.3";
constexpr char kExtendedKeyUsage[] = "2.5.29.37";
constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";
constexpr char kAnyUsage[] = "2.5.29.37.0";

// Decodes one directory string to UTF-16, every unit of it.
bool DecodeString(const der::Element& value, std::wstring& out) {
  out.clear();
  switch (value.tag) {
    case der::kUtf8String:
      out = nbase::UTF8ToUTF16(std::string(reinterpret_cast<const char*>(value.value), value.size));
      // A malformed sequence must not decode to a shorter, acceptable name.
      return nbase::UTF16ToUTF8(out) ==
             std::string(reinterpret_cast<const char*>(value.value), value.size);
    case der::kPrintableString:
    case der::kIa5String:
      for (size_t i = 0; i < value.size; ++i) {
        if (value.value[i] > 0x7F) return false;
        out += static_cast<wchar_t>(value.value[i]);
      }
      return true;
    case der::kTeletexString:
      // In practice Latin-1.
      for (size_t i = 0; i < value.size; ++i) out += static_cast<wchar_t>(value.value[i]);
      return true;
    case der::kBmpString:
      if (value.size % 2) return false;
      for (size_t i = 0; i < value.size; i += 2) {
        out += static_cast<wchar_t>((value.value[i] << 8) | value.value[i + 1]);
      }
      return true;
    case der::kUniversalString:
      if (value.size % 4) return false;
      for (size_t i = 0; i < value.size; i += 4) {
        const unsigned long code = (static_cast<unsigned long>(value.value[i]) << 24) |
                                   (value.value[i + 1] << 16) | (value.value[i + 2] << 8) |
                                   value.value[i + 3];
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
          out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
          out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
          out += static_cast<wchar_t>(code);
        }
      }
      return true;
    default:
      return false;
  }
}

// Bit length of a DER INTEGER's magnitude.
size_t IntegerBits(const der::Element& integer) {
  const BYTE* p = integer.value;
  size_t size = integer.size;
  while (size && *p == 0) {
    ++p;
    --size;
  }
  if (!size) return 0;
  size_t bits = size * 8;
  for (BYTE top = *p; !(top & 0x80); top = static_cast<BYTE>(top << 1)) --bits;
  return bits;
}

}  // namespace

bool SingleCommonName(const CERT_NAME_BLOB& subject, std::wstring& name, std::wstring& problem) {
  name.clear();
  der::Element sequence;
  if (!der::Whole(subject.pbData, subject.cbData, sequence) || sequence.tag != der::kSequence) {
    problem = L"the signer's subject cannot be read";
    return false;
  }
  int count = 0;
  der::Reader names(sequence);
  der::Element relative;
  while (!names.AtEnd()) {
    if (!names.Expect(der::kSet, relative)) break;
    der::Reader attributes(relative);
    der::Element attribute;
    while (!attributes.AtEnd()) {
      if (!attributes.Expect(der::kSequence, attribute)) break;
      der::Reader fields(attribute);
      der::Element type;
      der::Element value;
      if (!fields.Expect(der::kOid, type) || !fields.Next(value) || !fields.AtEnd()) {
        problem = L"the signer's subject cannot be read";
        return false;
      }
      if (der::OidText(type) != kCommonName) continue;
      if (++count > 1) {
        problem = L"the signer's subject holds more than one common name";
        return false;
      }
      if (!DecodeString(value, name)) {
        problem = L"the signer's common name is not a readable string";
        return false;
      }
    }
    if (!attributes.ok()) break;
  }
  if (!names.ok()) {
    problem = L"the signer's subject cannot be read";
    return false;
  }
  if (count == 0) {
    problem = L"the signer's subject has no common name";
    return false;
  }
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) {
      problem = L"the signer's common name holds a control character: " + Printable(name);
      return false;
    }
  }
  return true;
}

bool MeetsKeyFloor(const CERT_INFO& certificate, std::wstring& problem) {
  const CERT_PUBLIC_KEY_INFO& key = certificate.SubjectPublicKeyInfo;
  const std::string algorithm = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
  if (algorithm == szOID_RSA_RSA) {
    // The key bits are an RSAPublicKey: SEQUENCE { modulus, exponent }.
    der::Element sequence;
    der::Element modulus;
    if (key.PublicKey.cUnusedBits == 0 &&
        der::Whole(key.PublicKey.pbData, key.PublicKey.cbData, sequence)) {
      der::Reader fields(sequence);
      if (fields.Expect(der::kInteger, modulus)) {
        const size_t bits = IntegerBits(modulus);
        if (bits >= 2048) return true;
        problem = nbase::StringPrintf(L"an RSA key of %u bits", static_cast<unsigned>(bits));
        return false;
      }
    }
    problem = L"an unreadable RSA key";
    return false;
  }
  if (algorithm == szOID_ECC_PUBLIC_KEY) {
    der::Element curve;
    if (der::Whole(key.Algorithm.Parameters.pbData, key.Algorithm.Parameters.cbData, curve)) {
      const std::string oid = der::OidText(curve);
      if (oid == "1.2.840.10045.3.1.7" || oid == "1.3.132.0.34" || oid == "1.3.132.0.35")
        return true;
    }
    problem = L"an elliptic-curve key on a curve below P-256";
    return false;
  }
  problem = L"a key that is neither RSA nor ECDSA";
  return false;
}

bool HasStrongSignature(const CERT_INFO& certificate) {
  const char* oid = certificate.SignatureAlgorithm.pszObjId;
  if (!oid) return false;
  static const char* const kStrong[] = {
      szOID_RSA_SHA256RSA, szOID_RSA_SHA384RSA, szOID_RSA_SHA512RSA,
      szOID_ECDSA_SHA256,  szOID_ECDSA_SHA384,  szOID_ECDSA_SHA512,
  };
  for (const char* strong : kStrong) {
    if (std::strcmp(oid, strong) == 0) return true;
  }
  return false;
}

CodeSigningUsage CodeSigning(const CERT_INFO& certificate, bool any_purpose_allows) {
  for (DWORD i = 0; i < certificate.cExtension; ++i) {
    const CERT_EXTENSION& extension = certificate.rgExtension[i];
    if (!extension.pszObjId || std::strcmp(extension.pszObjId, kExtendedKeyUsage) != 0) continue;
    der::Element sequence;
    if (!der::Whole(extension.Value.pbData, extension.Value.cbData, sequence) ||
        sequence.tag != der::kSequence) {
      return CodeSigningUsage::kNotAllowed;
    }
    der::Reader usages(sequence);
    der::Element usage;
    while (!usages.AtEnd()) {
      if (!usages.Expect(der::kOid, usage)) return CodeSigningUsage::kNotAllowed;
      const std::string oid = der::OidText(usage);
      if (oid == kCodeSigningUsage || (any_purpose_allows && oid == kAnyUsage)) {
        return CodeSigningUsage::kAllowed;
      }
    }
    return CodeSigningUsage::kNotAllowed;
  }
  return CodeSigningUsage::kNoExtension;
}

std::wstring Printable(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += nbase::StringPrintf(L"\\x%02X", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace certificate_rules
