// PNG reading: chunks, inflation, the five row filters and conversion to straight BGRA.
#include "ui/render/PngDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace ui {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Far beyond any skin picture; it bounds what a damaged header can make this allocate.
constexpr uint32_t kLargestSide = 16384;
constexpr uint64_t kLargestPixelCount = uint64_t{1} << 24;

enum ColorType : uint8_t { kGray = 0, kRgb = 2, kPalette = 3, kGrayAlpha = 4, kRgba = 6 };

uint32_t ReadBigEndian(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

struct Header {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t depth = 0;
  uint8_t color = 0;
  int channels = 0;
};

bool ReadHeader(const uint8_t* data, uint32_t length, Header* header) {
  if (length != 13) return false;
  header->width = ReadBigEndian(data);
  header->height = ReadBigEndian(data + 4);
  header->depth = data[8];
  header->color = data[9];
  // Compression, filter method and interlacing: only the one of each every encoder writes.
  if (data[10] != 0 || data[11] != 0 || data[12] != 0) return false;
  if (header->width == 0 || header->height == 0 || header->width > kLargestSide ||
      header->height > kLargestSide ||
      uint64_t{header->width} * header->height > kLargestPixelCount) {
    return false;
  }
  const uint8_t depth = header->depth;
  switch (header->color) {
    case kGray:
    case kPalette:
      header->channels = 1;
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
      header->channels = 3;
      return depth == 8;
    case kGrayAlpha:
      header->channels = 2;
      return depth == 8;
    case kRgba:
      header->channels = 4;
      return depth == 8;
    default:
      return false;
  }
}

uint8_t Paeth(int left, int up, int up_left) {
  const int estimate = left + up - up_left;
  const int to_left = std::abs(estimate - left);
  const int to_up = std::abs(estimate - up);
  const int to_up_left = std::abs(estimate - up_left);
  if (to_left <= to_up && to_left <= to_up_left) return static_cast<uint8_t>(left);
  return static_cast<uint8_t>(to_up <= to_up_left ? up : up_left);
}

// Undoes one row's filter in place; `up` is the row above as already unfiltered (zeros above
// the first).
bool UnfilterRow(uint8_t filter, uint8_t* line, const uint8_t* up, size_t stride,
                 size_t pixel_bytes) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (size_t i = pixel_bytes; i < stride; ++i) line[i] += line[i - pixel_bytes];
      return true;
    case 2:
      for (size_t i = 0; i < stride; ++i) line[i] += up[i];
      return true;
    case 3:
      for (size_t i = 0; i < stride; ++i) {
        const int left = i >= pixel_bytes ? line[i - pixel_bytes] : 0;
        line[i] += static_cast<uint8_t>((left + up[i]) / 2);
      }
      return true;
    case 4:
      for (size_t i = 0; i < stride; ++i) {
        const int left = i >= pixel_bytes ? line[i - pixel_bytes] : 0;
        const int up_left = i >= pixel_bytes ? up[i - pixel_bytes] : 0;
        line[i] += Paeth(left, up[i], up_left);
      }
      return true;
    default:
      return false;
  }
}

// The compressed rows, inflated one at a time: a picture is never held twice while it is read.
class RowInflater {
 public:
  explicit RowInflater(const std::vector<uint8_t>& compressed) {
    started_ = inflateInit(&stream_) == Z_OK;
    // Every chunk's checksum has been checked over the compressed bytes already; the stream's
    // own sum over the inflated ones would only read the picture once more.
    if (started_) inflateValidate(&stream_, 0);
    stream_.next_in = const_cast<Bytef*>(compressed.data());
    stream_.avail_in = static_cast<uInt>(compressed.size());
  }
  ~RowInflater() {
    if (started_) inflateEnd(&stream_);
  }
  RowInflater(const RowInflater&) = delete;
  RowInflater& operator=(const RowInflater&) = delete;

  // Fills `row` whole; false when the data ends first or is damaged. What follows the last row
  // is not read.
  bool Next(uint8_t* row, size_t size) {
    if (!started_) return false;
    stream_.next_out = row;
    stream_.avail_out = static_cast<uInt>(size);
    while (stream_.avail_out > 0) {
      const uInt out_before = stream_.avail_out;
      const uInt in_before = stream_.avail_in;
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (stream_.avail_out == 0) return true;
      if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) return false;
      // No step forward: the data ran out, or the stream cannot go on.
      if (stream_.avail_out == out_before && stream_.avail_in == in_before) return false;
    }
    return true;
  }

 private:
  z_stream stream_ = {};
  bool started_ = false;
};

// The sample of `depth` bits at index `x` of a row of packed samples.
uint8_t PackedSample(const uint8_t* line, uint32_t x, uint8_t depth) {
  if (depth == 8) return line[x];
  const uint32_t per_byte = 8u / depth;
  const uint32_t shift = 8u - depth * (x % per_byte + 1);
  return static_cast<uint8_t>((line[x / per_byte] >> shift) & ((1u << depth) - 1));
}

}  // namespace

bool LooksLikePng(const uint8_t* data, size_t size) {
  return data && size >= sizeof(kSignature) &&
         std::memcmp(data, kSignature, sizeof(kSignature)) == 0;
}

bool DecodePngInto(const uint8_t* data, size_t size,
                   const std::function<uint8_t*(int width, int height)>& target, bool* opaque) {
  if (!LooksLikePng(data, size)) return false;
  Header header;
  bool have_header = false;
  bool ended = false;
  uint8_t palette[256][4] = {};
  size_t palette_size = 0;
  bool have_key = false;
  uint16_t key[3] = {};  // the one transparent gray level or colour of a file without alpha
  std::vector<uint8_t> compressed;
  size_t at = sizeof(kSignature);
  while (!ended) {
    if (size - at < 12) return false;
    const uint32_t length = ReadBigEndian(data + at);
    if (length > size - at - 12) return false;
    const uint8_t* type = data + at + 4;
    const uint8_t* body = data + at + 8;
    const uint32_t crc = ReadBigEndian(body + length);
    if (crc32(crc32(0L, Z_NULL, 0), type, length + 4) != crc) return false;
    at += size_t{length} + 12;
    const bool first = !have_header;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (!first || !ReadHeader(body, length, &header)) return false;
      have_header = true;
      continue;
    }
    if (first) return false;
    if (std::memcmp(type, "PLTE", 4) == 0) {
      if (length % 3 != 0 || length / 3 > 256 || length == 0 || palette_size) return false;
      palette_size = length / 3;
      for (size_t i = 0; i < palette_size; ++i) {
        palette[i][0] = body[i * 3 + 2];
        palette[i][1] = body[i * 3 + 1];
        palette[i][2] = body[i * 3];
        palette[i][3] = 255;
      }
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      if (header.color == kPalette) {
        if (length > palette_size) return false;
        for (uint32_t i = 0; i < length; ++i) palette[i][3] = body[i];
      } else if (header.color == kGray && length == 2) {
        have_key = true;
        key[0] = static_cast<uint16_t>((body[0] << 8) | body[1]);
      } else if (header.color == kRgb && length == 6) {
        have_key = true;
        for (int i = 0; i < 3; ++i) {
          key[i] = static_cast<uint16_t>((body[i * 2] << 8) | body[i * 2 + 1]);
        }
      } else {
        return false;
      }
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      compressed.insert(compressed.end(), body, body + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      ended = true;
    } else if (!(type[0] & 0x20)) {
      return false;  // a critical chunk this reader does not know
    }
  }
  if (compressed.empty() || (header.color == kPalette && palette_size == 0)) return false;

  const size_t bits_per_pixel = size_t{header.depth} * header.channels;
  const size_t stride = (header.width * bits_per_pixel + 7) / 8;
  const size_t pixel_bytes = std::max<size_t>(1, bits_per_pixel / 8);
  if (opaque) {
    bool see_through = header.color == kGrayAlpha || header.color == kRgba || have_key;
    for (size_t i = 0; i < palette_size && !see_through; ++i) see_through = palette[i][3] != 255;
    *opaque = !see_through;
  }
  uint8_t* const pixels = target(static_cast<int>(header.width), static_cast<int>(header.height));
  if (!pixels) return false;
  RowInflater inflater(compressed);
  // Each row with its filter byte, and the one above it unfiltered (zeros above the first).
  std::vector<uint8_t> rows(2 * (stride + 1), 0);
  uint8_t* row = rows.data();
  uint8_t* above = rows.data() + stride + 1;
  // Gray levels of fewer than 8 bits spread over the whole range (a 1-bit 1 is white).
  const uint32_t gray_scale = header.depth == 8 ? 1 : 255u / ((1u << header.depth) - 1);
  // Full colour of 8 bits, with or without alpha, is what the skin's pictures are: one store a
  // pixel instead of four, for a background of a quarter of a million pixels.
  const bool plain_rgb = header.color == kRgb && header.depth == 8 && !have_key;
  const bool plain_rgba = header.color == kRgba && header.depth == 8;
  for (uint32_t y = 0; y < header.height; ++y, std::swap(row, above)) {
    uint8_t* const line = row + 1;
    if (!inflater.Next(row, stride + 1) ||
        !UnfilterRow(row[0], line, above + 1, stride, pixel_bytes)) {
      return false;
    }
    uint8_t* pixel = pixels + size_t{y} * header.width * 4;
    if (plain_rgb || plain_rgba) {
      const size_t step = plain_rgb ? 3 : 4;
      for (uint32_t x = 0; x < header.width; ++x, pixel += 4) {
        const uint8_t* in = line + x * step;
        const uint32_t alpha = plain_rgb ? 255u : in[3];
        const uint32_t value = alpha << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        std::memcpy(pixel, &value, 4);  // BGRA is a little-endian ARGB value
      }
      continue;
    }
    for (uint32_t x = 0; x < header.width; ++x, pixel += 4) {
      switch (header.color) {
        case kGray: {
          const uint8_t level = PackedSample(line, x, header.depth);
          const uint8_t value = static_cast<uint8_t>(level * gray_scale);
          pixel[0] = pixel[1] = pixel[2] = value;
          pixel[3] = have_key && level == key[0] ? 0 : 255;
          break;
        }
        case kPalette: {
          const uint8_t index = PackedSample(line, x, header.depth);
          if (index >= palette_size) return false;
          std::memcpy(pixel, palette[index], 4);
          break;
        }
        case kRgb: {
          const uint8_t* rgb = line + size_t{x} * 3;
          pixel[0] = rgb[2];
          pixel[1] = rgb[1];
          pixel[2] = rgb[0];
          pixel[3] = have_key && rgb[0] == key[0] && rgb[1] == key[1] && rgb[2] == key[2] ? 0 : 255;
          break;
        }
        case kGrayAlpha: {
          const uint8_t* pair = line + size_t{x} * 2;
          pixel[0] = pixel[1] = pixel[2] = pair[0];
          pixel[3] = pair[1];
          break;
        }
        default: {
          const uint8_t* rgba = line + size_t{x} * 4;
          pixel[0] = rgba[2];
          pixel[1] = rgba[1];
          pixel[2] = rgba[0];
          pixel[3] = rgba[3];
          break;
        }
      }
    }
  }
  return true;
}

PixelBuffer DecodePng(const uint8_t* data, size_t size) {
  PixelBuffer out;
  const bool read = DecodePngInto(data, size, [&out](int width, int height) {
    out.width = width;
    out.height = height;
    out.bytes.resize(size_t(width) * height * 4);
    return out.bytes.data();
  });
  return read ? out : PixelBuffer();
}

}  // namespace ui
