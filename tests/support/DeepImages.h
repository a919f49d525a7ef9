// Deep test pictures: every channel of every pixel differs, at 16 bits with
// values that no 8-bit picture holds, and as floats that half floats hold
// exactly (multiples of 1/1024 below 2), so a lost bit, a swapped channel or
// a value rounded through 8 bits shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/image/ImageBuffer.h"

namespace skelvane::test {

// A 16-bit or float picture (32-bit for Uint8, as MakePatternImage); with
// `alpha` the alpha channel varies and holds 0, else it is opaque.
CImageBuffer MakeDeepPattern(std::int32_t width, std::int32_t height, ChannelType type, bool alpha,
                             std::uint32_t seed = 0);

// Same channel type, size and pixels, byte for byte.
::testing::AssertionResult SamePixels(const CImageBuffer& expected, const CImageBuffer& actual);

// The largest difference of any channel between two float pictures of one
// size, for lossy compressions.
float LargestFloatDifference(const CImageBuffer& a, const CImageBuffer& b);

}  // namespace skelvane::test
