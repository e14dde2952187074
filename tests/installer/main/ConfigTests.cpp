// Tests of product.ini, the install paths derived from it, and the choice of language.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <map>
#include <string>

#include "base/StringUtil.h"
#include "installer/main/LanguageList.h"
#include "installer/main/ProductInfo.h"
#include "installer/main/SystemUtil.h"
#include "tests/installer/main/FrameTestSupport.h"

namespace {

using frame_test::ScratchFolder;

// A stand-in for the skin package holding the given entries.
nbase::ArchiveReader Package(std::map<std::wstring, std::string> entries) {
  return [entries](const std::wstring& path, std::string& bytes) {
    auto found = entries.find(path);
    if (found != entries.end()) bytes = found->second;
    return found != entries.end();
  };
}

const nbase::ArchiveReader kProductPackage = Package(
    {{L"resources\\product.ini",
      "\xEF\xBB\xBF;product settings\r\nBRAND_NAME=Nolt\r\nPRODUCT_NAME = Clipmint\r\n"
      "PROCESS_NAME=Minteo.exe\r\nGA_EC=Nolt_Clipmint\r\nGA_EN=Clipmint_Free_Installer\r\n"}});

const nbase::ArchiveReader kLanguagePackage =
    Package({{L"resources\\lang\\English\\gdstrings.ini", "LANG=English\nONLY_EN=1\n"},
             {L"resources\\lang\\German\\gdstrings.ini", "LANG=Deutsch\n"}});

TEST(ProductInfoTest, ReadsFromPackageElseFromWorkingFolder) {
  ProductInfo info;
  ASSERT_TRUE(info.Read(kProductPackage));
  EXPECT_EQ(L"Minteo.exe", info.ProcessName());
  EXPECT_EQ(L"Clipmint_Free_Installer", info.AnalyticsPrefix());
  EXPECT_EQ(L"Nolt Clipmint", info.DisplayName());

  ScratchFolder folder(L"product");
  ::CreateDirectoryW((folder.path() + L"resources").c_str(), nullptr);
  frame_test::WriteAll(folder.path() + L"resources\\product.ini", "BRAND_NAME=Other\n");
  wchar_t saved[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, saved);
  ::SetCurrentDirectoryW(folder.path().c_str());
  EXPECT_TRUE(info.Read());
  ::SetCurrentDirectoryW(saved);
  EXPECT_EQ(L"Other", info.BrandName());
  EXPECT_EQ(L"", info.ProcessName());
}

TEST(ProductInfoTest, DerivesNormalisedInstallPaths) {
  ProductInfo info;
  ASSERT_TRUE(info.Read(kProductPackage));
  // The system's own Program Files, where the package for this system installs: on a 64-bit
  // system the 64-bit one, read from the 64-bit registry view even by a 32-bit build.
  wchar_t program_files[MAX_PATH] = {};
  DWORD size = sizeof(program_files) - sizeof(wchar_t);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key));
  ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key, L"ProgramFilesDir", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(program_files), &size));
  ::RegCloseKey(key);
  EXPECT_EQ(std::wstring(program_files) + L"\\Nolt\\Nolt Clipmint", info.DefaultInstallFolder());

  info.SetInstallFolder(L"D:/Apps//Nolt\\\\\\Clip");
  EXPECT_EQ(L"D:\\Apps\\Nolt\\Clip\\", info.InstallFolder());
  info.SetInstallFolder(L"D:\\Apps\\");
  EXPECT_EQ(L"D:\\Apps\\Minteo.exe", info.ProductExePath());

  ScratchFolder folder(L"marker");
  info.SetInstallFolder(folder.path() + L"Nolt/Nolt Clipmint");
  EXPECT_EQ(folder.path() + L"Nolt\\Nolt Clipmint\\cache\\language", info.LanguageMarkerPath());
  EXPECT_TRUE(sysutil::IsDirectory(folder.path() + L"Nolt\\Nolt Clipmint\\cache"));
}

TEST(LanguageListTest, ChoosesFirstListedLanguageWhoseCodeOccurs) {
  LanguageList list;
  nbase::StringTable table;
  list.ChooseByText(L"en", table, kLanguagePackage);
  list.ChooseByText(L"deu", table, kLanguagePackage);
  EXPECT_EQ(L"German", list.CurrentName());
  EXPECT_EQ(L"Deutsch", table.GetValue(L"LANG"));
  EXPECT_EQ(L"1", table.GetValue(L"ONLY_EN"));  // a package load adds to the table
  list.Apply(L"French", table, kLanguagePackage);
  EXPECT_EQ(L"German", list.CurrentName());
  list.ChooseByText(L"de_en", table, kLanguagePackage);
  EXPECT_EQ(L"English", list.CurrentName());
}

TEST_CHILD(language_from_name) {
  LanguageList list;
  nbase::StringTable table;
  const std::wstring text = LanguageList::TextFromExeName();
  list.ChooseByText(text, table, kLanguagePackage);
  const std::wstring report =
      sysutil::GetExeBaseName() + L"|" + text + L"|" + table.GetValue(L"LANG");
  return frame_test::WriteAll(nbase::UTF8ToUTF16(argv[0]), nbase::UTF16ToUTF8(report)) ? 0 : 1;
}

TEST(LanguageListTest, ExecutableNameGivesBaseNameAndLanguage) {
  ScratchFolder folder(L"names");
  const std::wstring report = folder.path() + L"report.txt";
  const std::map<std::wstring, std::string> expected = {
      {L"stem_installer_de.exe", "stem_installer_de|de|Deutsch"},
      {L"stem_installer_fr.exe", "stem_installer_fr|fr|"},  // nothing loaded, English stays
      {L"stem_installer_deu.exe", "stem_installer_deu|deu|Deutsch"},
      {L"stem.x.exe", "stem.x.exe|en|English"},  // the whole name: never an unnamed instance
      {L"stem_de.exe", "stem_de|en|English"},
      {L"Stem_Installer_DE.exe", "Stem_Installer_DE|de|Deutsch"},
      {L"stem_installer_1.2.exe", "stem_installer_1.2.exe|1.2.exe|"},
  };
  for (const auto& [name, result] : expected) {
    ::DeleteFileW(report.c_str());
    const auto run = testing_support::RunProgram(folder.CopySelfAs(name),
                                                 L"--child language_from_name \"" + report + L"\"");
    ASSERT_TRUE(run.started && !run.timed_out)
        << nbase::UTF16ToUTF8(name) << ": copy error " << folder.copy_error() << ", start error "
        << run.start_error << (run.timed_out ? ", timed out" : "");
    EXPECT_EQ(result, frame_test::ReadAll(report)) << nbase::UTF16ToUTF8(name);
  }
}

}  // namespace
