// The product's identity read from product.ini, and the install paths derived from it.
#pragma once

#include <string>

#include "base/StringTable.h"

// The process-wide table product.ini is loaded into.
nbase::StringTable& ProductTable();

class ProductInfo {
 public:
  // Loads "resources\\product.ini" (from the package when `reader` has it, else from the file
  // relative to the working folder) into the product table and takes the fields from it.
  // False when neither source had the file; the fields then come from whatever the table held.
  bool Read(const nbase::ArchiveReader& reader = {});

  const std::wstring& BrandName() const { return brand_name_; }
  const std::wstring& ProductName() const { return product_name_; }
  // File name of the product's main executable.
  const std::wstring& ProcessName() const { return process_name_; }
  const std::wstring& AnalyticsCategory() const { return analytics_category_; }
  const std::wstring& AnalyticsPrefix() const { return analytics_prefix_; }
  const std::wstring& InstallFolder() const { return install_folder_; }
  // Who must have signed the full setup package (see the package verifier's pins).
  const std::wstring& PublisherName() const { return publisher_name_; }
  const std::wstring& PublisherRootSha256() const { return publisher_root_sha256_; }

  // Brand and product, as the user sees them and as the last folder of the install path.
  std::wstring DisplayName() const;
  // "<Program Files>\\<brand>\\<display name>", the system's own Program Files on a 64-bit
  // system (where the 64-bit package is installed), even from this 32-bit process.
  std::wstring DefaultInstallFolder() const;
  // Stores the folder with "\\" separators only, none doubled, ending in exactly one "\\".
  void SetInstallFolder(const std::wstring& folder);
  std::wstring ProductExePath() const;
  // "<install folder>\\cache\\language"; creates the cache folder on the way, because the
  // caller writes the file right after.
  std::wstring LanguageMarkerPath() const;

 private:
  std::wstring brand_name_;
  std::wstring product_name_;
  std::wstring process_name_;
  std::wstring analytics_category_;
  std::wstring analytics_prefix_;
  std::wstring install_folder_;
  std::wstring publisher_name_;
  std::wstring publisher_root_sha256_;
};
