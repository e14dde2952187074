// Reading the skin's PNG pictures with zlib alone, so the first paint needs no imaging codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "ui/render/Downscale.h"

namespace ui {

// The pixels of a PNG file of one frame, not interlaced, of at most 8 bits per sample (every
// colour type, palettes and transparency chunks included), as straight B, G, R, A bytes.
// Empty for anything else: damaged, truncated or oversized files, and the kinds this reader
// leaves to the system's decoder (16-bit samples, interlacing). The bytes are not trusted: every
// length and index is checked before it is used.
PixelBuffer DecodePng(const uint8_t* data, size_t size);
// The same, read straight into memory the caller gives once the size is known: `target` returns
// where the width * height pixels go (top-down rows of width * 4 bytes), or null to give up.
// False when the file cannot be read; what was written to the target by then is not a picture.
// `opaque`, when given, is set to whether the file's kind cannot hold a see-through pixel
// (no alpha channel and no transparent colour), so a caller can skip looking for one.
bool DecodePngInto(const uint8_t* data, size_t size,
                   const std::function<uint8_t*(int width, int height)>& target,
                   bool* opaque = nullptr);

// Whether the bytes start as a PNG file does.
bool LooksLikePng(const uint8_t* data, size_t size);

}  // namespace ui
