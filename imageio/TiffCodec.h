// TIFF files through libtiff 4.5, decoded from and encoded to memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"

namespace skelvane {

// The registry's entry for TIFF files (.tif, .tiff).
extern const ImageCodec kTiffCodec;

// Decodes the first picture of a TIFF held in memory: 8-bit files into a
// 32-bit image, 16-bit ones into a 16-bit image, 32-bit float ones into a
// float image. Gray (min-is-black or min-is-white) and RGB, each with or
// without an alpha sample, in strips or tiles, chunky or planar, with any
// compression libtiff has. Other pictures of up to 8 bits a sample (palette,
// YCbCr, CMYK, bilevel) come through libtiff's RGBA reader as 8-bit images.
// The ICC profile, the white point and primaries, associated alpha and float
// samples (linear values) become the colour description. Refused, with the
// reason in `error` and an empty image: any library error, other sample
// layouts, sides over kMaxImageSide, and a picture the file's compressed data
// could not hold even at its compression's best ratio. Memory that runs out
// throws std::bad_alloc.
bool DecodeTiff(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error = nullptr);

// Encodes a 32-bit, 16-bit or float image as RGB, or RGBA where some pixel is
// not opaque, with samples of the image's depth, and appends the file to
// `out`: uncompressed, LZW or Deflate (with the horizontal predictor, or the
// floating-point one for floats), in strips or 256 x 256 tiles, with the
// ICC profile, chromaticities and alpha association of the image's colour
// description. BigTIFF where a plain TIFF's 4 GiB would not hold it. A
// library error gives false with its message in `error`.
bool EncodeTiff(const CImageBuffer& image, FileCompression compression, bool tiled, std::vector<std::uint8_t>& out,
                std::string* error = nullptr);

}  // namespace skelvane
