#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/projection/CubeDomeSampler.h"
#include "engine/projection/FaceGatherMap.h"
#include "support/DeepImages.h"
#include "support/EachSimdTarget.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::RecordingReporter;

constexpr std::int32_t kFov = 200;
constexpr float kTilt = 40.0f;
constexpr float kPan = 25.0f;

// The three ways a job renders a cube: the packed gather map (plain
// nearest), the face map it falls back to, and the sampler (filters and
// supersampling).
enum class Path { Gather, FaceMap, Sampler };

struct Way {
    const char* name;
    Path path;
    CubeSampling sampling;
};

std::unique_ptr<CImageBuffer> RenderWith(const Way& way, const CubeFaces& faces, std::int32_t faceSize,
                                         std::int32_t outSize)
{
    RecordingReporter reporter;
    switch (way.path) {
    case Path::Gather: {
        CFaceGatherMap gather;
        if (!gather.BuildFromView(faceSize, outSize, kFov, kTilt, kPan)) {
            return nullptr;
        }
        return gather.Render(faces, reporter);
    }
    case Path::FaceMap: {
        CCubeDomeProjector projector(reporter);
        const FaceMap map = projector.BuildCubeDomeMap(faceSize, outSize, kFov, kTilt, kPan);
        return projector.RenderCubeDome(faces, faceSize, map.get(), outSize);
    }
    case Path::Sampler:
    default: {
        CCubeDomeSampler sampler;
        if (!sampler.Plan(faceSize, outSize, kFov, kTilt, kPan, way.sampling)) {
            return nullptr;
        }
        return sampler.Render(faces, reporter);
    }
    }
}

// Channel c (blue, green, red, alpha) of pixel (x, y) of a picture of any
// depth, as a float in the picture's own units.
float ChannelAt(const CImageBuffer& image, std::int32_t x, std::int32_t y, int c)
{
    switch (image.GetChannelType()) {
    case ChannelType::Uint16: {
        const Pixel16& p = image.Row16(y)[x];
        const std::uint16_t values[4] = {p.blue, p.green, p.red, p.alpha};
        return values[c];
    }
    case ChannelType::Float: {
        const PixelF& p = image.RowF(y)[x];
        const float values[4] = {p.blue, p.green, p.red, p.alpha};
        return values[c];
    }
    case ChannelType::Uint8:
    default:
        return static_cast<float>(image.Row32(y)[x] >> (8 * c) & 255u);
    }
}

std::vector<std::uint8_t> BytesOf(const CImageBuffer& image)
{
    std::vector<std::uint8_t> bytes;
    const std::size_t rowBytes = static_cast<std::size_t>(image.GetWidth()) * image.BytesPerPixel();
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        bytes.insert(bytes.end(), image.Row(y), image.Row(y) + rowBytes);
    }
    return bytes;
}

// 8-bit faces whose every channel, alpha included, differs from pixel to
// pixel, the bottom left out.
CubeFaces EightBitFaces(std::int32_t size)
{
    CubeFaces faces;
    for (int k = 0; k < Bottom; ++k) {
        faces[k] = test::MakePatternImage(size, size, static_cast<std::uint32_t>(k));
        for (std::int32_t y = 0; y < size; ++y) {
            for (std::int32_t x = 0; x < size; ++x) {
                const std::uint32_t alpha = 255u - ((x * 5u + y * 11u + k * 3u) & 127u);
                faces[k].SetPixel(x, y, (faces[k].GetPixel(x, y) & 0x00FFFFFFu) | alpha << 24);
            }
        }
    }
    return faces;
}

CubeFaces Widened(const CubeFaces& faces, ChannelType type)
{
    CubeFaces widened;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        if (!faces[k].IsEmpty()) {
            EXPECT_TRUE(CopyAtChannelType(faces[k], type, Dither::None, widened[k]));
        }
    }
    return widened;
}

TEST(DeepCubeRender, SixteenBitGradientsKeepMoreThan4096Levels)
{
    // Green follows the direction's y smoothly over the sphere, spanning
    // 60000 levels: a render through 8 bits keeps 256 of them at most.
    constexpr std::int32_t kSize = 96;
    constexpr std::int32_t kOut = 256;
    const float R = (kSize - 1) / 2.0f;
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k].Create(kSize, kSize, ChannelType::Uint16);
        for (std::int32_t y = 0; y < kSize; ++y) {
            for (std::int32_t x = 0; x < kSize; ++x) {
                const Direction d =
                    cube_geometry::FaceToDirection(k, static_cast<float>(x), static_cast<float>(y), R);
                const double length = std::sqrt(double{d.x} * d.x + double{d.y} * d.y + double{d.z} * d.z);
                const auto green = static_cast<std::uint16_t>(std::lround(32768.0 + 30000.0 * d.y / length));
                faces[k].Row16(y)[x] = {1000, green, 50000, 65535};
            }
        }
    }
    for (const Way& way : {Way{"nearest", Path::Gather, {}}, Way{"bilinear", Path::Sampler, {CubeFilter::Bilinear, 1}},
                           Way{"bicubic s2", Path::Sampler, {CubeFilter::Bicubic, 2}}}) {
        SCOPED_TRACE(way.name);
        const auto dome = RenderWith(way, faces, kSize, kOut);
        ASSERT_TRUE(dome);
        ASSERT_EQ(dome->GetChannelType(), ChannelType::Uint16);
        std::set<std::uint16_t> levels;
        for (std::int32_t y = 0; y < kOut; ++y) {
            for (std::int32_t x = 0; x < kOut; ++x) {
                levels.insert(dome->Row16(y)[x].green);
            }
        }
        EXPECT_GT(levels.size(), 4096u);
    }
}

TEST(DeepCubeRender, WidenedEightBitFacesRenderAsTheEightBitDomeWidened)
{
    // `levels`: how far a channel may lie from the 8-bit render, in 8-bit
    // levels. The nearest pixel is copied, so nothing. An average of
    // sub-samples is rounded once in 8 bits: half a level. A filter also
    // reads, along the face edges, border texels that 8-bit faces hold
    // rounded to a level and deep faces do not: one level in all. Bicubic
    // overshoot is clamped at white in 8 and 16 bits but not in floats, so
    // float values are compared clamped.
    constexpr std::int32_t kSize = 24;
    constexpr std::int32_t kOut = 45;  // not a multiple of any vector width
    struct Case {
        Way way;
        float levels;
    };
    const CubeFaces faces = EightBitFaces(kSize);
    for (const Case& c : {Case{{"gather", Path::Gather, {}}, 0.0f},
                          Case{{"face map", Path::FaceMap, {}}, 0.0f},
                          Case{{"nearest s1", Path::Sampler, {CubeFilter::Nearest, 1}}, 0.0f},
                          Case{{"nearest s3", Path::Sampler, {CubeFilter::Nearest, 3}}, 0.5f},
                          Case{{"bilinear s1", Path::Sampler, {CubeFilter::Bilinear, 1}}, 1.0f},
                          Case{{"bilinear s2", Path::Sampler, {CubeFilter::Bilinear, 2}}, 1.0f},
                          Case{{"bicubic s1", Path::Sampler, {CubeFilter::Bicubic, 1}}, 1.0f}}) {
        const auto narrow = RenderWith(c.way, faces, kSize, kOut);
        ASSERT_TRUE(narrow);
        for (ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
            SCOPED_TRACE(std::string(c.way.name) + " at " + std::string(ChannelTypeName(type)));
            const auto deep = RenderWith(c.way, Widened(faces, type), kSize, kOut);
            ASSERT_TRUE(deep);
            ASSERT_EQ(deep->GetChannelType(), type);
            if (c.levels == 0.0f) {
                CImageBuffer expected;
                ASSERT_TRUE(CopyAtChannelType(*narrow, type, Dither::None, expected));
                EXPECT_TRUE(test::SamePixels(expected, *deep));
                continue;
            }
            const float perLevel = type == ChannelType::Uint16 ? 257.0f : 1.0f / 255.0f;
            // The 16-bit render's own rounding adds half a 16-bit level.
            const float tolerance = c.levels + (type == ChannelType::Uint16 ? 0.5f / 257.0f : 0.0f) + 1e-3f;
            int failures = 0;
            for (std::int32_t y = 0; y < kOut && failures < 5; ++y) {
                for (std::int32_t x = 0; x < kOut; ++x) {
                    for (int ch = 0; ch < 4; ++ch) {
                        float value = ChannelAt(*deep, x, y, ch);
                        if (type == ChannelType::Float) {
                            value = std::min(value, 1.0f);
                        }
                        const float apart = std::fabs(value / perLevel - ChannelAt(*narrow, x, y, ch));
                        if (apart > tolerance) {
                            ADD_FAILURE() << "pixel " << x << ", " << y << " channel " << ch << ": " << apart
                                          << " levels apart";
                            ++failures;
                        }
                    }
                }
            }
        }
    }
}

TEST(DeepCubeRender, FacesOfMixedDepthsRenderAsTheirWidenedCopies)
{
    constexpr std::int32_t kSize = 20;
    constexpr std::int32_t kOut = 40;
    const CubeFaces eight = EightBitFaces(kSize);
    for (ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        const CubeFaces widened = Widened(eight, type);
        CubeFaces mixed = Widened(eight, ChannelType::Uint8);
        ASSERT_TRUE(ConvertChannelType(mixed[Front], type));
        if (type == ChannelType::Float) {
            ASSERT_TRUE(ConvertChannelType(mixed[Top], ChannelType::Uint16));
        }
        for (CubeFilter filter : kCubeFilters) {
            SCOPED_TRACE(std::string(CubeFilterName(filter)) + " at " + std::string(ChannelTypeName(type)));
            const Way way{"", Path::Sampler, {filter, 2}};
            const auto expected = RenderWith(way, widened, kSize, kOut);
            const auto dome = RenderWith(way, mixed, kSize, kOut);
            ASSERT_TRUE(expected && dome);
            EXPECT_TRUE(test::SamePixels(*expected, *dome));
        }
    }
}

TEST(DeepCubeRender, FloatLightBrighterThanWhiteSurvivesAndTheCornersStayEmpty)
{
    constexpr std::int32_t kSize = 16;
    constexpr std::int32_t kOut = 33;
    constexpr PixelF kBright{0.5f, 2.0f, 7.25f, 1.0f};
    CubeFaces faces;
    for (CImageBuffer& face : faces) {
        face.Create(kSize, kSize, ChannelType::Float);
        for (std::int32_t y = 0; y < kSize; ++y) {
            std::fill(face.RowF(y), face.RowF(y) + kSize, kBright);
        }
    }
    for (const Way& way : {Way{"gather", Path::Gather, {}}, Way{"face map", Path::FaceMap, {}},
                           Way{"nearest s2", Path::Sampler, {CubeFilter::Nearest, 2}},
                           Way{"bilinear s1", Path::Sampler, {CubeFilter::Bilinear, 1}},
                           Way{"bicubic s3", Path::Sampler, {CubeFilter::Bicubic, 3}}}) {
        SCOPED_TRACE(way.name);
        const auto dome = RenderWith(way, faces, kSize, kOut);
        ASSERT_TRUE(dome);
        ASSERT_EQ(dome->GetChannelType(), ChannelType::Float);
        const PixelF centre = dome->RowF(kOut / 2)[kOut / 2];
        EXPECT_NEAR(centre.blue, kBright.blue, 1e-4f);
        EXPECT_NEAR(centre.green, kBright.green, 1e-4f);
        EXPECT_NEAR(centre.red, kBright.red, 1e-3f);
        EXPECT_NEAR(centre.alpha, 1.0f, 1e-5f);
        for (std::int32_t corner : {0, kOut - 1}) {
            EXPECT_EQ(dome->RowF(corner)[0], (PixelF{}));
            EXPECT_EQ(dome->RowF(corner)[kOut - 1], (PixelF{}));
        }
    }
}

TEST(DeepCubeRender, EveryInstructionSetGivesTheSameDeepPixels)
{
    constexpr std::int32_t kSize = 24;
    constexpr std::int32_t kOut = 37;  // not a multiple of any vector width
    for (ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        CubeFaces faces;
        for (int k = 0; k < Bottom; ++k) {
            faces[k] = test::MakeDeepPattern(kSize, kSize, type, true, static_cast<std::uint32_t>(k));
        }
        for (CubeFilter filter : kCubeFilters) {
            for (std::int32_t s : {1, 3}) {
                std::vector<std::uint8_t> reference;
                test::ForEachSimdTarget([&](const char* target) {
                    SCOPED_TRACE(std::string(CubeFilterName(filter)) + " s " + std::to_string(s) + " at " +
                                 std::string(ChannelTypeName(type)) + " on " + target);
                    const auto dome = RenderWith({"", Path::Sampler, {filter, s}}, faces, kSize, kOut);
                    ASSERT_TRUE(dome);
                    ASSERT_EQ(dome->GetChannelType(), type);
                    const std::vector<std::uint8_t> bytes = BytesOf(*dome);
                    if (reference.empty()) {
                        reference = bytes;
                    } else {
                        EXPECT_EQ(bytes, reference);
                    }
                });
            }
        }
    }
}

}  // namespace
}  // namespace skelvane
