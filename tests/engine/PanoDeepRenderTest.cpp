#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "engine/projection/PanoTaps.h"
#include "engine/simd/PanoRowsSimd.h"
#include "support/DeepImages.h"
#include "support/EachSimdTarget.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

constexpr std::int32_t kFov = 200;
constexpr float kTilt = 35.0f;

// The panorama renderers by the ways a job reaches them, each as one call.
struct RenderKind {
    const char* name;
    std::function<std::unique_ptr<CImageBuffer>(CPanoDomeProjector&, const CImageBuffer&, std::int32_t, float)>
        render;
    // Roundings between a blended total and the pixel: supersampling rounds
    // each sub-sample and then their mean.
    int roundings = 1;
};

const std::vector<RenderKind>& RenderKinds()
{
    static const std::vector<RenderKind> kinds = {
        {"still",
         [](CPanoDomeProjector& p, const CImageBuffer& pano, std::int32_t n, float pan) {
             return p.RenderPanoDomeDirect(pano, n, kFov, kTilt, pan);
         }},
        {"sweep frame",
         [](CPanoDomeProjector& p, const CImageBuffer& pano, std::int32_t n, float pan) {
             const PanoMap map = p.BuildPanoDomeMap(pano.GetWidth(), pano.GetHeight(), n, kFov, kTilt);
             return p.RenderPanoDome(pano, map.get(), n, pan);
         }},
        {"sharp frame",
         [](CPanoDomeProjector& p, const CImageBuffer& pano, std::int32_t n, float pan) {
             const PanoMap map = p.BuildPanoDomeSharpMap(pano.GetWidth(), pano.GetHeight(), n, kFov, kTilt);
             return p.RenderPanoDomeSharp(pano, map.get(), n, pan);
         }},
        {"supersampled",
         [](CPanoDomeProjector& p, const CImageBuffer& pano, std::int32_t n, float pan) {
             return p.RenderPanoDomeSupersampled(pano, n, kFov, kTilt, pan, 3, PanoWrap::Sweep);
         },
         2},
    };
    return kinds;
}

// A panorama whose three channels rise left to right through every 16-bit
// level, each channel offset from the next.
CImageBuffer HorizontalGradient(std::int32_t width, std::int32_t height, ChannelType type)
{
    CImageBuffer gradient;
    gradient.Create(width, height, ChannelType::Uint16);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            auto level = [&](int c) {
                return static_cast<std::uint16_t>((x * 65535LL / (width - 1) + c * 97) % 65536);
            };
            gradient.Row16(y)[x] = {level(0), level(1), level(2), 65535};
        }
    }
    EXPECT_TRUE(ConvertChannelType(gradient, type));
    return gradient;
}

// The distinct values of the green channel inside the disc, as 16-bit levels.
std::size_t DistinctGreenLevels(const CImageBuffer& dome)
{
    std::set<std::uint32_t> levels;
    for (std::int32_t y = 0; y < dome.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < dome.GetWidth(); ++x) {
            if (dome.GetChannelType() == ChannelType::Uint16) {
                levels.insert(dome.Row16(y)[x].green);
            } else {
                levels.insert(RoundFloatTo16(dome.RowF(y)[x].green));
            }
        }
    }
    return levels.size();
}

// A deep panorama renders at its depth: a gradient of 65536 levels keeps far
// more than an 8-bit picture's 256 in every render, and the dome has the
// panorama's channel type.
TEST(PanoDeepRender, GradientsKeepTheirLevelsInEveryRender)
{
    CPanoDomeProjector projector;
    for (const ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        const CImageBuffer pano = HorizontalGradient(4096, 64, type);
        for (const RenderKind& kind : RenderKinds()) {
            SCOPED_TRACE(std::string(kind.name) + ", " + std::string(ChannelTypeName(type)));
            const auto dome = kind.render(projector, pano, 160, 20.0f);
            ASSERT_TRUE(dome);
            EXPECT_EQ(dome->GetChannelType(), type);
            EXPECT_GT(DistinctGreenLevels(*dome), 4096u);
        }
    }
}

// An 8-bit panorama whose neighbours differ by up to 40 levels but whose
// blends never reach 0 or 255 (the kernel's weights add up to at most 2.25
// in absolute value), so no render clamps: 8 bits clamp every sub-sample,
// floats keep what lies above white.
CImageBuffer WavyPanorama(std::int32_t width, std::int32_t height)
{
    CImageBuffer pano;
    pano.Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            auto level = [&](int c) {
                return static_cast<std::uint32_t>(std::lround(128.0 + 50.0 * std::sin(0.9 * x + 0.4 * y + 1.7 * c)));
            };
            pano.Row32(y)[x] = 0xFF000000u | level(2) << 16 | level(1) << 8 | level(0);
        }
    }
    return pano;
}

// A deep render of an 8-bit panorama widened is the 8-bit render widened,
// within what the 8-bit render's rounding of the same totals loses: half an
// 8-bit level per rounding (plus the 16-bit rounding's own half a step).
// Outside the disc both are all zeros.
TEST(PanoDeepRender, WidenedPanoramasGiveTheEightBitPicturesWidened)
{
    CPanoDomeProjector projector;
    const CImageBuffer pano8 = WavyPanorama(97, 51);
    for (const ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        CImageBuffer pano;
        ASSERT_TRUE(CopyAtChannelType(pano8, type, Dither::None, pano));
        for (const RenderKind& kind : RenderKinds()) {
            for (const float pan : {-180.0f, 41.3f, 179.5f}) {
                SCOPED_TRACE(::testing::Message() << kind.name << ", " << ChannelTypeName(type) << ", pan " << pan);
                const auto dome8 = kind.render(projector, pano8, 45, pan);
                const auto dome = kind.render(projector, pano, 45, pan);
                ASSERT_TRUE(dome8 && dome);
                const double levels = 0.5 * kind.roundings;
                int failures = 0;
                for (std::int32_t y = 0; y < 45 && failures < 5; ++y) {
                    for (std::int32_t x = 0; x < 45 && failures < 5; ++x) {
                        const std::uint32_t word = dome8->Row32(y)[x];
                        const PixelF deep = type == ChannelType::Uint16 ? PixelFOf16(dome->Row16(y)[x])
                                                                        : dome->RowF(y)[x];
                        const float channels[4] = {deep.blue, deep.green, deep.red, deep.alpha};
                        for (int c = 0; c < 4; ++c) {
                            const double eight = word >> (8 * c) & 255u;
                            const double wide = 255.0 * channels[c];
                            const double slack = type == ChannelType::Uint16 ? levels + 0.5 / 257 : levels + 1e-4;
                            if (word == 0 ? channels[c] != 0.0f : std::fabs(wide - eight) > slack) {
                                ADD_FAILURE() << "(" << x << ", " << y << ") channel " << c << ": " << channels[c]
                                              << " against 8-bit " << eight;
                                ++failures;
                            }
                        }
                    }
                }
            }
        }
    }
}

// Float pixels keep light above white through the blend; the kernel's
// undershoot beside it stops at black, and 16-bit pixels clamp at both ends.
TEST(PanoDeepRender, FloatsKeepLightAboveWhiteAndNeverGoBelowBlack)
{
    CImageBuffer pano;
    pano.Create(64, 32, ChannelType::Float);
    for (std::int32_t y = 0; y < 32; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            const float v = x % 16 < 8 ? 6.0f : 0.05f;  // a bright sun's edge beside dim sky
            pano.RowF(y)[x] = {v, v, v, 1.0f};
        }
    }
    CImageBuffer pano16;
    ASSERT_TRUE(CopyAtChannelType(pano, ChannelType::Uint16, Dither::None, pano16));
    CPanoDomeProjector projector;
    for (const RenderKind& kind : RenderKinds()) {
        SCOPED_TRACE(kind.name);
        const auto dome = kind.render(projector, pano, 64, 0.0f);
        ASSERT_TRUE(dome);
        float brightest = 0.0f;
        float darkest = 1.0f;
        for (std::int32_t y = 0; y < 64; ++y) {
            for (std::int32_t x = 0; x < 64; ++x) {
                const PixelF& p = dome->RowF(y)[x];
                if (p.alpha == 1.0f) {
                    brightest = std::max(brightest, p.green);
                    darkest = std::min(darkest, p.green);
                }
            }
        }
        EXPECT_GT(brightest, 6.0f) << "the overshoot above the sun stays";
        EXPECT_EQ(darkest, 0.0f) << "the undershoot beside it is cut at black";

        // 16-bit: the sun is white, and the overshoot is clamped to it.
        const auto dome16 = kind.render(projector, pano16, 64, 0.0f);
        ASSERT_TRUE(dome16);
        std::uint16_t top = 0;
        for (std::int32_t y = 0; y < 64; ++y) {
            for (std::int32_t x = 0; x < 64; ++x) {
                top = std::max(top, dome16->Row16(y)[x].green);
            }
        }
        EXPECT_EQ(top, 65535);
    }
}

// The deep row loop's pixels on every instruction set are those of the
// one-pixel blend (PanoTaps.h) at the map's positions.
TEST(PanoDeepRender, EveryInstructionSetGivesTheOnePixelBlend)
{
    CPanoDomeProjector projector;
    for (const ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        const CImageBuffer pano = test::MakeDeepPattern(131, 67, type, true, 3);
        const PanoMap map = projector.BuildPanoDomeMap(131, 67, 37, 220, -20.0f);
        ASSERT_TRUE(map);
        for (const float pan : {-180.0f, 13.7f, 541.7f}) {
            const float shift = pano_geometry::PanShift(pan, 131);
            test::ForEachSimdTarget([&](const char* target) {
                SCOPED_TRACE(::testing::Message() << target << ", " << ChannelTypeName(type) << ", pan " << pan);
                const auto dome = projector.RenderPanoDome(pano, map.get(), 37, pan);
                ASSERT_TRUE(dome);
                int failures = 0;
                for (std::int32_t k = 0; k < 37 * 37 && failures < 5; ++k) {
                    const PanoMapEntry e = map[k];
                    const std::int32_t x = k % 37;
                    const std::int32_t y = k / 37;
                    auto expected = [&]<class P>(P) {
                        if (e.x == kPanoOutside && e.y == kPanoOutside) {
                            return P{};
                        }
                        PanoTapsOf<P> taps;
                        LocatePanoTaps(pano, pano_geometry::WrapColumn(e.x + shift, 131.0f), e.y, taps);
                        return BlendDeepPanoTaps(taps);
                    };
                    const bool same = type == ChannelType::Uint16 ? dome->Row16(y)[x] == expected(Pixel16{})
                                                                  : dome->RowF(y)[x] == expected(PixelF{});
                    if (!same) {
                        ADD_FAILURE() << "pixel (" << x << ", " << y << ")";
                        ++failures;
                    }
                }
            });
        }
    }
}

// A sharp frame is the still image at its pan, bit for bit, at every depth,
// rendered alone or together with the others.
TEST(PanoDeepRender, SharpFramesAreTheStillImagesAtEveryDepth)
{
    CPanoDomeProjector projector;
    const std::vector<float> pans = {-180.0f, -3.25f, 90.0f, 725.5f};
    for (const ChannelType type : {ChannelType::Uint16, ChannelType::Float}) {
        const CImageBuffer pano = test::MakeDeepPattern(120, 61, type, false, 7);
        const PanoMap map = projector.BuildPanoDomeSharpMap(120, 61, 33, 250, 50.0f);
        const auto together = projector.RenderPanoDomeSharpFrames(pano, map.get(), 33, pans);
        ASSERT_EQ(together.size(), pans.size());
        for (std::size_t k = 0; k < pans.size(); ++k) {
            SCOPED_TRACE(::testing::Message() << ChannelTypeName(type) << ", pan " << pans[k]);
            const auto still = projector.RenderPanoDomeDirect(pano, 33, 250, 50.0f, pans[k]);
            const auto frame = projector.RenderPanoDomeSharp(pano, map.get(), 33, pans[k]);
            ASSERT_TRUE(still && frame && together[k]);
            EXPECT_TRUE(test::SamePixels(*still, *frame));
            EXPECT_TRUE(test::SamePixels(*still, *together[k]));
        }
    }
}

// Samples for the vector loops' test: each case fills a panorama's blue,
// green and red samples from a generator.
struct SampleCase {
    const char* name;
    ChannelType type;
    std::function<double(std::mt19937&)> sample;
};

// A float between 2^low and 2^high with a random mantissa.
double RandomFloat(std::mt19937& random, int low, int high)
{
    const auto mantissa = static_cast<float>(1.0 + std::uniform_real_distribution<double>(0.0, 1.0)(random));
    return std::ldexp(mantissa, std::uniform_int_distribution<int>(low, high)(random));
}

// Map entries for the test below, 256 of them in a panorama of this size:
// most inside, at fractions 0 and 1/2 (where totals of neighbouring samples
// fall exactly on a rounding step), 1/4 and random ones; some near each edge,
// outside the disc, not finite, or a period or two beyond the seam.
std::vector<PanoMapEntry> TestEntries(std::int32_t width, std::int32_t height, std::mt19937& random)
{
    auto within = [&](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
    auto whole = [&](std::int32_t low, std::int32_t high) {
        return static_cast<float>(std::uniform_int_distribution<std::int32_t>(low, high)(random));
    };
    const float fractions[] = {0.0f, 0.5f, 0.25f};
    std::vector<PanoMapEntry> entries;
    for (int n = 0; n < 256; ++n) {
        const float x = whole(1, width - 4);
        const float y = whole(1, height - 4);
        switch (n % 8) {
        case 0:
        case 1:
        case 2:
            entries.push_back({x + fractions[n % 8 == 2 ? random() % 3 : 1], y + fractions[random() % 2]});
            break;
        case 3:
            entries.push_back({x + within(0, 1), y + within(0, 1)});
            break;
        case 4:
            entries.push_back({random() % 2 ? within(0, 1.5f) : within(width - 3.5f, width - 1.0f), y + 0.5f});
            break;
        case 5:
            entries.push_back({x + 0.5f, random() % 2 ? within(-2, 1.5f) : within(height - 3.5f, height + 1.0f)});
            break;
        case 6:
            entries.push_back({kPanoOutside, kPanoOutside});
            break;
        default:
            entries.push_back(random() % 2 ? PanoMapEntry{x + width * (1.0f + whole(0, 2)), y + 0.5f}
                                           : PanoMapEntry{random() % 2 ? NAN : INFINITY, y});
        }
    }
    return entries;
}

// The deep row loops blend several pixels at once; each pixel must still be
// the one-pixel blend's (PanoTaps.h), bit for bit, on every instruction set
// and whatever the samples: 16-bit totals exactly on and beside a rounding
// step and beyond the range, double totals exactly between two floats or
// near them, light far above white, totals beyond the largest float, and
// samples that are infinite or not a number.
TEST(PanoDeepRender, VectorLoopsGiveTheOnePixelBlendForEverySample)
{
    const double kSpecials[] = {INFINITY, -INFINITY, NAN, -NAN, 3.0e38, -3.0e38, 1.0e-40, -0.0, 65504.0, -1.5};
    const std::vector<SampleCase> cases = {
        // At a fraction of 1/2, two levels a and two levels a + 1 give a + 1/2.
        {"16-bit neighbouring levels", ChannelType::Uint16,
         [](std::mt19937& r) { return 1000.0 + static_cast<double>(r() % 2); }},
        {"16-bit black and white", ChannelType::Uint16, [](std::mt19937& r) { return r() % 2 ? 65535.0 : 0.0; }},
        {"16-bit levels", ChannelType::Uint16, [](std::mt19937& r) { return static_cast<double>(r() % 65536); }},
        // Likewise two neighbouring floats give the value halfway between them.
        {"neighbouring floats", ChannelType::Float,
         [](std::mt19937& r) { return r() % 2 ? 0.7f : std::nextafter(0.7f, 1.0f); }},
        {"float mantissas", ChannelType::Float, [](std::mt19937& r) { return RandomFloat(r, -3, 1); }},
        {"float far above white", ChannelType::Float, [](std::mt19937& r) { return RandomFloat(r, -40, 126); }},
        {"float specials", ChannelType::Float,
         [&](std::mt19937& r) {
             return r() % 16 == 0 ? kSpecials[r() % std::size(kSpecials)] : RandomFloat(r, -8, 4);
         }},
    };
    constexpr std::int32_t kWidth = 70;
    constexpr std::int32_t kHeight = 36;
    for (const SampleCase& sampleCase : cases) {
        std::mt19937 random(11);
        CImageBuffer pano;
        ASSERT_TRUE(pano.Create(kWidth, kHeight, sampleCase.type));
        for (std::int32_t y = 0; y < kHeight; ++y) {
            for (std::int32_t x = 0; x < kWidth; ++x) {
                auto s = [&] { return sampleCase.sample(random); };
                if (sampleCase.type == ChannelType::Uint16) {
                    auto level = [](double v) { return static_cast<std::uint16_t>(v); };
                    pano.Row16(y)[x] = {level(s()), level(s()), level(s()), 65535};
                } else {
                    auto value = [](double v) { return static_cast<float>(v); };
                    pano.RowF(y)[x] = {value(s()), value(s()), value(s()), 1.0f};
                }
            }
        }
        const std::vector<PanoMapEntry> entries = TestEntries(kWidth, kHeight, random);
        const auto count = static_cast<std::int32_t>(entries.size());
        for (const float shift : {0.0f, 3.0f * kWidth}) {
            test::ForEachSimdTarget([&](const char* target) {
                SCOPED_TRACE(::testing::Message() << target << ", " << sampleCase.name << ", shift " << shift);
                auto check = [&]<class P>(PanoRowLoopOf<P> loop) {
                    std::vector<P> row(entries.size());
                    loop(pano, entries.data(), count, shift, kWidth, row.data());
                    int failures = 0;
                    for (std::int32_t k = 0; k < count && failures < 5; ++k) {
                        const PanoMapEntry& e = entries[k];
                        const float column = e.x + shift;
                        P expected{};
                        if (!(e.x == kPanoOutside && e.y == kPanoOutside) && std::isfinite(column)) {
                            PanoTapsOf<P> taps;
                            LocatePanoTaps(pano, pano_geometry::WrapColumn(column, kWidth), e.y, taps);
                            expected = BlendDeepPanoTaps(taps);
                        }
                        if (std::memcmp(&expected, &row[k], sizeof expected) != 0) {
                            ADD_FAILURE() << "entry " << k << " at (" << e.x << ", " << e.y << ")";
                            ++failures;
                        }
                    }
                };
                if (sampleCase.type == ChannelType::Uint16) {
                    check(ChoosePanoRow16Loop());
                } else {
                    check(ChoosePanoRowFloatLoop());
                }
            });
        }
    }
}

}  // namespace
}  // namespace skelvane
