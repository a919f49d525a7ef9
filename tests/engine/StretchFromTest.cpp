#include <gtest/gtest.h>

#include "engine/ImageBuffer.h"
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
    CImageBuffer source;
    source.Create(5, 1);
    const std::uint32_t reds[] = {10, 100, 200, 50, 250};
    for (int x = 0; x < 5; ++x) {
        source.SetPixel(x, 0, 0xFF000000u | reds[x] << 16 | 7);
    }
    CImageBuffer target;
    target.Create(4, 1);
    target.StretchFrom(0, 0, 4, 1, source, 0, 0, 5, 1);
    // The last pixel's centre is column 3; its neighbour at column 5 reads
    // column 3 again, not the edge column 4 (which would give 186).
    const std::uint32_t expectedRed[] = {24, 126, 127, 174};
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ((target.GetPixel(j, 0) >> 16) & 255, expectedRed[j]) << "column " << j;
        EXPECT_EQ(target.GetPixel(j, 0) >> 24, 0xFFu);
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

}  // namespace
}  // namespace skelvane
