// pkgverify FILE [--publisher NAME --root SHA256] [--sha256 DIGEST]: the installer's package check
// by hand. Prints the signer, the root's SHA-256 and the verdict; exits 0 only for a trusted file.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/StringUtil.h"
#include "installer/trust/PackageVerifier.h"

namespace {

void Print(const std::wstring& text) {
  const std::string narrow = nbase::UTF16ToUTF8(text);
  std::fwrite(narrow.data(), 1, narrow.size(), stdout);
}

int Usage() {
  std::fprintf(stderr,
               "usage: pkgverify FILE [--publisher NAME --root SHA256] [--sha256 DIGEST]\n"
               "  NAME: the signing certificate's subject common name\n"
               "  SHA256: hex SHA-256 of the root certificate the chain must end in\n"
               "  without them, this build's pins are used\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  std::wstring file;
  PackagePins pins;
  pins.publisher = PINNED_PUBLISHER_NAME;
  pins.root_sha256 = PINNED_ROOT_SHA256;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == L"--publisher" && has_value) {
      pins.publisher = argv[++i];
    } else if (arg == L"--root" && has_value) {
      pins.root_sha256 = nbase::UTF16ToUTF8(argv[++i]);
    } else if (arg == L"--sha256" && has_value) {
      pins.file_sha256 = nbase::UTF16ToUTF8(argv[++i]);
    } else if (file.empty() && arg.rfind(L"--", 0) != 0) {
      file = arg;
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();

  nbase::UniqueFileHandle held = HoldPackageFile(file);
  if (!held) {
    std::printf("verdict: not trusted (cannot open the file exclusively, error %lu)\n",
                static_cast<unsigned long>(::GetLastError()));
    return 1;
  }
  const PackageVerdict verdict = PackageVerifier(pins).Verify(held.get(), file);
  Print(L"signer: " + (verdict.signer.empty() ? L"(none)" : verdict.signer) + L"\n");
  std::printf("root sha256: %s\n",
              verdict.root_sha256.empty() ? "(none)" : verdict.root_sha256.c_str());
  if (verdict.trusted) {
    Print(L"verdict: " + verdict.reason + L"\n");
    return 0;
  }
  Print(nbase::StringPrintf(L"verdict: not trusted (0x%08lX): ",
                            static_cast<unsigned long>(verdict.code)) +
        verdict.reason + L"\n");
  return 1;
}
