#include "support/DeepImages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "support/TestImages.h"

namespace skelvane::test {
namespace {

// A 16-bit value for channel c of pixel (x, y) whose low byte is no copy of
// its high byte, so no 8-bit value widened gives it.
std::uint16_t Sample16(std::int32_t x, std::int32_t y, int c, std::uint32_t seed)
{
    const std::uint32_t v = static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u ^
                            (static_cast<std::uint32_t>(c) + 1u) * 97u ^ seed * 7919u;
    return static_cast<std::uint16_t>((v ^ v >> 16) | 1u);
}

}  // namespace

CImageBuffer MakeDeepPattern(std::int32_t width, std::int32_t height, ChannelType type, bool alpha,
                             std::uint32_t seed)
{
    if (type == ChannelType::Uint8) {
        CImageBuffer image = MakePatternImage(width, height, seed);
        for (std::int32_t y = 0; alpha && y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                image.Row32(y)[x] = (image.Row32(y)[x] & 0xFFFFFFu) | static_cast<std::uint32_t>((x * 37 + y) & 255) << 24;
            }
        }
        return image;
    }
    CImageBuffer image;
    image.Create(width, height, type);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint16_t a = alpha ? static_cast<std::uint16_t>((x * 4099 + y * 257) & 0xFFFF) : 0xFFFF;
            if (type == ChannelType::Uint16) {
                image.Row16(y)[x] = {Sample16(x, y, 0, seed), Sample16(x, y, 1, seed), Sample16(x, y, 2, seed), a};
            } else {
                // Multiples of 1/1024 in 0..2: light above white included.
                auto f = [&](int c) { return static_cast<float>(Sample16(x, y, c, seed) % 2048) / 1024.0f; };
                image.RowF(y)[x] = {f(0), f(1), f(2), alpha ? static_cast<float>(a % 1024) / 1024.0f : 1.0f};
            }
        }
    }
    return image;
}

::testing::AssertionResult SamePixels(const CImageBuffer& expected, const CImageBuffer& actual)
{
    if (expected.GetChannelType() != actual.GetChannelType() || expected.GetBitCount() != actual.GetBitCount()) {
        return ::testing::AssertionFailure() << "bit count " << actual.GetBitCount() << ", expected "
                                             << expected.GetBitCount();
    }
    if (expected.GetWidth() != actual.GetWidth() || expected.GetHeight() != actual.GetHeight()) {
        return ::testing::AssertionFailure() << "size " << actual.GetWidth() << " x " << actual.GetHeight()
                                             << ", expected " << expected.GetWidth() << " x " << expected.GetHeight();
    }
    const auto rowBytes = static_cast<std::size_t>(expected.GetWidth()) * expected.GetBitCount() / 8;
    for (std::int32_t y = 0; y < expected.GetHeight(); ++y) {
        if (std::memcmp(expected.Row(y), actual.Row(y), rowBytes) != 0) {
            std::size_t at = 0;
            while (expected.Row(y)[at] == actual.Row(y)[at]) {
                ++at;
            }
            return ::testing::AssertionFailure() << "row " << y << " differs at byte " << at;
        }
    }
    return ::testing::AssertionSuccess();
}

float LargestFloatDifference(const CImageBuffer& a, const CImageBuffer& b)
{
    float largest = 0.0f;
    for (std::int32_t y = 0; y < a.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < a.GetWidth(); ++x) {
            const PixelF& p = a.RowF(y)[x];
            const PixelF& q = b.RowF(y)[x];
            for (float d : {p.blue - q.blue, p.green - q.green, p.red - q.red, p.alpha - q.alpha}) {
                largest = std::max(largest, std::fabs(d));
            }
        }
    }
    return largest;
}

}  // namespace skelvane::test
