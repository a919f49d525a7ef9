#include "engine/simd/CubeDomeRowsAvx2.h"

#if SKELVANE_CUBE_ROWS_AVX512

#include <immintrin.h>

#define SKELVANE_LANES_TARGET __attribute__((target("avx2")))
#include "engine/simd/CubeBlockLanes.h"

namespace skelvane {
namespace {

// Eight lanes in AVX2 registers, for the pipeline of engine/simd/CubeBlockLanes.h.
struct Lanes8 {
    static constexpr int kCount = 8;
    using F = __m256;
    using I = __m256i;

    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Set(std::int32_t value) { return _mm256_set1_epi32(value); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F SetFloat(float value) { return _mm256_set1_ps(value); }
    // A table of eight 32-bit entries, indexed by Lookup.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Table8(const void* entries)
    {
        return _mm256_loadu_si256(static_cast<const __m256i*>(entries));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Lookup(I table, I index)
    {
        return _mm256_permutevar8x32_epi32(table, index);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F LookupFloat(I table, I index)
    {
        return _mm256_castsi256_ps(Lookup(table, index));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Add(I a, I b) { return _mm256_add_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Mullo(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I And(I a, I b) { return _mm256_and_si256(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I ShiftRight(I a, int bits)
    {
        return _mm256_srl_epi32(a, _mm_cvtsi32_si128(bits));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F AddF(F a, F b) { return _mm256_add_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F MaxF(F a, F b) { return _mm256_max_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F MinF(F a, F b) { return _mm256_min_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Truncate(F a) { return _mm256_cvttps_epi32(a); }
    template <int kPredicate>
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned Compare(F a, F b)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, kPredicate)));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned NotEqual(I a, I b)
    {
        return ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)))) & 0xFFu;
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE bool AnyAbove(I a, std::int32_t limit)
    {
        const __m256i most = _mm256_set1_epi32(limit);
        return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(a, most), most)) != -1;
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I LaneBefore(I a, I previous)
    {
        const __m256i up = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
        return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, up), _mm256_permutevar8x32_epi32(previous, up), 0x01);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I LaneAfter(I next, I a)
    {
        const __m256i down = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0);
        return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, down), _mm256_permutevar8x32_epi32(next, down), 0x80);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE bool SharedFirst(I a, std::uint32_t& first)
    {
        const __m128i low = _mm256_castsi256_si128(a);
        first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(low));
        return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, _mm256_broadcastd_epi32(low))) == -1;
    }
    // The low byte of each lane: gathered into the first dword of each half,
    // then the two dwords side by side.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void StoreBytes(std::uint8_t* to, I a)
    {
        const char z = static_cast<char>(0x80);
        const __m256i low = _mm256_shuffle_epi8(
            a, _mm256_setr_epi8(0, 4, 8, 12, z, z, z, z, z, z, z, z, z, z, z, z, 0, 4, 8, 12, z, z, z, z, z, z, z, z,
                                z, z, z, z));
        const __m256i joined = _mm256_permutevar8x32_epi32(low, _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(joined));
    }
    // Built with inserts: eight 4-byte stores read back as one vector would
    // wait for the stores to reach the cache (Zen 3 spent a third of the
    // packed render there).
    template <class Pixel>
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Collect(Pixel pixel)
    {
        return _mm256_setr_epi32(static_cast<int>(pixel(0)), static_cast<int>(pixel(1)), static_cast<int>(pixel(2)),
                                 static_cast<int>(pixel(3)), static_cast<int>(pixel(4)), static_cast<int>(pixel(5)),
                                 static_cast<int>(pixel(6)), static_cast<int>(pixel(7)));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Load(const std::uint32_t* from)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void Store(std::uint32_t* to, I a)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), a);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void Stream(std::uint32_t* to, I a)
    {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(to), a);
    }

    // Entries u, v, face of eight pixels are three vectors. Blends take each
    // field from the vector that holds it at each position, and a permute
    // puts the lanes in order: u0 is at position 0, u1 at 3, u2 at 6, u3 at 1
    // (element 9, the second vector's 1) and so on.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void LoadEntries(const float* e, F& u, F& v, I& face)
    {
        const __m256 e0 = _mm256_loadu_ps(e);
        const __m256 e1 = _mm256_loadu_ps(e + 8);
        const __m256 e2 = _mm256_loadu_ps(e + 16);
        const __m256 uMixed = _mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x92), e2, 0x24);
        const __m256 vMixed = _mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x24), e2, 0x49);
        const __m256 fMixed = _mm256_blend_ps(_mm256_blend_ps(e0, e1, 0x49), e2, 0x92);
        u = _mm256_permutevar8x32_ps(uMixed, _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
        v = _mm256_permutevar8x32_ps(vMixed, _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6));
        face = _mm256_castps_si256(_mm256_permutevar8x32_ps(fMixed, _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7)));
    }
};

}  // namespace

bool CpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

SKELVANE_LANES_TARGET bool RenderFaceMapRowsAvx2(const FaceMapFrame& frame, std::int32_t first, std::int32_t end,
                                                 bool& overflowW, bool& overflowH)
{
    return RenderFaceMapRowsWith<Lanes8>(frame, first, end, overflowW, overflowH);
}

SKELVANE_LANES_TARGET void RenderPackedRowsAvx2(const PackedFrame& frame, std::int32_t first, std::int32_t end)
{
    RenderPackedRowsWith<Lanes8>(frame, first, end);
}

}  // namespace skelvane

#endif
