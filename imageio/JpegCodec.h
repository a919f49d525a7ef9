// JPEG files through libjpeg-turbo's classic API, decoded from and encoded to
// memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/BandedImage.h"
#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"

namespace skelvane {

// The registry's entry for JPEG files.
extern const ImageCodec kJpegCodec;

// Decodes a JPEG held in memory into a 32-bit image (alpha 0xFF). Grayscale
// files arrive with three equal channels. Library warnings (data ending
// early, corrupt entropy data) do not stop the decode: the picture comes back
// as far as the library reconstructs it, and the library prints the warning
// on the standard error stream. Refused, with the reason in `error`: any
// library error (its message), sides over kMaxImageSide, data after the
// first scan header too short to hold one bit for each 8 x 8 block the header
// declares (no JPEG codes a block in less; a few hundred bytes must not
// become gigabytes), more than kMaxJpegScans scans, and a decode needing more
// than kJpegWorkingMemory of the library's own memory. The image is then
// empty. Memory that runs out throws std::bad_alloc.
bool DecodeJpeg(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error = nullptr);

// DecodeJpeg for a reader of the pixels inside `needed` only: those come out
// as DecodeJpeg gives them, the others are unspecified. Rows above are
// skipped, rows below never decoded, and columns outside cropped to the
// block columns around `needed`; an empty `needed` decodes no pixels, but
// the header is read and checked as always. Errors the library would find in
// data it does not reach go unseen.
bool DecodeJpegRegion(std::span<const std::uint8_t> data, CImageBuffer& image, const PixelRect& needed,
                      std::string* error = nullptr);

// What a decode may take of the library's own memory besides the picture: a
// progressive file keeps every coefficient of the picture until its last
// scan, 6 bytes a pixel at full colour resolution, so a 32768 x 16384
// panorama needs 3 GiB.
inline constexpr long kJpegWorkingMemory = 4L << 30;
// Legitimate files have a dozen or so; each scan is a pass over the picture.
inline constexpr int kMaxJpegScans = 1000;

// Encodes a 32-bit image as a baseline JFIF file at `quality` (0 to 100) with
// the library's defaults otherwise (YCbCr 4:2:0, standard Huffman tables) and
// appends it to `out`, which grows as needed. Afterwards the image is 32-bit
// with every alpha byte 0xFF, as a trip through 24 bits would leave it. Any
// buffer other than a non-empty 32-bit one gives false; a library error too,
// with its message in `error`.
bool EncodeJpeg(CImageBuffer& image, int quality, std::vector<std::uint8_t>& out, std::string* error = nullptr);

// EncodeJpeg for a 32-bit picture made a band at a time: the same bytes,
// with no more than a band of it in memory at once.
bool EncodeJpegRows(CBandedImage& image, int quality, std::vector<std::uint8_t>& out, std::string* error = nullptr);

}  // namespace skelvane
