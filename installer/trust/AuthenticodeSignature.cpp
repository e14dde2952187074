// Signed data, program-image content and the one signer's fields, walked element by element;
// any element out of place refuses the whole signature.
#include "installer/trust/AuthenticodeSignature.h"

#include <set>

#include "installer/trust/Der.h"

namespace {

constexpr char kSignedData[] = "1.2.840.113549.1.7.2";
constexpr char kIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
constexpr char kContentType[] = "1.2.840.113549.1.9.3";
constexpr char kMessageDigest[] = "1.2.840.113549.1.9.4";
constexpr char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
constexpr char kRsa[] = "1.2.840.113549.1.1.1";
constexpr char kEcPublicKey[] = "1.2.840.10045.2.1";

// The algorithm identifier that names both the key type and the digest, as a certificate's
// signature would; empty for anything outside the floor.
std::string CombinedSignatureOid(const std::string& signature, DigestAlgorithm digest) {
  static const struct {
    DigestAlgorithm digest;
    const char* rsa;
    const char* ecdsa;
  } kCombined[] = {
      {DigestAlgorithm::kSha256, "1.2.840.113549.1.1.11", "1.2.840.10045.4.3.2"},
      {DigestAlgorithm::kSha384, "1.2.840.113549.1.1.12", "1.2.840.10045.4.3.3"},
      {DigestAlgorithm::kSha512, "1.2.840.113549.1.1.13", "1.2.840.10045.4.3.4"},
  };
  for (const auto& entry : kCombined) {
    if (entry.digest != digest) continue;
    if (signature == kRsa || signature == entry.rsa) return entry.rsa;
    if (signature == kEcPublicKey || signature == entry.ecdsa) return entry.ecdsa;
  }
  return std::string();
}

void AppendLength(std::vector<BYTE>& out, size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<BYTE>(length));
    return;
  }
  BYTE bytes[4];
  int count = 0;
  for (size_t rest = length; rest; rest >>= 8) bytes[count++] = static_cast<BYTE>(rest);
  out.push_back(static_cast<BYTE>(0x80 | count));
  while (count) out.push_back(bytes[--count]);
}

void AppendElement(std::vector<BYTE>& out, BYTE tag, const std::vector<BYTE>& value) {
  out.push_back(tag);
  AppendLength(out, value.size());
  out.insert(out.end(), value.begin(), value.end());
}

std::vector<BYTE> EncodeOid(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  unsigned long arc = 0;
  for (char c : dotted) {
    if (c == '.') {
      arcs.push_back(arc);
      arc = 0;
    } else {
      arc = arc * 10 + static_cast<unsigned long>(c - '0');
    }
  }
  arcs.push_back(arc);
  std::vector<BYTE> out;
  if (arcs.size() < 2) return out;
  arcs[1] += arcs[0] * 40;
  for (size_t i = 1; i < arcs.size(); ++i) {
    BYTE groups[5];
    int count = 0;
    unsigned long rest = arcs[i];
    do {
      groups[count++] = static_cast<BYTE>(rest & 0x7F);
      rest >>= 7;
    } while (rest);
    while (count > 1) out.push_back(static_cast<BYTE>(groups[--count] | 0x80));
    out.push_back(groups[0]);
  }
  return out;
}

bool ExpectOid(der::Reader& reader, const char* oid) {
  der::Element element;
  return reader.Expect(der::kOid, element) && der::OidText(element) == oid;
}

}  // namespace

bool AuthenticodeSignature::Parse(const std::vector<BYTE>& signature, std::wstring& problem) {
  problem = L"the signature is not well-formed signed data";
  der::Element content_info;
  if (!der::Whole(signature.data(), signature.size(), content_info) ||
      content_info.tag != der::kSequence) {
    return false;
  }
  der::Reader outer(content_info);
  der::Element wrapper;
  der::Element signed_data;
  if (!ExpectOid(outer, kSignedData) || !outer.Expect(der::kExplicit0, wrapper) || !outer.AtEnd() ||
      !der::Whole(wrapper.value, wrapper.size, signed_data) || signed_data.tag != der::kSequence) {
    return false;
  }

  der::Reader fields(signed_data);
  der::Element version;
  der::Element digest_algorithms;
  der::Element encapsulated;
  if (!fields.Expect(der::kInteger, version) || !fields.Expect(der::kSet, digest_algorithms) ||
      !fields.Expect(der::kSequence, encapsulated)) {
    return false;
  }
  der::Element certificates;
  der::Element revocations;
  fields.Optional(der::kExplicit0, certificates);
  fields.Optional(der::kImplicit1, revocations);
  der::Element signer_infos;
  if (!fields.Expect(der::kSet, signer_infos) || !fields.AtEnd()) return false;

  // The signed content: which image digest the signer vouches for.
  problem = L"the signature's content is not a program image's digest";
  der::Reader encapsulated_fields(encapsulated);
  der::Element content_wrapper;
  der::Element indirect;
  if (!ExpectOid(encapsulated_fields, kIndirectData) ||
      !encapsulated_fields.Expect(der::kExplicit0, content_wrapper) ||
      !encapsulated_fields.AtEnd() ||
      !der::Whole(content_wrapper.value, content_wrapper.size, indirect) ||
      indirect.tag != der::kSequence) {
    return false;
  }
  // What the signer's message digest covers: the content's own octets, without its tag.
  content_ = indirect.value;
  content_size_ = indirect.size;
  encoded_content_ = indirect.start;
  encoded_content_size_ = indirect.encoded_size;
  der::Reader indirect_fields(indirect);
  der::Element data;
  der::Element digest_info;
  if (!indirect_fields.Expect(der::kSequence, data) ||
      !indirect_fields.Expect(der::kSequence, digest_info) || !indirect_fields.AtEnd()) {
    return false;
  }
  der::Reader data_fields(data);
  if (!ExpectOid(data_fields, kPeImageData)) return false;
  der::Reader digest_fields(digest_info);
  std::string image_oid;
  der::Element image_digest;
  if (!der::ReadAlgorithm(digest_fields, image_oid) ||
      !digest_fields.Expect(der::kOctetString, image_digest) || !digest_fields.AtEnd()) {
    return false;
  }
  image_algorithm_ = DigestFromOid(image_oid);
  image_digest_.assign(image_digest.value, image_digest.value + image_digest.size);

  problem = L"the signature must have exactly one signer";
  der::Reader signers(signer_infos);
  der::Element signer;
  if (!signers.Expect(der::kSequence, signer) || !signers.AtEnd()) return false;

  problem = L"the signer's information is not well-formed";
  der::Reader signer_fields(signer);
  der::Element signer_version;
  der::Element issuer_and_serial;
  std::string signer_oid;
  der::Element attributes;
  der::Element signature_value;
  if (!signer_fields.Expect(der::kInteger, signer_version) ||
      !signer_fields.Expect(der::kSequence, issuer_and_serial) ||
      !der::ReadAlgorithm(signer_fields, signer_oid) ||
      !signer_fields.Expect(der::kExplicit0, attributes) ||
      !der::ReadAlgorithm(signer_fields, signature_algorithm_) ||
      !signer_fields.Expect(der::kOctetString, signature_value)) {
    return false;
  }
  der::Element unauthenticated;
  const bool has_unauthenticated = signer_fields.Optional(der::kImplicit1, unauthenticated);
  if (!signer_fields.AtEnd()) return false;
  signer_algorithm_ = DigestFromOid(signer_oid);
  attributes_.assign(attributes.start, attributes.start + attributes.encoded_size);
  signature_value_.assign(signature_value.value, signature_value.value + signature_value.size);

  // Each attribute once: a second message digest or content type is a second meaning.
  std::set<std::string> seen;
  bool content_type_ok = false;
  der::Reader attribute_list(attributes);
  der::Element attribute;
  while (!attribute_list.AtEnd()) {
    der::Element type;
    der::Element values;
    if (!attribute_list.Expect(der::kSequence, attribute)) return false;
    der::Reader attribute_fields(attribute);
    if (!attribute_fields.Expect(der::kOid, type) || !attribute_fields.Expect(der::kSet, values) ||
        !attribute_fields.AtEnd()) {
      return false;
    }
    const std::string oid = der::OidText(type);
    if (oid.empty() || !seen.insert(oid).second) return false;
    der::Reader value_list(values);
    der::Element value;
    if (oid == kContentType) {
      if (!value_list.Expect(der::kOid, value) || !value_list.AtEnd() ||
          der::OidText(value) != kIndirectData) {
        return false;
      }
      content_type_ok = true;
    } else if (oid == kMessageDigest) {
      if (!value_list.Expect(der::kOctetString, value) || !value_list.AtEnd()) return false;
      message_digest_.assign(value.value, value.value + value.size);
    }
  }
  if (!attribute_list.ok() || !content_type_ok || message_digest_.empty()) return false;

  if (has_unauthenticated) {
    der::Reader list(unauthenticated);
    while (!list.AtEnd()) {
      if (!list.Expect(der::kSequence, attribute)) return false;
      der::Reader attribute_fields(attribute);
      der::Element type;
      if (!attribute_fields.Expect(der::kOid, type)) return false;
      if (der::OidText(type) == kNestedSignature) {
        problem = L"the signature carries a nested second signature";
        return false;
      }
    }
  }
  problem.clear();
  return true;
}

std::vector<BYTE> AuthenticodeSignature::ContentDigest() const {
  if (!IsStrongDigest(signer_algorithm_)) return {};
  return Digest::Of(signer_algorithm_, content_, content_size_);
}

std::vector<BYTE> AuthenticodeSignature::EncodedContentDigest() const {
  if (!IsStrongDigest(signer_algorithm_)) return {};
  return Digest::Of(signer_algorithm_, encoded_content_, encoded_content_size_);
}

std::vector<BYTE> AuthenticodeSignature::SignedAttributesBlob() const {
  const std::string combined = CombinedSignatureOid(signature_algorithm_, signer_algorithm_);
  if (combined.empty() || attributes_.empty()) return {};
  // The key signed the attributes encoded as the SET they are, not under their context tag.
  std::vector<BYTE> to_be_signed = attributes_;
  to_be_signed[0] = der::kSet;
  std::vector<BYTE> algorithm_fields;
  AppendElement(algorithm_fields, der::kOid, EncodeOid(combined));
  if (combined.rfind("1.2.840.113549", 0) == 0) {
    algorithm_fields.push_back(der::kNull);
    algorithm_fields.push_back(0);
  }
  std::vector<BYTE> bits(1, 0);  // no unused bits
  bits.insert(bits.end(), signature_value_.begin(), signature_value_.end());
  std::vector<BYTE> fields = to_be_signed;
  AppendElement(fields, der::kSequence, algorithm_fields);
  AppendElement(fields, der::kBitString, bits);
  std::vector<BYTE> blob;
  AppendElement(blob, der::kSequence, fields);
  return blob;
}
