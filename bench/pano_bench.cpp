// Panorama-to-dome: the one-time map build, the per-frame render from the map
// (with the widest loop the processor has, and with the eight-lane AVX2 loop:
// same pixels), the per-frame render from a sharp map, and the single-image
// direct render.
// Arguments: dome size N, and 0 for an 8192 x 4096 panorama or 1 for the
// 2N x N working panorama of a sequence job.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "engine/simd/SimdTargets.h"
#include "support/MemoryFloor.h"

namespace skelvane::bench {
namespace {

constexpr std::int32_t kFov = 180;
constexpr float kTilt = 60.0f;
constexpr float kPan = 15.0f;

std::pair<std::int32_t, std::int32_t> PanoSize(const benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    return state.range(1) == 0 ? std::pair{8192, 4096} : std::pair{2 * outSize, outSize};
}

// A smooth but never uniform panorama, built once per size.
const CImageBuffer& Panorama(std::int32_t width, std::int32_t height)
{
    static std::map<std::pair<std::int32_t, std::int32_t>, CImageBuffer> cache;
    CImageBuffer& pano = cache[{width, height}];
    if (pano.IsEmpty()) {
        pano.Create(width, height);
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint32_t* row = pano.Row32(y);
            for (std::int32_t x = 0; x < width; ++x) {
                row[x] = 0xFF000000u | (x & 255) << 16 | (y & 255) << 8 | ((x ^ y) & 255);
            }
        }
    }
    return pano;
}

// User + system seconds of the whole process (every worker thread): on a
// shared machine a steadier measure of the work than the wall clock.
double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the timed loop and adds "all_cpu_ms", process CPU time per iteration.
template <class Body>
void TimedLoop(benchmark::State& state, Body&& body)
{
    const double start = ProcessCpuSeconds();
    for (auto _ : state) {
        body();
    }
    const double spent = ProcessCpuSeconds() - start;
    state.counters["all_cpu_ms"] = 1e3 * spent / static_cast<double>(state.iterations());
}

void SetLabel(benchmark::State& state)
{
    const auto [w, h] = PanoSize(state);
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

void BM_BuildPanoDomeMap(benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    const auto [w, h] = PanoSize(state);
    CPanoDomeProjector projector;
    TimedLoop(state, [&] {
        PanoMap map = projector.BuildPanoDomeMap(w, h, outSize, kFov, kTilt);
        benchmark::DoNotOptimize(map.get());
    });
    ReportMemoryFloor(state, std::int64_t{outSize} * outSize * static_cast<std::int64_t>(sizeof(PanoMapEntry)));
    SetLabel(state);
}

// Per output pixel: one map entry read and one word written; the panorama's
// rows are read about once.
void ReportMapRenderFloor(benchmark::State& state, std::int32_t outSize)
{
    const std::int64_t pixels = std::int64_t{outSize} * outSize;
    ReportMemoryFloor(state, pixels * static_cast<std::int64_t>(sizeof(PanoMapEntry) + 4));
    SetLabel(state);
}

// Frames of a sweep from one map (a sharp one when `sharp`), a new pan every frame.
template <class Renderer>
void RenderSweepFrames(benchmark::State& state, Renderer&& render, bool sharp = false)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    const auto [w, h] = PanoSize(state);
    const CImageBuffer& pano = Panorama(w, h);
    CPanoDomeProjector builder;
    PanoMap map = sharp ? builder.BuildPanoDomeSharpMap(w, h, outSize, kFov, kTilt)
                        : builder.BuildPanoDomeMap(w, h, outSize, kFov, kTilt);
    float pan = kPan;
    TimedLoop(state, [&] {
        auto dome = render(pano, map.get(), outSize, pan);
        benchmark::DoNotOptimize(dome.get());
        // A sweep's pans stay within one turn; far beyond it every column
        // takes the projector's slow wrap, which no job asks of it.
        pan += 2.88f;
        if (pan >= 180.0f) {
            pan -= 360.0f;
        }
    });
    ReportMapRenderFloor(state, outSize);
}

void BM_RenderPanoDome(benchmark::State& state)
{
    CPanoDomeProjector projector;
    RenderSweepFrames(state, [&](auto&&... args) { return projector.RenderPanoDome(args...); });
    state.SetLabel(simd::ActiveTargetName());
}

// Frames of a sweep from a float panorama (the 8-bit one widened), as a
// half-float OpenEXR sweep renders them.
void BM_RenderPanoDomeFloat(benchmark::State& state)
{
    const auto [w, h] = PanoSize(state);
    CImageBuffer pano;
    pano.CopyFrom(Panorama(w, h));
    ConvertChannelType(pano, ChannelType::Float);
    CPanoDomeProjector projector;
    RenderSweepFrames(state, [&](const CImageBuffer&, const PanoMapEntry* map, std::int32_t outSize, float pan) {
        return projector.RenderPanoDome(pano, map, outSize, pan);
    });
    const std::int64_t pixels = state.range(0) * state.range(0);
    ReportMemoryFloor(state, pixels * static_cast<std::int64_t>(sizeof(PanoMapEntry) + sizeof(PixelF)));
    state.SetLabel(simd::ActiveTargetName());
}

// A sharp sweep's frames: the direct render's pictures from one map.
void BM_RenderPanoDomeSharp(benchmark::State& state)
{
    CPanoDomeProjector projector;
    RenderSweepFrames(
        state, [&](auto&&... args) { return projector.RenderPanoDomeSharp(args...); }, true);
    state.SetLabel(simd::ActiveTargetName());
}

// A sharp sweep's frames rendered `frames` at a time, as a sharp job renders
// them; times and counters are per group (divide by the group's size).
void BM_RenderPanoDomeSharpFrames(benchmark::State& state)
{
    const auto group = static_cast<std::size_t>(state.range(2));
    CPanoDomeProjector projector;
    std::vector<float> pans(group);
    RenderSweepFrames(
        state,
        [&](const CImageBuffer& pano, const PanoMapEntry* map, std::int32_t outSize, float pan) {
            for (std::size_t k = 0; k < group; ++k) {
                pans[k] = pan + 2.88f * static_cast<float>(k);
            }
            return std::make_unique<std::vector<std::unique_ptr<CImageBuffer>>>(
                projector.RenderPanoDomeSharpFrames(pano, map, outSize, pans));
        },
        true);
    state.SetLabel(simd::ActiveTargetName() + std::string(" frames/group ") + std::to_string(group));
}

// The eight-lane loop, on a processor that has wider ones too.
void BM_RenderPanoDomeAvx2(benchmark::State& state)
{
    if (!simd::UseOnlyTargetNamed("AVX2")) {
        state.SkipWithError("no AVX2 here");
        return;
    }
    CPanoDomeProjector projector;
    RenderSweepFrames(state, [&](auto&&... args) { return projector.RenderPanoDome(args...); });
    simd::UseOnlyTargetForTest(0);
}

void BM_RenderPanoDomeDirect(benchmark::State& state)
{
    const auto outSize = static_cast<std::int32_t>(state.range(0));
    const auto [w, h] = PanoSize(state);
    const CImageBuffer& pano = Panorama(w, h);
    CPanoDomeProjector projector;
    TimedLoop(state, [&] {
        auto dome = projector.RenderPanoDomeDirect(pano, outSize, kFov, kTilt, kPan);
        benchmark::DoNotOptimize(dome.get());
    });
    // One word written per output pixel; the panorama's rows are read about once.
    ReportMemoryFloor(state, std::int64_t{outSize} * outSize * 4 + std::int64_t{w} * h * 4);
    SetLabel(state);
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"N", "pano2NxN"});
    for (std::int64_t n : {2048, 4096}) {
        for (std::int64_t kind : {0, 1}) {
            b->Args({n, kind});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_BuildPanoDomeMap)->Apply(Sizes);
BENCHMARK(BM_RenderPanoDome)->Apply(Sizes);
BENCHMARK(BM_RenderPanoDomeFloat)->Apply(Sizes);
BENCHMARK(BM_RenderPanoDomeSharp)->Apply(Sizes);
BENCHMARK(BM_RenderPanoDomeSharpFrames)
    ->ArgNames({"N", "pano2NxN", "frames"})
    ->ArgsProduct({{2048}, {0, 1}, {2, 4, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RenderPanoDomeAvx2)->Apply(Sizes);
BENCHMARK(BM_RenderPanoDomeDirect)->Apply(Sizes);

}  // namespace
}  // namespace skelvane::bench

BENCHMARK_MAIN();
