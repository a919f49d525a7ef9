// Map builds, renders and the resampler of the engine.
#include <benchmark/benchmark.h>

#include "cube2dome/FaceGatherMap.h"
#include "engine/CubeDomeProjector.h"
#include "engine/ImageBuffer.h"
#include "support/MemoryFloor.h"

namespace skelvane::bench {
namespace {

constexpr std::int32_t kFaceSize = 2048;

CubeFaces MakeFaces(std::int32_t size)
{
    CubeFaces faces;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faces[k].Create(size, size);
        for (std::int32_t y = 0; y < size; ++y) {
            std::uint32_t* row = faces[k].Row32(y);
            for (std::int32_t x = 0; x < size; ++x) {
                row[x] = 0xFF000000u | static_cast<std::uint32_t>(k * 40) << 16 | (x & 255) << 8 | (y & 255);
            }
        }
    }
    return faces;
}

void BM_BuildCubeDomeMap(benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    CCubeDomeProjector projector;
    for (auto _ : state) {
        FaceMap map = projector.BuildCubeDomeMap(kFaceSize, outSize, 180, 60.0f, 15.0f);
        benchmark::DoNotOptimize(map.get());
    }
    ReportMemoryFloor(state, std::int64_t{outSize} * outSize * static_cast<std::int64_t>(sizeof(FaceMapEntry)));
}
BENCHMARK(BM_BuildCubeDomeMap)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderCubeDome(benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    static const CubeFaces faces = MakeFaces(kFaceSize);
    CCubeDomeProjector projector;
    FaceMap map = projector.BuildCubeDomeMap(kFaceSize, outSize, 180, 60.0f, 15.0f);
    for (auto _ : state) {
        auto dome = projector.RenderCubeDome(faces, kFaceSize, map.get(), outSize);
        benchmark::DoNotOptimize(dome.get());
    }
    // Per output pixel: one map entry read, one face pixel read, one word written.
    const std::int64_t pixels = std::int64_t{outSize} * outSize;
    ReportMemoryFloor(state, pixels * static_cast<std::int64_t>(sizeof(FaceMapEntry) + 4 + 4));
}
BENCHMARK(BM_RenderCubeDome)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// The batch job's per-frame path: the same pixels from a packed map.
void BM_RenderCubeDomeGather(benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    static const CubeFaces faces = MakeFaces(kFaceSize);
    CFaceGatherMap gather;
    if (!gather.BuildFromView(kFaceSize, outSize, 180, 60.0f, 15.0f)) {
        state.SkipWithError("gather map refused");
        return;
    }
    for (auto _ : state) {
        auto dome = gather.Render(faces, DefaultReporter());
        benchmark::DoNotOptimize(dome.get());
    }
    // Per output pixel: one map word read, one face pixel read, one word written.
    const std::int64_t pixels = std::int64_t{outSize} * outSize;
    ReportMemoryFloor(state, pixels * (4 + 4 + 4));
}
BENCHMARK(BM_RenderCubeDomeGather)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StretchFrom(benchmark::State& state)
{
    CImageBuffer source;
    source.Create(8192, 4096);
    for (std::int32_t y = 0; y < 4096; ++y) {
        std::uint32_t* row = source.Row32(y);
        for (std::int32_t x = 0; x < 8192; ++x) {
            row[x] = 0xFF000000u | (x & 255) << 16 | (y & 255) << 8 | ((x + y) & 255);
        }
    }
    CImageBuffer target;
    target.Create(4096, 2048);
    for (auto _ : state) {
        target.StretchFrom(0, 0, 4096, 2048, source, 0, 0, 8192, 4096);
        benchmark::ClobberMemory();
    }
    ReportMemoryFloor(state, std::int64_t{8192} * 4096 * 4 + std::int64_t{4096} * 2048 * 4);
}
BENCHMARK(BM_StretchFrom)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace skelvane::bench

BENCHMARK_MAIN();
