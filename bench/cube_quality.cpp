// How close cube domes come to the truth, per filter and supersampling.
//
// 1. The quality scene (engine/projection/QualityScene.h) drawn as six faces.
// 2. The truth of the dome: the scene's mean over 16 x 16 points a pixel.
// 3. The yardstick: the scene's mean over 8 x 8 points a pixel, rounded to
//    8 bits as a render is; what an ideal renderer at that rate would give.
//    The same at 4 x 4 and 2 x 2 points is what s = 4 and s = 2 would give
//    from faces that held the scene exactly.
// 4. Every filter at s = 1, 2 and 4, rendered as cube2dome renders them.
// Each is scored against the truth: PSNR over the pixels wholly inside the
// circle, over the zone plates and over the spokes alone, and the seam score
// (engine/projection/QualityScores.h): of the worst face edge, how much more
// a step across it departs from the steps next to it than the same steps do
// three pixels into the faces, in levels of 255; about nothing (within a
// level of rounding) shows no edge.
//
//   bench_cube_quality [FACE [DOME [TILT [FOV [PAN]]]]]   defaults: 1024 1024 60 180 0
#include <cstdio>
#include <cstdlib>
#include <new>

#include "engine/jobs/MessageReporter.h"
#include "engine/projection/QualityScene.h"
#include "engine/projection/QualityScores.h"

namespace skelvane::bench {
namespace {

void PrintRow(const char* name, const CImageBuffer& dome, const SceneTruth& truth)
{
    const SeamScore seams = SceneSeamScore(dome, truth);
    std::printf("%-16s %8.2f %8.2f %8.2f %8.1f %8.1f %8.1f %6d\n", name, ScenePsnr(dome, truth),
                ScenePsnr(dome, truth, ScenePart::ZonePlate), ScenePsnr(dome, truth, ScenePart::Lines), seams.worst, seams.across, seams.beside,
                seams.edges);
}

int Main(int argc, char** argv)
{
    const SceneView view{argc > 1 ? std::atoi(argv[1]) : 1024, argc > 2 ? std::atoi(argv[2]) : 1024,
                         argc > 4 ? std::atoi(argv[4]) : 180, argc > 3 ? std::atof(argv[3]) : 60.0,
                         argc > 5 ? std::atof(argv[5]) : 0.0};
    if (view.faceSize < 8 || view.faceSize > kMaxImageSide || view.outSize < 8 || view.outSize > kMaxImageSide ||
        view.fov < 1 || view.fov > 360) {
        std::fprintf(stderr, "usage: bench_cube_quality [FACE [DOME [TILT [FOV [PAN]]]]]\n");
        return 2;
    }
    const CQualityScene scene(view.faceSize);
    const CubeFaces faces = scene.DrawFaces();
    const SceneTruth truth = RenderSceneTruth(scene, view, 16);
    std::printf("faces %d, dome %d, fov %d, tilt %.1f, pan %.1f; PSNR in dB against the scene's mean over 16x16 "
                "points a pixel\n",
                view.faceSize, view.outSize, view.fov, view.tilt, view.pan);
    std::printf("%-16s %8s %8s %8s %8s %8s %8s %6s\n", "render", "all", "zone", "spokes", "seam", "across", "beside", "edges");
    PrintRow("truth 16x16", SceneTruthImage(truth), truth);
    for (const int points : {8, 4, 2}) {
        char name[32];
        std::snprintf(name, sizeof name, "truth %dx%d", points, points);
        PrintRow(name, SceneTruthImage(RenderSceneTruth(scene, view, points)), truth);
    }
    for (const CubeFilter filter : kCubeFilters) {
        for (const int s : {1, 2, 4}) {
            const auto dome = RenderSceneDome(faces, view, {filter, s}, DefaultReporter());
            if (!dome) {
                std::fprintf(stderr, "the %s render at s = %d failed\n", CubeFilterName(filter).data(), s);
                return 1;
            }
            char name[32];
            std::snprintf(name, sizeof name, "%s s=%d", CubeFilterName(filter).data(), s);
            PrintRow(name, *dome, truth);
        }
    }
    return 0;
}

}  // namespace
}  // namespace skelvane::bench

int main(int argc, char** argv)
{
    try {
        return skelvane::bench::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "out of memory\n");
        return 1;
    }
}
