// Images that expose faults: every pixel and every channel differs, so a flip,
// an off-by-one or a red/blue swap cannot pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/image/BandedImage.h"
#include "engine/image/ImageBuffer.h"

namespace skelvane::test {

// A distinct opaque colour for pixel (x, y) of image number `seed`.
std::uint32_t PatternPixel(std::int32_t x, std::int32_t y, std::uint32_t seed = 0);

// A 32-bit image filled with PatternPixel.
CImageBuffer MakePatternImage(std::int32_t width, std::int32_t height, std::uint32_t seed = 0);

// A 32-bit image of one colour.
CImageBuffer MakeUniformImage(std::int32_t width, std::int32_t height, std::uint32_t value);

// All pixels of a 32-bit image, top row first.
std::vector<std::uint32_t> PixelsOf(const CImageBuffer& image);

// The bytes of every row of a picture of any depth, padding left out; for a
// picture made in bands, as a writer takes them (a few rows at a time).
std::vector<std::uint8_t> RowBytes(const CImageBuffer& image);
std::vector<std::uint8_t> RowBytes(CBandedImage& image);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace skelvane::test
