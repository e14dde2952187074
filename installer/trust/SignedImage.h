// The layout of a signed program file: where its checksum, certificate directory and
// certificate table are, the one signature the table may hold, and the image's digest.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/trust/Digest.h"

// Read through a held handle; owned by one thread.
class SignedImage {
 public:
  // Reads the headers and the certificate table. False with `problem` (and `code`) when the
  // file is not a program image, has no signature, or its table holds anything beyond exactly
  // one revision 2 PKCS #7 entry whose length is the signature's own, zero-padded to 8 bytes,
  // at the very end of the file.
  bool Read(HANDLE file, std::wstring& problem, DWORD& code);

  // The signature's DER bytes, exactly as long as their outer element says.
  const std::vector<BYTE>& signature() const { return signature_; }

  // One pass over the file: the image digest (every byte before the certificate table except
  // the checksum and the certificate directory entry) with `image_algorithm`, and, when
  // `file_sha256` is given, the SHA-256 (hex) of every byte of the file along with it.
  // False when the file cannot be read, or (ERROR_CANCELLED) once `cancel` is set.
  bool Hash(HANDLE file, DigestAlgorithm image_algorithm, std::vector<BYTE>& image_digest,
            std::string* file_sha256, HANDLE cancel = nullptr);

  // The whole file's SHA-256 (hex), for a package pinned by digest alone; empty on failure or
  // once `cancel` is set.
  std::string FileSha256(HANDLE file, HANDLE cancel = nullptr);

  // Bytes read through the handle so far, by every call above: what the checks cost the disk.
  unsigned long long bytes_read() const { return bytes_read_; }

 private:
  unsigned long long file_size_ = 0;
  unsigned long long bytes_read_ = 0;
  DWORD checksum_offset_ = 0;
  DWORD directory_offset_ = 0;
  DWORD table_offset_ = 0;
  std::vector<BYTE> signature_;
};
