// Adds a DER certificate to a trusted root store: the user's (the test collector's authority) or,
// with --machine, the machine's (the package signing authority, which only counts there).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  const bool machine = argc == 3 && std::wcscmp(argv[1], L"--machine") == 0;
  if (argc != 2 && !machine) return 2;
  FILE* file = _wfopen(argv[argc - 1], L"rb");
  if (!file) return 3;
  std::vector<BYTE> der;
  for (int c; (c = std::fgetc(file)) != EOF;) der.push_back(static_cast<BYTE>(c));
  std::fclose(file);
  if (!machine) {
    if (!::CertAddEncodedCertificateToSystemStoreW(L"ROOT", der.data(),
                                                   static_cast<DWORD>(der.size()))) {
      std::fprintf(stderr, "could not add the certificate: %lu\n", ::GetLastError());
      return 1;
    }
    return 0;
  }
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "could not open the machine's root store: %lu\n", ::GetLastError());
    return 1;
  }
  const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = ::GetLastError();
  ::CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "could not add the certificate: %lu\n", error);
    return 1;
  }
  return 0;
}
