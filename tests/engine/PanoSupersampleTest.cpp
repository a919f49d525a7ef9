#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/projection/PanoDomeProjector.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::RecordingReporter;

TEST(PanoSupersample, OneSubSampleIsTheRendererItFollowsBitForBit)
{
    RecordingReporter reporter;
    CPanoDomeProjector projector(reporter);
    const CImageBuffer pano = test::MakePatternImage(90, 45);
    for (const float pan : {0.0f, 137.5f, -400.0f}) {
        for (const std::int32_t out : {40, 41}) {
            SCOPED_TRACE("pan " + std::to_string(pan) + " size " + std::to_string(out));
            const auto still = projector.RenderPanoDomeDirect(pano, out, 200, 40.0f, pan);
            const auto stillOnce = projector.RenderPanoDomeSupersampled(pano, out, 200, 40.0f, pan, 1, PanoWrap::Still);
            ASSERT_TRUE(still && stillOnce);
            EXPECT_EQ(test::PixelsOf(*stillOnce), test::PixelsOf(*still));

            const PanoMap map = projector.BuildPanoDomeMap(90, 45, out, 200, 40.0f);
            const auto sweep = projector.RenderPanoDome(pano, map.get(), out, pan);
            const auto sweepOnce = projector.RenderPanoDomeSupersampled(pano, out, 200, 40.0f, pan, 1, PanoWrap::Sweep);
            ASSERT_TRUE(sweep && sweepOnce);
            EXPECT_EQ(test::PixelsOf(*sweepOnce), test::PixelsOf(*sweep));
        }
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST(PanoSupersample, TheRimFadesWithTheShareOfSubSamplesInside)
{
    RecordingReporter reporter;
    CPanoDomeProjector projector(reporter);
    const CImageBuffer pano = test::MakeUniformImage(64, 32, 0xFF60A0C0u);
    constexpr std::int32_t kOut = 33;
    const double centre = (kOut - 1) / 2.0;
    for (std::int32_t s = 2; s <= kMaxPanoSupersample; ++s) {
        SCOPED_TRACE("s = " + std::to_string(s));
        const auto dome = projector.RenderPanoDomeSupersampled(pano, kOut, 180, 60.0f, 0.0f, s, PanoWrap::Still);
        ASSERT_TRUE(dome);
        int partial = 0;
        for (std::int32_t i = 0; i < kOut; ++i) {
            for (std::int32_t j = 0; j < kOut; ++j) {
                int inside = 0;
                for (int a = 0; a < s; ++a) {
                    for (int b = 0; b < s; ++b) {
                        const double dy = i - centre + (2.0 * a + 1 - s) / (2.0 * s);
                        const double dx = j - centre + (2.0 * b + 1 - s) / (2.0 * s);
                        inside += std::sqrt(dx * dx + dy * dy) <= centre;
                    }
                }
                const std::uint32_t pixel = dome->GetPixel(j, i);
                const double share = static_cast<double>(inside) / (s * s);
                // A sub-sample right on the circle may fall either way in floats.
                const double slack = 255.0 / (s * s) + 1.0;
                EXPECT_NEAR(pixel >> 24, 255.0 * share, slack) << i << ", " << j;
                EXPECT_NEAR(pixel >> 16 & 255u, 0x60 * share, slack) << i << ", " << j;
                EXPECT_NEAR(pixel & 255u, 0xC0 * share, slack) << i << ", " << j;
                partial += (pixel >> 24) != 0 && (pixel >> 24) != 255;
            }
        }
        EXPECT_GT(partial, 2 * kOut);  // the whole rim, not a few pixels
    }
}

TEST(PanoSupersample, FineDetailAveragesInsteadOfAliasing)
{
    // Columns alternating black and white are finer than the dome's pixels:
    // one sample a pixel picks either, sub-samples average towards grey.
    CImageBuffer pano;
    pano.Create(1024, 512);
    for (std::int32_t y = 0; y < 512; ++y) {
        for (std::int32_t x = 0; x < 1024; ++x) {
            pano.SetPixel(x, y, x % 2 ? 0xFFFFFFFFu : 0xFF000000u);
        }
    }
    RecordingReporter reporter;
    CPanoDomeProjector projector(reporter);
    auto spread = [&](std::int32_t s) {
        const auto dome = projector.RenderPanoDomeSupersampled(pano, 64, 180, 90.0f, 0.0f, s, PanoWrap::Still);
        EXPECT_TRUE(dome);
        double squares = 0.0;
        int count = 0;
        for (std::int32_t i = 24; i < 40; ++i) {  // the middle, far from the rim
            for (std::int32_t j = 24; j < 40; ++j) {
                const double grey = (dome->GetPixel(j, i) & 255u) - 127.5;
                squares += grey * grey;
                ++count;
            }
        }
        return std::sqrt(squares / count);
    };
    EXPECT_LT(spread(4), spread(1) / 2.0);
}

TEST(PanoSupersample, RefusesWhatItCannotRender)
{
    CPanoDomeProjector projector;
    const CImageBuffer pano = test::MakePatternImage(16, 8);
    EXPECT_FALSE(projector.RenderPanoDomeSupersampled(pano, 16, 180, 0.0f, 0.0f, 0, PanoWrap::Still));
    EXPECT_FALSE(projector.RenderPanoDomeSupersampled(pano, 16, 180, 0.0f, 0.0f, 5, PanoWrap::Still));
    EXPECT_FALSE(projector.RenderPanoDomeSupersampled(pano, 1, 180, 0.0f, 0.0f, 2, PanoWrap::Still));
    EXPECT_FALSE(projector.RenderPanoDomeSupersampled(CImageBuffer(), 16, 180, 0.0f, 0.0f, 2, PanoWrap::Still));
    EXPECT_FALSE(projector.RenderPanoDomeSupersampled(pano, 16, 180, 0.0f, NAN, 2, PanoWrap::Sweep));
}

}  // namespace
}  // namespace skelvane
