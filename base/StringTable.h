// Key/value tables read from the UTF-8 text files that brand and localise the installer.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace nbase {

// Reads one whole entry (for example L"resources\\product.ini") from the skin package into
// `bytes`. False, or an empty function, means "not there": the caller falls back to the file
// system. Keeping this a plain function lets the configuration code run before, and without,
// the package reader.
using ArchiveReader = std::function<bool(const std::wstring& entry_path, std::string& bytes)>;

// One "key=value" per line; see the .cpp for how lines are cut and cleaned. Keys compare by
// code unit, so lookups are case-sensitive.
class StringTable {
 public:
  StringTable() = default;
  StringTable(const StringTable&) = delete;
  StringTable& operator=(const StringTable&) = delete;

  // Replaces the whole table with the file's content. A file that cannot be opened leaves the
  // table untouched and gives false.
  bool LoadFromFile(const std::wstring& path);

  // Adds the pairs found in a movable global memory block holding the file's bytes; existing
  // keys are overwritten, the rest stay. The block is only locked and read, never freed.
  bool LoadFromMemory(HGLOBAL block);

  // Reads `relative_path` through `reader` when it has the entry (via a movable global block,
  // exactly as the package's entries are handed around), else from the file at that path.
  bool Load(const std::wstring& relative_path, const ArchiveReader& reader);

  // The value with the two-character escapes \r and \n turned into CR and LF; empty when the
  // key is missing.
  std::wstring GetValue(const std::wstring& key) const;

  void Clear() { values_.clear(); }
  size_t Size() const { return values_.size(); }

 private:
  void AddLine(std::string_view utf8_line);

  std::map<std::wstring, std::wstring> values_;
};

}  // namespace nbase
