// The bicubic pixel loop of engine/simd/PanoRowsAvx512.h for processors with AVX2
// and fused multiply-add but no AVX-512 (the caller checks): the same
// estimate, eight pixels at a time, and the same pixels as the one-pixel
// blend, bit for bit. Its exact path does one pixel at a time, its three
// channels in the double lanes of one AVX2 register.
#pragma once

#include <cstdint>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "engine/simd/PanoRowsAvx512.h"

// Built wherever the AVX-512 loop is: x86-64 with GCC or Clang.
#if SKELVANE_PANO_ROWS_AVX512
namespace skelvane {

bool CpuHasPanoRowsAvx2();

// As BlendPanoRowAvx512.
void BlendPanoRowAvx2(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                      float period, std::uint32_t* out);

}  // namespace skelvane
#endif
