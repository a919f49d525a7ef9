#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/projection/CubeDomeSampler.h"
#include "engine/projection/CubeDomeView.h"
#include "support/EachSimdTarget.h"
#include "support/RecordingReporter.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::RecordingReporter;

// A picture that varies smoothly over the whole sphere, so that any texel,
// on a face or beyond its edges, has one right value: red, green and blue
// follow the x, y and z of the unit direction.
std::uint32_t SmoothColour(Direction d)
{
    const double length = std::sqrt(double{d.x} * d.x + double{d.y} * d.y + double{d.z} * d.z);
    auto channel = [&](float component) {
        return static_cast<std::uint32_t>(std::lround(128.0 + 120.0 * component / length));
    };
    return 0xFF000000u | channel(d.x) << 16 | channel(d.y) << 8 | channel(d.z);
}

CubeFaces SmoothFaces(std::int32_t size)
{
    const float R = static_cast<float>(size - 1) / 2.0f;
    CubeFaces faces;
    for (int face = 0; face < kCubeFaceCount; ++face) {
        faces[face].Create(size, size);
        for (std::int32_t y = 0; y < size; ++y) {
            for (std::int32_t x = 0; x < size; ++x) {
                faces[face].SetPixel(x, y,
                                     SmoothColour(cube_geometry::FaceToDirection(
                                         face, static_cast<float>(x), static_cast<float>(y), R)));
            }
        }
    }
    return faces;
}

int ChannelDifference(std::uint32_t a, std::uint32_t b)
{
    int largest = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        largest = std::max(largest, std::abs(static_cast<int>(a >> shift & 255u) - static_cast<int>(b >> shift & 255u)));
    }
    return largest;
}

// The direction a dome pixel's centre looks at, in the cube's frame.
Direction PixelDirection(const cube_geometry::CubeView& view, std::int32_t row, std::int32_t column)
{
    const Direction d = cube_geometry::FisheyeToDirection(row, column, view.faceSize, view.outSize, view.fov);
    return cube_geometry::RotateDirectionAboutY(cube_geometry::RotateDirectionAboutX(d, view.cosTilt, view.sinTilt),
                                                view.cosPan, view.sinPan);
}

// Within two pixels of the circle's edge (radius R N / F pixels).
bool NearTheRim(std::int32_t faceSize, std::int32_t outSize, std::int32_t row, std::int32_t column)
{
    const double centre = (outSize - 1) / 2.0;
    const double radius = (faceSize - 1) / 2.0 * outSize / faceSize;
    return std::hypot(row - centre, column - centre) > radius - 2.0;
}

TEST(CubeFaceGeometry, FacePointsTurnIntoDirectionsThatProjectBackOntoThem)
{
    constexpr std::int32_t kSize = 32;
    constexpr float R = (kSize - 1) / 2.0f;
    for (int face = 0; face < kCubeFaceCount; ++face) {
        for (float v = 0.25f; v < kSize - 1; v += 2.5f) {
            for (float u = 0.25f; u < kSize - 1; u += 2.5f) {
                const FaceMapEntry back =
                    cube_geometry::DirectionToCubeFace(cube_geometry::FaceToDirection(face, u, v, R), R);
                ASSERT_EQ(back.face, face) << "u " << u << " v " << v;
                EXPECT_NEAR(back.u, u, 1e-4f) << "face " << face << " v " << v;
                EXPECT_NEAR(back.v, v, 1e-4f) << "face " << face << " u " << u;
            }
        }
    }
}

TEST(CubeDomeSampler, BordersBeyondEveryEdgeAndCornerShowWhatLiesThere)
{
    // A whole-sphere view reads every face up to its edges, so the bicubic
    // plan holds texels beyond each of the 24 face sides (12 edges, each from
    // both faces) and each face's four corners (the 8 cube corners seen from
    // their three faces).
    constexpr std::int32_t kSize = 16;
    constexpr float R = (kSize - 1) / 2.0f;
    CCubeDomeSampler sampler;
    ASSERT_TRUE(sampler.Plan(kSize, 160, 360, 0.0f, 0.0f, {CubeFilter::Bicubic, 1}));
    const CSampledFaces sampled = sampler.Prepare(SmoothFaces(kSize));
    const CubeSampleSources& sources = sampled.Sources();
    for (int face = 0; face < kCubeFaceCount; ++face) {
        // Positions run from 0 to F - 1 (give or take rounding), so windows
        // start at -1 at the earliest and reach F at least.
        ASSERT_LE(sources.lowX[face], -1) << face;
        ASSERT_LE(sources.lowY[face], -1) << face;
        ASSERT_GE(sources.highX[face], kSize - 3) << face;
        ASSERT_GE(sources.highY[face], kSize - 3) << face;
        int checked = 0;
        for (std::int32_t y = sources.lowY[face]; y < sources.highY[face] + 4; ++y) {
            for (std::int32_t x = sources.lowX[face]; x < sources.highX[face] + 4; ++x) {
                if (x >= 0 && x < kSize && y >= 0 && y < kSize) {
                    continue;
                }
                const std::uint32_t held = sources.texels[sources.origin[face] + y * sources.pitch[face] + x];
                const std::uint32_t expected = SmoothColour(
                    cube_geometry::FaceToDirection(face, static_cast<float>(x), static_cast<float>(y), R));
                EXPECT_LE(ChannelDifference(held, expected), 2)
                    << "face " << face << " texel " << x << ", " << y << std::hex << ": " << held << " for "
                    << expected;
                ++checked;
            }
        }
        EXPECT_GE(checked, (kSize + 2) * (kSize + 2) - kSize * kSize);
    }
}

struct SeamCase {
    CubeFilter filter;
    std::int32_t supersample;
    float tilt;
    float pan;
    int tolerance;
};

TEST(CubeDomeSampler, FilteredDomesFollowTheSphereAcrossEveryFaceEdge)
{
    // Seams would show as the largest error, right at the edges: a tap beyond
    // an edge that read a clamped copy of the edge errs by the gradient times
    // the distance. Nearest is the yardstick, half a texel off anywhere.
    constexpr std::int32_t kSize = 16;
    constexpr std::int32_t kOut = 161;
    RecordingReporter reporter;
    int nearestError = 0;
    for (const SeamCase& c : {SeamCase{CubeFilter::Nearest, 1, 0.0f, 0.0f, 20},
                              SeamCase{CubeFilter::Bilinear, 1, 0.0f, 0.0f, 3},
                              SeamCase{CubeFilter::Bicubic, 1, 0.0f, 0.0f, 3},
                              SeamCase{CubeFilter::Bicubic, 1, 35.0f, -20.0f, 3}}) {
        SCOPED_TRACE(std::string(CubeFilterName(c.filter)) + " tilt " + std::to_string(c.tilt));
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(kSize, kOut, 360, c.tilt, c.pan, {c.filter, c.supersample}));
        const auto dome = sampler.Render(SmoothFaces(kSize), reporter);
        ASSERT_TRUE(dome);
        const cube_geometry::CubeView view = cube_geometry::MakeCubeView(kSize, kOut, 360, c.tilt, c.pan);
        int largest = 0;
        for (std::int32_t i = 0; i < kOut; ++i) {
            for (std::int32_t j = 0; j < kOut; ++j) {
                const Direction d = cube_geometry::FisheyeToDirection(i, j, kSize, kOut, 360);
                if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) {
                    EXPECT_EQ(dome->GetPixel(j, i), 0u);
                    continue;
                }
                // The whole-sphere rim is the back pole, where every fisheye
                // direction bunches up: leave out the last pixels.
                if (NearTheRim(kSize, kOut, i, j)) {
                    continue;
                }
                largest = std::max(largest, ChannelDifference(dome->GetPixel(j, i),
                                                              SmoothColour(PixelDirection(view, i, j))));
            }
        }
        EXPECT_LE(largest, c.tolerance);
        if (c.filter == CubeFilter::Nearest) {
            nearestError = largest;
        } else {
            EXPECT_LT(largest, nearestError);
        }
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST(CubeDomeSampler, AMissingBottomFadesToTransparentWhenFilteredAndIsOpaqueBlackWhenNearest)
{
    constexpr std::int32_t kSize = 16;
    constexpr std::int32_t kOut = 121;
    RecordingReporter reporter;
    CubeFaces faces = SmoothFaces(kSize);
    faces[Bottom] = CImageBuffer();
    const cube_geometry::CubeView view = cube_geometry::MakeCubeView(kSize, kOut, 360, 0.0f, 0.0f);
    for (CubeFilter filter : kCubeFilters) {
        SCOPED_TRACE(std::string(CubeFilterName(filter)));
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(kSize, kOut, 360, 0.0f, 0.0f, {filter, 2}));
        EXPECT_TRUE(sampler.UsedRect(Bottom).IsEmpty() == false);
        const auto dome = sampler.Render(faces, reporter);
        ASSERT_TRUE(dome);
        int partial = 0;
        for (std::int32_t i = 0; i < kOut; ++i) {
            for (std::int32_t j = 0; j < kOut; ++j) {
                const Direction d = PixelDirection(view, i, j);
                const double length = std::sqrt(double{d.x} * d.x + double{d.y} * d.y + double{d.z} * d.z);
                if (length == 0.0) {
                    continue;
                }
                const std::uint32_t pixel = dome->GetPixel(j, i);
                const std::uint32_t alpha = pixel >> 24;
                if (NearTheRim(kSize, kOut, i, j)) {
                    continue;
                }
                if (d.y / length > 0.8) {  // well inside the bottom face
                    EXPECT_EQ(pixel, filter == CubeFilter::Nearest ? 0xFF000000u : 0u) << i << ", " << j;
                } else if (d.y / length < 0.4 && std::abs(d.z) / length > 0.2) {
                    EXPECT_EQ(alpha, 255u) << i << ", " << j;
                }
                partial += alpha > 0 && alpha < 255;
            }
        }
        // The filters blend the missing face in over a texel or two; nearest
        // keeps every sub-sample opaque.
        if (filter == CubeFilter::Nearest) {
            EXPECT_EQ(partial, 0);
        } else {
            EXPECT_GT(partial, 0);
        }
    }
}

TEST(CubeDomeSampler, SupersampledRimAlphaIsTheShareOfSubSamplesInsideTheCircle)
{
    constexpr std::int32_t kSize = 20;
    constexpr std::int32_t kOut = 57;
    RecordingReporter reporter;
    CubeFaces faces;
    for (CImageBuffer& face : faces) {
        face = test::MakeUniformImage(kSize, kSize, 0xFFFFFFFFu);
    }
    for (std::int32_t s = 1; s <= kMaxSupersample; ++s) {
        SCOPED_TRACE("s = " + std::to_string(s));
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(kSize, kOut, 180, 60.0f, 0.0f, {CubeFilter::Bilinear, s}));
        const auto dome = sampler.Render(faces, reporter);
        ASSERT_TRUE(dome);
        const double R = (kSize - 1) / 2.0;
        const double scale = static_cast<double>(kSize) / kOut;
        const double centre = (kOut - 1) / 2.0;
        int partial = 0;
        for (std::int32_t i = 0; i < kOut; ++i) {
            for (std::int32_t j = 0; j < kOut; ++j) {
                int inside = 0;
                for (int a = 0; a < s; ++a) {
                    for (int b = 0; b < s; ++b) {
                        const double dy = (i - centre + (2.0 * a + 1 - s) / (2.0 * s)) * scale;
                        const double dx = (j - centre + (2.0 * b + 1 - s) / (2.0 * s)) * scale;
                        inside += dx * dx + dy * dy <= R * R;
                    }
                }
                const std::uint32_t pixel = dome->GetPixel(j, i);
                const double expected = 255.0 * inside / (s * s);
                // A sub-sample right on the circle may fall either way in floats.
                EXPECT_LE(std::abs(static_cast<double>(pixel >> 24) - expected), 255.0 / (s * s) + 1.0)
                    << i << ", " << j;
                // Colour is the picture over black: white times the coverage.
                EXPECT_EQ(pixel & 0xFFu, pixel >> 24) << i << ", " << j;
                partial += (pixel >> 24) != 0 && (pixel >> 24) != 255;
            }
        }
        if (s == 1) {
            EXPECT_EQ(partial, 0);
        } else {
            EXPECT_GT(partial, 4 * kOut / 2);  // the whole rim, not a few pixels
        }
    }
}

TEST(CubeDomeSampler, EveryInstructionSetGivesTheSamePixels)
{
    constexpr std::int32_t kSize = 24;
    constexpr std::int32_t kOut = 37;  // not a multiple of any vector width
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k] = test::MakePatternImage(kSize, kSize, static_cast<std::uint32_t>(k));
    }
    faces[Bottom] = CImageBuffer();
    RecordingReporter reporter;
    for (CubeFilter filter : kCubeFilters) {
        for (std::int32_t s : {1, 3}) {
            std::vector<std::uint32_t> reference;
            test::ForEachSimdTarget([&](const char* target) {
                SCOPED_TRACE(std::string(CubeFilterName(filter)) + " s " + std::to_string(s) + " on " + target);
                CCubeDomeSampler sampler;
                ASSERT_TRUE(sampler.Plan(kSize, kOut, 220, 50.0f, 33.0f, {filter, s}));
                const auto dome = sampler.Render(faces, reporter);
                ASSERT_TRUE(dome);
                const std::vector<std::uint32_t> pixels = test::PixelsOf(*dome);
                if (reference.empty()) {
                    reference = pixels;
                } else {
                    EXPECT_EQ(pixels, reference);
                }
            });
        }
    }
}

TEST(CubeDomeSampler, TheTapTableGivesThePixelsOfTheProjection)
{
    // Frames at s = 1 read their taps from the plan's table; a plan without
    // one projects every pixel. Both must agree to the byte wherever taps
    // cross an edge or corner into a border, at every depth and on every
    // instruction set, with domes whose sides are no multiple of a vector or
    // of the table's blocks, and faces of pixels unlike their neighbours, so
    // that a tap one texel off shows.
    struct View {
        std::int32_t faceSize;
        std::int32_t outSize;
        std::int32_t fov;
        float tilt;
        float pan;
        bool bottom;
    };
    const View views[] = {
        {16, 160, 360, 0.0f, 0.0f, true},       // the whole sphere: all 12 edges and 8 corners
        {23, 77, 360, 37.5f, -21.0f, false},    // the same turned, without a bottom face
        {24, 37, 220, 50.0f, 33.0f, true},      // past the horizon, tilted and panned
        {31, 45, 180, 90.0f, 0.0f, true},       // straight up: the top face's corners at the rim
        {17, 203, 180, 60.0f, 45.0f, false},    // the dome far finer than the faces
        {40, 19, 250, -30.0f, 170.0f, true},    // and far coarser, looking back and down
    };
    RecordingReporter reporter;
    for (const View& view : views) {
        for (ChannelType type : {ChannelType::Uint8, ChannelType::Uint16, ChannelType::Float}) {
            CubeFaces faces;
            for (int k = 0; k < kCubeFaceCount; ++k) {
                if (k != Bottom || view.bottom) {
                    faces[k] = test::MakePatternImage(view.faceSize, view.faceSize, static_cast<std::uint32_t>(k + 3));
                    ASSERT_TRUE(type == ChannelType::Uint8 || ConvertChannelType(faces[k], type));
                }
            }
            for (CubeFilter filter : {CubeFilter::Bilinear, CubeFilter::Bicubic}) {
                test::ForEachSimdTarget([&](const char* target) {
                    SCOPED_TRACE(std::to_string(view.faceSize) + " to " + std::to_string(view.outSize) + ", fov " +
                                 std::to_string(view.fov) + ", " + std::string(CubeFilterName(filter)) + ", " +
                                 std::to_string(BitCountOf(type)) + " bits on " + target);
                    CCubeDomeSampler tabled;
                    CCubeDomeSampler projected;
                    projected.SetTapTableBudget(0);
                    const CubeSampling sampling{filter, 1};
                    ASSERT_TRUE(tabled.Plan(view.faceSize, view.outSize, view.fov, view.tilt, view.pan, sampling));
                    ASSERT_TRUE(projected.Plan(view.faceSize, view.outSize, view.fov, view.tilt, view.pan, sampling));
                    ASSERT_GT(tabled.TapTableBytes(), 0);
                    ASSERT_EQ(projected.TapTableBytes(), 0);
                    const auto fromTable = tabled.Render(faces, reporter);
                    const auto fromProjection = projected.Render(faces, reporter);
                    ASSERT_TRUE(fromTable && fromProjection);
                    ASSERT_EQ(fromTable->GetChannelType(), type);
                    EXPECT_EQ(test::RowBytes(*fromTable), test::RowBytes(*fromProjection));
                });
            }
        }
    }
}

// Whatever the band, a dome made in bands gives a writer the rows of the whole
// render: every filter and supersample, from a tap table and by projection, at
// every depth, with the bottom face missing, on every instruction set; and
// the faces it was prepared from may go before its rows are taken.
TEST(CubeDomeSampler, DomesMadeInBandsAreTheWholeRender)
{
    constexpr std::int32_t kSize = 20;
    constexpr std::int32_t kOut = 45;  // no multiple of a vector, of a tap block or of the bands below
    struct Case {
        CubeSampling sampling;
        std::int64_t tapBudget;
    };
    const Case cases[] = {
        {{CubeFilter::Bilinear, 1}, CCubeDomeSampler::kDefaultTapTableBudget},
        {{CubeFilter::Bicubic, 1}, CCubeDomeSampler::kDefaultTapTableBudget},
        {{CubeFilter::Bilinear, 1}, 0},
        {{CubeFilter::Bicubic, 1}, 0},
        {{CubeFilter::Nearest, 2}, CCubeDomeSampler::kDefaultTapTableBudget},
        {{CubeFilter::Bilinear, 2}, CCubeDomeSampler::kDefaultTapTableBudget},
        {{CubeFilter::Bicubic, 3}, CCubeDomeSampler::kDefaultTapTableBudget},
    };
    const auto facesOf = [&](ChannelType type) {
        CubeFaces faces;
        for (int k = 0; k < kCubeFaceCount; ++k) {
            if (k != Bottom) {
                faces[k] = test::MakePatternImage(kSize, kSize, static_cast<std::uint32_t>(k + 5));
                EXPECT_TRUE(ConvertChannelType(faces[k], type));
            }
        }
        return faces;
    };
    RecordingReporter reporter;
    for (ChannelType type : {ChannelType::Uint8, ChannelType::Uint16, ChannelType::Float}) {
        const CubeFaces faces = facesOf(type);
        for (const Case& c : cases) {
            test::ForEachSimdTarget([&](const char* target) {
                CCubeDomeSampler sampler;
                sampler.SetTapTableBudget(c.tapBudget);
                ASSERT_TRUE(sampler.Plan(kSize, kOut, 220, 40.0f, -25.0f, c.sampling));
                const auto whole = sampler.Render(faces, reporter);
                ASSERT_TRUE(whole);
                const std::vector<std::uint8_t> expected = test::RowBytes(*whole);
                for (const std::int32_t bandRows : {1, 7, 32, kOut + 5}) {
                    SCOPED_TRACE(std::string(CubeFilterName(c.sampling.filter)) + " s " +
                                 std::to_string(c.sampling.supersample) + (c.tapBudget ? ", table" : ", projected") +
                                 ", " + std::to_string(BitCountOf(type)) + " bits, bands of " +
                                 std::to_string(bandRows) + " on " + target);
                    CubeFaces copies = facesOf(type);
                    const CSampledFaces sampled = sampler.Prepare(copies);
                    copies = CubeFaces{};
                    const auto banded = sampler.RenderInBands(sampled, bandRows, reporter);
                    ASSERT_TRUE(banded);
                    EXPECT_EQ(banded->GetChannelType(), type);
                    EXPECT_EQ(banded->BandRows(), std::min(bandRows, kOut));
                    EXPECT_EQ(test::RowBytes(*banded), expected);
                }
            });
        }
    }
    {
        // Bands wide enough to be shared out among the threads.
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(kSize, 300, 220, 40.0f, -25.0f, {CubeFilter::Bicubic, 4}));
        CubeFaces copies = facesOf(ChannelType::Uint8);
        const auto whole = sampler.Render(copies, reporter);
        ASSERT_TRUE(whole);
        const CSampledFaces sampled = sampler.Prepare(copies);
        const auto banded = sampler.RenderInBands(sampled, 32, reporter);
        ASSERT_TRUE(banded);
        EXPECT_EQ(test::RowBytes(*banded), test::RowBytes(*whole));
    }
    EXPECT_FALSE(CCubeDomeSampler().RenderInBands(CSampledFaces{}, 32, reporter)) << "no plan";
    EXPECT_TRUE(reporter.messages.empty());
}

TEST(CubeDomeSampler, TheTapTableKeepsToItsBudget)
{
    CCubeDomeSampler sampler;
    ASSERT_TRUE(sampler.Plan(64, 256, 180, 0.0f, 0.0f, {CubeFilter::Bilinear, 1}));
    const std::int64_t bytes = sampler.TapTableBytes();
    // About 12 bytes a pixel of the circle, in blocks of whole vectors.
    EXPECT_GT(bytes, 12 * 256 * 256 * 3 / 4);
    EXPECT_LT(bytes, 12 * 256 * 256);
    sampler.SetTapTableBudget(bytes - 1);
    ASSERT_TRUE(sampler.Plan(64, 256, 180, 0.0f, 0.0f, {CubeFilter::Bilinear, 1}));
    EXPECT_EQ(sampler.TapTableBytes(), 0) << "over the budget: frames project";
    sampler.SetTapTableBudget(bytes);
    for (CubeSampling sampling : {CubeSampling{CubeFilter::Bilinear, 2}, CubeSampling{CubeFilter::Nearest, 1}}) {
        ASSERT_TRUE(sampler.Plan(64, 256, 180, 0.0f, 0.0f, sampling));
        EXPECT_EQ(sampler.TapTableBytes(), 0) << "only s = 1 with a filter keeps a table";
    }
}

TEST(CubeDomeSampler, OnlyTheUsedPartsOfTheFacesDecideThePicture)
{
    // The job decodes only UsedRect of each face; whatever lies outside it
    // must not reach a pixel, borders filled from neighbours included.
    constexpr std::int32_t kSize = 32;
    constexpr std::int32_t kOut = 64;
    CubeFaces faces;
    CubeFaces scrambled;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k] = test::MakePatternImage(kSize, kSize, static_cast<std::uint32_t>(k));
        scrambled[k] = test::MakePatternImage(kSize, kSize, static_cast<std::uint32_t>(k + 10));
    }
    RecordingReporter reporter;
    for (CubeFilter filter : {CubeFilter::Bilinear, CubeFilter::Bicubic}) {
        SCOPED_TRACE(std::string(CubeFilterName(filter)));
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(kSize, kOut, 180, 60.0f, 10.0f, {filter, 2}));
        int unused = 0;
        for (int k = 0; k < kCubeFaceCount; ++k) {
            const PixelRect& used = sampler.UsedRect(k);
            for (std::int32_t y = used.top; y < used.bottom; ++y) {
                for (std::int32_t x = used.left; x < used.right; ++x) {
                    scrambled[k].SetPixel(x, y, faces[k].GetPixel(x, y));
                }
            }
            unused += kSize * kSize - (used.right - used.left) * (used.bottom - used.top);
        }
        EXPECT_GT(unused, 0) << "the view reads less than the whole cube";
        const auto dome = sampler.Render(faces, reporter);
        const auto fromUsed = sampler.Render(scrambled, reporter);
        ASSERT_TRUE(dome && fromUsed);
        EXPECT_EQ(test::PixelsOf(*fromUsed), test::PixelsOf(*dome));
    }
}

TEST(CubeDomeSampler, RefusesWhatItCannotRender)
{
    CCubeDomeSampler sampler;
    EXPECT_FALSE(sampler.Plan(16, 32, 180, 0.0f, 0.0f, {CubeFilter::Bilinear, 0}));
    EXPECT_FALSE(sampler.Plan(16, 32, 180, 0.0f, 0.0f, {CubeFilter::Bilinear, kMaxSupersample + 1}));
    EXPECT_FALSE(sampler.Plan(1, 32, 180, 0.0f, 0.0f, {CubeFilter::Bicubic, 1}));
    EXPECT_FALSE(sampler.Plan(16, 0, 180, 0.0f, 0.0f, {CubeFilter::Bicubic, 1}));
    RecordingReporter reporter;
    EXPECT_FALSE(sampler.Render(CubeFaces{}, reporter)) << "no plan";
    EXPECT_TRUE(sampler.Plan(16, 32, 180, 0.0f, 0.0f, {CubeFilter::Bicubic, 4}));
    EXPECT_TRUE(sampler.Render(CubeFaces{}, reporter)) << "no faces: transparent, not a crash";
    for (CubeFilter filter : kCubeFilters) {
        EXPECT_EQ(CubeFilterNamed(CubeFilterName(filter)), filter);
    }
    EXPECT_FALSE(CubeFilterNamed("lanczos"));
}

}  // namespace
}  // namespace skelvane
