// A BMP cube map on disk becomes a BMP dome master with the right picture.
#include <gtest/gtest.h>

#include "engine/projection/CubeDomeProjector.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

constexpr std::uint32_t kFaceColours[kCubeFaceCount] = {0xFFC00000u, 0xFF00C000u, 0xFF0000C0u,
                                                        0xFFC0C000u, 0xFFC000C0u, 0xFF00C0C0u};
constexpr const char* kFaceNames[kCubeFaceCount] = {"left", "front", "right", "back", "top", "bottom"};

std::uint32_t CentreOfDome(const test::TempDir& dir, float tilt)
{
    constexpr std::int32_t kFace = 48;
    constexpr std::int32_t kDome = 95;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        CImageBuffer face = test::MakeUniformImage(kFace, kFace, kFaceColours[k]);
        EXPECT_TRUE(face.Save(dir / (std::string(kFaceNames[k]) + ".bmp")));
    }
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        EXPECT_TRUE(faces[k].Load(dir / (std::string(kFaceNames[k]) + ".bmp")));
    }
    CCubeDomeProjector projector;
    FaceMap map = projector.BuildCubeDomeMap(kFace, kDome, 180, tilt, 0.0f);
    auto dome = projector.RenderCubeDome(faces, kFace, map.get(), kDome);
    EXPECT_TRUE(dome && dome->Save(dir / "dome.bmp"));

    CImageBuffer written;
    EXPECT_TRUE(written.Load(dir / "dome.bmp"));
    EXPECT_EQ(written.GetWidth(), kDome);
    EXPECT_EQ(written.GetHeight(), kDome);
    // BMP has no alpha: the transparent surround comes back opaque black.
    EXPECT_EQ(written.GetPixel(0, 0), 0xFF000000u);
    return written.GetPixel(kDome / 2, kDome / 2);
}

TEST(CubeDomeFromFiles, FrontInTheCentreAtTiltZeroAndTopAtTiltNinety)
{
    test::TempDir dir;
    EXPECT_EQ(CentreOfDome(dir, 0.0f), kFaceColours[Front]);
    EXPECT_EQ(CentreOfDome(dir, 90.0f), kFaceColours[Top]);
}

}  // namespace
}  // namespace skelvane
