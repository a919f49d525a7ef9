#include "support/MemoryFloor.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include <tbb/parallel_for.h>

namespace skelvane::bench {

double CopyBandwidth()
{
    static const double bandwidth = [] {
        constexpr std::size_t kBytes = std::size_t{256} << 20;
        auto source = std::make_unique<std::uint8_t[]>(kBytes);
        auto target = std::make_unique<std::uint8_t[]>(kBytes);
        std::memset(source.get(), 1, kBytes);
        std::memset(target.get(), 2, kBytes);
        constexpr std::size_t kChunk = std::size_t{1} << 20;
        double best = 1e30;
        for (int round = 0; round < 5; ++round) {
            const auto start = std::chrono::steady_clock::now();
            tbb::parallel_for(std::size_t{0}, kBytes / kChunk, [&](std::size_t chunk) {
                std::memcpy(target.get() + chunk * kChunk, source.get() + chunk * kChunk, kChunk);
            });
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            best = std::min(best, elapsed.count());
        }
        return 2.0 * kBytes / best;
    }();
    return bandwidth;
}

void ReportMemoryFloor(benchmark::State& state, std::int64_t bytesReadAndWritten)
{
    const double floorSeconds = static_cast<double>(bytesReadAndWritten) / CopyBandwidth();
    state.counters["floor_ms"] = floorSeconds * 1e3;
    state.counters["x_floor"] = benchmark::Counter(floorSeconds * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(bytesReadAndWritten * static_cast<std::int64_t>(state.iterations()));
}

}  // namespace skelvane::bench
