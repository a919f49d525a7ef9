#include "engine/simd/PanoRowsAvx2.h"

#if SKELVANE_PANO_ROWS_AVX512

#include <immintrin.h>

#define SKELVANE_LANES_TARGET __attribute__((target("avx2,fma")))
#include "engine/simd/PanoBlendLanes.h"
#include "engine/projection/PanoTaps.h"

// The exact path enables AVX2 only, not fused multiply-add, so that it does
// the one-pixel blend's double arithmetic step for step.
#define SKELVANE_AVX2 __attribute__((target("avx2")))

namespace skelvane {
namespace {

// The one-pixel blend with the three channels in the lanes of one AVX2
// register (blue, green, red, and alpha, which is thrown away). Lane by lane
// it is the same IEEE double arithmetic in the same order, including the
// kernel's polynomials, so the pixels are the same bit for bit.
SKELVANE_AVX2 SKELVANE_INLINE __m256d KernelLanes(__m256d t)
{
    const __m256d s = _mm256_andnot_pd(_mm256_set1_pd(-0.0), t);
    const __m256d inner = _mm256_add_pd(
        _mm256_sub_pd(_mm256_mul_pd(_mm256_mul_pd(s, s), s), _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), s), s)),
        _mm256_set1_pd(1.0));
    const __m256d negative = _mm256_xor_pd(s, _mm256_set1_pd(-0.0));
    const __m256d outer = _mm256_add_pd(
        _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(negative, s), s),
                                    _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(5.0), s), s)),
                      _mm256_mul_pd(_mm256_set1_pd(8.0), s)),
        _mm256_set1_pd(4.0));
    const __m256d withinOne = _mm256_cmp_pd(s, _mm256_set1_pd(1.0), _CMP_LE_OQ);
    const __m256d withinTwo = _mm256_cmp_pd(s, _mm256_set1_pd(2.0), _CMP_LE_OQ);
    return _mm256_blendv_pd(_mm256_blendv_pd(_mm256_setzero_pd(), outer, withinTwo), inner, withinOne);
}

SKELVANE_AVX2 SKELVANE_INLINE __m256d WidenPixel(__m128i fourPixels)
{
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(fourPixels));
}

SKELVANE_AVX2 SKELVANE_INLINE std::uint32_t BlendAvx2(const PanoTaps& taps)
{
    const double fx = taps.fx;
    const double fy = taps.fy;
    const __m256d columnWeights = KernelLanes(_mm256_setr_pd(fx + 1.0, fx, 1.0 - fx, 2.0 - fx));
    const __m256d rowWeights = KernelLanes(_mm256_setr_pd(fy + 1.0, fy, 1.0 - fy, 2.0 - fy));
    const __m256d w0 = _mm256_permute4x64_pd(columnWeights, 0x00);
    const __m256d w1 = _mm256_permute4x64_pd(columnWeights, 0x55);
    const __m256d w2 = _mm256_permute4x64_pd(columnWeights, 0xAA);
    const __m256d w3 = _mm256_permute4x64_pd(columnWeights, 0xFF);
    const __m256d rowWeight[4] = {
        _mm256_permute4x64_pd(rowWeights, 0x00), _mm256_permute4x64_pd(rowWeights, 0x55),
        _mm256_permute4x64_pd(rowWeights, 0xAA), _mm256_permute4x64_pd(rowWeights, 0xFF)};
    __m256d total = _mm256_setzero_pd();
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t* row = taps.rows[k];
        __m128i pixels;
        if (taps.consecutive) {
            pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + taps.columns[0]));
        } else {
            pixels = _mm_setr_epi32(static_cast<int>(row[taps.columns[0]]), static_cast<int>(row[taps.columns[1]]),
                                    static_cast<int>(row[taps.columns[2]]), static_cast<int>(row[taps.columns[3]]));
        }
        __m256d rowSum = _mm256_mul_pd(WidenPixel(pixels), w0);
        rowSum = _mm256_add_pd(rowSum, _mm256_mul_pd(WidenPixel(_mm_srli_si128(pixels, 4)), w1));
        rowSum = _mm256_add_pd(rowSum, _mm256_mul_pd(WidenPixel(_mm_srli_si128(pixels, 8)), w2));
        rowSum = _mm256_add_pd(rowSum, _mm256_mul_pd(WidenPixel(_mm_srli_si128(pixels, 12)), w3));
        total = _mm256_add_pd(total, _mm256_mul_pd(rowSum, rowWeight[k]));
    }
    // Truncation toward zero, then saturation into 0..255 on the way down
    // to bytes (int32 -> int16 -> uint8), which is the clamp.
    const __m128i whole = _mm256_cvttpd_epi32(_mm256_add_pd(total, _mm256_set1_pd(0.5)));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(whole, whole), _mm_setzero_si128());
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
}

struct ExactSingles {
    SKELVANE_AVX2 SKELVANE_INLINE void Add(const CImageBuffer& pano, float xs, float ys, std::uint32_t* out)
    {
        PanoTaps taps;
        LocatePanoTaps(pano, xs, ys, taps);
        *out = BlendAvx2(taps);
    }
    void Flush() {}
};

// Eight lanes in AVX2 registers, for the estimate of engine/simd/PanoBlendLanes.h.
struct Lanes8 {
    static constexpr int kCount = 8;
    using F = __m256;
    using I = __m256i;

    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Set(float value) { return _mm256_set1_ps(value); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Set(std::int32_t value) { return _mm256_set1_epi32(value); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F MulAdd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Abs(F a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Floor(F a)
    {
        return _mm256_round_ps(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Nearest(F a)
    {
        return _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
    template <int kPredicate>
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned Compare(F a, F b)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, kPredicate)));
    }
    // Infinities and NaNs: every exponent bit set.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE unsigned NotFinite(F a)
    {
        const __m256i exponent = _mm256_set1_epi32(0x7F800000);
        const __m256i bits = _mm256_and_si256(_mm256_castps_si256(a), exponent);
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(bits, exponent))));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I LaneMask(unsigned lanes)
    {
        const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
        return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(lanes)), bit), bit);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Select(unsigned lanes, F clear, F set)
    {
        return _mm256_blendv_ps(clear, set, _mm256_castsi256_ps(LaneMask(lanes)));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Select(unsigned lanes, I clear, I set)
    {
        return _mm256_blendv_epi8(clear, set, LaneMask(lanes));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Truncate(F a) { return _mm256_cvttps_epi32(a); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Add(I a, I b) { return _mm256_add_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Mullo(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Or(I a, I b) { return _mm256_or_si256(a, b); }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I ShiftLeft(I a, int bits)
    {
        return _mm256_sll_epi32(a, _mm_cvtsi32_si128(bits));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE I Clamp255(I a)
    {
        return _mm256_min_epi32(_mm256_max_epi32(a, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void StoreInts(std::int32_t* to, I a)
    {
        _mm256_store_si256(reinterpret_cast<__m256i*>(to), a);
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void Store(std::uint32_t* to, I a)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), a);
    }

    // Entries x0 y0 ... x7 y7: the shuffles take the evens (odds) of each
    // 128-bit half, giving x0 x1 x4 x5 x2 x3 x6 x7, which the permute orders.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void LoadPositions(const PanoMapEntry* entries, F& x, F& y)
    {
        const float* raw = reinterpret_cast<const float*>(entries);
        const __m256 lo = _mm256_loadu_ps(raw);
        const __m256 hi = _mm256_loadu_ps(raw + 8);
        x = Ordered(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
        y = Ordered(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Ordered(F quarters)
    {
        return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(quarters), _MM_SHUFFLE(3, 1, 2, 0)));
    }

    // Byte `channel` of every lane as a float.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE F Channel(I pixels, int channel)
    {
        const char z = static_cast<char>(0x80);
        const char b = static_cast<char>(channel);
        const __m256i pick = _mm256_broadcastsi128_si256(_mm_setr_epi8(b, z, z, z, static_cast<char>(b + 4), z, z, z,
                                                                       static_cast<char>(b + 8), z, z, z,
                                                                       static_cast<char>(b + 12), z, z, z));
        return _mm256_cvtepi32_ps(_mm256_shuffle_epi8(pixels, pick));
    }

    // As Lanes16::LoadTaps, with two halves: loads of lanes 4L + e go into
    // half L of block e, and a 4 x 4 transpose inside each half brings every
    // lane's tap c back to lane 4L + e.
    static SKELVANE_LANES_TARGET SKELVANE_INLINE void LoadTaps(const std::uint32_t* row, const std::int32_t offsets[8],
                                                               I taps[4])
    {
        __m256i blocks[4];
        for (int e = 0; e < 4; ++e) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + offsets[e]));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + offsets[4 + e]));
            blocks[e] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        }
        const __m256i ab01 = _mm256_unpacklo_epi32(blocks[0], blocks[1]);
        const __m256i ab23 = _mm256_unpackhi_epi32(blocks[0], blocks[1]);
        const __m256i cd01 = _mm256_unpacklo_epi32(blocks[2], blocks[3]);
        const __m256i cd23 = _mm256_unpackhi_epi32(blocks[2], blocks[3]);
        taps[0] = _mm256_unpacklo_epi64(ab01, cd01);
        taps[1] = _mm256_unpackhi_epi64(ab01, cd01);
        taps[2] = _mm256_unpacklo_epi64(ab23, cd23);
        taps[3] = _mm256_unpackhi_epi64(ab23, cd23);
    }
};

}  // namespace

bool CpuHasPanoRowsAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

SKELVANE_LANES_TARGET void BlendPanoRowAvx2(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                                            float shift, float period, std::uint32_t* out)
{
    ExactSingles exact;
    BlendPanoRowLanes<Lanes8>(pano, entries, count, shift, period, out, exact);
}

}  // namespace skelvane

#endif
