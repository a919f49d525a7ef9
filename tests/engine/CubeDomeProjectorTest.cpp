#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/projection/CubeDomeProjector.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::RecordingReporter;

constexpr std::int32_t kFace = 64;
constexpr float kR = (kFace - 1) / 2.0f;

struct Scene {
    std::int32_t outSize;
    std::int32_t fov;
    float tilt;
    float pan;
};

class CubeMapGeometry : public ::testing::Test {
protected:
    FaceMapEntry At(const Scene& scene, std::int32_t row, std::int32_t column)
    {
        FaceMap map = projector.BuildCubeDomeMap(kFace, scene.outSize, scene.fov, scene.tilt, scene.pan);
        EXPECT_TRUE(map);
        return map ? map[static_cast<std::size_t>(row) * scene.outSize + column] : FaceMapEntry{};
    }

    RecordingReporter reporter;
    CCubeDomeProjector projector{reporter};
};

constexpr std::int32_t kOdd = 101;
constexpr std::int32_t kMid = 50;
// The circle's radius is R x N / F output pixels: the last pixel inside on the
// centre row and column lies 49 pixels from the centre.
constexpr std::int32_t kRim = 49;

TEST_F(CubeMapGeometry, CentreOfAnOddDomeLooksAtTheCentreOfTheFront)
{
    const FaceMapEntry centre = At({kOdd, 180, 0.0f, 0.0f}, kMid, kMid);
    EXPECT_EQ(centre.face, Front);
    EXPECT_EQ(centre.u, kR);
    EXPECT_EQ(centre.v, kR);
    const Direction d = cube_geometry::FisheyeToDirection(kMid, kMid, kFace, kOdd, 180);
    EXPECT_EQ(d.x, 0.0f);
    EXPECT_EQ(d.y, 0.0f);
    EXPECT_EQ(d.z, kR);
}

TEST_F(CubeMapGeometry, HalfSphereRimReachesTheCentresOfTheSideFaces)
{
    const Scene scene{kOdd, 180, 0.0f, 0.0f};
    const FaceMapEntry right = At(scene, kMid, kMid + kRim);
    EXPECT_EQ(right.face, Right);
    EXPECT_NEAR(right.u, kR, 1.5f);
    EXPECT_NEAR(right.v, kR, 0.01f);
    const FaceMapEntry top = At(scene, kMid - kRim, kMid);
    EXPECT_EQ(top.face, Top);
    EXPECT_NEAR(top.u, kR, 0.01f);
    EXPECT_NEAR(top.v, kR, 1.5f);
    const FaceMapEntry left = At(scene, kMid, kMid - kRim);
    EXPECT_EQ(left.face, Left);
    const FaceMapEntry bottom = At(scene, kMid + kRim, kMid);
    EXPECT_EQ(bottom.face, Bottom);
    const FaceMapEntry corner = At(scene, 0, 0);
    EXPECT_EQ(corner.u, kOutsideCircle);
    EXPECT_EQ(corner.v, kOutsideCircle);
}

TEST_F(CubeMapGeometry, QuarterSphereFillsTheFrontFaceOnly)
{
    FaceMap map = projector.BuildCubeDomeMap(kFace, kOdd, 90, 0.0f, 0.0f);
    ASSERT_TRUE(map);
    const float s = static_cast<float>(kFace) / kOdd;
    for (std::int32_t i = 0; i < kOdd; ++i) {
        for (std::int32_t j = 0; j < kOdd; ++j) {
            const float r = std::hypot((i - kMid) * s, (j - kMid) * s);
            if (r < kR - 1.0f) {
                ASSERT_EQ(map[i * kOdd + j].face, Front) << i << "," << j;
            }
        }
    }
    // The rim reaches the middle of each edge of the front face.
    EXPECT_GT(map[kMid * kOdd + kMid + kRim].u, kFace - 3.0f);
    EXPECT_LT(map[kMid * kOdd + kMid - kRim].u, 2.0f);
    EXPECT_LT(map[(kMid - kRim) * kOdd + kMid].v, 2.0f);
    EXPECT_NEAR(map[(kMid - kRim) * kOdd + kMid].u, kR, 0.01f);
}

TEST_F(CubeMapGeometry, TiltNinetyPutsTheTopFaceInTheCentre)
{
    const Scene up{kOdd, 180, 90.0f, 0.0f};
    EXPECT_EQ(At(up, kMid, kMid).face, Top);
    EXPECT_EQ(At(up, kMid + kRim, kMid).face, Front);
    EXPECT_EQ(At(up, kMid - kRim, kMid).face, Back);
    EXPECT_EQ(At(up, kMid, kMid - kRim).face, Left);
    EXPECT_EQ(At(up, kMid, kMid + kRim).face, Right);
    EXPECT_EQ(At({kOdd, 180, -90.0f, 0.0f}, kMid, kMid).face, Bottom);
}

TEST_F(CubeMapGeometry, PanNinetyTurnsTheViewToTheRight)
{
    const Scene turned{kOdd, 180, 0.0f, 90.0f};
    const FaceMapEntry centre = At(turned, kMid, kMid);
    EXPECT_EQ(centre.face, Right);
    EXPECT_NEAR(centre.u, kR, 0.01f);
    EXPECT_EQ(At(turned, kMid, kMid + kRim).face, Back);
    EXPECT_EQ(At(turned, kMid, kMid - kRim).face, Front);
}

TEST_F(CubeMapGeometry, LaterFaceTestWinsOnASharedEdge)
{
    // Exactly between front and right both tests hold; front is tested last.
    const FaceMapEntry edge = cube_geometry::DirectionToCubeFace({kR, 0.0f, kR}, kR);
    EXPECT_EQ(edge.face, Front);
    EXPECT_EQ(edge.u, 2 * kR);
    EXPECT_EQ(edge.v, kR);
    const FaceMapEntry zero = cube_geometry::DirectionToCubeFace({0.0f, 0.0f, 0.0f}, kR);
    EXPECT_EQ(zero.u, kOutsideCircle);
    const FaceMapEntry notFinite = cube_geometry::DirectionToCubeFace({NAN, 1.0f, 1.0f}, kR);
    EXPECT_EQ(notFinite.u, kOutsideCircle);
}

TEST_F(CubeMapGeometry, StagedBuildEqualsOnePassMap)
{
    const Scene scenes[] = {{kOdd, 180, 37.5f, -20.0f}, {96, 220, 60.0f, 135.0f}, {33, 90, -75.0f, 10.0f}};
    for (const Scene& scene : scenes) {
        DirectionArray fisheye = projector.BuildFisheyeDirections(kFace, scene.outSize, scene.fov);
        DirectionArray tilted = projector.RotateAboutX(fisheye.get(), scene.outSize, scene.tilt);
        DirectionArray turned = projector.RotateAboutY(tilted.get(), scene.outSize, scene.pan);
        FaceMap staged = projector.MapDirectionsToFaces(turned.get(), kFace, scene.outSize);
        FaceMap direct = projector.BuildCubeDomeMap(kFace, scene.outSize, scene.fov, scene.tilt, scene.pan);
        ASSERT_TRUE(staged && direct);
        const std::size_t count = static_cast<std::size_t>(scene.outSize) * scene.outSize;
        for (std::size_t n = 0; n < count; ++n) {
            const bool outside = direct[n].u == kOutsideCircle && direct[n].v == kOutsideCircle;
            ASSERT_EQ(staged[n].u, direct[n].u) << n;
            ASSERT_EQ(staged[n].v, direct[n].v) << n;
            if (!outside) {
                ASSERT_EQ(staged[n].face, direct[n].face) << n;
            }
        }
    }
}

TEST_F(CubeMapGeometry, RefusesBadSizesSilently)
{
    EXPECT_FALSE(projector.BuildCubeDomeMap(kFace, 50001, 180, 0.0f, 0.0f));
    EXPECT_FALSE(projector.BuildCubeDomeMap(1, 64, 180, 0.0f, 0.0f));
    EXPECT_FALSE(projector.BuildCubeDomeMap(kFace, 0, 180, 0.0f, 0.0f));
    EXPECT_FALSE(projector.BuildFisheyeDirections(kFace, 50001, 180));
    EXPECT_FALSE(projector.RotateAboutX(nullptr, 10, 0.0f));
    EXPECT_FALSE(projector.RotateAboutY(nullptr, 10, 0.0f));
    EXPECT_FALSE(projector.MapDirectionsToFaces(nullptr, kFace, 10));
    CubeFaces faces;
    EXPECT_FALSE(projector.RenderCubeDome(faces, kFace, nullptr, 10));
    FaceMap map = projector.BuildCubeDomeMap(kFace, 8, 180, 0.0f, 0.0f);
    EXPECT_FALSE(projector.RenderCubeDome(faces, kFace, map.get(), 50001));
    EXPECT_TRUE(reporter.messages.empty());
}

class CubeRender : public CubeMapGeometry {
protected:
    static constexpr std::uint32_t kColours[kCubeFaceCount] = {0x80FF0000u, 0x8000FF00u, 0x800000FFu,
                                                               0x80FFFF00u, 0x80FF00FFu, 0x8000FFFFu};
    CubeFaces UniformFaces(std::int32_t size)
    {
        CubeFaces faces;
        for (int k = 0; k < kCubeFaceCount; ++k) {
            faces[k] = test::MakeUniformImage(size, size, kColours[k]);
        }
        return faces;
    }
};

TEST_F(CubeRender, PlanetariumViewShowsFacesWhereExpected)
{
    FaceMap map = projector.BuildCubeDomeMap(kFace, kOdd, 180, 90.0f, 0.0f);
    auto dome = projector.RenderCubeDome(UniformFaces(kFace), kFace, map.get(), kOdd);
    ASSERT_TRUE(dome);
    EXPECT_EQ(dome->GetWidth(), kOdd);
    EXPECT_EQ(dome->GetPixel(kMid, kMid), kColours[Top]) << "alpha is carried over";
    EXPECT_EQ(dome->GetPixel(kMid, kMid + kRim), kColours[Front]);
    EXPECT_EQ(dome->GetPixel(kMid, kMid - kRim), kColours[Back]);
    EXPECT_EQ(dome->GetPixel(kMid - kRim, kMid), kColours[Left]);
    EXPECT_EQ(dome->GetPixel(kMid + kRim, kMid), kColours[Right]);
    EXPECT_EQ(dome->GetPixel(0, 0), 0x00000000u);
    EXPECT_EQ(dome->GetPixel(kOdd - 1, kOdd - 1), 0x00000000u);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(CubeRender, CopiesTheNearestFacePixel)
{
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k] = test::MakePatternImage(kFace, kFace, k);
    }
    FaceMap map = projector.BuildCubeDomeMap(kFace, kOdd, 150, 20.0f, 30.0f);
    auto dome = projector.RenderCubeDome(faces, kFace, map.get(), kOdd);
    ASSERT_TRUE(dome);
    for (std::int32_t i = 0; i < kOdd; i += 7) {
        for (std::int32_t j = 0; j < kOdd; j += 5) {
            const FaceMapEntry& e = map[i * kOdd + j];
            if (e.u == kOutsideCircle && e.v == kOutsideCircle) {
                continue;
            }
            const auto x = static_cast<std::int32_t>(e.u + 0.5f);
            const auto y = static_cast<std::int32_t>(e.v + 0.5f);
            ASSERT_EQ(dome->GetPixel(j, i), test::PatternPixel(x, y, e.face)) << i << "," << j;
        }
    }
}

TEST_F(CubeRender, EmptyFaceIsOpaqueBlackAndSmallFacesClampSilently)
{
    CubeFaces faces = UniformFaces(16);
    faces[Bottom].Release();
    FaceMap map = projector.BuildCubeDomeMap(kFace, kOdd, 180, -90.0f, 0.0f);
    auto dome = projector.RenderCubeDome(faces, kFace, map.get(), kOdd);
    ASSERT_TRUE(dome);
    EXPECT_EQ(dome->GetPixel(kMid, kMid), 0xFF000000u);
    EXPECT_EQ(dome->GetPixel(kMid, kMid - kRim), kColours[Front]);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(CubeRender, OverflowIsReportedOncePerRender)
{
    // A map built for larger faces than the render is told about.
    FaceMap map = projector.BuildCubeDomeMap(kFace, kOdd, 180, 0.0f, 0.0f);
    auto dome = projector.RenderCubeDome(UniformFaces(kFace), kFace / 2, map.get(), kOdd);
    ASSERT_TRUE(dome);
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{"Overflow-w", "Overflow-h"}));
}

TEST_F(CubeRender, LargeRenderIsBandIndependent)
{
    // Big enough to run in parallel; compare against per-pixel expectations.
    constexpr std::int32_t kBig = 700;
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k] = test::MakePatternImage(kFace, kFace, k);
    }
    FaceMap map = projector.BuildCubeDomeMap(kFace, kBig, 180, 45.0f, 10.0f);
    auto dome = projector.RenderCubeDome(faces, kFace, map.get(), kBig);
    ASSERT_TRUE(dome);
    for (std::int32_t i = 0; i < kBig; i += 13) {
        for (std::int32_t j = 0; j < kBig; j += 11) {
            const FaceMapEntry& e = map[static_cast<std::size_t>(i) * kBig + j];
            const std::uint32_t expected =
                e.u == kOutsideCircle && e.v == kOutsideCircle
                    ? 0u
                    : test::PatternPixel(static_cast<std::int32_t>(e.u + 0.5f), static_cast<std::int32_t>(e.v + 0.5f),
                                         e.face);
            ASSERT_EQ(dome->GetPixel(j, i), expected);
        }
    }
}

}  // namespace
}  // namespace skelvane

namespace skelvane {
namespace {

TEST(CubeFaceSelection, DominantAxisShortcutAgreesWithTheAngleTests)
{
    // Random directions, plus directions on and near cube edges and corners
    // where two or three components are (nearly) equal in magnitude.
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f * 2.0f - 1.0f;
    };
    auto check = [](Direction d) {
        const FaceMapEntry fast = cube_geometry::DirectionToCubeFace(d, kR);
        const FaceMapEntry exact = cube_geometry::DirectionToCubeFaceByAngles(d, kR);
        ASSERT_EQ(std::memcmp(&fast, &exact, sizeof fast), 0)
            << d.x << " " << d.y << " " << d.z << " -> " << fast.face << " vs " << exact.face;
    };
    for (int n = 0; n < 200000; ++n) {
        const Direction d{next() * kR, next() * kR, next() * kR};
        check(d);
        const float eps = next() * 1e-4f;
        check({d.x, std::copysign(std::fabs(d.x) * (1.0f + eps), d.y), d.z});
        check({d.x, d.y, std::copysign(std::fabs(d.y) * (1.0f + eps), d.z)});
        check({std::copysign(std::fabs(d.z), d.x), std::copysign(std::fabs(d.z), d.y), d.z});
        check({0.0f, d.y, std::copysign(std::fabs(d.y), d.z)});
        check({d.x, 0.0f, 0.0f});
        check({-0.0f, d.y, -0.0f});
    }
}

}  // namespace
}  // namespace skelvane
