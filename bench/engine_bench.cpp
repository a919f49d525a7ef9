// Map builds, renders and the resampler of the engine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "engine/projection/CubeDomeSampler.h"
#include "engine/projection/FaceGatherMap.h"
#include "engine/projection/CubeDomeProjector.h"
#include "engine/image/ImageBuffer.h"
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

// Face bytes a render from `map` reads: each 64-byte line of face memory it
// touches, once, since one line serves every output pixel that falls in it.
// Pixels outside the circle and on empty faces read none.
std::int64_t FaceBytesRead(const CubeFaces& faces, std::int32_t faceSize, const FaceMapEntry* map,
                           std::int32_t outSize)
{
    constexpr std::uintptr_t kLine = 64;
    std::vector<bool> touched[kCubeFaceCount];
    for (int k = 0; k < kCubeFaceCount; ++k) {
        touched[k].resize(static_cast<std::size_t>(faces[k].ImageSize()) / kLine + 2);
    }
    std::int64_t lines = 0;
    const std::size_t count = static_cast<std::size_t>(outSize) * outSize;
    for (std::size_t n = 0; n < count; ++n) {
        const FaceMapEntry& e = map[n];
        const CImageBuffer& face = faces[static_cast<unsigned>(e.face) % kCubeFaceCount];
        if ((e.u == kOutsideCircle && e.v == kOutsideCircle) || face.IsEmpty()) {
            continue;
        }
        bool overflow = false;
        const std::int32_t x = std::min(cube_geometry::RoundToFacePixel(e.u, faceSize, overflow), face.GetWidth() - 1);
        const std::int32_t y = std::min(cube_geometry::RoundToFacePixel(e.v, faceSize, overflow), face.GetHeight() - 1);
        const auto line = reinterpret_cast<std::uintptr_t>(face.Row32(y) + x) / kLine -
                          reinterpret_cast<std::uintptr_t>(face.Bits()) / kLine;
        std::vector<bool>& faceLines = touched[static_cast<unsigned>(e.face) % kCubeFaceCount];
        if (!faceLines[line]) {
            faceLines[line] = true;
            ++lines;
        }
    }
    return lines * static_cast<std::int64_t>(kLine);
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
    // Per output pixel one map entry read and one word written, and the face
    // lines read.
    const std::int64_t pixels = std::int64_t{outSize} * outSize;
    ReportMemoryFloor(state, pixels * static_cast<std::int64_t>(sizeof(FaceMapEntry) + 4) +
                                 FaceBytesRead(faces, kFaceSize, map.get(), outSize));
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
    // Per output pixel one map word read and one word written, and the face
    // lines read, which are those of the face map.
    const std::int64_t pixels = std::int64_t{outSize} * outSize;
    const FaceMap map = CCubeDomeProjector().BuildCubeDomeMap(kFaceSize, outSize, 180, 60.0f, 15.0f);
    ReportMemoryFloor(state, pixels * (4 + 4) + FaceBytesRead(faces, kFaceSize, map.get(), outSize));
}
BENCHMARK(BM_RenderCubeDomeGather)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// The sampler planned for the benchmark's arguments; false (the benchmark
// skipped) when the plan is refused.
bool PlanSampler(benchmark::State& state, CCubeDomeSampler& sampler)
{
    const auto filter = static_cast<CubeFilter>(state.range(0));
    const auto s = static_cast<std::int32_t>(state.range(1));
    const auto outSize = static_cast<std::int32_t>(state.range(2));
    if (!sampler.Plan(kFaceSize, outSize, 180, 0.0f, 0.0f, {filter, s})) {
        state.SkipWithError("plan refused");
        return false;
    }
    return true;
}

// A filtered frame of the batch job at tilt 0, as compare_ffmpeg.sh case h
// renders it: the faces copied into the sampler's block with their borders
// (Prepare), then the dome rendered from it. Arguments: filter (1 bilinear,
// 2 bicubic), supersample, dome side.
void BM_SampleCubeDome(benchmark::State& state)
{
    static const CubeFaces faces = MakeFaces(kFaceSize);
    CCubeDomeSampler sampler;
    if (!PlanSampler(state, sampler)) {
        return;
    }
    for (auto _ : state) {
        auto dome = sampler.Render(faces, DefaultReporter());
        benchmark::DoNotOptimize(dome.get());
    }
}
BENCHMARK(BM_SampleCubeDome)
    ->ArgNames({"filter", "s", "N"})
    ->Args({1, 1, 4096})
    ->Args({2, 1, 4096})
    ->Args({1, 2, 4096})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same render from faces already in the block: the pixel loop alone.
void BM_SampleCubeDomePrepared(benchmark::State& state)
{
    static const CubeFaces faces = MakeFaces(kFaceSize);
    CCubeDomeSampler sampler;
    if (!PlanSampler(state, sampler)) {
        return;
    }
    const CSampledFaces sampled = sampler.Prepare(faces);
    for (auto _ : state) {
        auto dome = sampler.Render(sampled, DefaultReporter());
        benchmark::DoNotOptimize(dome.get());
    }
}
BENCHMARK(BM_SampleCubeDomePrepared)
    ->ArgNames({"filter", "s", "N"})
    ->Args({1, 1, 4096})
    ->Args({2, 1, 4096})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void StretchBench(benchmark::State& state, std::int32_t sourceW, std::int32_t sourceH)
{
    CImageBuffer source;
    source.Create(sourceW, sourceH);
    for (std::int32_t y = 0; y < sourceH; ++y) {
        std::uint32_t* row = source.Row32(y);
        for (std::int32_t x = 0; x < sourceW; ++x) {
            row[x] = 0xFF000000u | (x & 255) << 16 | (y & 255) << 8 | ((x + y) & 255);
        }
    }
    CImageBuffer target;
    target.Create(4096, 2048);
    for (auto _ : state) {
        target.StretchFrom(0, 0, 4096, 2048, source, 0, 0, sourceW, sourceH);
        benchmark::ClobberMemory();
    }
    ReportMemoryFloor(state, std::int64_t{sourceW} * sourceH * 4 + std::int64_t{4096} * 2048 * 4);
}

// The halving of an even panorama: every fraction is 0.
void BM_StretchFrom(benchmark::State& state)
{
    StretchBench(state, 8192, 4096);
}
BENCHMARK(BM_StretchFrom)->Unit(benchmark::kMillisecond)->UseRealTime();

// The halving of an odd one, whose size rounds up: fractions vary along rows
// and columns.
void BM_StretchFromOdd(benchmark::State& state)
{
    StretchBench(state, 8191, 4095);
}
BENCHMARK(BM_StretchFromOdd)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace skelvane::bench

BENCHMARK_MAIN();
