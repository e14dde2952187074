// Shrinking decoded pictures by area averaging, for scales that have no picture of their own.
#pragma once

#include <cstdint>
#include <vector>

namespace ui {

// 32-bit pixels as GDI+ locks them: B, G, R, A bytes, alpha not premultiplied, rows top to
// bottom without padding.
struct PixelBuffer {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;
};

// Every target pixel is the mean of the source area it covers, each source pixel weighted by
// how much of it lies inside and by its alpha, so that the colour of see-through pixels never
// bleeds into the edge of what is drawn. Integer arithmetic throughout: a 2:1 reduction is the
// exact rounded mean of each 2 by 2 block. Empty when the target is empty or larger than the
// source along either axis (enlarging is the painter's job).
PixelBuffer DownscaleByArea(const PixelBuffer& source, int width, int height);

}  // namespace ui
