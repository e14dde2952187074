// ZIP central-directory reader with bounds-checked access and zlib inflate of deflate members.
#include "ui/core/ZipArchive.h"

#include <zlib.h>

#include <cstring>
#include <cwctype>
#include <vector>

#include "ui/render/GdiHandles.h"

namespace ui {
namespace {

constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr uint32_t kDirectoryEntrySignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kEndOfDirectorySize = 22;
constexpr size_t kDirectoryEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8Names = 0x0800;

uint16_t Read16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// True when [offset, offset + length) lies inside a block of `size` bytes, without overflow.
bool InBounds(size_t size, size_t offset, size_t length) {
  return offset <= size && length <= size - offset;
}

std::wstring DecodeName(const uint8_t* bytes, size_t length, bool utf8) {
  if (length == 0) return std::wstring();
  // Without the UTF-8 flag the format says code page 437.
  const UINT code_page = utf8 ? CP_UTF8 : 437;
  const int count = ::MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(bytes),
                                          static_cast<int>(length), nullptr, 0);
  if (count <= 0) return std::wstring();
  std::wstring name(static_cast<size_t>(count), L'\0');
  ::MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(bytes),
                        static_cast<int>(length), &name[0], count);
  return name;
}

}  // namespace

std::wstring ZipArchive::NormaliseMemberName(const std::wstring& name) {
  std::wstring path = name;
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  // A drive letter ("C:") never belongs to a member of ours.
  if (path.size() >= 2 && path[1] == L':') path.erase(0, 2);
  std::wstring out;
  size_t pos = 0;
  bool leading = true;
  while (pos <= path.size()) {
    size_t slash = path.find(L'/', pos);
    if (slash == std::wstring::npos) slash = path.size();
    const std::wstring part = path.substr(pos, slash - pos);
    const bool is_dots = !part.empty() && part.find_first_not_of(L'.') == std::wstring::npos;
    if (part.empty() || (leading && is_dots)) {
      // skipped: empty components and leading "." / ".." parts
    } else {
      leading = false;
      if (!out.empty()) out += L'/';
      out += part;
    }
    pos = slash + 1;
  }
  return out;
}

std::wstring ZipArchive::Key(const std::wstring& name) {
  std::wstring key = NormaliseMemberName(name);
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
  return key;
}

bool ZipArchive::Open(const void* data, size_t size, const std::string& password) {
  Close();
  if (!data || size < kEndOfDirectorySize) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);

  // The end record sits in the last 22 bytes plus a comment of at most 65535 bytes.
  size_t end_record = SIZE_MAX;
  const size_t lowest =
      size > kEndOfDirectorySize + 0xFFFF ? size - kEndOfDirectorySize - 0xFFFF : 0;
  for (size_t at = size - kEndOfDirectorySize + 1; at-- > lowest;) {
    if (Read32(bytes + at) == kEndOfDirectorySignature) {
      end_record = at;
      break;
    }
  }
  if (end_record == SIZE_MAX) return false;
  const uint8_t* end = bytes + end_record;
  const uint16_t disk = Read16(end + 4);
  const uint16_t directory_disk = Read16(end + 6);
  const uint16_t entry_count = Read16(end + 10);
  const uint32_t directory_size = Read32(end + 12);
  const uint32_t directory_offset = Read32(end + 16);
  if (disk != 0 || directory_disk != 0) return false;
  if (!InBounds(end_record, directory_offset, directory_size)) return false;

  std::map<std::wstring, Member> members;
  size_t at = directory_offset;
  const size_t directory_end = static_cast<size_t>(directory_offset) + directory_size;
  for (uint16_t i = 0; i < entry_count; ++i) {
    if (!InBounds(directory_end, at, kDirectoryEntrySize)) return false;
    const uint8_t* entry = bytes + at;
    if (Read32(entry) != kDirectoryEntrySignature) return false;
    Member member;
    member.flags = Read16(entry + 8);
    member.method = Read16(entry + 10);
    member.crc = Read32(entry + 16);
    member.compressed_size = Read32(entry + 20);
    member.uncompressed_size = Read32(entry + 24);
    const uint16_t name_length = Read16(entry + 28);
    const uint16_t extra_length = Read16(entry + 30);
    const uint16_t comment_length = Read16(entry + 32);
    member.local_header_offset = Read32(entry + 42);
    const size_t record = kDirectoryEntrySize + name_length + extra_length + comment_length;
    if (!InBounds(directory_end, at, record)) return false;
    member.name = NormaliseMemberName(
        DecodeName(entry + kDirectoryEntrySize, name_length, (member.flags & kFlagUtf8Names) != 0));
    at += record;
    // Folders and nameless entries carry nothing to read.
    if (member.name.empty() || name_length == 0 ||
        entry[kDirectoryEntrySize + name_length - 1] == '/') {
      continue;
    }
    std::wstring key = Key(member.name);
    members.emplace(std::move(key), std::move(member));  // the first of two equal names wins
  }
  data_ = bytes;
  size_ = size;
  password_ = password;
  members_ = std::move(members);
  return true;
}

void ZipArchive::Close() {
  data_ = nullptr;
  size_ = 0;
  password_.clear();
  members_.clear();
}

const ZipArchive::Member* ZipArchive::Find(const std::wstring& name) const {
  if (!data_) return nullptr;
  const auto found = members_.find(Key(name));
  return found == members_.end() ? nullptr : &found->second;
}

bool ZipArchive::Extract(const Member& member, void* dest, size_t dest_size) const {
  if (!data_ || dest_size != member.uncompressed_size) return false;
  if (member.uncompressed_size > kMaxMemberSize) return false;
  if (member.flags & kFlagEncrypted) return false;
  if (!InBounds(size_, member.local_header_offset, kLocalHeaderSize)) return false;
  const uint8_t* local = data_ + member.local_header_offset;
  if (Read32(local) != kLocalHeaderSignature) return false;
  const size_t payload = static_cast<size_t>(member.local_header_offset) + kLocalHeaderSize +
                         Read16(local + 26) + Read16(local + 28);
  if (!InBounds(size_, payload, member.compressed_size)) return false;
  const uint8_t* source = data_ + payload;

  if (member.method == kMethodStored) {
    if (member.compressed_size != member.uncompressed_size) return false;
    if (dest_size) std::memcpy(dest, source, dest_size);
  } else if (member.method == kMethodDeflate) {
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(source);
    stream.avail_in = member.compressed_size;
    stream.next_out = static_cast<Bytef*>(dest);
    stream.avail_out = static_cast<uInt>(dest_size);
    const int result = inflate(&stream, Z_FINISH);
    const uLong produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != dest_size) return false;
  } else {
    return false;
  }
  const uLong crc =
      crc32(crc32(0L, Z_NULL, 0), static_cast<const Bytef*>(dest), static_cast<uInt>(dest_size));
  return crc == member.crc;
}

HGLOBAL ZipArchive::ExtractToGlobal(const std::wstring& name) const {
  const Member* member = Find(name);
  if (!member || member->uncompressed_size > kMaxMemberSize) return nullptr;
  // A zero-size block cannot be locked, so empty members get one spare byte.
  const size_t size = member->uncompressed_size;
  UniqueGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, size ? size : 1));
  if (!block) return nullptr;
  {
    ScopedGlobalLock lock(block.get());
    if (!lock.data() || !Extract(*member, lock.data(), size)) return nullptr;
  }
  return block.release();
}

}  // namespace ui
