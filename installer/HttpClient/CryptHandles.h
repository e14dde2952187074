// The one RAII policy for CryptoAPI's provider and hash handles, which every digest shares.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "base/UniqueResource.h"

struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};

// A hash must be destroyed before its provider is released: declare the provider first.
using UniqueCryptProvider = nbase::UniqueResource<CryptProviderTraits>;
using UniqueCryptHash = nbase::UniqueResource<CryptHashTraits>;
