// Program headers and the certificate table read by offset, so nothing the image says about
// itself is taken on trust before it is bounded by the file's real size.
#include "installer/trust/SignedImage.h"

#include <wintrust.h>

#include <algorithm>
#include <cstring>

#include "installer/HttpClient/Sha256.h"
#include "installer/trust/Der.h"
#include "installer/trust/PackageVerifier.h"

namespace {

// Larger than any real signature; a bigger table is an attack on the reader.
constexpr DWORD kMaxTable = 1 << 20;
// The headers never start further in than this in a real image.
constexpr DWORD kMaxHeaderOffset = 1 << 16;
constexpr DWORD kEntryHeader = offsetof(WIN_CERTIFICATE, bCertificate);
constexpr WORD kRevision2 = 0x0200;

bool ReadAt(HANDLE file, unsigned long long offset, void* buffer, DWORD size,
            unsigned long long& counted) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD read = 0;
  const bool ok = ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
                  ::ReadFile(file, buffer, size, &read, nullptr) && read == size;
  counted += read;
  return ok;
}

bool Stopped(HANDLE cancel) {
  return cancel && ::WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0;
}

template <typename T>
T Little(const BYTE* p) {
  T value = 0;
  for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | p[i]);
  return value;
}

DWORD Padded8(DWORD size) {
  return (size + 7) & ~7u;
}

}  // namespace

bool SignedImage::Read(HANDLE file, std::wstring& problem, DWORD& code) {
  code = static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN);
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0x40) {
    problem = L"the file is not a program image";
    return false;
  }
  file_size_ = static_cast<unsigned long long>(size.QuadPart);
  BYTE dos[0x40];
  if (!ReadAt(file, 0, dos, sizeof(dos), bytes_read_) || dos[0] != 'M' || dos[1] != 'Z') {
    problem = L"the file is not a program image";
    return false;
  }
  const DWORD pe = Little<DWORD>(dos + 0x3C);
  // Signature, file header and the optional header up to the end of the 64-bit form's
  // certificate directory entry.
  BYTE headers[4 + 20 + 152];
  if (pe > kMaxHeaderOffset || pe + sizeof(headers) > file_size_ ||
      !ReadAt(file, pe, headers, sizeof(headers), bytes_read_) ||
      std::memcmp(headers, "PE\0\0", 4) != 0) {
    problem = L"the file is not a program image";
    return false;
  }
  const WORD optional_size = Little<WORD>(headers + 4 + 16);
  const BYTE* optional = headers + 24;
  const WORD magic = Little<WORD>(optional);
  // Where the directory count and the directories start differ between the 32- and 64-bit
  // forms; the checksum sits at the same place in both.
  DWORD count_at = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    count_at = 92;
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    count_at = 108;
  } else {
    problem = L"the file is not a program image";
    return false;
  }
  const DWORD directory_at = count_at + 4 + IMAGE_DIRECTORY_ENTRY_SECURITY * 8;
  if (Little<DWORD>(optional + count_at) <= IMAGE_DIRECTORY_ENTRY_SECURITY ||
      optional_size < directory_at + 8) {
    code = static_cast<DWORD>(TRUST_E_NOSIGNATURE);
    problem = L"the file has no certificate directory";
    return false;
  }
  checksum_offset_ = pe + 24 + 64;
  directory_offset_ = pe + 24 + directory_at;
  table_offset_ = Little<DWORD>(optional + directory_at);
  const DWORD table_size = Little<DWORD>(optional + directory_at + 4);
  if (table_offset_ == 0 && table_size == 0) {
    code = static_cast<DWORD>(TRUST_E_NOSIGNATURE);
    problem = L"the file is not signed";
    return false;
  }

  // From here on anything unexpected is a signature that was tampered with.
  code = kVerifyMalformedSignature;
  if (table_size < kEntryHeader || table_size > kMaxTable || table_offset_ % 8 != 0 ||
      table_offset_ < directory_offset_ + 8 ||
      static_cast<unsigned long long>(table_offset_) + table_size != file_size_) {
    problem = L"the certificate table does not end the file";
    return false;
  }
  std::vector<BYTE> table(table_size);
  if (!ReadAt(file, table_offset_, table.data(), table_size, bytes_read_)) {
    problem = L"the certificate table cannot be read";
    return false;
  }
  const DWORD length = Little<DWORD>(table.data());
  const WORD revision = Little<WORD>(table.data() + 4);
  const WORD type = Little<WORD>(table.data() + 6);
  if (revision != kRevision2 || type != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
    problem = L"the certificate table's entry is not a revision 2 PKCS #7 signature";
    return false;
  }
  der::Element outer;
  der::Reader reader(table.data() + kEntryHeader, table_size - kEntryHeader);
  if (!reader.Expect(der::kSequence, outer)) {
    problem = L"the signature is not a DER structure";
    return false;
  }
  const DWORD used = kEntryHeader + static_cast<DWORD>(outer.encoded_size);
  // Signing tools write the entry's length with or without its padding; anything else hides
  // bytes behind the signature.
  if ((length != used && length != Padded8(used)) || table_size != Padded8(used)) {
    problem = L"the certificate table holds bytes beyond the one signature";
    return false;
  }
  if (!std::all_of(table.begin() + used, table.end(), [](BYTE b) { return b == 0; })) {
    problem = L"the signature's padding is not zero";
    return false;
  }
  signature_.assign(outer.start, outer.start + outer.encoded_size);
  return true;
}

bool SignedImage::Hash(HANDLE file, DigestAlgorithm image_algorithm,
                       std::vector<BYTE>& image_digest, std::string* file_sha256, HANDLE cancel) {
  Digest image(image_algorithm);
  if (!image.ok()) return false;
  CSha256Digest whole;
  // Skipped ranges, in file order: the checksum and the certificate directory entry.
  const unsigned long long skip[2][2] = {{checksum_offset_, checksum_offset_ + 4ull},
                                         {directory_offset_, directory_offset_ + 8ull}};
  std::vector<BYTE> buffer(1 << 20);
  unsigned long long position = 0;
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  while (position < file_size_) {
    if (Stopped(cancel)) {
      ::SetLastError(ERROR_CANCELLED);
      return false;
    }
    DWORD read = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<unsigned long long>(buffer.size(), file_size_ - position));
    const BOOL got = ::ReadFile(file, buffer.data(), want, &read, nullptr);
    bytes_read_ += read;
    if (!got || read != want) return false;
    if (file_sha256) whole.Update(buffer.data(), read);
    // Feeds [from, to) of this block, minus the skipped ranges and the table.
    unsigned long long from = position;
    const unsigned long long block_end =
        std::min<unsigned long long>(position + read, table_offset_);
    for (const auto& range : skip) {
      if (range[0] >= block_end || range[1] <= from) continue;
      if (range[0] > from) image.Update(buffer.data() + (from - position), range[0] - from);
      from = std::max(from, range[1]);
    }
    if (block_end > from) image.Update(buffer.data() + (from - position), block_end - from);
    position += read;
  }
  image_digest = image.Finish();
  if (file_sha256) *file_sha256 = whole.HexDigest();
  return !image_digest.empty();
}

std::string SignedImage::FileSha256(HANDLE file, HANDLE cancel) {
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::string();
  CSha256Digest hash;
  std::vector<BYTE> buffer(1 << 20);
  for (;;) {
    if (Stopped(cancel)) return std::string();
    DWORD read = 0;
    const BOOL got =
        ::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
    bytes_read_ += read;
    if (!got) return std::string();
    if (read == 0) break;
    hash.Update(buffer.data(), read);
  }
  return hash.HexDigest();
}
