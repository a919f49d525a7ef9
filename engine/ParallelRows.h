// Row-band parallelism shared by every pixel loop of the engine.
#pragma once

#include <cstdint>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace skelvane {

// Below this many pixels the cost of waking threads outweighs the work
// (a 148 x 148 preview face is about 22 thousand pixels).
inline constexpr std::int64_t kParallelPixelThreshold = 64 * 1024;

// Calls body(firstRow, endRow) over [0, rows), in bands on all cores when the
// image is large enough. Bands never share a row, so bodies need no locks.
template <class Body>
void ForEachRowBand(std::int32_t rows, std::int64_t pixelsPerRow, Body&& body)
{
    if (rows <= 0) {
        return;
    }
    if (static_cast<std::int64_t>(rows) * pixelsPerRow < kParallelPixelThreshold) {
        body(0, rows);
        return;
    }
    // About 16 thousand pixels per task keeps scheduling overhead small and
    // leaves enough tasks to balance the cores.
    const std::int64_t grain = pixelsPerRow > 0 ? (16 * 1024 + pixelsPerRow - 1) / pixelsPerRow : rows;
    tbb::parallel_for(tbb::blocked_range<std::int32_t>(0, rows, static_cast<std::size_t>(grain > 0 ? grain : 1)),
                      [&](const tbb::blocked_range<std::int32_t>& band) { body(band.begin(), band.end()); });
}

}  // namespace skelvane
