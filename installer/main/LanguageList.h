// The languages the installer offers and the choice among them, by name or by the exe's name.
#pragma once

#include <map>
#include <string>

#include "base/StringTable.h"

struct LanguageEntry {
  std::wstring name;          // also the folder name of its strings and pictures
  std::wstring display_name;  // as shown in the language list
  std::wstring code;
};

class LanguageList {
 public:
  using Entries = std::map<std::wstring, LanguageEntry>;

  const std::wstring& CurrentName() const { return current_name_; }
  // Empty until a language was first chosen by text.
  Entries GetEntries() const { return entries_; }

  // Applies the first language (in list order) whose code occurs in `text`; otherwise the
  // current language stays. Fills the list first.
  void ChooseByText(const std::wstring& text, nbase::StringTable& language_table,
                    const nbase::ArchiveReader& reader = {});
  // Loads the language's strings into `language_table` (adding to what is there) and makes it
  // current. Names that are not in the list are ignored.
  void Apply(const std::wstring& name, nbase::StringTable& language_table,
             const nbase::ArchiveReader& reader = {});

  // The text the language is chosen by: the last "_" piece of the executable's base name when
  // it has three or more ("stem_installer_de.exe" -> "de"), else "en".
  static std::wstring TextFromExeName();

 private:
  void Fill();

  Entries entries_;
  std::wstring current_name_ = L"English";
};
