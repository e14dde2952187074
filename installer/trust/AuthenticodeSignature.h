// The parts of a program's PKCS #7 signature that the package checks compare, read from its DER
// bytes by the installer itself rather than through the system's decoder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/trust/Digest.h"

// A parsed signature; the pointers and copies refer to the bytes handed to Parse, which must
// outlive it. Owned by one thread.
class AuthenticodeSignature {
 public:
  // False with `problem` unless the bytes are signed data holding program-image content and
  // exactly one signer with the content type and message digest among its authenticated
  // attributes, and no nested signature.
  bool Parse(const std::vector<BYTE>& signature, std::wstring& problem);

  // The image digest the signer vouches for, and its algorithm.
  DigestAlgorithm image_algorithm() const { return image_algorithm_; }
  const std::vector<BYTE>& image_digest() const { return image_digest_; }

  DigestAlgorithm signer_algorithm() const { return signer_algorithm_; }
  // The signer's message digest attribute, which must equal ContentDigest().
  const std::vector<BYTE>& message_digest() const { return message_digest_; }
  // The digest of the signed content (its contents octets, as the signer hashed them) with the
  // signer's algorithm; empty for an algorithm that is not allowed.
  std::vector<BYTE> ContentDigest() const;
  // The same digest over the content's whole encoding, tag and length included: what some
  // platforms' message decoders report as the computed hash of this content type.
  std::vector<BYTE> EncodedContentDigest() const;

  // What the signer's key signed and the signature, as the certificate rules' "signed blob"
  // (SEQUENCE { the authenticated attributes as a SET, algorithm, BIT STRING }), so the
  // system's certificate signature check can verify it with the leaf's key. Empty when the
  // signature algorithm is not one of RSA or ECDSA with a SHA-2 digest.
  std::vector<BYTE> SignedAttributesBlob() const;
  const std::string& signature_algorithm() const { return signature_algorithm_; }

 private:
  DigestAlgorithm image_algorithm_ = DigestAlgorithm::kUnknown;
  std::vector<BYTE> image_digest_;
  const BYTE* content_ = nullptr;
  size_t content_size_ = 0;
  const BYTE* encoded_content_ = nullptr;
  size_t encoded_content_size_ = 0;
  DigestAlgorithm signer_algorithm_ = DigestAlgorithm::kUnknown;
  std::vector<BYTE> message_digest_;
  std::vector<BYTE> attributes_;  // the authenticated attributes, tag and all
  std::string signature_algorithm_;
  std::vector<BYTE> signature_value_;
};
