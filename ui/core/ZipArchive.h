// Read-only ZIP archive over a memory block that the caller keeps alive (the skin package).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace ui {

// Only the central directory is trusted for sizes and offsets, and every one of them is checked
// against the block before use, because the bytes may come from anywhere. Stored and deflate
// members are supported; encrypted, multi-disk and ZIP64 archives are treated as unreadable.
class ZipArchive {
 public:
  // Members above this uncompressed size are refused rather than allocated.
  static constexpr uint32_t kMaxMemberSize = 64u * 1024 * 1024;

  struct Member {
    std::wstring name;  // as normalised by NormaliseMemberName
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    uint32_t local_header_offset = 0;
  };

  ZipArchive() = default;
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Indexes the archive in `data`. The block is not copied. The password is kept for a later
  // reader of encrypted members; none are supported now, so it only has to be empty or unused.
  bool Open(const void* data, size_t size, const std::string& password = std::string());
  void Close();
  bool IsOpen() const { return data_ != nullptr; }

  // Case-insensitive; "\\" and "/" are the same separator.
  const Member* Find(const std::wstring& name) const;

  // Inflates a member into `dest`, which must hold exactly its uncompressed size. The CRC is
  // verified, so a damaged member never reaches a caller as if it were whole.
  bool Extract(const Member& member, void* dest, size_t dest_size) const;

  // Reads a member into a new movable global block of its uncompressed size; null on any
  // failure (the block is freed then).
  HGLOBAL ExtractToGlobal(const std::wstring& name) const;

  size_t GetMemberCount() const { return members_.size(); }

  // Member names lose drive letters and leading "\\", "/" and ".."-style parts, so an archive
  // cannot name something outside its own tree; separators become "/".
  static std::wstring NormaliseMemberName(const std::wstring& name);

 private:
  static std::wstring Key(const std::wstring& name);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::string password_;
  std::map<std::wstring, Member> members_;  // keyed by lower-case name
};

}  // namespace ui
