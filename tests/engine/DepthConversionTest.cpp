// Pictures between channel types: exact where a type holds the other, and a
// dither that dissolves 8-bit bands without moving the average level.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "engine/image/DepthConversion.h"
#include "support/DeepImages.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

TEST(DepthConversion, WideningIsExactAndNarrowingGivesTheLevelsBackWithEveryDither)
{
    struct Trip {
        ChannelType from;
        ChannelType via;
    };
    for (const Trip trip : {Trip{ChannelType::Uint8, ChannelType::Uint16}, {ChannelType::Uint8, ChannelType::Float},
                            {ChannelType::Uint16, ChannelType::Float}}) {
        for (Dither dither : {Dither::Ordered, Dither::Diffusion, Dither::None}) {
            SCOPED_TRACE(std::string(ChannelTypeName(trip.from)) + " via " + std::string(ChannelTypeName(trip.via)) +
                         ", dither " + std::to_string(static_cast<int>(dither)));
            const CImageBuffer original = test::MakeDeepPattern(13, 7, trip.from, true);
            CImageBuffer wide;
            ASSERT_TRUE(CopyAtChannelType(original, trip.via, dither, wide));
            EXPECT_EQ(wide.GetChannelType(), trip.via);
            CImageBuffer back;
            ASSERT_TRUE(CopyAtChannelType(wide, trip.from, dither, back));
            EXPECT_TRUE(test::SamePixels(original, back));
        }
    }
    // Opaque white and full transparency are the ends of every scale.
    CImageBuffer ends = test::MakeUniformImage(2, 1, 0xFFFFFFFF);
    ends.SetPixel(1, 0, 0x00000000);
    ASSERT_TRUE(ConvertChannelType(ends, ChannelType::Uint16));
    EXPECT_EQ(ends.Row16(0)[0], (Pixel16{65535, 65535, 65535, 65535}));
    EXPECT_EQ(ends.Row16(0)[1], (Pixel16{0, 0, 0, 0}));
}

// A level halfway between two 8-bit ones: plain rounding gives one level
// everywhere (a band), each dither a mix whose average is the level.
TEST(DepthConversion, DithersKeepTheAverageOfALevelBetweenTwoAndLeaveAlphaEndsAlone)
{
    constexpr std::uint16_t kHalfway = 100 * 257 + 128;
    for (ChannelType deep : {ChannelType::Uint16, ChannelType::Float}) {
        CImageBuffer flat;
        flat.Create(64, 64, ChannelType::Uint16);
        for (std::int32_t y = 0; y < 64; ++y) {
            for (std::int32_t x = 0; x < 64; ++x) {
                flat.Row16(y)[x] = {kHalfway, kHalfway, kHalfway, 65535};
            }
        }
        ASSERT_TRUE(ConvertChannelType(flat, deep));
        for (Dither dither : {Dither::Ordered, Dither::Diffusion, Dither::None}) {
            SCOPED_TRACE(std::string(ChannelTypeName(deep)) + ", dither " + std::to_string(static_cast<int>(dither)));
            CImageBuffer narrow;
            ASSERT_TRUE(CopyAtChannelType(flat, ChannelType::Uint8, dither, narrow));
            double sum = 0;
            int high = 0;
            for (std::int32_t y = 0; y < 64; ++y) {
                for (std::int32_t x = 0; x < 64; ++x) {
                    const std::uint32_t p = narrow.Row32(y)[x];
                    ASSERT_EQ(p >> 24, 0xFFu);
                    const std::uint32_t green = p >> 8 & 255;
                    ASSERT_TRUE(green == 100 || green == 101) << green;
                    EXPECT_EQ(p & 255, green);  // the same offset for every channel of a pixel
                    sum += green;
                    high += green == 101;
                }
            }
            if (dither == Dither::None) {
                EXPECT_EQ(high, 0);  // 100.498 levels is nearest to 100
            } else {
                EXPECT_NEAR(sum / (64 * 64), 100.0 + 128.0 / 257.0, 0.01);
            }
        }
    }
    // The ordered pattern is the same in every frame: it depends on the
    // position only, each 8 x 8 block holding every offset once.
    int seen[128] = {};
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 8; ++x) {
            const int offset = OrderedDitherOffset(x + 80, y + 16);
            ASSERT_EQ(offset, OrderedDitherOffset(x, y));
            ASSERT_TRUE(offset > 0 && offset < 128 && offset % 2 == 1);
            ++seen[offset];
        }
    }
    for (int offset = 1; offset < 128; offset += 2) {
        EXPECT_EQ(seen[offset], 1) << offset;
    }
}

TEST(DepthConversion, FloatsOutsideZeroToOneClampAndNotANumberIsZero)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    CImageBuffer light;
    light.Create(3, 1, ChannelType::Float);
    light.RowF(0)[0] = {1.75f, -0.5f, nan, 1.0f};
    light.RowF(0)[1] = {inf, -inf, 0.5f, 2.0f};
    light.RowF(0)[2] = {0.0f, 1.0f, 0.25f, -1.0f};
    CImageBuffer sixteen;
    ASSERT_TRUE(CopyAtChannelType(light, ChannelType::Uint16, Dither::None, sixteen));
    EXPECT_EQ(sixteen.Row16(0)[0], (Pixel16{65535, 0, 0, 65535}));
    EXPECT_EQ(sixteen.Row16(0)[1], (Pixel16{65535, 0, 32768, 65535}));
    EXPECT_EQ(sixteen.Row16(0)[2], (Pixel16{0, 65535, 16384, 0}));
    for (Dither dither : {Dither::Ordered, Dither::Diffusion, Dither::None}) {
        CImageBuffer eight;
        ASSERT_TRUE(CopyAtChannelType(light, ChannelType::Uint8, dither, eight));
        EXPECT_EQ(eight.Row32(0)[0], 0xFF0000FFu) << static_cast<int>(dither);
        EXPECT_EQ(eight.Row32(0)[1] & 0xFF00FFFFu, 0xFF0000FFu) << static_cast<int>(dither);
        EXPECT_EQ(eight.Row32(0)[2] & 0xFF00FFFFu, 0x0000FF00u) << static_cast<int>(dither);
    }
}

TEST(DepthConversion, CopiesKeepTheColourDescriptionAndTheFilesDepth)
{
    CImageBuffer source = test::MakeDeepPattern(4, 3, ChannelType::Float, false);
    auto colour = std::make_shared<ColourDescription>();
    colour->linear = true;
    source.SetColour(colour);
    source.SetFileChannelType(ChannelType::Uint16);  // a half-float file
    CImageBuffer copy;
    ASSERT_TRUE(CopyAtChannelType(source, ChannelType::Uint8, Dither::Ordered, copy));
    EXPECT_EQ(copy.Colour(), source.Colour());
    EXPECT_EQ(copy.FileChannelType(), ChannelType::Uint16);
    // The plain 8-bit conversion every 8-bit consumer uses rounds to nearest.
    CImageBuffer nearest;
    ASSERT_TRUE(nearest.CopyFrom(source));
    ASSERT_TRUE(nearest.ConvertTo32());
    EXPECT_EQ(nearest.GetBitCount(), 32);
    EXPECT_EQ(nearest.GetPixel(2, 1), WordOfPixelF(source.RowF(1)[2]));
    EXPECT_FALSE(CopyAtChannelType(CImageBuffer{}, ChannelType::Uint16, Dither::None, copy));
    EXPECT_TRUE(copy.IsEmpty());
}

}  // namespace
}  // namespace skelvane
