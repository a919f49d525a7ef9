#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "pano2dome/SharpMapAhead.h"
#include "support/HostileImages.h"
#include "support/RecordingReporter.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

bool IsTheMapOf(const PanoMap& map, const SharpMapKey& key)
{
    test::RecordingReporter reporter;
    CPanoDomeProjector projector(reporter);
    const PanoMap own =
        projector.BuildPanoDomeSharpMap(key.panoWidth, key.panoHeight, key.outSize, key.fov, key.tilt);
    const std::size_t bytes = sizeof(PanoMapEntry) * static_cast<std::size_t>(key.outSize) * key.outSize;
    return map && own && std::memcmp(map.get(), own.get(), bytes) == 0;
}

// The map begun from a JPEG's header is the job's own map for that view, and
// never one for another view, size or panorama.
TEST(SharpMapAhead, GivesTheMapOfItsViewOnly)
{
    test::TempDir dir;
    CImageBuffer pano = test::MakePatternImage(96, 48, 4);
    ASSERT_TRUE(pano.Save(dir / "pano.jpg"));
    ASSERT_TRUE(pano.Save(dir / "pano.bmp"));
    const SharpMapKey key{96, 48, 31, 200, 30.0f};
    const auto size31 = [](std::int32_t) { return 31; };

    for (const int threads : {0, 1, 2}) {
        CSharpMapAhead ahead(dir / "pano.jpg", size31, key.fov, key.tilt, threads);
        EXPECT_TRUE(IsTheMapOf(ahead.Take(key), key)) << threads << " threads";
        EXPECT_FALSE(ahead.Take(key)) << "a map is taken once";
    }
    // The dome's side follows the panorama's height as the caller proposes it.
    CSharpMapAhead proposed(dir / "pano.jpg", [](std::int32_t height) { return height + 1; }, key.fov, key.tilt, 0);
    EXPECT_TRUE(IsTheMapOf(proposed.Take({96, 48, 49, 200, 30.0f}), {96, 48, 49, 200, 30.0f}));

    const SharpMapKey others[] = {
        {96, 48, 32, 200, 30.0f}, {96, 48, 31, 180, 30.0f}, {96, 48, 31, 200, 31.0f}, {97, 48, 31, 200, 30.0f}};
    for (const SharpMapKey& other : others) {
        CSharpMapAhead ahead(dir / "pano.jpg", size31, key.fov, key.tilt, 0);
        EXPECT_FALSE(ahead.Take(other)) << other.panoWidth << " " << other.outSize << " " << other.fov;
    }
    // No size before decoding, or a file the decoder would refuse (a FIFO,
    // which must not block, a header claiming more than the file holds):
    // nothing begun, the job builds its own or fails as it would have.
    ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
    test::WriteFileBytes(dir / "bomb.jpg", test::JpegClaiming(30000, 15000));
    for (const char* name : {"pano.bmp", "missing.jpg", "fifo.jpg", "bomb.jpg"}) {
        CSharpMapAhead ahead(dir / name, [](std::int32_t height) { return height; }, key.fov, key.tilt, 0);
        EXPECT_FALSE(ahead.Take({30000, 15000, 15000, 200, 30.0f})) << name;
        EXPECT_FALSE(ahead.Take(key)) << name;
    }
    CSharpMapAhead unmappable(dir / "pano.jpg", [](std::int32_t) { return 1; }, key.fov, key.tilt, 0);
    EXPECT_FALSE(unmappable.Take({96, 48, 1, 200, 30.0f}));
}

// A run that ends before it takes its map (the panorama did not decode)
// leaves no build behind writing into it (the sanitizers' run would tell).
TEST(SharpMapAhead, AMapNotTakenIsLeftSafely)
{
    test::TempDir dir;
    ASSERT_TRUE(test::MakePatternImage(64, 32).Save(dir / "pano.jpg"));
    for (int k = 0; k < 3; ++k) {
        CSharpMapAhead ahead(dir / "pano.jpg", [](std::int32_t) { return 4096; }, 180, 0.0f, 0);
    }
}

}  // namespace
}  // namespace skelvane
