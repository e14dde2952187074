// Adds a DER certificate to the machine's trusted root store, for the test collector's authority.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  FILE* file = _wfopen(argv[1], L"rb");
  if (!file) return 3;
  std::vector<BYTE> der;
  for (int c; (c = std::fgetc(file)) != EOF;) der.push_back(static_cast<BYTE>(c));
  std::fclose(file);
  if (!::CertAddEncodedCertificateToSystemStoreW(L"ROOT", der.data(),
                                                 static_cast<DWORD>(der.size()))) {
    std::fprintf(stderr, "could not add the certificate: %lu\n", ::GetLastError());
    return 1;
  }
  return 0;
}
