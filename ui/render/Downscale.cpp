// Area-averaging reduction of 32-bit pictures with exact integer weights.
#include "ui/render/Downscale.h"

#include <algorithm>
#include <numeric>

namespace ui {
namespace {

// One target pixel's share of the source along an axis: the source pixels from `first`, with
// their coverages. Coverages are counted in units that make every one an integer; they add up
// to `Axis::total` for every target pixel.
struct Taps {
  int first = 0;
  std::vector<uint32_t> weights;
};

struct Axis {
  std::vector<Taps> taps;
  uint32_t total = 0;
};

Axis MakeAxis(int source_length, int target_length) {
  // With the lengths divided by their common divisor, target pixel t covers the interval
  // [t * s, (t + 1) * s) and source pixel i the interval [i * d, (i + 1) * d).
  const int divisor = std::gcd(source_length, target_length);
  const int64_t s = source_length / divisor;
  const int64_t d = target_length / divisor;
  Axis axis;
  axis.total = static_cast<uint32_t>(s);
  axis.taps.resize(static_cast<size_t>(target_length));
  for (int t = 0; t < target_length; ++t) {
    const int64_t begin = t * s;
    const int64_t end = begin + s;
    Taps& taps = axis.taps[static_cast<size_t>(t)];
    taps.first = static_cast<int>(begin / d);
    for (int64_t i = taps.first; i * d < end; ++i) {
      const int64_t from = std::max(begin, i * d);
      const int64_t to = std::min(end, (i + 1) * d);
      taps.weights.push_back(static_cast<uint32_t>(to - from));
    }
  }
  return axis;
}

uint8_t RoundedQuotient(uint64_t numerator, uint64_t denominator) {
  return static_cast<uint8_t>((numerator + denominator / 2) / denominator);
}

}  // namespace

PixelBuffer DownscaleByArea(const PixelBuffer& source, int width, int height) {
  PixelBuffer target;
  if (width <= 0 || height <= 0 || width > source.width || height > source.height ||
      source.bytes.size() != static_cast<size_t>(source.width) * source.height * 4) {
    return target;
  }
  const Axis across = MakeAxis(source.width, width);
  const Axis down = MakeAxis(source.height, height);

  // First along the rows, keeping alpha-weighted colour sums: for each source row and target
  // column, B*A, G*A, R*A and A, each times the coverage.
  std::vector<uint64_t> rows(static_cast<size_t>(width) * source.height * 4);
  for (int y = 0; y < source.height; ++y) {
    const uint8_t* in = source.bytes.data() + static_cast<size_t>(y) * source.width * 4;
    uint64_t* out = rows.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x, out += 4) {
      const Taps& taps = across.taps[static_cast<size_t>(x)];
      const uint8_t* pixel = in + static_cast<size_t>(taps.first) * 4;
      for (uint32_t weight : taps.weights) {
        const uint64_t alpha_weight = static_cast<uint64_t>(pixel[3]) * weight;
        out[0] += pixel[0] * alpha_weight;
        out[1] += pixel[1] * alpha_weight;
        out[2] += pixel[2] * alpha_weight;
        out[3] += alpha_weight;
        pixel += 4;
      }
    }
  }

  target.width = width;
  target.height = height;
  target.bytes.assign(static_cast<size_t>(width) * height * 4, 0);
  const uint64_t area = static_cast<uint64_t>(across.total) * down.total;
  for (int y = 0; y < height; ++y) {
    const Taps& taps = down.taps[static_cast<size_t>(y)];
    uint8_t* out = target.bytes.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x, out += 4) {
      uint64_t sum[4] = {};
      const uint64_t* in = rows.data() + (static_cast<size_t>(taps.first) * width + x) * 4;
      for (uint32_t weight : taps.weights) {
        for (int c = 0; c < 4; ++c) sum[c] += in[c] * weight;
        in += static_cast<size_t>(width) * 4;
      }
      out[3] = RoundedQuotient(sum[3], area);
      if (sum[3] == 0) continue;  // wholly see-through: no colour to speak of
      for (int c = 0; c < 3; ++c) out[c] = RoundedQuotient(sum[c], sum[3]);
    }
  }
  return target;
}

}  // namespace ui
