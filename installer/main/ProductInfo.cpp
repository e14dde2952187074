// Reads product.ini and builds the install folder, executable and language marker paths.
#include "installer/main/ProductInfo.h"

#include "base/StringUtil.h"
#include "installer/main/SystemUtil.h"

namespace {

std::wstring WithTrailingBackslash(const std::wstring& folder) {
  if (!folder.empty() && folder.back() == L'\\') return folder;
  return folder + L'\\';
}

}  // namespace

nbase::StringTable& ProductTable() {
  static nbase::StringTable* table = new nbase::StringTable();
  return *table;
}

bool ProductInfo::Read(const nbase::ArchiveReader& reader) {
  nbase::StringTable& table = ProductTable();
  const bool loaded = table.Load(L"resources\\product.ini", reader);
  brand_name_ = table.GetValue(L"BRAND_NAME");
  product_name_ = table.GetValue(L"PRODUCT_NAME");
  process_name_ = table.GetValue(L"PROCESS_NAME");
  analytics_category_ = table.GetValue(L"GA_EC");
  analytics_prefix_ = table.GetValue(L"GA_EN");
  publisher_name_ = table.GetValue(L"PUBLISHER_NAME");
  publisher_root_sha256_ = table.GetValue(L"PUBLISHER_ROOT_SHA256");
  return loaded;
}

std::wstring ProductInfo::DisplayName() const {
  return brand_name_ + L" " + product_name_;
}

std::wstring ProductInfo::DefaultInstallFolder() const {
  // The Program Files folder already ends in "/".
  std::wstring folder =
      sysutil::GetNativeProgramFilesFolder() + brand_name_ + L"\\" + DisplayName();
  nbase::ReplaceAll(folder, L"/", L"\\");
  return folder;
}

void ProductInfo::SetInstallFolder(const std::wstring& folder) {
  std::wstring normalised = folder;
  if (!normalised.empty()) {
    // The appended separators guarantee exactly one trailing backslash after collapsing.
    normalised += L"//";
    nbase::ReplaceAll(normalised, L"/", L"\\");
    while (normalised.find(L"\\\\") != std::wstring::npos) {
      nbase::ReplaceAll(normalised, L"\\\\", L"\\");
    }
  }
  install_folder_ = normalised;
}

std::wstring ProductInfo::ProductExePath() const {
  std::wstring path = WithTrailingBackslash(install_folder_) + process_name_;
  nbase::ReplaceAll(path, L"/", L"\\");
  return path;
}

std::wstring ProductInfo::LanguageMarkerPath() const {
  std::wstring path = WithTrailingBackslash(install_folder_) + L"cache";
  sysutil::ShellCreateDirectory(path);
  path += L"\\language";
  nbase::ReplaceAll(path, L"/", L"\\");
  return path;
}
