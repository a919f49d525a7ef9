#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/image/ImageBuffer.h"
#include "engine/image/DepthConversion.h"
#include "engine/image/StretchRows.h"
#include "support/DeepImages.h"
#include "support/EachSimdTarget.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

std::uint32_t Grey(std::uint32_t v)
{
    return 0xFF000000u | v << 16 | v << 8 | v;
}

TEST(StretchFrom, SameSizeScalesBySplineWeightsAndGain)
{
    // At fraction 0 the sixteen weights add up to 244 (of 256), scaled by
    // 266/256: grey 128 comes out 126 and white 252.
    CImageBuffer target;
    target.Create(4, 4);
    target.StretchFrom(0, 0, 4, 4, test::MakeUniformImage(4, 4, Grey(128)), 0, 0, 4, 4);
    EXPECT_EQ(target.GetPixel(1, 2), 0xFF7E7E7Eu);
    target.StretchFrom(0, 0, 4, 4, test::MakeUniformImage(4, 4, 0x00FFFFFFu), 0, 0, 4, 4);
    EXPECT_EQ(target.GetPixel(3, 3), Grey(252)) << "source alpha is not used";
}

TEST(StretchFrom, FractionalStepsKeepUniformGrey)
{
    // 5 -> 4 gives a step of 320/256: fractions 0, 64, 128 and 192.
    CImageBuffer target;
    target.Create(4, 4);
    target.StretchFrom(0, 0, 4, 4, test::MakeUniformImage(5, 5, Grey(128)), 0, 0, 5, 5);
    EXPECT_EQ(target.GetPixel(0, 0), Grey(126));
    EXPECT_EQ(target.GetPixel(1, 1), Grey(128));
    EXPECT_EQ(target.GetPixel(2, 2), Grey(128));
    EXPECT_EQ(target.GetPixel(3, 3), Grey(128));
}

TEST(StretchFrom, NeighboursOutsideTheSourceTakeTheCentrePixel)
{
    // In a one-row source the rows above and below the centre lie outside,
    // so their neighbours all read the centre pixel itself, not the pixels
    // of their own columns in the centre row. The last pixel's centre is
    // column 3, and its neighbour at column 5 reads column 3 again.
    CImageBuffer source;
    source.Create(5, 1);
    const std::uint32_t reds[] = {10, 100, 200, 50, 250};
    for (int x = 0; x < 5; ++x) {
        source.SetPixel(x, 0, 0xFF000000u | reds[x] << 16);
    }
    CImageBuffer target;
    target.Create(4, 1);
    target.StretchFrom(0, 0, 4, 1, source, 0, 0, 5, 1);
    const std::uint32_t expectedRed[] = {19, 117, 151, 133};
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(target.GetPixel(j, 0), 0xFF000000u | expectedRed[j] << 16) << "column " << j;
    }
}

TEST(StretchFrom, WritesOnlyTheClippedDestinationRectangle)
{
    CImageBuffer target = test::MakeUniformImage(6, 6, 0x11223344u);
    target.StretchFrom(-2, 4, 4, 10, test::MakeUniformImage(3, 3, Grey(128)), 0, 0, 3, 3);
    EXPECT_EQ(target.GetPixel(0, 3), 0x11223344u);
    EXPECT_EQ(target.GetPixel(2, 4), 0x11223344u);
    EXPECT_EQ(target.GetPixel(0, 4) >> 24, 0xFFu);
    EXPECT_EQ(target.GetPixel(1, 5) >> 24, 0xFFu);
}

TEST(StretchFrom, DoesNothingWithAnEmptyImageOrNoArea)
{
    CImageBuffer empty;
    CImageBuffer target = test::MakeUniformImage(3, 3, 0x01020304u);
    target.StretchFrom(0, 0, 3, 3, empty, 0, 0, 3, 3);
    target.StretchFrom(0, 0, 0, 3, test::MakeUniformImage(3, 3, 0), 0, 0, 3, 3);
    target.StretchFrom(0, 0, 3, 3, test::MakeUniformImage(3, 3, 0), 0, 0, 3, -1);
    EXPECT_EQ(target.GetPixel(1, 1), 0x01020304u);
    empty.StretchFrom(0, 0, 3, 3, target, 0, 0, 3, 3);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(StretchFrom, LargeDownscaleMatchesTheSerialResult)
{
    // Large enough to run in parallel bands; rows must not depend on banding.
    CImageBuffer source = test::MakePatternImage(1031, 517);
    CImageBuffer big;
    big.Create(700, 300);
    big.StretchFrom(0, 0, 700, 300, source, 0, 0, 1031, 517);
    CImageBuffer row;
    row.Create(700, 1);
    row.StretchFrom(0, 0, 700, 1, source, 0, 0, 1031, 517);
    for (int x = 0; x < 700; x += 37) {
        EXPECT_EQ(big.GetPixel(x, 0), row.GetPixel(x, 0));
    }
}

// The resampler written out plainly, pixel by pixel through GetPixel and
// SetPixel, to hold the row loops to.
void ReferenceStretch(CImageBuffer& target, std::int32_t dstX, std::int32_t dstY, std::int32_t dstW,
                      std::int32_t dstH, const CImageBuffer& source, std::int32_t srcX, std::int32_t srcY,
                      std::int32_t srcW, std::int32_t srcH)
{
    const std::int32_t W = target.GetWidth();
    const std::int32_t H = target.GetHeight();
    const std::int32_t SW = source.GetWidth();
    const std::int32_t SH = source.GetHeight();
    auto clamp64 = [](std::int64_t v, std::int32_t high) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, high));
    };
    const std::int32_t dx0 = clamp64(srcX < 0 ? std::int64_t{dstX} - srcX : dstX, W - 1);
    const std::int32_t dx1 = clamp64(std::int64_t{dstX} + dstW - 1, W - 1);
    const std::int32_t dy0 = clamp64(srcY < 0 ? std::int64_t{dstY} - srcY : dstY, H - 1);
    const std::int32_t dy1 = clamp64(std::int64_t{dstY} + dstH - 1, H - 1);
    const std::int32_t sx0 = clamp64(dstX < 0 ? std::int64_t{srcX} - dstX : srcX, SW - 1);
    const std::int32_t sx1 = clamp64(std::int64_t{srcX} + srcW - 1, SW - 1);
    const std::int32_t sy0 = clamp64(dstY < 0 ? std::int64_t{srcY} - dstY : srcY, SH - 1);
    const std::int32_t sy1 = clamp64(std::int64_t{srcY} + srcH - 1, SH - 1);
    const std::int32_t nx = dx1 - dx0 + 1;
    const std::int32_t ny = dy1 - dy0 + 1;
    if (nx <= 0 || ny <= 0 || sx1 < sx0 || sy1 < sy0) {
        return;
    }
    const auto stepX = static_cast<std::int32_t>(static_cast<double>(sx1 - sx0 + 1) / nx * 256);
    const auto stepY = static_cast<std::int32_t>(static_cast<double>(sy1 - sy0 + 1) / ny * 256);
    for (std::int32_t i = 0; i < ny; ++i) {
        const std::int32_t cy = sy0 + (i * stepY >> 8);
        const SplineTaps rowTaps = TapsFor(i * stepY & 255);
        for (std::int32_t j = 0; j < nx; ++j) {
            const std::int32_t cx = sx0 + (j * stepX >> 8);
            const SplineTaps colTaps = TapsFor(j * stepX & 255);
            std::int32_t sums[3] = {};
            for (int m = 0; m < 4; ++m) {
                const std::int32_t y = cy + m - 1;
                for (int n = 0; n < 4; ++n) {
                    const std::int32_t x = cx + n - 1;
                    const bool outside = y < 0 || y >= SH || x < 0 || x >= SW;
                    const std::int32_t weight = (rowTaps.w[m] * colTaps.w[n]) >> 8;
                    const std::uint32_t p = outside ? source.GetPixel(cx, cy) : source.GetPixel(x, y);
                    for (int c = 0; c < 3; ++c) {
                        sums[c] += ((static_cast<std::int32_t>((p >> (8 * c)) & 255) << 8) * weight) >> 8;
                    }
                }
            }
            std::uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                pixel |= static_cast<std::uint32_t>(std::clamp((sums[c] * 266) >> 16, 0, 255)) << (8 * c);
            }
            target.SetPixel(dx0 + j, dy0 + i, pixel);
        }
    }
}

// Random pixels; bright ones have every channel at 240 or more, so that
// sums reach the clamp at 255.
CImageBuffer RandomImage(std::int32_t width, std::int32_t height, std::mt19937& random, bool bright = false)
{
    const std::uint32_t floor = bright ? 0x00F0F0F0u : 0u;
    CImageBuffer image;
    image.Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        std::generate_n(image.Row32(y), width, [&] { return static_cast<std::uint32_t>(random()) | floor; });
    }
    return image;
}

struct StretchCase {
    std::int32_t targetW, targetH, dstX, dstY, dstW, dstH;
    std::int32_t sourceW, sourceH, srcX, srcY, srcW, srcH;
};

// Runs the case with each loop the processor has, and compares every target
// pixel, the untouched ones included, with the reference.
void ExpectSameAsReference(const StretchCase& c, std::mt19937& random, bool bright = false)
{
    const CImageBuffer source = RandomImage(c.sourceW, c.sourceH, random, bright);
    const CImageBuffer before = RandomImage(c.targetW, c.targetH, random);
    CImageBuffer expected;
    expected.CopyFrom(before);
    ReferenceStretch(expected, c.dstX, c.dstY, c.dstW, c.dstH, source, c.srcX, c.srcY, c.srcW, c.srcH);
    test::ForEachSimdTarget([&](const char* loop) {
        CImageBuffer target;
        target.CopyFrom(before);
        target.StretchFrom(c.dstX, c.dstY, c.dstW, c.dstH, source, c.srcX, c.srcY, c.srcW, c.srcH);
        EXPECT_EQ(test::PixelsOf(target), test::PixelsOf(expected))
            << "target " << c.targetW << "x" << c.targetH << " at " << c.dstX << "," << c.dstY << " size " << c.dstW
            << "x" << c.dstH << ", source " << c.sourceW << "x" << c.sourceH << " at " << c.srcX << "," << c.srcY
            << " size " << c.srcW << "x" << c.srcH << ", bright " << bright << ", " << loop;
    });
}

TEST(StretchFrom, CombinedWeightsAreSmallAndNeverNegative)
{
    // The vector loop holds each combined weight in a signed byte and
    // clamps sums only from above.
    for (int fy = 0; fy < 256; ++fy) {
        for (int fx = 0; fx < 256; ++fx) {
            for (int m = 0; m < 4; ++m) {
                for (int n = 0; n < 4; ++n) {
                    const std::int32_t weight =
                        (kSplineTable.byFraction[fy].w[m] * kSplineTable.byFraction[fx].w[n]) >> 8;
                    ASSERT_GE(weight, 0) << fy << " " << fx << " " << m << " " << n;
                    ASSERT_LE(weight, 127) << fy << " " << fx << " " << m << " " << n;
                }
            }
        }
    }
}

TEST(StretchFrom, WholeImagesMatchThePlainFormulaAtManyScales)
{
    std::mt19937 random(20240611);
    // Exact halves (the sweep's case), upscales, mild and strong downscales
    // (beyond about 4.3 source pixels per column the loop gathers), widths on
    // both sides of multiples of four, and sources too narrow for any column
    // to have all its neighbours inside.
    const std::int32_t sizes[][4] = {
        {258, 34, 129, 17}, {256, 8, 128, 4},  {131, 9, 65, 5},   {7, 5, 23, 19},   {40, 6, 97, 13},
        {101, 11, 77, 9},   {64, 7, 61, 7},    {300, 20, 100, 7}, {230, 9, 53, 4},  {1000, 12, 97, 3},
        {2000, 5, 59, 5},   {3, 3, 11, 11},    {2, 40, 9, 7},     {1, 1, 6, 5},     {45, 45, 45, 45},
        {17, 3, 5, 3},      {5, 17, 18, 3},    {129, 2, 4, 1},    {33, 4, 1, 4},    {96, 3, 31, 2},
    };
    for (const auto& s : sizes) {
        for (const bool bright : {false, true}) {
            ExpectSameAsReference({s[2], s[3], 0, 0, s[2], s[3], s[0], s[1], 0, 0, s[0], s[1]}, random, bright);
        }
    }
}

TEST(StretchFrom, ClippedAndOffsetRectanglesMatchThePlainFormula)
{
    std::mt19937 random(7);
    // Rectangles off every edge of both images, and sub-rectangles whose
    // neighbours lie outside the rectangle but inside the source.
    const StretchCase cases[] = {
        {60, 20, -5, -3, 50, 30, 120, 40, 0, 0, 120, 40},  {60, 20, 3, 2, 50, 10, 120, 40, -7, -2, 100, 30},
        {60, 20, 11, 1, 37, 17, 120, 40, 9, 5, 74, 31},    {60, 20, 40, 15, 50, 30, 90, 50, 60, 30, 70, 40},
        {33, 9, 0, 0, 33, 9, 200, 30, 150, 20, 100, 20},   {70, 12, 2, 3, 61, 8, 41, 11, 1, 1, 39, 9},
        {50, 50, -20, -20, 90, 90, 30, 30, -10, -10, 50, 50},
    };
    for (const StretchCase& c : cases) {
        ExpectSameAsReference(c, random);
    }
    // And a spread of random ones around the images.
    std::uniform_int_distribution<std::int32_t> side(1, 90);
    std::uniform_int_distribution<std::int32_t> offset(-30, 60);
    for (int k = 0; k < 150; ++k) {
        const std::int32_t targetW = side(random);
        const std::int32_t targetH = side(random) / 8 + 1;
        const std::int32_t sourceW = 2 * side(random);
        const std::int32_t sourceH = side(random) / 4 + 1;
        ExpectSameAsReference({targetW, targetH, offset(random), offset(random) / 8, side(random), side(random) / 8 + 1,
                               sourceW, sourceH, offset(random), offset(random) / 8, 2 * side(random),
                               side(random) / 4 + 1},
                              random);
    }
}

TEST(StretchFrom, BandedRowsMatchThePlainFormula)
{
    // Large enough for parallel bands with different row fractions.
    std::mt19937 random(99);
    ExpectSameAsReference({707, 301, 0, 0, 707, 301, 1031, 517, 0, 0, 1031, 517}, random);
    ExpectSameAsReference({515, 257, 0, 0, 515, 257, 1030, 514, 0, 0, 1030, 514}, random);
}

// Deep pictures take the same neighbours and weights: an 8-bit picture
// widened, stretched and narrowed again lands within a level of the 8-bit
// stretch (a 16-bit sum keeps the fraction the 8-bit one cuts off), edges and
// the gain included; mixed depths are left alone.
TEST(StretchFrom, DeepPicturesStretchLikeEightBitOnes)
{
    const CImageBuffer source = test::MakePatternImage(23, 17, 4);
    CImageBuffer expected;
    expected.Create(15, 29);
    expected.StretchFrom(1, 2, 13, 26, source, 0, 0, 23, 17);
    for (ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        SCOPED_TRACE(std::string(ChannelTypeName(type)));
        CImageBuffer deepSource;
        ASSERT_TRUE(CopyAtChannelType(source, type, Dither::None, deepSource));
        CImageBuffer target;
        target.Create(15, 29, type);
        target.StretchFrom(1, 2, 13, 26, deepSource, 0, 0, 23, 17);
        ASSERT_TRUE(ConvertChannelType(target, ChannelType::Uint8, Dither::None));
        for (std::int32_t y = 0; y < 29; ++y) {
            for (std::int32_t x = 0; x < 15; ++x) {
                const std::uint32_t want = expected.GetPixel(x, y);
                const std::uint32_t got = target.GetPixel(x, y);
                for (int shift : {0, 8, 16, 24}) {
                    const int a = static_cast<int>(want >> shift & 255);
                    const int b = static_cast<int>(got >> shift & 255);
                    ASSERT_LE(std::abs(a - b), 1) << x << ", " << y << " shift " << shift;
                }
            }
        }
    }
    CImageBuffer mixed;
    mixed.Create(4, 4, ChannelType::Uint16);
    mixed.StretchFrom(0, 0, 4, 4, test::MakeUniformImage(4, 4, Grey(128)), 0, 0, 4, 4);
    EXPECT_EQ(mixed.Row16(1)[1], (Pixel16{0, 0, 0, 0}));
}

}  // namespace
}  // namespace skelvane
