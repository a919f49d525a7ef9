#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/projection/PanoDomeProjector.h"
#include "support/EachSimdTarget.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
using namespace pano_geometry;

using test::RecordingReporter;

// The renderers written the plain way: every kernel weight evaluated at its
// tap, every read through GetPixel, the wrap as a subtraction loop. The
// projector's renderers must give the same pixels bit for bit.
std::uint32_t ReferenceSample(const CImageBuffer& pano, float xs, float ys)
{
    const double x = xs;
    const double y = ys;
    const auto ix = static_cast<std::int32_t>(std::floor(x));
    const auto iy = static_cast<std::int32_t>(std::floor(y));
    const double fx = x - ix;
    const double fy = y - iy;
    const double colW[4] = {CPanoDomeProjector::CubicKernel(fx + 1), CPanoDomeProjector::CubicKernel(fx),
                            CPanoDomeProjector::CubicKernel(1 - fx), CPanoDomeProjector::CubicKernel(2 - fx)};
    const double rowW[4] = {CPanoDomeProjector::CubicKernel(fy + 1), CPanoDomeProjector::CubicKernel(fy),
                            CPanoDomeProjector::CubicKernel(1 - fy), CPanoDomeProjector::CubicKernel(2 - fy)};
    std::uint32_t result = 0xFF000000u;
    for (int shift : {16, 8, 0}) {
        double total = 0.0;
        for (int m = 0; m < 4; ++m) {
            double rowSum = 0.0;
            for (int n = 0; n < 4; ++n) {
                const std::uint32_t p = pano.GetPixel(ix - 1 + n, iy - 1 + m);
                rowSum += static_cast<double>(p >> shift & 255u) * colW[n];
            }
            total += rowSum * rowW[m];
        }
        int value = static_cast<int>(total + 0.5);
        value = value < 0 ? 0 : value > 255 ? 255 : value;
        result |= static_cast<std::uint32_t>(value) << shift;
    }
    return result;
}

float ReferenceWrap(float xs, float period)
{
    while (xs > period) {
        xs -= period;
    }
    return xs;
}

std::vector<std::uint32_t> ReferenceRender(const CImageBuffer& pano, const PanoMapEntry* map, std::int32_t n,
                                           float pan)
{
    const std::int32_t w = pano.GetWidth();
    const float shift = (pan + 180.0f) * static_cast<float>(w - 1) / 360.0f;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(n) * n);
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        if (map[k].x == -1.0f && map[k].y == -1.0f) {
            pixels[k] = 0;
            continue;
        }
        pixels[k] = ReferenceSample(pano, ReferenceWrap(map[k].x + shift, static_cast<float>(w)), map[k].y);
    }
    return pixels;
}

// The direct renderer's column: the base folds the pan in, the period is W - 1.
float DirectColumn(float longitude, std::int32_t w, float pan)
{
    const auto wm1 = static_cast<float>(w - 1);
    const float base = 0.75f * wm1 + (pan + 180.0f) * wm1 / 360.0f;
    return ReferenceWrap((kPi - longitude) * wm1 / kTwoPi + base, wm1);
}

std::vector<std::uint32_t> ReferenceDirect(const CImageBuffer& pano, std::int32_t n, std::int32_t fov, float tilt,
                                           float pan)
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(n) * n);
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t j = 0; j < n; ++j) {
            LonLat angles;
            std::uint32_t& pixel = pixels[static_cast<std::size_t>(i) * n + j];
            if (!FisheyeToLonLat(i, j, n, fov, TiltOf(tilt), angles)) {
                pixel = 0;
                continue;
            }
            const float py = (angles.latitude + kHalfPi) * static_cast<float>(pano.GetHeight() - 1) / kPi;
            pixel = ReferenceSample(pano, DirectColumn(angles.longitude, pano.GetWidth(), pan), py);
        }
    }
    return pixels;
}

CImageBuffer RandomPanorama(std::int32_t w, std::int32_t h, std::uint32_t seed)
{
    std::mt19937 random(seed);
    CImageBuffer pano;
    pano.Create(w, h);
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            pano.SetPixel(x, y, static_cast<std::uint32_t>(random()));  // alpha too: it must be ignored
        }
    }
    return pano;
}

// ---- Kernel ---------------------------------------------------------------

TEST(PanoKernel, InterpolatesWithTheMinusOneCubic)
{
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(0.0), 1.0);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(1.0), 0.0);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(2.0), 0.0);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(0.5), 0.625);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(-0.5), 0.625);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(0.25), 0.890625);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(1.5), -0.125);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(-1.25), -0.140625);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(2.5), 0.0);
    EXPECT_EQ(CPanoDomeProjector::CubicKernel(-7.0), 0.0);
    for (double f : {0.1, 0.3, 0.7, 0.9}) {
        const double sum = CPanoDomeProjector::CubicKernel(f + 1) + CPanoDomeProjector::CubicKernel(f) +
                           CPanoDomeProjector::CubicKernel(1 - f) + CPanoDomeProjector::CubicKernel(2 - f);
        EXPECT_NEAR(sum, 1.0, 1e-12) << f;
    }
}

// ---- Geometry of single pixels --------------------------------------------

// W - 1 = 2048 and H - 1 = 1024 make every landmark a round column or row.
constexpr std::int32_t kW = 2049;
constexpr std::int32_t kH = 1025;
constexpr std::int32_t kN = 101;   // c = 50; the rim pixels lie 50 from the centre
constexpr std::int32_t kC = 50;

PanoMapEntry At(std::int32_t row, std::int32_t column, float tilt, std::int32_t fov = 180, std::int32_t n = kN)
{
    return FisheyeToPanorama(row, column, kW, kH, n, fov, TiltOf(tilt));
}

// Where the map renderer reads a map entry at a pan.
float MapColumn(const PanoMapEntry& e, float pan)
{
    return WrapColumn(e.x + PanShift(pan, kW), static_cast<float>(kW));
}

TEST(PanoGeometry, LevelViewLooksAtTheMiddleOfTheHorizon)
{
    const PanoMapEntry centre = At(kC, kC, 0.0f);
    EXPECT_NEAR(centre.x, 2048.0f, 1e-3f);   // longitude pi/2, before the pan
    EXPECT_NEAR(centre.y, 512.0f, 1e-3f);
    // Pan 0 brings it to W / 2 - 1.5 in the map renderer.
    EXPECT_NEAR(MapColumn(centre, 0.0f), kW / 2.0f - 1.5f, 1e-3f);

    // Half a field of view of 180 to the right: 90 degrees right on the horizon.
    const PanoMapEntry right = At(kC, kN - 1, 0.0f);
    EXPECT_NEAR(MapColumn(right, 0.0f), 1023.0f + 512.0f, 1e-2f);
    EXPECT_NEAR(right.y, 512.0f, 1e-3f);
    const PanoMapEntry left = At(kC, 0, 0.0f);
    EXPECT_NEAR(MapColumn(left, 0.0f), 1023.0f - 512.0f, 1e-2f);
    // Straight up at the top rim: the zenith row.
    EXPECT_NEAR(At(0, kC, 0.0f).y, 0.0f, 1e-2f);
    // Corners lie outside.
    EXPECT_EQ(At(0, 0, 0.0f).x, kPanoOutside);
    EXPECT_EQ(At(0, 0, 0.0f).y, kPanoOutside);
}

TEST(PanoGeometry, EvenDomeCentreComesFromTheMiddleOfTheMiddleRow)
{
    // N = 100: the four centre pixels straddle the view axis.
    const PanoMapEntry justRight = At(50, 50, 0.0f, 180, 100);
    const PanoMapEntry justLeft = At(50, 49, 0.0f, 180, 100);
    const float middle = kW / 2.0f - 1.5f;
    EXPECT_GT(MapColumn(justRight, 0.0f), middle);
    EXPECT_LT(MapColumn(justRight, 0.0f), middle + 20.0f);
    EXPECT_LT(MapColumn(justLeft, 0.0f), middle);
    EXPECT_GT(MapColumn(justLeft, 0.0f), middle - 20.0f);
    EXPECT_NEAR(justRight.y, 512.0f, 10.0f);
    EXPECT_GT(justRight.y, 512.0f);   // row 50 is below the centre: below the horizon
}

TEST(PanoGeometry, TiltNinetyPutsTheZenithInTheCentre)
{
    EXPECT_NEAR(At(kC, kC, 90.0f).y, 0.0f, 1e-2f);
    // Bottom rim: the middle of the panorama on its horizon.
    const PanoMapEntry bottom = At(kN - 1, kC, 90.0f);
    EXPECT_NEAR(MapColumn(bottom, 0.0f), 1023.0f, 1e-2f);
    EXPECT_NEAR(bottom.y, 512.0f, 1e-2f);
    // Top rim: the seam on the horizon (W - 2 in the map renderer's period W,
    // W - 1 in the direct renderer's W - 1).
    const PanoMapEntry top = At(0, kC, 90.0f);
    EXPECT_NEAR(MapColumn(top, 0.0f), 2047.0f, 1e-2f);
    EXPECT_NEAR(top.y, 512.0f, 1e-2f);
    LonLat angles;
    ASSERT_TRUE(FisheyeToLonLat(0, kC, kN, 180, TiltOf(90.0f), angles));
    EXPECT_NEAR(DirectColumn(angles.longitude, kW, 0.0f), 2048.0f, 1e-2f);
    // Left rim: a quarter of the width left of the middle.
    // (That rim pixel looks exactly along longitude -pi, so it lands on the
    // far side of the map's range and is wrapped twice: one column off.)
    const PanoMapEntry left = At(kC, 0, 90.0f);
    EXPECT_NEAR(MapColumn(left, 0.0f), 1023.0f - 512.0f, 1.01f);
    EXPECT_NEAR(left.y, 512.0f, 1e-2f);
    // Tilt -90: the nadir.
    EXPECT_NEAR(At(kC, kC, -90.0f).y, 1024.0f, 1e-2f);
}

TEST(PanoGeometry, PanTurnsTheViewToTheRight)
{
    const PanoMapEntry centre = At(kC, kC, 0.0f);
    // Three quarters of the way across, on the horizon.
    EXPECT_NEAR(MapColumn(centre, 90.0f), 0.75f * 2048.0f - 1.0f, 1e-2f);
    EXPECT_EQ(PanShift(0.0f, kW), 1024.0f);
    EXPECT_EQ(PanShift(180.0f, kW), 2048.0f);
    EXPECT_EQ(PanShift(-180.0f, kW), 0.0f);
    // 180 and -180 differ by W - 1 columns, one column once wrapped by W.
    EXPECT_NEAR(MapColumn(centre, 180.0f) - MapColumn(centre, -180.0f), -1.0f, 1e-3f);
}

TEST(PanoGeometry, WrapMatchesRepeatedSubtraction)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> column(0.0f, 12000.0f);
    for (float period : {37.0f, 36.0f, 2049.0f, 2048.0f, 1.0f}) {
        for (int k = 0; k < 20000; ++k) {
            const float x = column(random);
            ASSERT_EQ(WrapColumn(x, period), ReferenceWrap(x, period)) << x << " " << period;
        }
        for (float x : {period, 2 * period, 3 * period, 0.0f, period + 0.5f}) {
            EXPECT_EQ(WrapColumn(x, period), ReferenceWrap(x, period)) << x << " " << period;
        }
    }
    // Far below zero (pans far below -180) the column is brought back too.
    EXPECT_EQ(WrapColumn(-10.5f, 4.0f), 1.5f);
    EXPECT_EQ(WrapColumn(-8.0f, 4.0f), 0.0f);
    // A period of 0 (a one-column panorama in the direct renderer) is no wrap.
    EXPECT_EQ(WrapColumn(5.0f, 0.0f), 5.0f);
}

double AngleBetween(const LonLat& a, const LonLat& b)
{
    auto unit = [](const LonLat& p) {
        const double lon = p.longitude;
        const double lat = p.latitude;
        return std::array{std::cos(lat) * std::cos(lon), std::sin(lat), std::cos(lat) * std::sin(lon)};
    };
    const auto u = unit(a);
    const auto v = unit(b);
    const double dx = u[0] - v[0];
    const double dy = u[1] - v[1];
    const double dz = u[2] - v[2];
    return 2.0 * std::asin(std::sqrt(dx * dx + dy * dy + dz * dz) / 2.0);
}

// The centre column of an odd dome takes the formula's limit: on the sphere
// it lies no further than one pixel's angle from either neighbour, for every
// tilt, and the top of the circle is the zenith rather than a leftover from
// some other pixel. (A copy of the left neighbour would lie two pixels from
// the right one.)
TEST(PanoGeometry, OddCentreColumnIsContinuousWithItsNeighbours)
{
    for (float tilt : {0.0f, 30.0f, 60.0f, 89.0f, 90.0f, -45.0f, -90.0f}) {
        for (std::int32_t fov : {90, 180, 220}) {
            // Radians per output pixel along a radius, the largest spacing.
            const double pixelAngle = fov * 3.14159265358979 / 360.0 / kC;
            const Tilt t = TiltOf(tilt);
            for (std::int32_t row = 0; row < kN; ++row) {
                LonLat mid;
                LonLat leftSide;
                LonLat rightSide;
                ASSERT_TRUE(FisheyeToLonLat(row, kC, kN, fov, t, mid));
                if (!FisheyeToLonLat(row, kC - 1, kN, fov, t, leftSide) ||
                    !FisheyeToLonLat(row, kC + 1, kN, fov, t, rightSide)) {
                    continue;
                }
                const double toLeft = AngleBetween(mid, leftSide);
                const double toRight = AngleBetween(mid, rightSide);
                EXPECT_LE(toLeft, 1.01 * pixelAngle) << tilt << " " << fov << " " << row;
                EXPECT_LE(toRight, 1.01 * pixelAngle) << tilt << " " << fov << " " << row;
                EXPECT_NEAR(toLeft, toRight, 0.02 * pixelAngle) << tilt << " " << fov << " " << row;
            }
        }
    }
    // Level view: the centre column looks straight ahead (longitude pi/2)
    // up to the horizon of the view axis, and the top of the circle is the zenith.
    // (The bottom rim pixel itself looks straight down, where longitude has
    // no meaning.)
    for (std::int32_t row = 1; row < kN - 1; ++row) {
        EXPECT_EQ(At(row, kC, 0.0f).x, LongitudeToColumn(kHalfPi, kW) + 0.75f * 2048.0f) << row;
    }
    EXPECT_EQ(At(kC, kC, 0.0f).y, 512.0f);
    EXPECT_NEAR(At(0, kC, 0.0f).y, 0.0f, 1e-2f);
}

// ---- Whole maps and renders -----------------------------------------------

class PanoProjector : public ::testing::Test {
protected:
    // Runs `check` with the one-pixel loops and then with each vector
    // loop the processor has.
    template <class Check>
    void WithEachPixelLoop(Check&& check)
    {
        test::ForEachSimdTarget([&](const char*) { check(); });
    }

    RecordingReporter reporter;
    CPanoDomeProjector projector{reporter};
};

// The map computes each row together with its mirror row; every entry must
// still be the one-pixel path's, for even and odd sizes (an odd one has a
// middle row and column of its own) and tilts that break the symmetry.
TEST_F(PanoProjector, MapHoldsEveryPixelsPositionInRowMajorOrder)
{
    // Large enough for the row bands to run in parallel.
    for (auto [n, fov, tilt] : {std::tuple{300, 200, 37.5f}, std::tuple{301, 180, 60.0f},
                                std::tuple{257, 360, -90.0f}, std::tuple{2, 180, 0.0f}, std::tuple{3, 90, 15.0f}}) {
        PanoMap map = projector.BuildPanoDomeMap(600, 300, n, fov, tilt);
        ASSERT_TRUE(map);
        std::int32_t outside = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            for (std::int32_t j = 0; j < n; ++j) {
                const PanoMapEntry expected = FisheyeToPanorama(i, j, 600, 300, n, fov, TiltOf(tilt));
                const PanoMapEntry& got = map[static_cast<std::size_t>(i) * n + j];
                ASSERT_EQ(got.x, expected.x) << n << ": " << i << " " << j;
                ASSERT_EQ(got.y, expected.y) << n << ": " << i << " " << j;
                outside += got.x == kPanoOutside ? 1 : 0;
            }
        }
        if (n > 100) {
            // Outside the inscribed circle: about 1 - pi/4 of the square.
            EXPECT_NEAR(outside / double(n * n), 1.0 - 3.14159265 / 4, 0.01) << n;
        }
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PanoProjector, MapRenderIsTheReferenceBitForBit)
{
    for (auto [w, h, n] : {std::array{37, 19, 23}, std::array{300, 150, 300}}) {
        const CImageBuffer pano = RandomPanorama(w, h, static_cast<std::uint32_t>(w));
        std::mt19937 random(static_cast<std::uint32_t>(n));
        std::uniform_real_distribution<float> column(0.0f, 1.8f * w);
        std::uniform_real_distribution<float> row(-3.0f, h + 2.0f);
        std::vector<PanoMapEntry> map(static_cast<std::size_t>(n) * n);
        for (std::size_t k = 0; k < map.size(); ++k) {
            switch (random() % 10) {
            case 0: map[k] = {-1.0f, -1.0f}; break;
            case 1: map[k] = {std::floor(column(random)), std::floor(row(random))}; break;   // zero fractions
            case 2: map[k] = {column(random), 0.0f}; break;
            default: map[k] = {column(random), row(random)}; break;
            }
        }
        for (float pan : {0.0f, 90.0f, 180.0f, -180.0f, 33.3f, -97.1f, 179.9f}) {
            const std::vector<std::uint32_t> expected = ReferenceRender(pano, map.data(), n, pan);
            WithEachPixelLoop([&] {
                auto dome = projector.RenderPanoDome(pano, map.data(), n, pan);
                ASSERT_TRUE(dome);
                EXPECT_EQ(test::PixelsOf(*dome), expected) << w << " " << pan;
            });
        }
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PanoProjector, BuiltMapRenderIsTheReference)
{
    const CImageBuffer pano = RandomPanorama(200, 100, 3);
    for (float tilt : {0.0f, 90.0f, -30.0f}) {
        for (std::int32_t n : {51, 64}) {
            PanoMap map = projector.BuildPanoDomeMap(200, 100, n, 180, tilt);
            ASSERT_TRUE(map);
            for (float pan : {0.0f, 180.0f, -180.0f, 45.0f}) {
                WithEachPixelLoop([&] {
                    auto dome = projector.RenderPanoDome(pano, map.get(), n, pan);
                    ASSERT_TRUE(dome);
                    EXPECT_EQ(test::PixelsOf(*dome), ReferenceRender(pano, map.get(), n, pan)) << tilt << " " << pan;
                });
            }
        }
    }
}

TEST_F(PanoProjector, DirectRenderIsTheReferenceBitForBit)
{
    const CImageBuffer pano = RandomPanorama(400, 200, 5);
    for (auto [n, fov, tilt, pan] : {std::tuple{257, 180, 60.0f, 0.0f}, std::tuple{64, 180, 0.0f, 180.0f},
                                     std::tuple{65, 220, -90.0f, -180.0f}, std::tuple{40, 90, 15.0f, 77.7f}}) {
        const std::vector<std::uint32_t> expected = ReferenceDirect(pano, n, fov, tilt, pan);
        WithEachPixelLoop([&] {
            auto dome = projector.RenderPanoDomeDirect(pano, n, fov, tilt, pan);
            ASSERT_TRUE(dome);
            EXPECT_EQ(test::PixelsOf(*dome), expected) << n << " " << tilt;
        });
    }
}

// Where the wrap applies the direct renderer reads one panorama column to
// the right of the map renderer (periods W - 1 and W); elsewhere they agree.
TEST_F(PanoProjector, RenderersDifferByOneColumnWhereTheWrapApplies)
{
    const std::int32_t w = kW;
    const float period = static_cast<float>(w);
    std::int32_t wrapped = 0;
    std::int32_t unwrapped = 0;
    for (float pan : {0.0f, 90.0f, -120.0f, -180.0f}) {
        for (std::int32_t row = 0; row < kN; row += 7) {
            for (std::int32_t column = 0; column < kN; column += 3) {
                LonLat angles;
                if (!FisheyeToLonLat(row, column, kN, 180, TiltOf(40.0f), angles)) {
                    continue;
                }
                const PanoMapEntry e = At(row, column, 40.0f);
                const float raw = e.x + PanShift(pan, w);
                const float mapColumn = WrapColumn(raw, period);
                const float directColumn = DirectColumn(angles.longitude, w, pan);
                // Columns next to the seam wrap in one renderer only.
                if (raw > period - 2 && raw < period + 2) {
                    continue;
                }
                // One column per turn of the wrap.
                float offset = 0.0f;
                for (float x = raw; x > period; x -= period) {
                    offset += 1.0f;
                }
                (raw > period ? wrapped : unwrapped) += 1;
                EXPECT_NEAR(directColumn - mapColumn, offset, 2e-3f) << pan << " " << row << " " << column;
            }
        }
    }
    EXPECT_GT(wrapped, 100);
    EXPECT_GT(unwrapped, 50);

    // In pictures: the centre of a level view at pan 0, from a panorama with
    // a different colour in every column, is column W / 2 - 1.5 in one and
    // (W - 1) / 2 in the other.
    const CImageBuffer pano = test::MakePatternImage(64, 32);
    auto viaMap = projector.RenderPanoDome(pano, projector.BuildPanoDomeMap(64, 32, 33, 180, 0.0f).get(), 33, 0.0f);
    auto direct = projector.RenderPanoDomeDirect(pano, 33, 180, 0.0f, 0.0f);
    ASSERT_TRUE(viaMap && direct);
    EXPECT_EQ(viaMap->GetPixel(16, 16), ReferenceSample(pano, 30.5f, 15.5f));
    EXPECT_EQ(direct->GetPixel(16, 16), ReferenceSample(pano, 31.5f, 15.5f));
    EXPECT_NE(viaMap->GetPixel(16, 16), direct->GetPixel(16, 16));
}

// A sharp map replays the direct renderer: for every pan, whatever the
// panorama's aspect, the dome's size (odd ones have a centre column of their
// own), field of view or tilt, a frame is the still image bit for bit. Every
// pan wraps columns (the base alone is 3/4 of a turn), the later ones twice;
// the last pan overflows the column, which both show as outside.
TEST_F(PanoProjector, SharpFramesAreTheDirectRenderBitForBit)
{
    struct Case {
        std::int32_t w, h, n, fov;
        float tilt;
    };
    const std::vector<float> pans = {-180.0f, -177.12f, -90.0f, 0.0f, 33.3f, 90.0f, 151.5f, 177.12f, 180.0f,
                                     3e38f};
    for (const Case c : {Case{400, 200, 64, 180, 60.0f}, Case{400, 200, 65, 180, 60.0f}, Case{301, 97, 2, 90, 0.0f},
                         Case{301, 97, 3, 90, 0.0f}, Case{257, 129, 101, 360, -90.0f}, Case{512, 256, 257, 220, 37.5f},
                         Case{64, 32, 40, 120, 90.0f}}) {
        const CImageBuffer pano = RandomPanorama(c.w, c.h, static_cast<std::uint32_t>(c.n));
        const PanoMap map = projector.BuildPanoDomeSharpMap(c.w, c.h, c.n, c.fov, c.tilt);
        ASSERT_TRUE(map);
        for (const float pan : pans) {
            WithEachPixelLoop([&] {
                const auto still = projector.RenderPanoDomeDirect(pano, c.n, c.fov, c.tilt, pan);
                const auto frame = projector.RenderPanoDomeSharp(pano, map.get(), c.n, pan);
                ASSERT_TRUE(still && frame);
                ASSERT_EQ(test::PixelsOf(*frame), test::PixelsOf(*still))
                    << c.w << "x" << c.h << " n " << c.n << " fov " << c.fov << " tilt " << c.tilt << " pan " << pan;
            });
        }
        const auto overflowed = projector.RenderPanoDomeSharp(pano, map.get(), c.n, pans.back());
        EXPECT_EQ(test::PixelsOf(*overflowed), std::vector<std::uint32_t>(static_cast<std::size_t>(c.n) * c.n, 0u));
    }
    EXPECT_TRUE(reporter.messages.empty());
}

// Frames rendered together are the frames rendered alone, for groups of every
// size a sweep makes, for pans far apart and for groups larger than the row
// loop takes at once (eight, and ten: eight and two), with every row loop, on
// a small dome and on one large enough to be rendered in bands on every core
// (neither a whole number of vectors or tiles wide). A group with a pan that
// cannot be rendered renders nothing.
TEST_F(PanoProjector, SharpFramesRenderedTogetherAreEachFrameRenderedAlone)
{
    const CImageBuffer pano = RandomPanorama(700, 350, 5);
    std::vector<std::vector<float>> groups = {
        {0.0f}, {-180.0f, -177.12f}, {90.0f, 92.88f, 95.76f}, {170.0f, 175.0f, 180.0f, 185.0f}, {-3.0f, 120.0f}};
    for (const std::size_t size : {8u, 10u}) {
        std::vector<float>& pans = groups.emplace_back();
        for (std::size_t k = 0; k < size; ++k) {
            pans.push_back(160.0f + 2.88f * static_cast<float>(k));
        }
    }
    for (const std::int32_t n : {31, 300}) {
        const PanoMap map = projector.BuildPanoDomeSharpMap(700, 350, n, 180, 60.0f);
        ASSERT_TRUE(map);
        WithEachPixelLoop([&] {
            for (const std::vector<float>& pans : groups) {
                const auto frames = projector.RenderPanoDomeSharpFrames(pano, map.get(), n, pans);
                ASSERT_EQ(frames.size(), pans.size());
                for (std::size_t k = 0; k < pans.size(); ++k) {
                    const auto alone = projector.RenderPanoDomeSharp(pano, map.get(), n, pans[k]);
                    ASSERT_TRUE(frames[k] && alone);
                    EXPECT_EQ(test::PixelsOf(*frames[k]), test::PixelsOf(*alone))
                        << "n " << n << ", frame " << k << " of " << pans.size() << " at " << pans[k];
                }
            }
        });
        EXPECT_TRUE(projector.RenderPanoDomeSharpFrames(pano, map.get(), n, {}).empty());
        const std::vector<float> unrenderable = {0.0f, std::numeric_limits<float>::quiet_NaN()};
        EXPECT_TRUE(projector.RenderPanoDomeSharpFrames(pano, map.get(), n, unrenderable).empty());
    }
    EXPECT_TRUE(reporter.messages.empty());
}

// Entries at whole positions copy the panorama pixel, with alpha made opaque.
TEST_F(PanoProjector, WholePositionsCopyPixelsExactly)
{
    CImageBuffer pano = test::MakePatternImage(16, 8);
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 16; ++x) {
            pano.SetPixel(x, y, (pano.GetPixel(x, y) & 0x00FFFFFFu) | 0x12000000u);
        }
    }
    // Pan -180 adds nothing, so the entries are the columns read.
    const std::int32_t n = 4;
    std::vector<PanoMapEntry> map(n * n);
    for (std::int32_t k = 0; k < n * n; ++k) {
        map[k] = {static_cast<float>(k % 16), static_cast<float>(k % 8)};
    }
    map[5] = {0.0f, 0.0f};     // top-left corner: clamped neighbours carry weight 0
    map[6] = {15.0f, 7.0f};    // bottom-right corner
    map[7] = {16.0f, 3.0f};    // column W is still in range: not wrapped, clamped to W - 1
    WithEachPixelLoop([&] {
        auto dome = projector.RenderPanoDome(pano, map.data(), n, -180.0f);
        ASSERT_TRUE(dome);
        for (std::int32_t k = 0; k < n * n; ++k) {
            const auto x = static_cast<std::int32_t>(map[k].x);
            const auto y = static_cast<std::int32_t>(map[k].y);
            EXPECT_EQ(dome->GetPixel(k % n, k / n), (pano.GetPixel(x, y) & 0x00FFFFFFu) | 0xFF000000u) << k;
        }
    });
}

// Reads beyond the edges take the edge pixels; the seam is never crossed;
// totals beyond 0..255 are clamped.
TEST_F(PanoProjector, ReadsAreClampedAtTheEdges)
{
    // One row of four pixels. Red 200, 100, 0, 40; green 0, 255, 255, 0;
    // blue 255, 0, 0, 255.
    CImageBuffer pano;
    pano.Create(4, 1);
    const std::uint32_t reds[4] = {200, 100, 0, 40};
    const std::uint32_t greens[4] = {0, 255, 255, 0};
    const std::uint32_t blues[4] = {255, 0, 0, 255};
    for (std::int32_t x = 0; x < 4; ++x) {
        pano.SetPixel(x, 0, 0xFF000000u | reds[x] << 16 | greens[x] << 8 | blues[x]);
    }
    // Pan -180 adds nothing. At a half column the weights are -1/8, 5/8, 5/8, -1/8.
    std::vector<PanoMapEntry> map = {{0.5f, 0.0f}, {2.5f, 0.0f}, {1.5f, -0.5f}, {-1.0f, -1.0f}};
    WithEachPixelLoop([&] {
        auto dome = projector.RenderPanoDome(pano, map.data(), 2, -180.0f);
        ASSERT_TRUE(dome);
        // Columns -1 (clamped to 0), 0, 1, 2. Red: -25 + 125 + 62.5 - 0 =
        // 162.5 -> 163 (reading column 3 across the seam would give 183).
        // Green and blue: 127.5 -> 128.
        EXPECT_EQ(dome->GetPixel(0, 0), 0xFFA38080u);
        // Columns 1, 2, 3, 4 (clamped to 3). Red: -12.5 + 0 + 25 - 5 = 7.5 -> 8.
        EXPECT_EQ(dome->GetPixel(1, 0), 0xFF088080u);
        // Columns 0 to 3, every row read clamped to row 0. Red -25 + 62.5 + 0
        // - 5 = 32.5 -> 33; green 318.75 clamps to 255; blue -63.75 clamps to 0.
        EXPECT_EQ(dome->GetPixel(0, 1), 0xFF21FF00u);
        EXPECT_EQ(dome->GetPixel(1, 1), 0x00000000u);
    });
}

TEST_F(PanoProjector, RefusesSizesOutsideTheLimitsSilently)
{
    const CImageBuffer pano = test::MakePatternImage(8, 4);
    PanoMap map = projector.BuildPanoDomeMap(8, 4, 2, 180, 0.0f);
    ASSERT_TRUE(map);
    EXPECT_TRUE(projector.RenderPanoDome(pano, map.get(), 2, 0.0f));
    EXPECT_TRUE(projector.RenderPanoDomeDirect(pano, 2, 180, 0.0f, 0.0f));
    for (std::int32_t n : {1, 0, -5}) {
        EXPECT_FALSE(projector.BuildPanoDomeMap(8, 4, n, 180, 0.0f)) << n;
        EXPECT_FALSE(projector.RenderPanoDome(pano, map.get(), n, 0.0f)) << n;
        EXPECT_FALSE(projector.RenderPanoDomeDirect(pano, n, 180, 0.0f, 0.0f)) << n;
    }
    // Refused before anything is allocated: the map is far smaller than that.
    EXPECT_FALSE(projector.RenderPanoDome(pano, map.get(), 50001, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeDirect(pano, 50001, 180, 0.0f, 0.0f));
    EXPECT_FALSE(projector.BuildPanoDomeMap(0, 4, 8, 180, 0.0f));
    EXPECT_FALSE(projector.BuildPanoDomeMap(8, -1, 8, 180, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDome(pano, nullptr, 2, 0.0f));
    EXPECT_FALSE(projector.BuildPanoDomeSharpMap(8, 4, 1, 180, 0.0f));
    EXPECT_FALSE(projector.BuildPanoDomeSharpMap(0, 4, 8, 180, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeSharp(pano, map.get(), 50001, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeSharp(pano, nullptr, 2, 0.0f));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PanoProjector, RefusesPanoramasItCannotRead)
{
    PanoMap map = projector.BuildPanoDomeMap(8, 4, 8, 180, 0.0f);
    ASSERT_TRUE(map);
    // Empty: the map renderer's wrap period would be 0.
    const CImageBuffer empty;
    EXPECT_FALSE(projector.RenderPanoDome(empty, map.get(), 8, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeDirect(empty, 8, 180, 0.0f, 0.0f));
    // 24 bits: rows hold three bytes a pixel, not the words the sampler reads.
    CImageBuffer narrow = test::MakePatternImage(8, 4);
    ASSERT_TRUE(narrow.ConvertTo24());
    EXPECT_FALSE(projector.RenderPanoDome(narrow, map.get(), 8, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeDirect(narrow, 8, 180, 0.0f, 0.0f));
    // A pan that is not finite has no view.
    const CImageBuffer pano = test::MakePatternImage(8, 4);
    EXPECT_FALSE(projector.RenderPanoDome(pano, map.get(), 8, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(projector.RenderPanoDomeSharp(pano, map.get(), 8, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(projector.RenderPanoDomeSharp(narrow, map.get(), 8, 0.0f));
    EXPECT_FALSE(projector.RenderPanoDomeDirect(pano, 8, 180, 0.0f, std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PanoProjector, ReportsAMapTooLargeForMemory)
{
    EXPECT_FALSE(projector.BuildPanoDomeMap(8, 4, std::numeric_limits<std::int32_t>::max(), 180, 0.0f));
    EXPECT_EQ(reporter.messages, std::vector<std::string>{kOutOfMemoryText});
}

// Positions that are not finite are never converted to integers: they show
// as outside. Finite positions far off read the clamped edge.
TEST_F(PanoProjector, PositionsThatAreNotFiniteShowAsOutside)
{
    PanoMap map = projector.BuildPanoDomeMap(8, 4, 6, 180, std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(map);
    for (std::int32_t k = 0; k < 36; ++k) {
        EXPECT_EQ(map[k].x, kPanoOutside) << k;
        EXPECT_EQ(map[k].y, kPanoOutside) << k;
    }
    const CImageBuffer pano = test::MakePatternImage(8, 4);
    auto direct = projector.RenderPanoDomeDirect(pano, 6, 180, std::numeric_limits<float>::infinity(), 0.0f);
    ASSERT_TRUE(direct);
    EXPECT_EQ(test::PixelsOf(*direct), std::vector<std::uint32_t>(36, 0u));

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<PanoMapEntry> foreign = {{nan, 1.0f}, {1.0f, inf}, {-inf, 2.0f}, {3.0f, 1e30f}};
    auto dome = projector.RenderPanoDome(pano, foreign.data(), 2, -180.0f);
    ASSERT_TRUE(dome);
    EXPECT_EQ(dome->GetPixel(0, 0), 0u);
    EXPECT_EQ(dome->GetPixel(1, 0), 0u);
    EXPECT_EQ(dome->GetPixel(0, 1), 0u);
    EXPECT_EQ(dome->GetPixel(1, 1), pano.GetPixel(3, 3));

    // A finite pan whose shift overflows the float range: no column to read.
    auto overflowed = projector.RenderPanoDome(pano, projector.BuildPanoDomeMap(8, 4, 6, 180, 0.0f).get(), 6, 3e38f);
    ASSERT_TRUE(overflowed);
    EXPECT_EQ(test::PixelsOf(*overflowed), std::vector<std::uint32_t>(36, 0u));
}

// A one-column panorama: a wrap period of 0 in the direct renderer, every
// read clamped to the one column.
TEST_F(PanoProjector, OneColumnPanoramaRendersWithoutWrapping)
{
    const CImageBuffer pano = test::MakePatternImage(1, 16);
    auto dome = projector.RenderPanoDomeDirect(pano, 9, 180, 90.0f, 0.0f);
    ASSERT_TRUE(dome);
    EXPECT_EQ(test::PixelsOf(*dome), ReferenceDirect(pano, 9, 180, 90.0f, 0.0f));
}

}  // namespace
}  // namespace skelvane
