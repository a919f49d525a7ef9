// JPEG files through libjpeg-turbo's classic API, decoded from and encoded to
// memory. CImageBuffer::LoadJpeg / SaveJpeg are the file wrappers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

// Decodes a JPEG held in memory into a 32-bit image (alpha 0xFF). Grayscale
// files arrive with three equal channels. Library warnings (data ending
// early, corrupt entropy data) do not stop the decode: the picture comes back
// as far as the library reconstructs it. Any library error gives false and an
// empty image. The library's own messages go to the standard error stream.
bool DecodeJpeg(std::span<const std::uint8_t> data, CImageBuffer& image);

// DecodeJpeg for a reader of the pixels inside `needed` only: those come out
// as DecodeJpeg gives them, the others are unspecified. Rows above are
// skipped, rows below never decoded, and columns outside cropped to the
// block columns around `needed`; an empty `needed` decodes no pixels, but
// the header is read and checked as always. Errors the library would find in
// data it does not reach go unseen.
bool DecodeJpegRegion(std::span<const std::uint8_t> data, CImageBuffer& image, const PixelRect& needed);

// Encodes a 32-bit image as a baseline JFIF file at `quality` (0 to 100) with
// the library's defaults otherwise (YCbCr 4:2:0, standard Huffman tables) and
// appends it to `out`, which grows as needed. Afterwards the image is 32-bit
// with every alpha byte 0xFF, as a trip through 24 bits would leave it. Any
// buffer other than a non-empty 32-bit one gives false.
bool EncodeJpeg(CImageBuffer& image, int quality, std::vector<std::uint8_t>& out);

}  // namespace skelvane
