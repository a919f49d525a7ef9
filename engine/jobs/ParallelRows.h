// Row-band parallelism shared by every pixel loop of the engine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace skelvane {

// Below this many pixels the cost of waking threads outweighs the work
// (a 148 x 148 preview face is about 22 thousand pixels).
inline constexpr std::int64_t kParallelPixelThreshold = 64 * 1024;

// A call that row-band loops make before each band. A render job installs one
// on its threads (CJobControl does) so that a pause reaches into a long render
// within a fraction of a frame; threads without one pay a thread-local read
// per band.
struct RowBandCheck {
    void (*call)(void* context) = nullptr;
    void* context = nullptr;
};

inline thread_local RowBandCheck t_rowBandCheck;

// Installs a check on the calling thread for the lifetime of the object.
class ScopedRowBandCheck {
public:
    explicit ScopedRowBandCheck(RowBandCheck check) : m_previous(t_rowBandCheck) { t_rowBandCheck = check; }
    ~ScopedRowBandCheck() { t_rowBandCheck = m_previous; }
    ScopedRowBandCheck(const ScopedRowBandCheck&) = delete;
    ScopedRowBandCheck& operator=(const ScopedRowBandCheck&) = delete;

private:
    RowBandCheck m_previous;
};

// Calls body(firstRow, endRow) over [0, rows), in bands on all cores when the
// image is large enough; a band has at least `minBandRows` rows unless the
// image has fewer. Bands never share a row, so bodies need no locks. The
// caller's row-band check runs before every band, on the band's thread.
template <class Body>
void ForEachRowBand(std::int32_t rows, std::int64_t pixelsPerRow, std::int32_t minBandRows, Body&& body)
{
    if (rows <= 0) {
        return;
    }
    const RowBandCheck check = t_rowBandCheck;
    if (static_cast<std::int64_t>(rows) * pixelsPerRow < kParallelPixelThreshold) {
        if (check.call) {
            check.call(check.context);
        }
        body(0, rows);
        return;
    }
    // About 16 thousand pixels per task keeps scheduling overhead small and
    // leaves enough tasks to balance the cores. Ranges are halved while they
    // exceed the grain, so a grain of twice the minimum band keeps to it.
    std::int64_t grain = pixelsPerRow > 0 ? (16 * 1024 + pixelsPerRow - 1) / pixelsPerRow : rows;
    if (minBandRows > 1) {
        grain = std::max(grain, 2 * static_cast<std::int64_t>(minBandRows));
    }
    tbb::parallel_for(tbb::blocked_range<std::int32_t>(0, rows, static_cast<std::size_t>(grain > 0 ? grain : 1)),
                      [&](const tbb::blocked_range<std::int32_t>& band) {
                          if (check.call) {
                              check.call(check.context);
                          }
                          body(band.begin(), band.end());
                      });
}

template <class Body>
void ForEachRowBand(std::int32_t rows, std::int64_t pixelsPerRow, Body&& body)
{
    ForEachRowBand(rows, pixelsPerRow, 1, std::forward<Body>(body));
}

}  // namespace skelvane
