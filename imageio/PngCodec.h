// PNG files through libpng 1.6, decoded from and encoded to memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"
#include "imageio/ParallelZlib.h"

namespace skelvane {

// The registry's entry for PNG files.
extern const ImageCodec kPngCodec;

// Decodes a PNG held in memory into a 32-bit image, or a 16-bit one for a
// file of 16-bit samples. Every colour type and bit depth is accepted: gray
// becomes equal red, green and blue, tRNS becomes alpha, and images without
// alpha are opaque. The iCCP, sRGB, gAMA and cHRM chunks become the image's
// colour description; values are never corrected. Background chunks are
// ignored. Palette images keep their palette (PaletteCount() is the number of
// PLTE entries). Refused, with the reason in `error` and an empty image: any
// library error (its message: bad signature or CRC), data ending early
// ("cut short after row 17 of 300"), sides over kMaxImageSide, and a header
// whose rows the IDAT chunks could not hold even at deflate's best ratio.
// Library warnings go to the standard error stream. Memory that runs out
// throws std::bad_alloc.
bool DecodePng(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error = nullptr);

// Encodes the image in the depth it has and appends the file to `out`:
// 32 bits as 8-bit RGBA (alpha from the buffer), 24 bits as 8-bit RGB, 8 bits
// as an 8-bit palette image with all 256 entries of the buffer's palette; for
// these only the signature, IHDR, PLTE (palette images), IDAT and IEND are
// written. A 16-bit image is written with 16-bit samples, gray or RGB, with
// alpha only where some pixel is not opaque, and with the colour chunks of
// its description. The image data is deflated at `level` (kMinDeflateLevel,
// stored, to kMaxDeflateLevel, smallest; imageio/ParallelZlib.h); interlaced
// files at zlib's default level whatever `level` says. A 16-bit bitmap or a
// float image gives false; a library error too, with its message in `error`.
bool EncodePng(const CImageBuffer& image, bool interlace, std::vector<std::uint8_t>& out,
               std::string* error = nullptr, int level = kDefaultDeflateLevel);

// The deflate level of the PNG files Save and the jobs write, one for the
// whole program as the command line's --png-level sets it before any job
// runs; kDefaultDeflateLevel until then. A level outside kMinDeflateLevel to
// kMaxDeflateLevel throws std::invalid_argument.
void SetPngSaveLevel(int level);
int PngSaveLevel();

}  // namespace skelvane
