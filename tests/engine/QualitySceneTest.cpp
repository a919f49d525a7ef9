#include <gtest/gtest.h>

#include <string>

#include "engine/projection/QualityScene.h"
#include "engine/projection/QualityScores.h"
#include "support/RecordingReporter.h"

namespace skelvane {
namespace {

// Faces with twice the dome's pixels across (four face texels a dome pixel
// at the centre), where supersampling has detail to gather; the cube2dome
// view.
constexpr SceneView kView{256, 128, 180, 60.0, 0.0};

class QualitySceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_scene = new CQualityScene(kView.faceSize);
        s_faces = new CubeFaces(s_scene->DrawFaces());
        s_truth = new SceneTruth(RenderSceneTruth(*s_scene, kView, 16));
    }
    static void TearDownTestSuite()
    {
        delete s_truth;
        delete s_faces;
        delete s_scene;
    }

    static CImageBuffer Render(const CubeFaces& faces, CubeFilter filter, int s)
    {
        test::RecordingReporter reporter;
        auto dome = RenderSceneDome(faces, kView, {filter, s}, reporter);
        EXPECT_TRUE(dome) << CubeFilterName(filter) << " s " << s;
        return dome ? std::move(*dome) : CImageBuffer();
    }

    static CQualityScene* s_scene;
    static CubeFaces* s_faces;
    static SceneTruth* s_truth;
};

CQualityScene* QualitySceneTest::s_scene = nullptr;
CubeFaces* QualitySceneTest::s_faces = nullptr;
SceneTruth* QualitySceneTest::s_truth = nullptr;

// Every edge the view shows is scored; across none of them do the filtered
// renders step more than a level of rounding beyond what they do beside it,
// while a face one shade lighter than its neighbours shows at once.
TEST_F(QualitySceneTest, FilteredRendersShowNoFaceEdge)
{
    for (const CubeFilter filter : {CubeFilter::Bilinear, CubeFilter::Bicubic}) {
        for (const int s : {1, 2, 4}) {
            const SeamScore seams = SceneSeamScore(Render(*s_faces, filter, s), *s_truth);
            EXPECT_GE(seams.edges, 4) << CubeFilterName(filter) << " s " << s;
            EXPECT_LE(seams.worst, 1.0) << CubeFilterName(filter) << " s " << s << ": across " << seams.across
                                        << ", beside " << seams.beside;
        }
    }

    CubeFaces lighter;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        lighter[k].CopyFrom((*s_faces)[k]);
    }
    for (std::int32_t y = 0; y < kView.faceSize; ++y) {
        for (std::int32_t x = 0; x < kView.faceSize; ++x) {
            lighter[Top].SetPixel(x, y, lighter[Top].GetPixel(x, y) + 0x00060606u);  // no channel is above 240
        }
    }
    const SeamScore seam = SceneSeamScore(Render(lighter, CubeFilter::Bilinear, 2), *s_truth);
    EXPECT_GE(seam.worst, 4.0) << "across " << seam.across << ", beside " << seam.beside;
}

TEST_F(QualitySceneTest, SupersamplingFromFinerFacesComesCloseToTheTruth)
{
    const CImageBuffer nearest = Render(*s_faces, CubeFilter::Nearest, 1);
    const CImageBuffer bicubic2 = Render(*s_faces, CubeFilter::Bicubic, 2);
    const CImageBuffer bicubic4 = Render(*s_faces, CubeFilter::Bicubic, 4);
    const SceneTruth& truth = *s_truth;

    // The zone plate runs past the dome's limit, where nearest aliases.
    EXPECT_GE(ScenePsnr(bicubic2, truth, ScenePart::ZonePlate), ScenePsnr(nearest, truth, ScenePart::ZonePlate) + 5.5);
    EXPECT_GE(ScenePsnr(bicubic4, truth), ScenePsnr(bicubic2, truth) + 3.0);
    EXPECT_GE(ScenePsnr(bicubic2, truth), ScenePsnr(nearest, truth) + 15.0);

    // 16 sub-samples a pixel do as well as 16 points of the scene itself,
    // and the rounded truth is as near the truth as 8 bits allow.
    const double exact4 = ScenePsnr(SceneTruthImage(RenderSceneTruth(*s_scene, kView, 4)), truth);
    EXPECT_GE(ScenePsnr(bicubic4, truth), exact4 - 1.0);
    EXPECT_GE(ScenePsnr(SceneTruthImage(truth), truth), 58.0);
}

// The rim: pixels wholly inside are opaque and scored, pixels wholly outside
// are transparent, and those between hold the share of points inside.
TEST_F(QualitySceneTest, TheTruthFadesOverTheRimAndScoresOnlyWholePixels)
{
    const SceneTruth& truth = *s_truth;
    const std::int32_t middle = truth.size / 2;
    int rims = 0;
    for (std::int32_t j = 0; j < truth.size; ++j) {
        const std::size_t at = truth.Index(middle, j);
        switch (truth.parts[at]) {
        case ScenePart::Outside:
            EXPECT_EQ(truth.alpha[at], 0.0f) << j;
            EXPECT_EQ(truth.face[at], -1) << j;
            break;
        case ScenePart::Rim:
            ++rims;
            break;
        default:
            EXPECT_EQ(truth.alpha[at], 1.0f) << j;
            EXPECT_GE(truth.face[at], 0) << j;
        }
    }
    EXPECT_GE(rims, 2);
    EXPECT_LE(rims, 4);
    EXPECT_EQ(truth.parts[truth.Index(0, 0)], ScenePart::Outside);
    const std::size_t centre = truth.Index(middle, middle);
    EXPECT_NE(truth.parts[centre], ScenePart::Rim);
    // Tilted 60 degrees up, the middle looks 30 degrees from the top face's axis.
    EXPECT_EQ(truth.face[centre], Top);
}

}  // namespace
}  // namespace skelvane
