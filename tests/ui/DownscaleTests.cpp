// The area-averaging reduction: exact means at 2:1, coverage weights at 4:3, alpha-weighted
// colour, and what it refuses.
#include <gtest/gtest.h>

#include <functional>

#include "ui/render/Downscale.h"

namespace {

struct Bgra {
  uint8_t b, g, r, a;
};

ui::PixelBuffer Make(int width, int height, const std::function<Bgra(int, int)>& pixel) {
  ui::PixelBuffer buffer;
  buffer.width = width;
  buffer.height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Bgra p = pixel(x, y);
      buffer.bytes.insert(buffer.bytes.end(), {p.b, p.g, p.r, p.a});
    }
  }
  return buffer;
}

Bgra At(const ui::PixelBuffer& buffer, int x, int y) {
  const uint8_t* p = buffer.bytes.data() + (static_cast<size_t>(y) * buffer.width + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

// Opaque pixels whose channels differ everywhere, so that any tap falling on the wrong source
// pixel shows.
Bgra Pattern(int x, int y) {
  return {static_cast<uint8_t>((x * 37 + y * 11) % 256),
          static_cast<uint8_t>((x * 5 + y * 71) % 256), static_cast<uint8_t>((x * x + y * 3) % 256),
          255};
}

TEST(Downscale, HalfSizeIsTheRoundedMeanOfEachBlockUpToTheEdges) {
  // Odd-sized halves too: the last row and column are blocks like any other.
  for (const auto& size : {std::make_pair(64, 40), std::make_pair(10, 2), std::make_pair(2, 14)}) {
    const ui::PixelBuffer source = Make(size.first, size.second, Pattern);
    const ui::PixelBuffer half = ui::DownscaleByArea(source, size.first / 2, size.second / 2);
    ASSERT_EQ(half.width, size.first / 2);
    ASSERT_EQ(half.height, size.second / 2);
    for (int y = 0; y < half.height; ++y) {
      for (int x = 0; x < half.width; ++x) {
        const Bgra q[4] = {Pattern(2 * x, 2 * y), Pattern(2 * x + 1, 2 * y),
                           Pattern(2 * x, 2 * y + 1), Pattern(2 * x + 1, 2 * y + 1)};
        const Bgra got = At(half, x, y);
        EXPECT_EQ(got.b, (q[0].b + q[1].b + q[2].b + q[3].b + 2) / 4) << x << "," << y;
        EXPECT_EQ(got.g, (q[0].g + q[1].g + q[2].g + q[3].g + 2) / 4) << x << "," << y;
        EXPECT_EQ(got.r, (q[0].r + q[1].r + q[2].r + q[3].r + 2) / 4) << x << "," << y;
        EXPECT_EQ(got.a, 255);
      }
    }
  }
}

TEST(Downscale, ThreeQuartersWeighsEachSourcePixelByItsCoverage) {
  // Four columns into three: target 0 covers source 0 and a third of 1, target 1 two thirds of
  // 1 and two thirds of 2, target 2 a third of 2 and all of 3.
  const uint8_t column[4] = {0, 90, 180, 240};
  const ui::PixelBuffer source = Make(4, 4, [&](int x, int) {
    return Bgra{column[x], column[x], column[x], 255};
  });
  const ui::PixelBuffer reduced = ui::DownscaleByArea(source, 3, 3);
  ASSERT_EQ(reduced.width, 3);
  const int want[3] = {(3 * 0 + 1 * 90 + 2) / 4, (2 * 90 + 2 * 180 + 2) / 4,
                       (1 * 180 + 3 * 240 + 2) / 4};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(At(reduced, x, y).g, want[x]) << x << "," << y;
  }
  // A frame whose width lands on a whole target pixel keeps a hard edge: nine-slice corners
  // of a reduced window part stay crisp.
  const ui::PixelBuffer framed = Make(40, 40, [](int x, int y) {
    const bool frame = x < 8 || y < 8 || x >= 32 || y >= 32;
    return frame ? Bgra{0, 0, 255, 255} : Bgra{0, 255, 255, 255};
  });
  const ui::PixelBuffer at_150 = ui::DownscaleByArea(framed, 30, 30);
  EXPECT_EQ(At(at_150, 5, 15).g, 0);
  EXPECT_EQ(At(at_150, 6, 15).g, 255);
  EXPECT_EQ(At(at_150, 23, 15).g, 255);
  EXPECT_EQ(At(at_150, 24, 15).g, 0);
}

TEST(Downscale, SeeThroughPixelsLendNoColour) {
  // Half transparent black-coloured, half opaque white: the edge stays white, only less opaque.
  const ui::PixelBuffer source = Make(2, 2, [](int x, int) {
    return x == 0 ? Bgra{0, 0, 0, 0} : Bgra{255, 255, 255, 255};
  });
  const Bgra got = At(ui::DownscaleByArea(source, 1, 1), 0, 0);
  EXPECT_EQ(got.r, 255);
  EXPECT_EQ(got.a, 128);
  const ui::PixelBuffer clear = Make(2, 2, [](int, int) { return Bgra{9, 9, 9, 0}; });
  const Bgra none = At(ui::DownscaleByArea(clear, 1, 1), 0, 0);
  EXPECT_EQ(none.a, 0);
  EXPECT_EQ(none.r, 0);
  // Partial alphas weigh their colours: 3 parts red at 200 against 1 part blue at 200 -> the
  // mean alpha, the colour three quarters red.
  const ui::PixelBuffer mixed = Make(4, 1, [](int x, int) {
    return x < 3 ? Bgra{0, 0, 200, 200} : Bgra{200, 0, 0, 200};
  });
  const Bgra blend = At(ui::DownscaleByArea(mixed, 1, 1), 0, 0);
  EXPECT_EQ(blend.a, 200);
  EXPECT_EQ(blend.r, 150);
  EXPECT_EQ(blend.b, 50);
}

TEST(Downscale, RefusesToEnlargeOrToMakeNothing) {
  const ui::PixelBuffer source = Make(4, 4, Pattern);
  EXPECT_TRUE(ui::DownscaleByArea(source, 5, 4).bytes.empty());
  EXPECT_TRUE(ui::DownscaleByArea(source, 4, 0).bytes.empty());
  ui::PixelBuffer torn = source;
  torn.bytes.pop_back();
  EXPECT_TRUE(ui::DownscaleByArea(torn, 2, 2).bytes.empty());
  // The same size is a copy.
  EXPECT_EQ(ui::DownscaleByArea(source, 4, 4).bytes, source.bytes);
}

}  // namespace
