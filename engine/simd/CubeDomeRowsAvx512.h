// The sixteen-pixel loops of engine/projection/CubeDomeRows.h, for processors with
// AVX-512 (the caller checks).
#pragma once

#include <cstdint>

#include "engine/projection/CubeDomeRows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SKELVANE_CUBE_ROWS_AVX512 1
#else
#define SKELVANE_CUBE_ROWS_AVX512 0
#endif

#if SKELVANE_CUBE_ROWS_AVX512
namespace skelvane {

bool CpuHasAvx512();

// False, having rendered nothing, where a face is too large for 32-bit pixel
// offsets (more than 2^31 pixels); the caller then renders one pixel at a time.
bool RenderFaceMapRowsAvx512(const FaceMapFrame& frame, std::int32_t first, std::int32_t end, bool& overflowW,
                             bool& overflowH);

void RenderPackedRowsAvx512(const PackedFrame& frame, std::int32_t first, std::int32_t end);

}  // namespace skelvane
#endif
