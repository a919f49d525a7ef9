#include "engine/simd/CubeDomeRowsAvx512.h"

#if SKELVANE_CUBE_ROWS_AVX512

#include <immintrin.h>

#define SKELVANE_LANES_TARGET __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#include "engine/simd/CubeBlockLanes.h"

// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace skelvane {
namespace {

// Sixteen lanes in AVX-512 registers, for the pipeline of
// engine/simd/CubeBlockLanes.h.
struct Lanes16 {
    static constexpr int kCount = 16;
    using F = __m512;
    using I = __m512i;

    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Set(std::int32_t value) { return _mm512_set1_epi32(value); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F SetFloat(float value) { return _mm512_set1_ps(value); }
    // A table of eight 32-bit entries, indexed by Lookup.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Table8(const void* entries)
    {
        return _mm512_maskz_loadu_epi32(0x00FF, entries);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Lookup(I table, I index)
    {
        return _mm512_permutexvar_epi32(index, table);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F LookupFloat(I table, I index)
    {
        return _mm512_castsi512_ps(Lookup(table, index));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Add(I a, I b) { return _mm512_add_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Sub(I a, I b) { return _mm512_sub_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Mullo(I a, I b) { return _mm512_mullo_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I And(I a, I b) { return _mm512_and_si512(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I ShiftRight(I a, int bits)
    {
        return _mm512_srl_epi32(a, _mm_cvtsi32_si128(bits));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F AddF(F a, F b) { return _mm512_add_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F MaxF(F a, F b) { return _mm512_max_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F MinF(F a, F b) { return _mm512_min_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Truncate(F a) { return _mm512_cvttps_epi32(a); }
    template <int kPredicate>
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned Compare(F a, F b)
    {
        return _mm512_cmp_ps_mask(a, b, kPredicate);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned NotEqual(I a, I b)
    {
        return _mm512_cmpneq_epi32_mask(a, b);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE bool AnyAbove(I a, std::int32_t limit)
    {
        return _mm512_cmpgt_epu32_mask(a, _mm512_set1_epi32(limit)) != 0;
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I LaneBefore(I a, I previous)
    {
        return _mm512_alignr_epi32(a, previous, 15);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I LaneAfter(I next, I a) { return _mm512_alignr_epi32(next, a, 1); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE bool SharedFirst(I a, std::uint32_t& first)
    {
        const __m128i low = _mm512_castsi512_si128(a);
        first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(low));
        return !_mm512_cmpneq_epi32_mask(a, _mm512_broadcastd_epi32(low));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void StoreBytes(std::uint8_t* to, I a)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm512_cvtepi32_epi8(a));
    }
    // Stored and read back: building the vector with inserts was no faster.
    template <class Pixel>
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Collect(Pixel pixel)
    {
        alignas(64) std::uint32_t pixels[kCount];
        for (int k = 0; k < kCount; ++k) {
            pixels[k] = pixel(k);
        }
        return _mm512_load_si512(pixels);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Load(const std::uint32_t* from) { return _mm512_loadu_si512(from); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void Store(std::uint32_t* to, I a) { _mm512_storeu_si512(to, a); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void Stream(std::uint32_t* to, I a)
    {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(to), a);
    }

    // Entries u, v, face of sixteen pixels are three vectors; the first
    // permute of each takes what the first two hold, the second the rest.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void LoadEntries(const float* e, F& u, F& v, I& face)
    {
        const __m512i uFirst = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0);
        const __m512i uLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29);
        const __m512i vFirst = _mm512_setr_epi32(1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 0, 0, 0, 0, 0);
        const __m512i vLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30);
        const __m512i fFirst = _mm512_setr_epi32(2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 0, 0, 0, 0, 0);
        const __m512i fLast = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31);
        const __m512 e0 = _mm512_loadu_ps(e);
        const __m512 e1 = _mm512_loadu_ps(e + 16);
        const __m512 e2 = _mm512_loadu_ps(e + 32);
        face = _mm512_permutex2var_epi32(
            _mm512_permutex2var_epi32(_mm512_castps_si512(e0), fFirst, _mm512_castps_si512(e1)), fLast,
            _mm512_castps_si512(e2));
        u = _mm512_permutex2var_ps(_mm512_permutex2var_ps(e0, uFirst, e1), uLast, e2);
        v = _mm512_permutex2var_ps(_mm512_permutex2var_ps(e0, vFirst, e1), vLast, e2);
    }
};

}  // namespace

bool CpuHasAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

SKELVANE_LANES_TARGET bool RenderFaceMapRowsAvx512(const FaceMapFrame& frame, std::int32_t first, std::int32_t end,
                                                   bool& overflowW, bool& overflowH)
{
    return RenderFaceMapRowsWith<Lanes16>(frame, first, end, overflowW, overflowH);
}

SKELVANE_LANES_TARGET void RenderPackedRowsAvx512(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
    RenderPackedRowsWith<Lanes16>(frame, first, end);
}

}  // namespace skelvane

#endif
