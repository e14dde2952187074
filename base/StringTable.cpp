// Parser of the installer's key/value text files, from disk or from a package entry in memory.
#include "base/StringTable.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/StringUtil.h"
#include "base/UniqueResource.h"

namespace nbase {
namespace {

// Files are read as if through a 4096-byte line buffer: a longer line arrives in pieces of
// 4095 bytes, and each piece is parsed as a line of its own.
constexpr size_t kLineBufferSize = 4096;

// Control characters below 30 and the blank go; 30 and 31 are deliberately kept.
bool IsTrimmed(wchar_t c) {
  return c < 30 || c == L' ';
}

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

void StringTable::AddLine(std::string_view utf8_line) {
  const std::wstring line = Trim(UTF8ToUTF16(utf8_line));
  if (line.empty()) return;
  // Doubled, leading and trailing "=" collapse, so a value can never hold one.
  const std::vector<std::wstring> pieces = Split(line, L"=");
  if (pieces.size() != 2) return;
  std::wstring key = Trim(pieces[0]);
  std::wstring value = Trim(pieces[1]);
  if (key.find(L';') != std::wstring::npos) return;
  values_[std::move(key)] = std::move(value);
}

bool StringTable::LoadFromFile(const std::wstring& path) {
  // Binary mode: lines end at LF and a trailing CR is trimmed like any control character.
  UniqueStdioFile file(::_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  values_.clear();

  std::string piece;
  piece.reserve(kLineBufferSize);
  // Parsed as a C string, so a stray NUL hides the rest of its piece, as it would on disk.
  auto flush = [this, &piece] {
    AddLine(std::string_view(piece.c_str(), std::strlen(piece.c_str())));
    piece.clear();
  };
  char chunk[16384];
  size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) {
    for (size_t i = 0; i < read; ++i) {
      piece.push_back(chunk[i]);
      if (chunk[i] == '\n' || piece.size() == kLineBufferSize - 1) flush();
    }
  }
  if (!piece.empty()) flush();
  return true;
}

bool StringTable::LoadFromMemory(HGLOBAL block) {
  if (!block) return false;
  const SIZE_T size = ::GlobalSize(block);
  ScopedGlobalLock lock(block);
  if (!lock.data()) return false;
  // The block may end without a line end; NUL separates lines as well as LF.
  std::string bytes(static_cast<const char*>(lock.data()), size);
  bytes.push_back('\n');
  for (const std::string& line : Split(bytes, std::string_view("\n\0", 2))) AddLine(line);
  return true;
}

bool StringTable::Load(const std::wstring& relative_path, const ArchiveReader& reader) {
  std::string bytes;
  if (!reader || !reader(relative_path, bytes)) return LoadFromFile(relative_path);
  // Zeroed so that any slack the allocator adds reads as line ends, never as text.
  UniqueGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size() + 1));
  if (!block) return false;
  {
    ScopedGlobalLock lock(block.get());
    if (!lock.data()) return false;
    std::memcpy(lock.data(), bytes.data(), bytes.size());
  }
  return LoadFromMemory(block.get());
}

std::wstring StringTable::GetValue(const std::wstring& key) const {
  auto found = values_.find(key);
  if (found == values_.end()) return std::wstring();
  std::wstring value = found->second;
  ReplaceAll(value, L"\\r", L"\r");
  ReplaceAll(value, L"\\n", L"\n");
  return value;
}

}  // namespace nbase
