// PNG screenshots of the skin through the system's image encoder, bound at run time.
#include "tests/resources/Screenshot.h"

#include <string>
#include <vector>

#include "base/SystemLibrary.h"

namespace skin_test {

namespace {

constexpr INT kPixelFormat24bppRgb = 0x21808;
// The PNG encoder of the system's image library.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

using CreateFromScan0Fn = int(WINAPI*)(INT, INT, INT, INT, BYTE*, void**);
using SaveToFileFn = int(WINAPI*)(void*, const WCHAR*, const CLSID*, const void*);
using DisposeFn = int(WINAPI*)(void*);

}  // namespace

bool SavePng(const BYTE* bits, int width, int height, DWORD desktop, const std::wstring& path) {
  auto create =
      nbase::GetSystemFunction<CreateFromScan0Fn>(L"gdiplus.dll", "GdipCreateBitmapFromScan0");
  auto save = nbase::GetSystemFunction<SaveToFileFn>(L"gdiplus.dll", "GdipSaveImageToFile");
  auto dispose = nbase::GetSystemFunction<DisposeFn>(L"gdiplus.dll", "GdipDisposeImage");
  if (!bits || width <= 0 || height <= 0 || !create || !save || !dispose) return false;

  const int stride = (width * 3 + 3) & ~3;
  std::vector<BYTE> rgb(static_cast<size_t>(stride) * height);
  const BYTE back[3] = {static_cast<BYTE>(desktop & 0xFF), static_cast<BYTE>((desktop >> 8) & 0xFF),
                        static_cast<BYTE>((desktop >> 16) & 0xFF)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const BYTE* pixel = bits + (static_cast<size_t>(y) * width + x) * 4;
      BYTE* out = &rgb[static_cast<size_t>(y) * stride + x * 3];
      // Premultiplied source over an opaque desktop.
      for (int c = 0; c < 3; ++c) {
        const int value = pixel[c] + back[c] * (255 - pixel[3]) / 255;
        out[c] = static_cast<BYTE>(value > 255 ? 255 : value);
      }
    }
  }
  void* bitmap = nullptr;
  if (create(width, height, stride, kPixelFormat24bppRgb, rgb.data(), &bitmap) != 0 || !bitmap) {
    return false;
  }
  const bool saved = save(bitmap, path.c_str(), &kPngEncoder, nullptr) == 0;
  dispose(bitmap);
  return saved;
}

std::wstring ScreenshotFolder() {
  const std::string configured = SKIN_SCREENSHOT_DIR;  // a build-tree path, plain ASCII
  std::wstring folder(configured.begin(), configured.end());
  if (!folder.empty() && folder[0] == L'/') folder = L"Z:" + folder;
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace skin_test
