#include "engine/simd/PanoRowsAvx512.h"

#if SKELVANE_PANO_ROWS_AVX512

#include <immintrin.h>

#include <memory>

#define SKELVANE_LANES_TARGET __attribute__((target("avx2,fma,avx512f,avx512dq,avx512bw,avx512vl")))
#define SKELVANE_AVX512 SKELVANE_LANES_TARGET
#include "engine/simd/PanoBlendLanes.h"
#include "engine/projection/PanoTaps.h"

// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace skelvane {
namespace {

// The neighbourhood of one inside pixel and its position, from which the
// tabled kernel weights are looked up.
struct PixelTaps : PanoTaps {
    double x;
    double y;
};

SKELVANE_INLINE void Locate(const CImageBuffer& pano, float xs, float ys, PixelTaps& taps)
{
    LocatePanoTaps(pano, xs, ys, taps);
    taps.x = xs;
    taps.y = ys;
}

// The cubic kernel (a = -1) in eight lanes: the projector's polynomials,
// operation for operation.
SKELVANE_AVX512 SKELVANE_INLINE __m512d Kernel8(__m512d t)
{
    const __m512d s = _mm512_andnot_pd(_mm512_set1_pd(-0.0), t);
    const __m512d inner = _mm512_add_pd(
        _mm512_sub_pd(_mm512_mul_pd(_mm512_mul_pd(s, s), s), _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(2.0), s), s)),
        _mm512_set1_pd(1.0));
    const __m512d negative = _mm512_xor_pd(s, _mm512_set1_pd(-0.0));
    const __m512d outer = _mm512_add_pd(
        _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(negative, s), s),
                                    _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(5.0), s), s)),
                      _mm512_mul_pd(_mm512_set1_pd(8.0), s)),
        _mm512_set1_pd(4.0));
    const __mmask8 withinOne = _mm512_cmp_pd_mask(s, _mm512_set1_pd(1.0), _CMP_LE_OQ);
    const __mmask8 withinTwo = _mm512_cmp_pd_mask(s, _mm512_set1_pd(2.0), _CMP_LE_OQ);
    return _mm512_mask_mov_pd(_mm512_maskz_mov_pd(withinTwo, outer), withinOne, inner);
}

SKELVANE_AVX512 SKELVANE_INLINE __m128i RowPixels(const PixelTaps& taps, int k)
{
    const std::uint32_t* row = taps.rows[k];
    if (taps.consecutive) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + taps.columns[0]));
    }
    return _mm_setr_epi32(static_cast<int>(row[taps.columns[0]]), static_cast<int>(row[taps.columns[1]]),
                          static_cast<int>(row[taps.columns[2]]), static_cast<int>(row[taps.columns[3]]));
}

// Lane k of each pixel's four weights, spread over that pixel's four lanes.
SKELVANE_AVX512 SKELVANE_INLINE __m512d Spread(__m512d weights, int k)
{
    return _mm512_permutexvar_pd(_mm512_setr_epi64(k, k, k, k, 4 + k, 4 + k, 4 + k, 4 + k), weights);
}

// Column c of both pixels' rows (pixel a in the low half, b in the high
// half), its bytes widened to eight doubles: a's blue, green, red, alpha,
// then b's.
SKELVANE_AVX512 SKELVANE_INLINE __m512d WidenColumn(__m256i both, int c)
{
    const char b = static_cast<char>(4 * c);
    const char z = static_cast<char>(0x80);
    const __m256i select = _mm256_setr_epi8(b, z, z, z, static_cast<char>(b + 1), z, z, z, static_cast<char>(b + 2),
                                            z, z, z, static_cast<char>(b + 3), z, z, z, b, z, z, z,
                                            static_cast<char>(b + 1), z, z, z, static_cast<char>(b + 2), z, z, z,
                                            static_cast<char>(b + 3), z, z, z);
    return _mm512_cvtepi32_pd(_mm256_shuffle_epi8(both, select));
}

// The four kernel weights of every fraction that a coordinate of 512 or more
// can have: such a float has no bits below 2^-14, so its fraction times 2^14
// is an exact index. The weights are computed by Kernel8 itself, so a weight
// from the table is the weight the pixel would compute.
constexpr double kFractionSteps = 16384.0;
constexpr double kTabledFrom = 512.0;

struct alignas(64) KernelTable {
    double weights[16384][4];
};

SKELVANE_AVX512 std::unique_ptr<KernelTable> BuildKernelTable()
{
    auto table = std::make_unique<KernelTable>();
    for (int i = 0; i < 16384; i += 2) {
        const double a = i / kFractionSteps;
        const double b = (i + 1) / kFractionSteps;
        const __m512d w = Kernel8(_mm512_setr_pd(a + 1.0, a, 1.0 - a, 2.0 - a, b + 1.0, b, 1.0 - b, 2.0 - b));
        _mm512_storeu_pd(table->weights[i], w);
    }
    return table;
}

const KernelTable& Table()
{
    static const std::unique_ptr<KernelTable> table = BuildKernelTable();
    return *table;
}

// Both pixels' four weights for fractions fa and fb of coordinates ca, cb.
SKELVANE_AVX512 SKELVANE_INLINE __m512d PairWeights(const KernelTable& table, double ca, double fa, double cb,
                                                    double fb)
{
    if (ca >= kTabledFrom && cb >= kTabledFrom) {
        const __m256d a = _mm256_load_pd(table.weights[static_cast<int>(fa * kFractionSteps)]);
        const __m256d b = _mm256_load_pd(table.weights[static_cast<int>(fb * kFractionSteps)]);
        return _mm512_insertf64x4(_mm512_castpd256_pd512(a), b, 1);
    }
    return Kernel8(_mm512_setr_pd(fa + 1.0, fa, 1.0 - fa, 2.0 - fa, fb + 1.0, fb, 1.0 - fb, 2.0 - fb));
}

SKELVANE_AVX512 SKELVANE_INLINE void BlendPair(const KernelTable& table, const PixelTaps& a, const PixelTaps& b,
                                               std::uint32_t& outA, std::uint32_t& outB)
{
    const __m512d columnWeights = PairWeights(table, a.x, a.fx, b.x, b.fx);
    const __m512d rowWeights = PairWeights(table, a.y, a.fy, b.y, b.fy);
    const __m512d w0 = Spread(columnWeights, 0);
    const __m512d w1 = Spread(columnWeights, 1);
    const __m512d w2 = Spread(columnWeights, 2);
    const __m512d w3 = Spread(columnWeights, 3);
    __m512d total = _mm512_setzero_pd();
    for (int k = 0; k < 4; ++k) {
        const __m256i both = _mm256_set_m128i(RowPixels(b, k), RowPixels(a, k));
        __m512d rowSum = _mm512_mul_pd(WidenColumn(both, 0), w0);
        rowSum = _mm512_add_pd(rowSum, _mm512_mul_pd(WidenColumn(both, 1), w1));
        rowSum = _mm512_add_pd(rowSum, _mm512_mul_pd(WidenColumn(both, 2), w2));
        rowSum = _mm512_add_pd(rowSum, _mm512_mul_pd(WidenColumn(both, 3), w3));
        total = _mm512_add_pd(total, _mm512_mul_pd(rowSum, Spread(rowWeights, k)));
    }
    // Truncation toward zero, then saturation to bytes (int32 -> int16 ->
    // uint8) within each pixel's half.
    const __m256i whole = _mm512_cvttpd_epi32(_mm512_add_pd(total, _mm512_set1_pd(0.5)));
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(whole, whole), _mm256_setzero_si256());
    outA = static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 0)) | 0xFF000000u;
    outB = static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 4)) | 0xFF000000u;
}

// Pairs up the pixels that take the exact path, so that each BlendPair still
// does the work of two.
class ExactPairs {
public:
    explicit ExactPairs(const KernelTable& table) : m_table(table) {}

    SKELVANE_AVX512 SKELVANE_INLINE void Add(const CImageBuffer& pano, float xs, float ys, std::uint32_t* out)
    {
        if (!m_pendingOut) {
            Locate(pano, xs, ys, m_pending);
            m_pendingOut = out;
            return;
        }
        PixelTaps taps;
        Locate(pano, xs, ys, taps);
        BlendPair(m_table, m_pending, taps, *m_pendingOut, *out);
        m_pendingOut = nullptr;
    }

    SKELVANE_AVX512 SKELVANE_INLINE void Flush()
    {
        if (m_pendingOut) {
            std::uint32_t twin;
            BlendPair(m_table, m_pending, m_pending, *m_pendingOut, twin);
            m_pendingOut = nullptr;
        }
    }

private:
    const KernelTable& m_table;
    PixelTaps m_pending{};
    std::uint32_t* m_pendingOut = nullptr;
};

// Sixteen lanes in AVX-512 registers, for the estimate of
// engine/simd/PanoBlendLanes.h.
struct Lanes16 {
    static constexpr int kCount = 16;
    using F = __m512;
    using I = __m512i;

    static SKELVANE_AVX512 SKELVANE_INLINE F Set(float value) { return _mm512_set1_ps(value); }
    static SKELVANE_AVX512 SKELVANE_INLINE I Set(std::int32_t value) { return _mm512_set1_epi32(value); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Add(F a, F b) { return _mm512_add_ps(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE F MulAdd(F a, F b, F c) { return _mm512_fmadd_ps(a, b, c); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Abs(F a) { return _mm512_abs_ps(a); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Floor(F a)
    {
        return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static SKELVANE_AVX512 SKELVANE_INLINE F Nearest(F a)
    {
        return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
    template <int kPredicate>
    static SKELVANE_AVX512 SKELVANE_INLINE unsigned Compare(F a, F b)
    {
        return _mm512_cmp_ps_mask(a, b, kPredicate);
    }
    static SKELVANE_AVX512 SKELVANE_INLINE unsigned NotFinite(F a) { return _mm512_fpclass_ps_mask(a, 0x99); }
    static SKELVANE_AVX512 SKELVANE_INLINE F Select(unsigned lanes, F clear, F set)
    {
        return _mm512_mask_mov_ps(clear, static_cast<__mmask16>(lanes), set);
    }
    static SKELVANE_AVX512 SKELVANE_INLINE I Select(unsigned lanes, I clear, I set)
    {
        return _mm512_mask_mov_epi32(clear, static_cast<__mmask16>(lanes), set);
    }
    static SKELVANE_AVX512 SKELVANE_INLINE I Truncate(F a) { return _mm512_cvttps_epi32(a); }
    static SKELVANE_AVX512 SKELVANE_INLINE I Add(I a, I b) { return _mm512_add_epi32(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE I Mullo(I a, I b) { return _mm512_mullo_epi32(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE I Or(I a, I b) { return _mm512_or_si512(a, b); }
    static SKELVANE_AVX512 SKELVANE_INLINE I ShiftLeft(I a, int bits)
    {
        return _mm512_sll_epi32(a, _mm_cvtsi32_si128(bits));
    }
    static SKELVANE_AVX512 SKELVANE_INLINE I Clamp255(I a)
    {
        return _mm512_min_epi32(_mm512_max_epi32(a, _mm512_setzero_si512()), _mm512_set1_epi32(255));
    }
    static SKELVANE_AVX512 SKELVANE_INLINE void StoreInts(std::int32_t* to, I a) { _mm512_store_si512(to, a); }
    static SKELVANE_AVX512 SKELVANE_INLINE void Store(std::uint32_t* to, I a) { _mm512_storeu_si512(to, a); }

    static SKELVANE_AVX512 SKELVANE_INLINE void LoadPositions(const PanoMapEntry* entries, F& x, F& y)
    {
        const float* raw = reinterpret_cast<const float*>(entries);
        const __m512 lo = _mm512_loadu_ps(raw);
        const __m512 hi = _mm512_loadu_ps(raw + 16);
        const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        x = _mm512_permutex2var_ps(lo, evens, hi);
        y = _mm512_permutex2var_ps(lo, _mm512_add_epi32(evens, _mm512_set1_epi32(1)), hi);
    }

    // Byte `channel` of every lane as a float.
    static SKELVANE_AVX512 SKELVANE_INLINE F Channel(I pixels, int channel)
    {
        const char z = static_cast<char>(0x80);
        const char b = static_cast<char>(channel);
        const __m512i pick = _mm512_broadcast_i32x4(_mm_setr_epi8(b, z, z, z, static_cast<char>(b + 4), z, z, z,
                                                                  static_cast<char>(b + 8), z, z, z,
                                                                  static_cast<char>(b + 12), z, z, z));
        return _mm512_cvtepi32_ps(_mm512_shuffle_epi8(pixels, pick));
    }

    // One row of the 4 x 4 neighbourhoods of sixteen pixels: taps[c] holds
    // the c-th of the four consecutive panorama pixels of every lane. Each
    // lane's four pixels are one 16-byte load (cheaper here than gathers);
    // loads of lanes 4L + e go into quarter L of block e, and a 4 x 4
    // transpose inside each quarter brings every lane's tap c back to lane
    // 4L + e.
    static SKELVANE_AVX512 SKELVANE_INLINE void LoadTaps(const std::uint32_t* row, const std::int32_t offsets[16],
                                                         I taps[4])
    {
        __m512i blocks[4];
        for (int e = 0; e < 4; ++e) {
            const std::uint32_t* at[4];
            for (int quarter = 0; quarter < 4; ++quarter) {
                at[quarter] = row + offsets[4 * quarter + e];
            }
            __m512i block = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at[0])));
            block = _mm512_inserti32x4(block, _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[1])), 1);
            block = _mm512_inserti32x4(block, _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[2])), 2);
            blocks[e] = _mm512_inserti32x4(block, _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[3])), 3);
        }
        const __m512i ab01 = _mm512_unpacklo_epi32(blocks[0], blocks[1]);
        const __m512i ab23 = _mm512_unpackhi_epi32(blocks[0], blocks[1]);
        const __m512i cd01 = _mm512_unpacklo_epi32(blocks[2], blocks[3]);
        const __m512i cd23 = _mm512_unpackhi_epi32(blocks[2], blocks[3]);
        taps[0] = _mm512_unpacklo_epi64(ab01, cd01);
        taps[1] = _mm512_unpackhi_epi64(ab01, cd01);
        taps[2] = _mm512_unpacklo_epi64(ab23, cd23);
        taps[3] = _mm512_unpackhi_epi64(ab23, cd23);
    }
};

}  // namespace

bool CpuHasPanoRowsAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

SKELVANE_AVX512 void BlendPanoRowAvx512(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                                        float shift, float period, std::uint32_t* out)
{
    ExactPairs exact(Table());
    BlendPanoRowLanes<Lanes16>(pano, entries, count, shift, period, out, exact);
}

}  // namespace skelvane

#endif
