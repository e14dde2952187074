// Helpers shared by the UI framework tests: a ZIP writer, temporary folders and picture writers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/WindowInput.h"

namespace ui_test {

// A small seeded generator (xorshift), so a generated case reproduces from its seed.
class Random {
 public:
  explicit Random(uint32_t state = 0x2545F491) : state_(state) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  size_t Below(size_t n) { return n ? Next() % n : 0; }

 private:
  uint32_t state_;
};

struct ZipEntry {
  std::string name;
  std::string data;
  bool deflate = false;
};

// A well-formed archive with the given members, compressed by zlib where asked.
std::string MakeZip(const std::vector<ZipEntry>& entries);

// Registers named text colors ("#AARRGGBB") with the global manager, as a skin's global file does.
void AddTextColors(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> colors);

// A fresh folder under the temp path, ending in "\\".
std::wstring MakeTempFolder(const wchar_t* tag);
bool WriteFile(const std::wstring& path, const std::string& bytes);

// An animated GIF of width × height whose frame i is filled with palette[frames[i]] (0xRRGGBB;
// at most four colors), each frame shown for `delay_cs` hundredths of a second, looping.
std::string MakeGif(int width, int height, const std::vector<DWORD>& palette,
                    const std::vector<int>& frames, int delay_cs);

// An RGBA PNG whose pixel (x, y) is rgba(x, y) as 0xAARRGGBB.
std::string MakePng(int width, int height, const std::function<DWORD(int, int)>& argb);

// A 24-bit bottom-up BMP whose pixel (x, y) is color(x, y) as 0xRRGGBB.
template <typename ColorFn>
std::string MakeBmp(int width, int height, ColorFn color) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = static_cast<DWORD>(stride * height);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + info.biSizeImage;
  std::string out(reinterpret_cast<const char*>(&file), sizeof(file));
  out.append(reinterpret_cast<const char*>(&info), sizeof(info));
  std::string pixels(info.biSizeImage, '\0');
  for (int y = 0; y < height; ++y) {
    const int row = height - 1 - y;
    for (int x = 0; x < width; ++x) {
      const DWORD rgb = color(x, y);
      pixels[row * stride + x * 3 + 0] = static_cast<char>(rgb & 0xFF);
      pixels[row * stride + x * 3 + 1] = static_cast<char>((rgb >> 8) & 0xFF);
      pixels[row * stride + x * 3 + 2] = static_cast<char>((rgb >> 16) & 0xFF);
    }
  }
  return out + pixels;
}

}  // namespace ui_test
