// Windows bitmap files, decoded from and encoded into memory.
//
// The writer always produces the same 24-bit layout: the 14-byte file header,
// a 40-byte information header, two zero bytes and the rows bottom-up from
// offset 56 (both bfSize and bfOffBits count the two bytes).
//
// The reader accepts what common writers produce: 1, 2, 4 and 8-bit palettes
// (also run-length compressed), 16 and 32-bit pixels with default or declared
// bit-field masks, 24-bit pixels, top-down rows, OS/2 and V4/V5 headers. It
// checks every header field and size against the bytes the file really holds
// before allocating, and refuses what it cannot read correctly.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"

namespace skelvane {

// The registry's entry for BMP files.
extern const ImageCodec kBmpCodec;

// Decodes a whole BMP file into a 32-bit image. On failure the image is empty
// and, when `error` is given, it receives a short reason.
bool DecodeBmp(std::span<const std::uint8_t> file, CImageBuffer& image, std::string* error = nullptr);

// Encodes a 32-bit image as a 24-bit BMP file into `out`. Afterwards every
// pixel of the image has alpha 0xFF, as a 24-bit round trip leaves it. False
// (image and `out` untouched) for an empty or non-32-bit image, or one whose
// file would not fit the 32-bit size field.
bool EncodeBmp(CImageBuffer& image, std::vector<std::uint8_t>& out);

}  // namespace skelvane
