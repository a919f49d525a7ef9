// OpenEXR files through OpenEXR 3 (with Imath), decoded from and encoded to
// memory with the library's own threads.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"

namespace skelvane {

// The registry's entry for OpenEXR files.
extern const ImageCodec kExrCodec;

// Decodes the first part of an OpenEXR file held in memory into a float
// image of its data window: channels R, G, B (or Y, gray) and A where
// present, of any pixel type, scan lines or tiles, any compression. Files
// whose colour channels are half floats say so (FileChannelType() is
// 16-bit). The values are linear unless the file says otherwise; its
// chromaticities become the colour description. Refused, with the reason in
// `error` and an empty image: any library error (its message), files without
// those channels, sides over kMaxImageSide, and a picture the file's data
// could not hold even at its compression's best ratio. Memory that runs out
// throws std::bad_alloc.
bool DecodeExr(std::span<const std::uint8_t> data, CImageBuffer& image, std::string* error = nullptr);

// Encodes a float image as R, G, B (and A where some pixel is not opaque) of
// half floats or floats, in scan lines or 64 x 64 tiles, compressed with
// `compression` (None, Zip, Piz or Dwaa), with the chromaticities of its
// colour description and a note whether its values are linear, and appends
// the file to `out`. A library error gives false with its message in
// `error`.
bool EncodeExr(const CImageBuffer& image, bool halfFloats, FileCompression compression, bool tiled,
               std::vector<std::uint8_t>& out, std::string* error = nullptr);

// The threads the library encodes and decodes with: both cores' worth.
int ExrThreadCount();

}  // namespace skelvane
