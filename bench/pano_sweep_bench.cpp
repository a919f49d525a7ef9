// One frame of a Pano2Dome sweep: the projector's map render against the
// sweep renderer (same pixels, sixteen at a time), 2048 x 2048 from the 4096 x
// 2048 working panorama, at a pan that changes every iteration.
#include <benchmark/benchmark.h>

#include "engine/ImageBuffer.h"
#include "engine/PanoDomeProjector.h"
#include "pano2dome/PanoSweepRenderer.h"

namespace skelvane::bench {
namespace {

constexpr std::int32_t kSize = 2048;

struct Scene {
    CImageBuffer pano;
    PanoMap map;
    Scene()
    {
        pano.Create(2 * kSize, kSize);
        for (std::int32_t y = 0; y < kSize; ++y) {
            std::uint32_t* row = pano.Row32(y);
            for (std::int32_t x = 0; x < 2 * kSize; ++x) {
                row[x] = 0xFF000000u | (x & 255) << 16 | (y & 255) << 8 | ((x ^ y) & 255);
            }
        }
        map = CPanoDomeProjector().BuildPanoDomeMap(2 * kSize, kSize, kSize, 180, 60.0f);
    }
};

const Scene& TheScene()
{
    static const Scene scene;
    return scene;
}

void BM_ProjectorFrame(benchmark::State& state)
{
    const Scene& scene = TheScene();
    CPanoDomeProjector projector;
    float pan = -180.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(projector.RenderPanoDome(scene.pano, scene.map.get(), kSize, pan));
        pan += 2.88f;
    }
}
BENCHMARK(BM_ProjectorFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SweepRendererFrame(benchmark::State& state)
{
    const Scene& scene = TheScene();
    CPanoSweepRenderer renderer;
    state.SetLabel(CPanoSweepRenderer::OwnLoopsInUse() ? "sixteen-wide" : "projector");
    float pan = -180.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(renderer.Render(scene.pano, scene.map.get(), kSize, pan));
        pan += 2.88f;
    }
}
BENCHMARK(BM_SweepRendererFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace skelvane::bench
BENCHMARK_MAIN();
