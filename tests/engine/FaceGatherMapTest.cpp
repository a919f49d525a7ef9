#include <gtest/gtest.h>

#include <algorithm>

#include "engine/image/DepthConversion.h"
#include "engine/projection/FaceGatherMap.h"
#include "support/EachSimdTarget.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

class CountingReporter : public CMessageReporter {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

CubeFaces PatternFaces(std::int32_t size, int count)
{
    CubeFaces faces;
    for (int k = 0; k < count; ++k) {
        faces[k] = test::MakePatternImage(size, size, static_cast<std::uint32_t>(k * 7 + 1));
    }
    return faces;
}

TEST(FaceGatherMap, RendersExactlyWhatTheFaceMapRenders)
{
    struct View {
        std::int32_t face, out, fov;
        float tilt, pan;
        int faces;
    };
    // The last view gives a dome large enough to be streamed, whose rows start
    // at every 4-byte position within a 64-byte line.
    for (const View& view : {View{8, 24, 180, 0.0f, 0.0f, 6}, View{9, 31, 220, 60.0f, 15.0f, 6},
                             View{16, 17, 360, -90.0f, 180.0f, 5}, View{5, 64, 90, 33.3f, -71.5f, 5},
                             View{2, 3, 180, 90.0f, 0.0f, 6}, View{40, 2049, 200, 30.0f, -20.0f, 5}}) {
        CCubeDomeProjector projector;
        const FaceMap map = projector.BuildCubeDomeMap(view.face, view.out, view.fov, view.tilt, view.pan);
        ASSERT_TRUE(map);
        const CubeFaces faces = PatternFaces(view.face, view.faces);
        simd::UseOnlyTargetForTest(simd::SupportedTargets().front());
        const auto reference = projector.RenderCubeDome(faces, view.face, map.get(), view.out);
        ASSERT_TRUE(reference);
        CFaceGatherMap gather;
        CFaceGatherMap fromView;
        // The loop is picked when a map is built.
        test::ForEachSimdTarget([&](const char* loop) {
            ASSERT_TRUE(gather.Build(map.get(), view.face, view.out));
            ASSERT_TRUE(fromView.BuildFromView(view.face, view.out, view.fov, view.tilt, view.pan));
            ASSERT_TRUE(gather.Accepts(faces));
            CountingReporter reporter;
            const auto fast = gather.Render(faces, reporter);
            ASSERT_TRUE(fast);
            EXPECT_EQ(test::PixelsOf(*fast), test::PixelsOf(*reference))
                << view.face << " " << view.out << " " << view.fov << " " << view.tilt << " " << view.pan << " "
                << loop;
            EXPECT_EQ(test::PixelsOf(*fromView.Render(faces, reporter)), test::PixelsOf(*reference));
            EXPECT_TRUE(reporter.messages.empty());
        });
        for (int k = 0; k < kCubeFaceCount; ++k) {
            EXPECT_EQ(gather.UsedRect(k), fromView.UsedRect(k)) << "face " << k;
        }
    }
}

// Whatever the band, the rows a writer takes from a dome made in bands are
// those of the whole render: at every depth, with a face missing, with every
// instruction set, and for a dome whose whole render uses streaming stores.
TEST(FaceGatherMap, DomesMadeInBandsAreTheWholeRender)
{
    struct View {
        std::int32_t face, out, fov;
        float tilt, pan;
        int faces;
    };
    for (const View& view : {View{9, 31, 220, 60.0f, 15.0f, 6}, View{16, 17, 360, -90.0f, 180.0f, 5},
                             View{40, 2049, 200, 30.0f, -20.0f, 5}}) {
        for (const ChannelType type : {ChannelType::Uint8, ChannelType::Uint16, ChannelType::Float}) {
            if (view.out > 1000 && type != ChannelType::Uint8) {
                continue;  // deep domes take the one-pixel loop at every size
            }
            CubeFaces faces = PatternFaces(view.face, view.faces);
            for (int k = 0; k < view.faces; ++k) {
                ASSERT_TRUE(ConvertChannelType(faces[k], type));
            }
            CFaceGatherMap gather;
            test::ForEachSimdTarget([&](const char* loop) {
                ASSERT_TRUE(gather.BuildFromView(view.face, view.out, view.fov, view.tilt, view.pan));
                CountingReporter reporter;
                const auto whole = gather.Render(faces, reporter);
                ASSERT_TRUE(whole);
                const std::vector<std::uint8_t> expected = test::RowBytes(*whole);
                for (const std::int32_t bandRows : {1, 7, 32, view.out + 5}) {
                    SCOPED_TRACE(testing::Message() << view.out << " " << BitCountOf(type) << " bits, bands of "
                                                    << bandRows << ", " << loop);
                    const auto banded = gather.RenderInBands(faces, bandRows, reporter);
                    ASSERT_TRUE(banded);
                    EXPECT_EQ(banded->GetChannelType(), type);
                    EXPECT_EQ(test::RowBytes(*banded), expected);
                }
                EXPECT_TRUE(reporter.messages.empty());
            });
        }
    }
}

// A colour the pattern faces never hold.
constexpr std::uint32_t kPoison = 0x00FF00FFu;

void Poison(CImageBuffer& face, const PixelRect& rect)
{
    for (std::int32_t y = rect.top; y < rect.bottom; ++y) {
        for (std::int32_t x = rect.left; x < rect.right; ++x) {
            face.SetPixel(x, y, kPoison);
        }
    }
}

std::vector<std::uint32_t> RenderPoisoned(const CFaceGatherMap& gather, std::int32_t size, int face,
                                          const std::vector<PixelRect>& rects)
{
    CubeFaces faces = PatternFaces(size, kCubeFaceCount);
    for (const PixelRect& rect : rects) {
        Poison(faces[face], rect);
    }
    CountingReporter reporter;
    return test::PixelsOf(*gather.Render(faces, reporter));
}

// Every face pixel the dome reads lies inside its face's rectangle (changing
// all pixels outside it changes no dome pixel), and every edge row and column
// of the rectangle holds one (changing it changes the dome).
TEST(FaceGatherMap, UsedRectsAreTheBoundsOfThePixelsRead)
{
    struct View {
        std::int32_t face, out, fov;
        float tilt, pan;
    };
    for (const View& view : {View{16, 40, 180, 0.0f, 0.0f}, View{13, 33, 360, 0.0f, 0.0f},
                             View{11, 29, 220, 60.0f, 15.0f}, View{12, 31, 90, 33.3f, -71.5f},
                             View{9, 25, 180, 90.0f, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << view.fov << " " << view.tilt << " " << view.pan);
        CFaceGatherMap gather;
        ASSERT_TRUE(gather.BuildFromView(view.face, view.out, view.fov, view.tilt, view.pan));
        const std::vector<std::uint32_t> reference = RenderPoisoned(gather, view.face, Left, {});
        const PixelRect whole{0, 0, view.face, view.face};
        for (int k = 0; k < kCubeFaceCount; ++k) {
            SCOPED_TRACE(testing::Message() << "face " << k);
            const PixelRect r = gather.UsedRect(k);
            if (r.IsEmpty()) {
                EXPECT_EQ(RenderPoisoned(gather, view.face, k, {whole}), reference);
                continue;
            }
            ASSERT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= view.face && r.bottom <= view.face);
            const std::vector<PixelRect> outside = {{0, 0, view.face, r.top},
                                                    {0, r.bottom, view.face, view.face},
                                                    {0, r.top, r.left, r.bottom},
                                                    {r.right, r.top, view.face, r.bottom}};
            EXPECT_EQ(RenderPoisoned(gather, view.face, k, outside), reference);
            for (const PixelRect& edge : {PixelRect{r.left, r.top, r.right, r.top + 1},
                                          PixelRect{r.left, r.bottom - 1, r.right, r.bottom},
                                          PixelRect{r.left, r.top, r.left + 1, r.bottom},
                                          PixelRect{r.right - 1, r.top, r.right, r.bottom}}) {
                EXPECT_NE(RenderPoisoned(gather, view.face, k, {edge}), reference)
                    << "edge " << edge.left << " " << edge.top << " " << edge.right << " " << edge.bottom;
            }
        }
        if (view.fov == 180 && view.tilt == 0.0f) {
            EXPECT_TRUE(gather.UsedRect(Back).IsEmpty());
            EXPECT_EQ(gather.UsedRect(Front), whole);
        }
        if (view.fov == 360) {
            for (int k = 0; k < kCubeFaceCount; ++k) {
                EXPECT_FALSE(gather.UsedRect(k).IsEmpty()) << "face " << k;
            }
        }
    }
}

TEST(FaceGatherMap, ClampsAndReportsPositionsBeyondTheFaceAsTheRendererDoes)
{
    // A map built for larger faces than those rendered from it.
    CCubeDomeProjector projector;
    const FaceMap map = projector.BuildCubeDomeMap(12, 20, 200, 10.0f, 20.0f);
    CFaceGatherMap gather;
    ASSERT_TRUE(gather.Build(map.get(), 8, 20));
    const CubeFaces faces = PatternFaces(8, 6);
    CountingReporter fastReporter;
    CountingReporter referenceReporter;
    CCubeDomeProjector reportingProjector(referenceReporter);
    const auto fast = gather.Render(faces, fastReporter);
    const auto reference = reportingProjector.RenderCubeDome(faces, 8, map.get(), 20);
    EXPECT_EQ(test::PixelsOf(*fast), test::PixelsOf(*reference));
    EXPECT_EQ(fastReporter.messages, referenceReporter.messages);
    EXPECT_EQ(fastReporter.messages, (std::vector<std::string>{"Overflow-w", "Overflow-h"}));
    CountingReporter bandReporter;
    const auto banded = gather.RenderInBands(faces, 8, bandReporter);
    ASSERT_TRUE(banded);
    EXPECT_EQ(test::RowBytes(*banded), test::RowBytes(*reference));
    EXPECT_EQ(bandReporter.messages, referenceReporter.messages);
}

TEST(FaceGatherMap, RefusesWhatItCannotAddress)
{
    CCubeDomeProjector projector;
    const FaceMap map = projector.BuildCubeDomeMap(8, 16, 180, 0.0f, 0.0f);
    CFaceGatherMap gather;
    EXPECT_FALSE(gather.Build(nullptr, 8, 16));
    EXPECT_FALSE(gather.Build(map.get(), CFaceGatherMap::kMaxFaceSize + 1, 16));
    ASSERT_TRUE(gather.Build(map.get(), 8, 16));
    CubeFaces wrongSize = PatternFaces(9, 6);
    EXPECT_FALSE(gather.Accepts(wrongSize));
    CountingReporter reporter;
    EXPECT_EQ(gather.Render(wrongSize, reporter), nullptr);
    EXPECT_EQ(gather.RenderInBands(wrongSize, 4, reporter), nullptr);
    CubeFaces fiveFaces = PatternFaces(8, 5);
    EXPECT_TRUE(gather.Accepts(fiveFaces));
    EXPECT_FALSE(gather.BuildFromView(1, 16, 180, 0.0f, 0.0f));
    EXPECT_FALSE(gather.BuildFromView(8, kMaxDomeSize + 1, 180, 0.0f, 0.0f));
    EXPECT_FALSE(gather.Accepts(fiveFaces)) << "a refused build leaves no map";
    EXPECT_TRUE(gather.UsedRect(Front).IsEmpty());
}

}  // namespace
}  // namespace skelvane
