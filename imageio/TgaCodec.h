// Truevision TGA files, decoded from and encoded to memory without a library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"

namespace skelvane {

// The registry's entry for TGA files.
extern const ImageCodec kTgaCodec;

// Decodes a TGA held in memory into a 32-bit image. Accepted: colour-mapped
// (types 1 and 9, 8-bit indices into a 15/16/24/32-bit map), true colour
// (types 2 and 10; 15/16-bit 5-5-5, 24 and 32 bits) and gray (types 3 and 11;
// 8-bit gray or 16-bit gray + alpha), raw or run-length encoded, in any of the
// four origins. Only 32-bit true colour and gray + alpha carry alpha; all
// other pixels are opaque. Run-length packets may continue into the next row.
// Short files, packets that reach past the last pixel, unknown types and
// absurd sizes give false, an empty image and the reason in `error`.
bool DecodeTga(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error = nullptr);

// Encodes the image and appends the file to `out`: the fixed 18-byte header
// with a 14-byte image ID, then rows from the top, raw (type 2) or run-length
// encoded row by row (type 10, at most 127 pixels a packet). 16-, 24- and
// 32-bit buffers are written in their own depth; an 8-bit buffer is converted
// to 32 bits first. The image is 32-bit afterwards.
bool EncodeTga(CImageBuffer& image, bool runLength, std::vector<std::uint8_t>& out);

}  // namespace skelvane
