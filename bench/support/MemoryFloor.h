// The memory-traffic floor of a benchmark: the time a plain copy would need to
// move the same bytes, from a copy bandwidth measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace skelvane::bench {

// Bytes per second that a copy moves (read + write counted once each) over
// buffers far larger than the caches, on all cores: the faster of memcpy and a
// copy with streaming stores, which writes no more than it counts. Measured
// once per process.
double CopyBandwidth();

// Adds the counters "floor_ms" (time the copy bandwidth needs for the bytes
// read and written per iteration) and "x_floor" (measured time / floor).
void ReportMemoryFloor(benchmark::State& state, std::int64_t bytesReadAndWritten);

}  // namespace skelvane::bench
