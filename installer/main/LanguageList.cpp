// Language choice: the fixed list of offered languages and the loading of their strings.
#include "installer/main/LanguageList.h"

#include <vector>

#include "base/StringUtil.h"
#include "installer/main/SystemUtil.h"

void LanguageList::Fill() {
  if (!entries_.empty()) return;
  entries_[L"English"] = {L"English", L"English", L"en"};
  entries_[L"German"] = {L"German", L"Deutsch", L"de"};
}

void LanguageList::ChooseByText(const std::wstring& text, nbase::StringTable& language_table,
                                const nbase::ArchiveReader& reader) {
  Fill();
  if (text.empty()) return;
  for (const auto& [name, entry] : entries_) {
    // A plain substring test, so "deu" or "de-AT" select German as well.
    if (text.find(entry.code) != std::wstring::npos) {
      Apply(name, language_table, reader);
      return;
    }
  }
}

void LanguageList::Apply(const std::wstring& name, nbase::StringTable& language_table,
                         const nbase::ArchiveReader& reader) {
  auto found = entries_.find(name);
  if (found == entries_.end()) return;
  const std::wstring folder = L"lang\\" + found->second.name;
  // A missing file leaves the table as it was; the choice still counts, because the name is
  // what the installed product is told.
  language_table.Load(L"resources\\" + folder + L"\\gdstrings.ini", reader);
  current_name_ = name;
}

std::wstring LanguageList::TextFromExeName() {
  std::wstring name = sysutil::GetExeBaseName();
  // "_DE" and "_de" name the same language.
  if (!name.empty()) ::CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
  const std::vector<std::wstring> pieces = nbase::Split(name, L"_");
  return pieces.size() >= 3 ? pieces.back() : std::wstring(L"en");
}
