#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/ImageBuffer.h"
#include "engine/PanoDomeProjector.h"
#include "pano2dome/PanoSweepRenderer.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

// The sweep renderer must give the projector's pixels bit for bit: the
// frames of a sweep are the frames RenderPanoDome would give. Panoramas of
// more than 512 pixels take their kernel weights from the table.
TEST(PanoSweepRenderer, GivesTheProjectorsPixelsExactly)
{
    if (!CPanoSweepRenderer::PairedLoopInUse()) {
        GTEST_SKIP() << "no AVX-512 here: the projector renders the sweep itself";
    }
    struct Scene {
        std::int32_t width, height, outSize, fov;
        float tilt;
    };
    CPanoDomeProjector projector;
    CPanoSweepRenderer renderer;
    for (const Scene s : {Scene{64, 32, 33, 180, 60.0f}, Scene{200, 100, 100, 360, -90.0f},
                          Scene{5, 3, 17, 220, 90.0f}, Scene{37, 91, 40, 90, 12.5f}, Scene{1, 1, 8, 180, 0.0f},
                          Scene{1100, 600, 64, 180, 30.0f}, Scene{3001, 1500, 48, 300, 75.0f}}) {
        const CImageBuffer pano = test::MakePatternImage(s.width, s.height, 9);
        const PanoMap map = projector.BuildPanoDomeMap(s.width, s.height, s.outSize, s.fov, s.tilt);
        ASSERT_TRUE(map);
        for (const float pan : {-180.0f, -177.12f, 0.0f, 33.3f, 179.99f, 180.0f, 541.7f, -905.25f, 1.0e7f}) {
            const auto expected = projector.RenderPanoDome(pano, map.get(), s.outSize, pan);
            const auto actual = renderer.Render(pano, map.get(), s.outSize, pan);
            ASSERT_TRUE(expected && actual);
            EXPECT_EQ(test::PixelsOf(*actual), test::PixelsOf(*expected))
                << s.width << " x " << s.height << " -> " << s.outSize << ", pan " << pan;
        }
    }
}

TEST(PanoSweepRenderer, ForeignMapsAndRefusalsAsTheProjector)
{
    const CImageBuffer pano = test::MakePatternImage(50, 25, 2);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Far off, at the edges, not finite, the outside marker in one
    // coordinate only: every entry kind in one 4 x 4 map, and an odd one out
    // at each row's end.
    std::vector<PanoMapEntry> entries = {
        {-1.0f, -1.0f}, {-1.0f, 3.0f}, {3.0f, -1.0f}, {inf, 2.0f},   {2.0f, nan},     {-1e9f, 1e9f},
        {49.5f, 24.5f}, {0.0f, 0.0f},  {0.2f, 0.7f},  {48.9f, 1.5f}, {-3.5f, -2.5f},  {26.25f, 12.125f},
        {51.0f, 23.0f}, {1e30f, 5.0f}, {7.0f, -1e30f}, {-1.0f, -1.0f}};
    auto map = std::make_unique<PanoMapEntry[]>(entries.size());
    std::copy(entries.begin(), entries.end(), map.get());
    CPanoDomeProjector projector;
    CPanoSweepRenderer renderer;
    for (const float pan : {-180.0f, 12.0f, 300.0f}) {
        const auto expected = projector.RenderPanoDome(pano, map.get(), 4, pan);
        const auto actual = renderer.Render(pano, map.get(), 4, pan);
        ASSERT_TRUE(expected && actual);
        EXPECT_EQ(test::PixelsOf(*actual), test::PixelsOf(*expected)) << pan;
    }
    EXPECT_FALSE(renderer.Render(pano, nullptr, 4, 0.0f));
    EXPECT_FALSE(renderer.Render(CImageBuffer(), map.get(), 4, 0.0f));
    EXPECT_FALSE(renderer.Render(pano, map.get(), 1, 0.0f));
    EXPECT_FALSE(renderer.Render(pano, map.get(), 4, nan));
}

}  // namespace
}  // namespace skelvane
