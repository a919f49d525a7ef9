// The eight-pixel loops of engine/projection/CubeDomeRows.h, for processors with AVX2
// but not AVX-512 (the caller checks). Built wherever the AVX-512 loops are:
// x86-64 with GCC or Clang.
#pragma once

#include <cstdint>

#include "engine/projection/CubeDomeRows.h"
#include "engine/simd/CubeDomeRowsAvx512.h"

#if SKELVANE_CUBE_ROWS_AVX512
namespace skelvane {

bool CpuHasAvx2();

// As RenderFaceMapRowsAvx512.
bool RenderFaceMapRowsAvx2(const FaceMapFrame& frame, std::int32_t first, std::int32_t end, bool& overflowW,
                           bool& overflowH);

void RenderPackedRowsAvx2(const PackedFrame& frame, std::int32_t first, std::int32_t end);

}  // namespace skelvane
#endif
