// The bicubic pixel loop of engine/projection/PanoDomeProjector.h for processors with
// AVX-512 (the caller checks): the pixels of the one-pixel blend, bit for
// bit, made sixteen at a time.
//
// The one-pixel blend works in double precision. Here:
// 1. Sixteen pixels are estimated at once in single precision: column (the
//    position plus the pan shift, wrapped as the one-pixel loop wraps it),
//    whole parts and fractions (exact in single precision for whole parts of
//    1 and more), the cubic weights, and each pixel's 4 x 4 neighbourhood
//    read as four 16-byte loads.
// 2. The estimate's error is below 1/1024, so every channel total further
//    than that from a rounding step rounds as the double-precision total
//    does. The other pixels (about one in a hundred), those at the
//    panorama's edges, unusual wraps and non-finite or outside entries take
//    the exact path: the one-pixel arithmetic, operation for operation, two
//    pixels to an AVX-512 register.
#pragma once

#include <cstdint>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SKELVANE_PANO_ROWS_AVX512 1
#else
#define SKELVANE_PANO_ROWS_AVX512 0
#endif

#if SKELVANE_PANO_ROWS_AVX512
namespace skelvane {

bool CpuHasPanoRowsAvx512();

// `count` consecutive dome pixels from their panorama positions: entry k
// read at column WrapColumn(x + shift, period) and row y into out[k], the
// outside marker and positions that are not finite as transparent black.
void BlendPanoRowAvx512(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                        float period, std::uint32_t* out);

}  // namespace skelvane
#endif
