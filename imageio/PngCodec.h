// PNG files through libpng 1.6, decoded from and encoded to memory.
// CImageBuffer::LoadPng / SavePng are the file wrappers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

// Decodes a PNG held in memory into a 32-bit image. Every colour type and bit
// depth is accepted: samples are reduced to 8 bits (16-bit samples keep their
// high byte), gray becomes equal red, green and blue, tRNS becomes alpha, and
// images without alpha are opaque. Gamma and background chunks are ignored.
// Palette images keep their palette (PaletteCount() is the number of PLTE
// entries). Any library error (bad signature or CRC, data ending early) gives
// false and an empty image; the library's messages go to the standard error
// stream.
bool DecodePng(std::span<const std::uint8_t> data, CImageBuffer& image);

// Encodes the image in the depth it has and appends the file to `out`:
// 32 bits as 8-bit RGBA (alpha from the buffer), 24 bits as 8-bit RGB, 8 bits
// as an 8-bit palette image with all 256 entries of the buffer's palette.
// Only the signature, IHDR, PLTE (palette images), IDAT and IEND are written.
// A 16-bit buffer gives false.
bool EncodePng(const CImageBuffer& image, bool interlace, std::vector<std::uint8_t>& out);

}  // namespace skelvane
