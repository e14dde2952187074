// Reading the skin's PNG pictures with zlib alone, so the first paint needs no imaging codecs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/render/Downscale.h"

namespace ui {

// The pixels of a PNG file of one frame, not interlaced, of at most 8 bits per sample (every
// colour type, palettes and transparency chunks included), as straight B, G, R, A bytes.
// Empty for anything else: damaged, truncated or oversized files, and the kinds this reader
// leaves to the system's decoder (16-bit samples, interlacing). The bytes are not trusted: every
// length and index is checked before it is used.
PixelBuffer DecodePng(const uint8_t* data, size_t size);

// Whether the bytes start as a PNG file does.
bool LooksLikePng(const uint8_t* data, size_t size);

}  // namespace ui
