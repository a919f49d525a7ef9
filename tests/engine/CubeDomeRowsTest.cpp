#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/projection/CubeDomeProjector.h"
#include "support/EachSimdTarget.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::RecordingReporter;

constexpr std::int32_t kFace = 8;  // the face size the maps are made for

// What RenderCubeDome promises for one entry, written out from its contract.
std::uint32_t ExpectedPixel(const CubeFaces& faces, const FaceMapEntry& e)
{
    if (e.u == kOutsideCircle && e.v == kOutsideCircle) {
        return 0x00000000u;
    }
    bool overflow = false;
    const std::int32_t x = cube_geometry::RoundToFacePixel(e.u, kFace, overflow);
    const std::int32_t y = cube_geometry::RoundToFacePixel(e.v, kFace, overflow);
    const CImageBuffer& face = faces[static_cast<unsigned>(e.face) % kCubeFaceCount];
    if (face.IsEmpty() || face.GetBitCount() != 32) {
        return 0xFF000000u;
    }
    return face.GetPixel(std::min(x, face.GetWidth() - 1), std::min(y, face.GetHeight() - 1));
}

// Faces of other sizes than the map's, one of 24 bits and an empty one.
CubeFaces MixedFaces()
{
    CubeFaces faces;
    faces[Left] = test::MakePatternImage(kFace, kFace, 1);
    faces[Front] = test::MakePatternImage(5, 3, 2);
    faces[Right] = test::MakePatternImage(12, 10, 3);
    faces[Back] = test::MakePatternImage(1, 7, 4);
    faces[Top] = test::MakePatternImage(kFace, kFace, 5);
    faces[Top].ConvertTo24();
    return faces;  // Bottom stays empty
}

struct RenderResult {
    std::vector<std::uint32_t> pixels;
    std::vector<std::string> messages;
};

RenderResult Render(const CubeFaces& faces, const std::vector<FaceMapEntry>& map, std::int32_t outSize)
{
    RecordingReporter reporter;
    CCubeDomeProjector projector(reporter);
    const auto dome = projector.RenderCubeDome(faces, kFace, map.data(), outSize);
    return {dome ? test::PixelsOf(*dome) : std::vector<std::uint32_t>{}, reporter.messages};
}

TEST(CubeDomeRows, EveryLoopFollowsTheRoundingAndClampingOfOnePixel)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float positions[] = {nan,   inf,         -inf,  -1.0f, -0.5f,        std::nextafter(-0.5f, 0.0f),
                               -0.0f, 1e-40f,      0.49999997f,  0.5f,         3.5f,
                               6.5f,  7.4999995f, 7.5f, 1e30f, -1e30f, 2.2f};
    constexpr int kPositions = sizeof positions / sizeof positions[0];
    // Face numbers beyond the six wrap around (as unsigned numbers); one in
    // sixteen entries has one, so that most blocks of sixteen hold none and
    // many exactly one.
    const std::int32_t wrapping[] = {6, 7, -1, -6, 12, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()};
    const CubeFaces faces = MixedFaces();
    // Rows of 37 pixels: two blocks of sixteen and a tail of five.
    constexpr std::int32_t kOut = 37;
    std::vector<FaceMapEntry> map(kOut * kOut);
    std::uint32_t state = 99;
    for (std::int32_t n = 0; n < kOut * kOut; ++n) {
        state = state * 1664525u + 1013904223u;
        const std::int32_t face = (state >> 28) == 0 ? wrapping[(state >> 24) % 7]
                                                          : static_cast<std::int32_t>((state >> 24) % 6);
        map[n] = {positions[(state >> 8) % kPositions], positions[(state >> 16) % kPositions], face};
        if (n % 7 == 3) {
            map[n] = {kOutsideCircle, kOutsideCircle, face};
        }
    }
    std::vector<std::uint32_t> expected(map.size());
    std::transform(map.begin(), map.end(), expected.begin(), [&](const FaceMapEntry& e) {
        return ExpectedPixel(faces, e);
    });
    test::ForEachSimdTarget([&](const char* loop) {
        const RenderResult result = Render(faces, map, kOut);
        EXPECT_EQ(result.pixels, expected) << loop;
        EXPECT_EQ(result.messages, (std::vector<std::string>{"Overflow-w", "Overflow-h"})) << loop;
    });
}

TEST(CubeDomeRows, OverflowIsFlaggedWhereverThePixelFalls)
{
    const CubeFaces faces = MixedFaces();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Rows shorter than a block, of exactly one block, and with a tail. Every
    // other time, the positions after the one beyond the face are NaN, which
    // must not hide it.
    for (const std::int32_t out : {5, 16, 37}) {
        for (std::int32_t n = 0; n < out * out; n += 9) {
            for (const bool inU : {true, false}) {
                std::vector<FaceMapEntry> map(out * out, FaceMapEntry{3.0f, 4.0f, Left});
                for (std::int32_t later = n + 1; n % 2 == 1 && later < out * out; ++later) {
                    (inU ? map[later].u : map[later].v) = nan;
                }
                (inU ? map[n].u : map[n].v) = kFace - 0.5f;
                const std::vector<std::string> expected{inU ? "Overflow-w" : "Overflow-h"};
                test::ForEachSimdTarget([&](const char* loop) {
                    EXPECT_EQ(Render(faces, map, out).messages, expected) << out << " " << n << " " << loop;
                });
            }
        }
        test::ForEachSimdTarget([&](const char*) {
            EXPECT_TRUE(Render(faces, std::vector<FaceMapEntry>(out * out, FaceMapEntry{7.0f, 7.4f, Right}), out)
                            .messages.empty());
        });
    }
}

TEST(CubeDomeRows, LoopsAgreeOnLargeDomesWrittenAroundTheCache)
{
    // A dome this large is streamed, and its rows of 8196 bytes start at
    // every 4-byte position within a 64-byte line.
    constexpr std::int32_t kOut = 2049;
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k] = test::MakePatternImage(40, 40, k);
    }
    faces[Bottom].Release();
    CCubeDomeProjector projector;
    const FaceMap map = projector.BuildCubeDomeMap(40, kOut, 200, 30.0f, -20.0f);
    ASSERT_TRUE(map);
    std::vector<std::uint32_t> reference;
    test::ForEachSimdTarget([&](const char* loop) {
        const auto dome = projector.RenderCubeDome(faces, 40, map.get(), kOut);
        ASSERT_TRUE(dome);
        if (reference.empty()) {
            reference = test::PixelsOf(*dome);
            return;
        }
        EXPECT_EQ(test::PixelsOf(*dome), reference) << loop;
    });
}

}  // namespace
}  // namespace skelvane
