// Image-string parsing and decoding of pictures into one GDI bitmap per frame: PNG files by
// the project's own reader, everything else through GDI+.
#include "ui/render/Image.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "base/NumberList.h"
#include "base/UniqueResource.h"
#include "ui/render/Downscale.h"
#include "ui/render/GdiPlusApi.h"
#include "ui/render/PngDecoder.h"
#include "ui/render/Scaling.h"

namespace ui {
namespace {

const GUID kFrameDimensionTime = {
    0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};

using UniqueGpImage = nbase::UniqueResource<gdip::ImageTraits>;

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

bool HasAlphaPixels(gdip::GpBitmap* bitmap, UINT width, UINT height) {
  const gdip::Api& api = gdip::Get();
  const gdip::GpRect rect = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  gdip::BitmapData data = {};
  if (api.GdipBitmapLockBits(bitmap, &rect, gdip::kImageLockModeRead, gdip::kPixelFormat32bppARGB,
                             &data) != gdip::kOk) {
    return false;
  }
  bool found = false;
  for (UINT y = 0; y < data.Height && !found; ++y) {
    const BYTE* row =
        static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
    for (UINT x = 0; x < data.Width; ++x) {
      if (row[x * 4 + 3] != 255) {
        found = true;
        break;
      }
    }
  }
  api.GdipBitmapUnlockBits(bitmap, &data);
  return found;
}

bool DetectAlpha(gdip::GpImage* image, UINT width, UINT height) {
  const gdip::Api& api = gdip::Get();
  gdip::PixelFormat format = 0;
  if (api.GdipGetImagePixelFormat(image, &format) != gdip::kOk) return false;
  if (format & gdip::kPixelFormatIndexed) {
    INT palette_size = 0;
    if (api.GdipGetImagePaletteSize(image, &palette_size) != gdip::kOk ||
        palette_size < static_cast<INT>(sizeof(gdip::ColorPalette))) {
      return false;
    }
    std::vector<BYTE> buffer(static_cast<size_t>(palette_size));
    auto* palette = reinterpret_cast<gdip::ColorPalette*>(buffer.data());
    if (api.GdipGetImagePalette(image, palette, palette_size) != gdip::kOk) return false;
    return (palette->Flags & gdip::kPaletteFlagsHasAlpha) != 0;
  }
  if (format == gdip::kPixelFormat32bppARGB) {
    return HasAlphaPixels(reinterpret_cast<gdip::GpBitmap*>(image), width, height);
  }
  return false;
}

std::unique_ptr<ImageInfo> Decode(gdip::GpBitmap* bitmap, const std::wstring& path) {
  const gdip::Api& api = gdip::Get();
  auto* image = reinterpret_cast<gdip::GpImage*>(bitmap);
  UINT width = 0;
  UINT height = 0;
  if (api.GdipGetImageWidth(image, &width) != gdip::kOk ||
      api.GdipGetImageHeight(image, &height) != gdip::kOk || width == 0 || height == 0) {
    return nullptr;
  }
  UINT frame_count = 0;
  if (api.GdipImageGetFrameCount(image, &kFrameDimensionTime, &frame_count) != gdip::kOk ||
      frame_count == 0) {
    frame_count = 1;
  }
  auto info = std::make_unique<ImageInfo>();
  info->path = path;
  info->width = static_cast<int>(width);
  info->height = static_cast<int>(height);
  if (frame_count > 1) {
    UINT size = 0;
    if (api.GdipGetPropertyItemSize(image, gdip::kPropertyTagFrameDelay, &size) == gdip::kOk &&
        size >= sizeof(gdip::PropertyItem)) {
      std::vector<BYTE> buffer(size);
      auto* item = reinterpret_cast<gdip::PropertyItem*>(buffer.data());
      if (api.GdipGetPropertyItem(image, gdip::kPropertyTagFrameDelay, size, item) == gdip::kOk &&
          item->value) {
        const size_t count = std::min<size_t>(item->length / sizeof(LONG), frame_count);
        const LONG* delays = static_cast<const LONG*>(item->value);
        for (size_t i = 0; i < count; ++i) {
          // The property counts hundredths of a second.
          info->frame_delays_ms.push_back(static_cast<int>(delays[i]) * 10);
        }
      }
    }
  }
  for (UINT frame = 0; frame < frame_count; ++frame) {
    if (frame_count > 1) api.GdipImageSelectActiveFrame(image, &kFrameDimensionTime, frame);
    HBITMAP handle = nullptr;
    if (api.GdipCreateHBITMAPFromBitmap(bitmap, &handle, 0xFF000000) != gdip::kOk || !handle) {
      return nullptr;
    }
    info->frames.emplace_back(handle);
  }
  info->has_alpha = DetectAlpha(image, width, height);
  return info;
}

// Pixels drawn at `drawn_scale` percent shrunk by area to `wanted_scale`; empty when there is
// nothing to reduce.
PixelBuffer ReduceToScale(const PixelBuffer& pixels, int drawn_scale, int wanted_scale) {
  return DownscaleByArea(pixels, ::MulDiv(pixels.width, wanted_scale, drawn_scale),
                         ::MulDiv(pixels.height, wanted_scale, drawn_scale));
}

// The pixels of a picture of one frame reduced to `wanted_scale` of the `drawn_scale` it has;
// empty when there is nothing to reduce.
PixelBuffer Reduce(gdip::GpBitmap* bitmap, int drawn_scale, int wanted_scale) {
  const gdip::Api& api = gdip::Get();
  auto* image = reinterpret_cast<gdip::GpImage*>(bitmap);
  UINT width = 0;
  UINT height = 0;
  UINT frame_count = 1;
  if (api.GdipGetImageWidth(image, &width) != gdip::kOk ||
      api.GdipGetImageHeight(image, &height) != gdip::kOk || width == 0 || height == 0) {
    return PixelBuffer();
  }
  if (api.GdipImageGetFrameCount(image, &kFrameDimensionTime, &frame_count) == gdip::kOk &&
      frame_count > 1) {
    return PixelBuffer();
  }
  PixelBuffer source;
  source.width = static_cast<int>(width);
  source.height = static_cast<int>(height);
  source.bytes.resize(static_cast<size_t>(width) * height * 4);
  const gdip::GpRect rect = {0, 0, source.width, source.height};
  gdip::BitmapData data = {};
  if (api.GdipBitmapLockBits(bitmap, &rect, gdip::kImageLockModeRead, gdip::kPixelFormat32bppARGB,
                             &data) != gdip::kOk) {
    return PixelBuffer();
  }
  for (UINT y = 0; y < height; ++y) {
    const BYTE* row =
        static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
    std::copy(row, row + width * 4, source.bytes.begin() + static_cast<ptrdiff_t>(y) * width * 4);
  }
  api.GdipBitmapUnlockBits(bitmap, &data);
  return ReduceToScale(source, drawn_scale, wanted_scale);
}

std::unique_ptr<ImageInfo> DecodeAtScale(gdip::GpBitmap* bitmap, const std::wstring& path,
                                         int drawn_scale, int wanted_scale) {
  if (wanted_scale < drawn_scale) {
    PixelBuffer reduced = Reduce(bitmap, drawn_scale, wanted_scale);
    gdip::GpBitmap* made = nullptr;
    // The made bitmap reads the buffer in place; decoding copies its pixels out while both live.
    if (!reduced.bytes.empty() &&
        gdip::Get().GdipCreateBitmapFromScan0(reduced.width, reduced.height, reduced.width * 4,
                                              gdip::kPixelFormat32bppARGB, reduced.bytes.data(),
                                              &made) == gdip::kOk &&
        made) {
      UniqueGpImage owned(reinterpret_cast<gdip::GpImage*>(made));
      std::unique_ptr<ImageInfo> info = Decode(made, path);
      if (info) info->scale_percent = wanted_scale;
      return info;
    }
  }
  std::unique_ptr<ImageInfo> info = Decode(bitmap, path);
  if (info) info->scale_percent = drawn_scale;
  return info;
}

// A top-down 32-bit DIB of `width` by `height`, and where its pixels are.
UniqueBitmap CreatePictureBitmap(int width, int height, uint8_t** pixels) {
  BITMAPINFO header = {};
  header.bmiHeader.biSize = sizeof(header.bmiHeader);
  header.bmiHeader.biWidth = width;
  header.bmiHeader.biHeight = -height;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) bitmap.reset();
  *pixels = bitmap ? static_cast<uint8_t*>(bits) : nullptr;
  return bitmap;
}

// Turns straight BGRA pixels into premultiplied ones in place, as GDI+ hands its bitmaps over
// and AlphaBlend reads them; whether any pixel is not opaque.
bool Premultiply(uint8_t* pixels, size_t count) {
  bool has_alpha = false;
  for (size_t i = 0; i < count; ++i) {
    uint8_t* pixel = pixels + i * 4;
    const unsigned alpha = pixel[3];
    // Most pixels are opaque, and a whole opaque background is most of the first paint's
    // decoding: they stay as they are.
    if (alpha == 255) continue;
    has_alpha = true;
    for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uint8_t>((pixel[c] * alpha + 127) / 255);
  }
  return has_alpha;
}

std::unique_ptr<ImageInfo> MakeInfo(UniqueBitmap bitmap, int width, int height, bool has_alpha,
                                    const std::wstring& path) {
  auto info = std::make_unique<ImageInfo>();
  info->path = path;
  info->width = width;
  info->height = height;
  info->has_alpha = has_alpha;
  info->frames.push_back(std::move(bitmap));
  return info;
}

// A picture of one frame from straight BGRA pixels.
std::unique_ptr<ImageInfo> FromPixels(const PixelBuffer& pixels, const std::wstring& path) {
  if (pixels.width <= 0 || pixels.height <= 0) return nullptr;
  uint8_t* out = nullptr;
  UniqueBitmap bitmap = CreatePictureBitmap(pixels.width, pixels.height, &out);
  if (!bitmap) return nullptr;
  std::memcpy(out, pixels.bytes.data(), pixels.bytes.size());
  const bool has_alpha = Premultiply(out, pixels.bytes.size() / 4);
  return MakeInfo(std::move(bitmap), pixels.width, pixels.height, has_alpha, path);
}

// The project's own reading of a PNG file, reduced as DecodeAtScale would; null when the reader
// does not take the file, which then goes to GDI+.
std::unique_ptr<ImageInfo> DecodeOwnPng(HGLOBAL block, const std::wstring& path, int drawn_scale,
                                        int wanted_scale) {
  nbase::ScopedGlobalLock lock(block);
  const auto* data = static_cast<const uint8_t*>(lock.data());
  const size_t size = ::GlobalSize(block);
  if (!LooksLikePng(data, size)) return nullptr;
  if (wanted_scale >= drawn_scale) {
    // Read straight into the bitmap: nothing to reduce, so the picture is never held twice.
    UniqueBitmap bitmap;
    uint8_t* out = nullptr;
    int width = 0;
    int height = 0;
    bool opaque = false;
    const bool read = DecodePngInto(
        data, size,
        [&](int w, int h) {
          width = w;
          height = h;
          bitmap = CreatePictureBitmap(w, h, &out);
          return out;
        },
        &opaque);
    if (!read || !bitmap) return nullptr;
    const bool has_alpha = !opaque && Premultiply(out, size_t(width) * height);
    std::unique_ptr<ImageInfo> info = MakeInfo(std::move(bitmap), width, height, has_alpha, path);
    info->scale_percent = drawn_scale;
    return info;
  }
  PixelBuffer pixels = DecodePng(data, size);
  if (pixels.bytes.empty()) return nullptr;
  int scale = drawn_scale;
  PixelBuffer reduced = ReduceToScale(pixels, drawn_scale, wanted_scale);
  if (!reduced.bytes.empty()) {
    pixels = std::move(reduced);
    scale = wanted_scale;
  }
  std::unique_ptr<ImageInfo> info = FromPixels(pixels, path);
  if (info) info->scale_percent = scale;
  return info;
}

}  // namespace

std::unique_ptr<ImageInfo> ImageInfo::LoadFromMemory(HGLOBAL block, const std::wstring& path,
                                                     int drawn_scale, int wanted_scale) {
  if (!block) return nullptr;
  // The first paint shows only PNG pictures: read here, they need neither GDI+'s codecs nor the
  // COM machinery behind them, whose start costs more than all the decoding.
  if (std::unique_ptr<ImageInfo> own = DecodeOwnPng(block, path, drawn_scale, wanted_scale)) {
    return own;
  }
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return nullptr;
  nbase::ComPtr<IStream> stream;
  // The stream does not own the block: the caller frees it after decoding.
  if (FAILED(::CreateStreamOnHGlobal(block, FALSE, stream.put()))) return nullptr;
  UniqueGpImage image;
  gdip::GpBitmap* bitmap = nullptr;
  if (api.GdipCreateBitmapFromStream(stream.get(), &bitmap) != gdip::kOk || !bitmap) {
    return nullptr;
  }
  image.reset(reinterpret_cast<gdip::GpImage*>(bitmap));
  return DecodeAtScale(bitmap, path, drawn_scale, wanted_scale);
}

std::unique_ptr<ImageInfo> ImageInfo::LoadFromFile(const std::wstring& path, int drawn_scale,
                                                   int wanted_scale) {
  const gdip::Api& api = gdip::Get();
  if (path.empty() || !api.Loaded()) return nullptr;
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
  UniqueGpImage image;
  gdip::GpBitmap* bitmap = nullptr;
  if (api.GdipCreateBitmapFromFile(path.c_str(), &bitmap) != gdip::kOk || !bitmap) {
    return nullptr;
  }
  image.reset(reinterpret_cast<gdip::GpImage*>(bitmap));
  return DecodeAtScale(bitmap, path, drawn_scale, wanted_scale);
}

void ImageAttribute::SetImageString(const std::wstring& image_text, int dest_scale) {
  const std::wstring text = image_text;  // the argument may be this record's own string
  Init();
  image_string = text;
  file = text;
  if (text.find(L'=') == std::wstring::npos) return;  // a bare file name
  file.clear();
  size_t pos = 0;
  const size_t size = text.size();
  for (;;) {
    while (pos < size && IsBlank(text[pos])) ++pos;
    if (pos >= size) break;
    size_t key_start = pos;
    while (pos < size && text[pos] != L'=' && !IsBlank(text[pos])) ++pos;
    const std::wstring key = text.substr(key_start, pos - key_start);
    while (pos < size && IsBlank(text[pos])) ++pos;
    if (key.empty() || pos >= size || text[pos] != L'=') break;
    ++pos;
    while (pos < size && IsBlank(text[pos])) ++pos;
    if (pos >= size || text[pos] != L'\'') break;
    const size_t value_start = ++pos;
    const size_t value_end = text.find(L'\'', value_start);
    if (value_end == std::wstring::npos) break;
    const std::wstring value = text.substr(value_start, value_end - value_start);
    pos = value_end + 1;

    if (key == L"file" || key == L"res") {
      file = value;
    } else if (key == L"destscale") {
      dest_scaled = value == L"true";
    } else if (key == L"dest") {
      if (nbase::ParseRectList(value, &dest) && dest_scaled) ScaleRectByPercent(dest, dest_scale);
    } else if (key == L"source") {
      nbase::ParseRectList(value, &source);
    } else if (key == L"corner") {
      nbase::ParseRectList(value, &corner);
    } else if (key == L"fade") {
      fade = static_cast<BYTE>(std::wcstol(value.c_str(), nullptr, 10));
    } else if (key == L"xtiled") {
      xtiled = value == L"true";
    } else if (key == L"ytiled") {
      ytiled = value == L"true";
    } else if (key == L"playcount") {
      play_count = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
    }
  }
}

void Image::SetImageString(const std::wstring& text, int dest_scale) {
  info_.reset();
  current_frame_ = 0;
  attribute_.SetImageString(text, dest_scale);
}

void Image::Clear() {
  info_.reset();
  current_frame_ = 0;
  attribute_.Init();
}

int Image::GetCurrentFrameDelay() const {
  // Browsers treat delays this short as unset too; playing them literally would spin.
  constexpr int kDefaultDelayMs = 100;
  constexpr int kShortestDelayMs = 20;
  if (!info_ || current_frame_ >= info_->frame_delays_ms.size()) return kDefaultDelayMs;
  const int delay = info_->frame_delays_ms[current_frame_];
  return delay < kShortestDelayMs ? kDefaultDelayMs : delay;
}

}  // namespace ui
