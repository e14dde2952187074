// The PNG reader against the system's decoder on generated pictures of every kind it takes, and
// on damaged ones.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "ui/core/GlobalManager.h"
#include "ui/render/Image.h"
#include "ui/render/PngDecoder.h"

namespace {

// Each case's generator starts from its own seed, spread so nearby seeds differ at once.
ui_test::Random Seeded(uint32_t seed) {
  return ui_test::Random(seed * 2654435761u + 1);
}

using ui_test::Random;

void PutBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string& out, const char* type, const std::string& body) {
  PutBigEndian(out, static_cast<uint32_t>(body.size()));
  const std::string typed = std::string(type, 4) + body;
  out += typed;
  PutBigEndian(
      out, crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
}

// One generated picture: its header fields and each row's packed samples before filtering.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t depth = 8;
  uint8_t color = 6;
  bool interlaced = false;
  std::vector<std::string> rows;
  std::string palette;       // PLTE body
  std::string transparency;  // tRNS body
};

int Channels(uint8_t color) {
  return color == 2 ? 3 : color == 4 ? 2 : color == 6 ? 4 : 1;
}

// The encoder's side of the filters, so the reader meets all five on every kind of row.
std::string Filter(const std::string& line, const std::string& up, uint8_t type, size_t bpp) {
  std::string out(1, static_cast<char>(type));
  for (size_t i = 0; i < line.size(); ++i) {
    const int a = i >= bpp ? static_cast<uint8_t>(line[i - bpp]) : 0;
    const int b = static_cast<uint8_t>(up[i]);
    const int c = i >= bpp ? static_cast<uint8_t>(up[i - bpp]) : 0;
    int predicted = 0;
    if (type == 1) predicted = a;
    if (type == 2) predicted = b;
    if (type == 3) predicted = (a + b) / 2;
    if (type == 4) {
      const int p = a + b - c;
      const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    out.push_back(static_cast<char>(static_cast<uint8_t>(line[i]) - predicted));
  }
  return out;
}

std::string Encode(const Picture& picture, Random& random) {
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBigEndian(header, picture.width);
  PutBigEndian(header, picture.height);
  header += {static_cast<char>(picture.depth), static_cast<char>(picture.color), 0, 0,
             static_cast<char>(picture.interlaced ? 1 : 0)};
  PutChunk(out, "IHDR", header);
  PutChunk(out, "tEXt", std::string("Comment\0generated", 17));
  if (!picture.palette.empty()) PutChunk(out, "PLTE", picture.palette);
  if (!picture.transparency.empty()) PutChunk(out, "tRNS", picture.transparency);
  const size_t bpp = std::max<size_t>(1, picture.depth * Channels(picture.color) / 8);
  std::string raw;
  std::string up(picture.rows.empty() ? 0 : picture.rows[0].size(), '\0');
  for (const std::string& row : picture.rows) {
    raw += Filter(row, up, static_cast<uint8_t>(random.Below(5)), bpp);
    up = row;
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), static_cast<int>(random.Below(10)));
  packed.resize(size);
  // The data split over several chunks at random places, as encoders may write it.
  size_t at = 0;
  while (at < packed.size()) {
    const size_t piece = std::min<size_t>(packed.size() - at, 1 + random.Below(64));
    PutChunk(out, "IDAT", packed.substr(at, piece));
    at += piece;
  }
  PutChunk(out, "IEND", "");
  return out;
}

// A picture of a random kind the reader takes, with random samples.
Picture Generate(Random& random) {
  static const std::pair<uint8_t, uint8_t> kKinds[] = {
      {0, 1}, {0, 2}, {0, 4}, {0, 8}, {2, 8}, {3, 1}, {3, 2}, {3, 4}, {3, 8}, {4, 8}, {6, 8}};
  const auto kind = kKinds[random.Below(sizeof(kKinds) / sizeof(kKinds[0]))];
  Picture picture;
  picture.color = kind.first;
  picture.depth = kind.second;
  picture.width = 1 + random.Below(37);
  picture.height = 1 + random.Below(23);
  const uint32_t levels = 1u << picture.depth;
  uint32_t palette_size = 0;
  if (picture.color == 3) {
    palette_size = 1 + random.Below(levels);
    for (uint32_t i = 0; i < palette_size * 3; ++i) {
      picture.palette.push_back(static_cast<char>(random.Next()));
    }
    if (random.Below(2)) {
      const uint32_t alphas = 1 + random.Below(palette_size);
      for (uint32_t i = 0; i < alphas; ++i) {
        picture.transparency.push_back(static_cast<char>(random.Next()));
      }
    }
  }
  const size_t row_bytes = (picture.width * picture.depth * Channels(picture.color) + 7) / 8;
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::string row(row_bytes, '\0');
    for (uint32_t x = 0; x < picture.width * Channels(picture.color); ++x) {
      const uint32_t sample =
          picture.color == 3 ? random.Below(palette_size) : random.Below(levels);
      const uint32_t bit = x * picture.depth;
      row[bit / 8] = static_cast<char>(static_cast<uint8_t>(row[bit / 8]) |
                                       (sample << (8 - picture.depth - bit % 8)));
    }
    picture.rows.push_back(row);
  }
  if ((picture.color == 0 || picture.color == 2) && random.Below(3) == 0) {
    // A transparent colour: the first pixel's, so the picture has a see-through pixel.
    const std::string& first = picture.rows[0];
    for (int channel = 0; channel < Channels(picture.color); ++channel) {
      const uint32_t bit = static_cast<uint32_t>(channel) * picture.depth;
      const uint32_t sample =
          (static_cast<uint8_t>(first[bit / 8]) >> (8 - picture.depth - bit % 8)) &
          ((1u << picture.depth) - 1);
      picture.transparency.push_back('\0');
      picture.transparency.push_back(static_cast<char>(sample));
    }
  }
  return picture;
}

HGLOBAL ToGlobal(const std::string& bytes) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (void* data = ::GlobalLock(block)) {
    std::memcpy(data, bytes.data(), bytes.size());
    ::GlobalUnlock(block);
  }
  return block;
}

// The bitmap's pixels as a top-down 32-bit DIB, whatever way round it was made.
std::vector<uint8_t> Bits(HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint8_t> bits(static_cast<size_t>(width) * height * 4);
  HDC dc = ::GetDC(nullptr);
  ::GetDIBits(dc, bitmap, 0, height, bits.data(), &info, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, dc);
  return bits;
}

class PngDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::GlobalManager::Instance();  // starts GDI+, which the reference decodes need
    folder_ = ui_test::MakeTempFolder(L"png");
  }

  // The system's reading of the same bytes: pictures from files always go through GDI+.
  std::unique_ptr<ui::ImageInfo> SystemDecode(const std::string& bytes) {
    const std::wstring path = folder_ + L"picture.png";
    if (!ui_test::WriteFile(path, bytes)) return nullptr;
    return ui::ImageInfo::LoadFromFile(path);
  }

  std::wstring folder_;
};

TEST_F(PngDecoder, GeneratedPicturesOfEveryKindLookAsTheSystemDecodesThem) {
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    Random random = Seeded(seed);
    const Picture picture = Generate(random);
    const std::string bytes = Encode(picture, random);
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << ": colour type " << int(picture.color) << ", depth "
                 << int(picture.depth) << ", " << picture.width << "x" << picture.height);
    const ui::PixelBuffer pixels =
        ui::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(pixels.width, static_cast<int>(picture.width));
    ASSERT_EQ(pixels.height, static_cast<int>(picture.height));

    HGLOBAL block = ToGlobal(bytes);
    std::unique_ptr<ui::ImageInfo> own = ui::ImageInfo::LoadFromMemory(block, L"own.png");
    ::GlobalFree(block);
    std::unique_ptr<ui::ImageInfo> system = SystemDecode(bytes);
    ASSERT_TRUE(own && system);
    ASSERT_EQ(own->width, system->width);
    ASSERT_EQ(own->height, system->height);
    const std::vector<uint8_t> own_bits = Bits(own->GetBitmap(), own->width, own->height);
    const std::vector<uint8_t> system_bits =
        Bits(system->GetBitmap(), system->width, system->height);
    // Premultiplying may round either way; a step of one level is not a visible difference.
    bool any_alpha = false;
    for (size_t i = 0; i < own_bits.size(); ++i) {
      ASSERT_NEAR(own_bits[i], system_bits[i], 1) << "byte " << i;
      if (i % 4 == 3) any_alpha |= own_bits[i] != 255;
    }
    EXPECT_EQ(own->has_alpha, any_alpha);
  }
}

TEST_F(PngDecoder, DamagedFilesAreRefusedOrReadWithinTheirOwnSize) {
  size_t refused = 0;
  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    Random random = Seeded(seed);
    const Picture picture = Generate(random);
    std::string bytes = Encode(picture, random);
    switch (random.Below(3)) {
      case 0:  // cut short anywhere
        bytes.resize(random.Below(static_cast<uint32_t>(bytes.size())));
        break;
      case 1:  // bytes changed, so a chunk's checksum no longer holds
        for (int i = 0; i < 4; ++i) bytes[random.Below(static_cast<uint32_t>(bytes.size()))] ^= 1;
        break;
      default: {
        // A header field changed with its checksum mended: the reader must not trust the
        // sizes and kinds it announces.
        const size_t field = 16 + random.Below(13);
        bytes[field] = static_cast<char>(random.Next());
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
        for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
        break;
      }
    }
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const ui::PixelBuffer pixels =
        ui::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (pixels.bytes.empty()) {
      ++refused;
      continue;
    }
    ASSERT_GT(pixels.width, 0);
    ASSERT_GT(pixels.height, 0);
    ASSERT_EQ(pixels.bytes.size(), static_cast<size_t>(pixels.width) * pixels.height * 4);
  }
  // Damage of the first two kinds is always seen; most of the third changes what is allowed.
  EXPECT_GT(refused, 2000u);
}

TEST_F(PngDecoder, KindsItLeavesToTheSystemStillLoad) {
  // A 16-bit picture and an interlaced one: refused by the reader, read by GDI+ instead.
  Random random = Seeded(7);
  Picture deep;
  deep.color = 2;
  deep.depth = 16;
  deep.width = 3;
  deep.height = 2;
  deep.rows.assign(2, std::string(18, '\x40'));
  Picture interlaced = deep;
  interlaced.depth = 8;
  interlaced.interlaced = true;
  interlaced.width = 1;
  interlaced.height = 1;
  interlaced.rows.assign(1, std::string(3, '\x40'));
  for (const Picture& picture : {deep, interlaced}) {
    const std::string bytes = Encode(picture, random);
    EXPECT_TRUE(
        ui::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).bytes.empty());
    HGLOBAL block = ToGlobal(bytes);
    std::unique_ptr<ui::ImageInfo> loaded = ui::ImageInfo::LoadFromMemory(block, L"x.png");
    ::GlobalFree(block);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width, static_cast<int>(picture.width));
  }
}

}  // namespace
