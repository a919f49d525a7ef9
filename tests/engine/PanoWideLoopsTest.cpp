#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "engine/simd/SimdTargets.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

// The estimate loop, built for each instruction set with vectors, must give
// the pixels of the double-precision one-pixel loop bit for bit, in both
// renderers, on every such set the processor has.
class PanoWideLoops : public ::testing::TestWithParam<std::int64_t> {
protected:
    void TearDown() override { simd::UseOnlyTargetForTest(0); }

    // What `render` gives with the one-pixel loop, then with the loop under
    // test.
    template <class Render>
    void ExpectSamePixels(Render&& render)
    {
        simd::UseOnlyTargetForTest(simd::SupportedTargets().front());
        const auto expected = render();
        simd::UseOnlyTargetForTest(GetParam());
        const auto actual = render();
        ASSERT_TRUE(expected && actual);
        EXPECT_EQ(test::PixelsOf(*actual), test::PixelsOf(*expected));
    }

    CPanoDomeProjector projector;
};

std::vector<std::int64_t> TargetsWithVectors()
{
    std::vector<std::int64_t> targets = simd::SupportedTargets();
    targets.erase(targets.begin());
    return targets;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PanoWideLoops);
INSTANTIATE_TEST_SUITE_P(EachWidth, PanoWideLoops, ::testing::ValuesIn(TargetsWithVectors()),
                         [](const ::testing::TestParamInfo<std::int64_t>& info) {
                             return simd::TargetName(info.param);
                         });

// Panoramas of more than 512 pixels take their kernel weights from the
// table; panoramas under four pixels a side never take the estimate.
TEST_P(PanoWideLoops, GivesThePixelsOfTheDoubleLoops)
{
    struct Scene {
        std::int32_t width, height, outSize, fov;
        float tilt;
    };
    for (const Scene s : {Scene{64, 32, 33, 180, 60.0f}, Scene{200, 100, 100, 360, -90.0f},
                          Scene{5, 3, 17, 220, 90.0f}, Scene{37, 91, 40, 90, 12.5f}, Scene{1, 1, 8, 180, 0.0f},
                          Scene{1100, 600, 64, 180, 30.0f}, Scene{3001, 1500, 48, 300, 75.0f}}) {
        const CImageBuffer pano = test::MakePatternImage(s.width, s.height, 9);
        const PanoMap map = projector.BuildPanoDomeMap(s.width, s.height, s.outSize, s.fov, s.tilt);
        ASSERT_TRUE(map);
        for (const float pan : {-180.0f, -177.12f, 0.0f, 33.3f, 179.99f, 180.0f, 541.7f, -905.25f, 1.0e7f}) {
            SCOPED_TRACE(::testing::Message() << s.width << " x " << s.height << " -> " << s.outSize << ", pan " << pan);
            ExpectSamePixels([&] { return projector.RenderPanoDome(pano, map.get(), s.outSize, pan); });
            ExpectSamePixels([&] { return projector.RenderPanoDomeDirect(pano, s.outSize, s.fov, s.tilt, pan); });
        }
    }
}

// Where a channel's total lies on or next to a rounding step, a
// single-precision estimate could round the other way; those pixels must come
// out as the double-precision sum rounds them. Each row of the panorama
// repeats four grey levels; every map entry reads four of them at one column
// position.
TEST_P(PanoWideLoops, TotalsAtARoundingStepRoundAsInDoublePrecision)
{
    struct Case {
        std::uint32_t levels[4];
        float x;
        std::uint32_t grey;  // the double-precision result
    };
    // Taps 4, 2, 2, 4 at fraction 0.5 weigh -0.125, 0.625, 0.625, -0.125:
    // exactly 1.5, and truncate(1.5 + 0.5) = 2. Taps 0, 0, 255, 0 at this
    // fraction sum to 14.4999995 in double precision, which single precision
    // rounds to 14.5.
    for (const Case c : {Case{{4, 2, 2, 4}, 5.5f, 2}, Case{{0, 0, 255, 0}, 5.05409479f, 14}}) {
        CImageBuffer pano;
        pano.Create(64, 8);
        for (std::int32_t y = 0; y < 8; ++y) {
            for (std::int32_t x = 0; x < 64; ++x) {
                const std::uint32_t v = c.levels[x % 4];
                pano.Row32(y)[x] = 0xFF000000u | v << 16 | v << 8 | v;
            }
        }
        constexpr std::int32_t kSide = 20;
        auto map = std::make_unique<PanoMapEntry[]>(kSide * kSide);
        for (std::int32_t i = 0; i < kSide * kSide; ++i) {
            map[i] = {c.x, static_cast<float>(1 + i % 5)};
        }
        const auto dome = projector.RenderPanoDome(pano, map.get(), kSide, -180.0f);
        ASSERT_TRUE(dome);
        EXPECT_EQ(dome->Row32(3)[7], 0xFF000000u | c.grey * 0x010101u);
        SCOPED_TRACE(c.x);
        ExpectSamePixels([&] { return projector.RenderPanoDome(pano, map.get(), kSide, -180.0f); });
    }
}

// Far off, at the edges, not finite, the outside marker in one coordinate
// only: every entry kind in one 4 x 4 map, and an odd one out at each row's
// end.
TEST_P(PanoWideLoops, ForeignMapEntriesAsInDoublePrecision)
{
    const CImageBuffer pano = test::MakePatternImage(50, 25, 2);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<PanoMapEntry> entries = {
        {-1.0f, -1.0f}, {-1.0f, 3.0f}, {3.0f, -1.0f}, {inf, 2.0f},   {2.0f, nan},     {-1e9f, 1e9f},
        {49.5f, 24.5f}, {0.0f, 0.0f},  {0.2f, 0.7f},  {48.9f, 1.5f}, {-3.5f, -2.5f},  {26.25f, 12.125f},
        {51.0f, 23.0f}, {1e30f, 5.0f}, {7.0f, -1e30f}, {-1.0f, -1.0f}};
    auto map = std::make_unique<PanoMapEntry[]>(entries.size());
    std::copy(entries.begin(), entries.end(), map.get());
    for (const float pan : {-180.0f, 12.0f, 300.0f}) {
        SCOPED_TRACE(pan);
        ExpectSamePixels([&] { return projector.RenderPanoDome(pano, map.get(), 4, pan); });
    }
    // The same kinds strewn over a dome of several tiles and row bands, where
    // the render looks ahead at entries to fetch their panorama lines early.
    constexpr std::int32_t kLarge = 300;
    auto large = std::make_unique<PanoMapEntry[]>(kLarge * kLarge);
    for (std::int32_t k = 0; k < kLarge * kLarge; ++k) {
        large[k] = entries[static_cast<std::size_t>(k % 17 % 16)];
    }
    for (const float pan : {-180.0f, 12.0f, 300.0f}) {
        SCOPED_TRACE(pan);
        ExpectSamePixels([&] { return projector.RenderPanoDome(pano, large.get(), kLarge, pan); });
    }
}

}  // namespace
}  // namespace skelvane
