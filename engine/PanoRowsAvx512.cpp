#include "engine/PanoRowsAvx512.h"

#if SKELVANE_PANO_ROWS_AVX512

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/PanoTaps.h"

#define SKELVANE_AVX512 __attribute__((target("avx2,fma,avx512f,avx512dq,avx512bw,avx512vl")))
#define SKELVANE_INLINE inline __attribute__((always_inline))
// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace skelvane {
namespace {

struct RowFrame {
    const CImageBuffer& pano;
    float shift;
    float period;
};

// The neighbourhood of one inside pixel and its position, from which the
// tabled kernel weights are looked up.
struct PixelTaps : PanoTaps {
    double x;
    double y;
};

SKELVANE_INLINE bool IsInside(const PanoMapEntry& e)
{
    return !(e.x == kPanoOutside && e.y == kPanoOutside) && std::isfinite(e.x) && std::isfinite(e.y);
}

// The projector's wrap: inside [0, period] a column stays, one period above
// it loses one period; anything else goes through the projector's own wrap.
SKELVANE_INLINE float WrappedColumn(float x, float shift, float period)
{
    const float column = x + shift;
    if (column > period) {
        const float once = column - period;
        return once <= period ? once : pano_geometry::WrapColumn(column, period);
    }
    if (column < 0.0f) {
        return pano_geometry::WrapColumn(column, period);
    }
    return column;
}

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

SKELVANE_AVX512 SKELVANE_INLINE void RenderOne(const RowFrame& frame, const PanoMapEntry& e, std::uint32_t* out,
                                               ExactPairs& exact)
{
    if (!IsInside(e)) {
        *out = 0x00000000u;
        return;
    }
    exact.Add(frame.pano, WrappedColumn(e.x, frame.shift, frame.period), e.y, out);
}

// The fast estimate: sixteen pixels at a time in single precision, whose
// result is provably the exact one unless a channel's total lies within
// kAmbiguity of a rounding step. With u = 2^-24, each factored weight is
// within 2.25u of its polynomial, and the sum of a neighbourhood's absolute
// weights is 1 + 2f(1 - f) <= 1.5 per axis, so partial sums stay below
// 255 x 1.5 = 383 along a row and 574 overall. A row then errs by at most
// 4 x 255 x 2.25u (weights) + 4 x 383u (its four fused steps) < 2.3e-4, and
// the total, with 0.5 added, by at most 1.5 x 2.3e-4 + 4 x 383 x 2.25u +
// 4 x 574u + 574u < 7.2e-4 (against a worst case of 1.1e-4 seen in 20
// million random and adversarial neighbourhoods). A total 1/1024 or further
// from every step therefore rounds as the exact total does; those within it,
// about one pixel in a hundred, take the exact path.
constexpr float kAmbiguity = 1.0f / 1024.0f;

// Where the estimate can read the panorama: four rows and columns at least,
// and small enough for 32-bit pixel offsets.
struct WideView {
    const std::uint32_t* origin;  // row 0
    std::int32_t strideWords;     // from one row to the next, in pixels
    bool usable;
};

WideView MakeWideView(const CImageBuffer& pano)
{
    const std::int64_t width = pano.GetWidth();
    const std::int64_t height = pano.GetHeight();
    if (height < 4 || width < 4) {
        return {nullptr, 0, false};
    }
    const std::int64_t stride = pano.Row32(1) - pano.Row32(0);
    const std::int64_t reach = (stride < 0 ? -stride : stride) * height + width;
    if (reach >= (std::int64_t{1} << 31)) {
        return {nullptr, 0, false};
    }
    return {pano.Row32(0), static_cast<std::int32_t>(stride), true};
}

// The four cubic weights (a = -1) of fraction f, in factored forms whose
// float rounding stays within a few ulp of each weight.
struct Weights16 {
    __m512 w[4];
};

SKELVANE_AVX512 SKELVANE_INLINE Weights16 CubicWeights(__m512 f)
{
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 g = _mm512_sub_ps(one, f);
    const __m512 zero = _mm512_setzero_ps();
    Weights16 r;
    r.w[0] = _mm512_sub_ps(zero, _mm512_mul_ps(f, _mm512_mul_ps(g, g)));
    r.w[1] = _mm512_sub_ps(zero, _mm512_mul_ps(g, _mm512_sub_ps(_mm512_sub_ps(_mm512_mul_ps(f, f), f), one)));
    r.w[2] = _mm512_sub_ps(zero, _mm512_mul_ps(f, _mm512_sub_ps(_mm512_sub_ps(_mm512_mul_ps(g, g), g), one)));
    r.w[3] = _mm512_sub_ps(zero, _mm512_mul_ps(g, _mm512_mul_ps(f, f)));
    return r;
}

// Byte `channel` of every lane as a float.
SKELVANE_AVX512 SKELVANE_INLINE __m512 Channel(__m512i pixels, int channel)
{
    const char z = static_cast<char>(0x80);
    const char b = static_cast<char>(channel);
    const __m512i pick = _mm512_broadcast_i32x4(_mm_setr_epi8(b, z, z, z, static_cast<char>(b + 4), z, z, z,
                                                              static_cast<char>(b + 8), z, z, z,
                                                              static_cast<char>(b + 12), z, z, z));
    return _mm512_cvtepi32_ps(_mm512_shuffle_epi8(pixels, pick));
}

// Rounds the three channel totals as the exact path does; clears from `fast`
// every lane whose rounding the estimate cannot vouch for.
SKELVANE_AVX512 SKELVANE_INLINE __m512i RoundChannels(const __m512 totals[3], __mmask16& fast)
{
    __m512i packed = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    for (int c = 0; c < 3; ++c) {
        const __m512 t = _mm512_add_ps(totals[c], _mm512_set1_ps(0.5f));
        const __m512 nearest = _mm512_roundscale_ps(t, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m512 distance = _mm512_abs_ps(_mm512_sub_ps(t, nearest));
        fast &= _mm512_cmp_ps_mask(distance, _mm512_set1_ps(kAmbiguity), _CMP_GE_OQ);
        __m512i v = _mm512_cvttps_epi32(t);
        v = _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
        packed = _mm512_or_si512(packed, _mm512_slli_epi32(v, 8 * c));
    }
    return packed;
}

// One row of the 4 x 4 neighbourhoods of sixteen pixels: taps[c] holds the
// c-th of the four consecutive panorama pixels of every lane. Each lane's
// four pixels are one 16-byte load (cheaper here than gathers); loads of
// lanes 4L + e go into quarter L of block e, and a 4 x 4 transpose inside
// each quarter brings every lane's tap c back to lane 4L + e.
SKELVANE_AVX512 SKELVANE_INLINE void LoadTaps(const std::uint32_t* row, const std::int32_t offsets[16],
                                              __m512i taps[4])
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

// Sixteen consecutive dome pixels; the lanes the estimate cannot take go
// through `exact`.
SKELVANE_AVX512 SKELVANE_INLINE void RenderSixteen(const RowFrame& frame, const WideView& view,
                                                   const PanoMapEntry* entries, std::uint32_t* out,
                                                   ExactPairs& exact)
{
    const float* raw = reinterpret_cast<const float*>(entries);
    const __m512 lo = _mm512_loadu_ps(raw);
    const __m512 hi = _mm512_loadu_ps(raw + 16);
    const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512 x = _mm512_permutex2var_ps(lo, evens, hi);
    const __m512 y = _mm512_permutex2var_ps(lo, _mm512_add_epi32(evens, _mm512_set1_epi32(1)), hi);

    // Outside the circle and non-finite entries are transparent black, as in
    // RenderOne; any other lane left out of `fast` goes through RenderOne.
    const __mmask16 nonFinite = _mm512_fpclass_ps_mask(x, 0x99) | _mm512_fpclass_ps_mask(y, 0x99);
    const __mmask16 outside = nonFinite | (_mm512_cmp_ps_mask(x, _mm512_set1_ps(kPanoOutside), _CMP_EQ_OQ) &
                                           _mm512_cmp_ps_mask(y, _mm512_set1_ps(kPanoOutside), _CMP_EQ_OQ));
    _mm512_mask_storeu_epi32(out, outside, _mm512_setzero_si512());
    __mmask16 fast = static_cast<__mmask16>(~outside);

    // The projector's wrap for columns up to three periods (one or two
    // subtractions, as it does them); the others take the exact path.
    const __m512 period = _mm512_set1_ps(frame.period);
    const __m512 column = _mm512_add_ps(x, _mm512_set1_ps(frame.shift));
    const __mmask16 above = _mm512_cmp_ps_mask(column, period, _CMP_GT_OQ);
    const __m512 once = _mm512_sub_ps(column, period);
    const __mmask16 twiceAbove = above & _mm512_cmp_ps_mask(once, period, _CMP_GT_OQ);
    const __m512 twice = _mm512_sub_ps(once, period);
    fast &= ~(twiceAbove & _mm512_cmp_ps_mask(twice, period, _CMP_GT_OQ));
    fast &= _mm512_cmp_ps_mask(column, _mm512_setzero_ps(), _CMP_GE_OQ);
    const __m512 xs = _mm512_mask_mov_ps(_mm512_mask_mov_ps(column, above, once), twiceAbove, twice);

    // Whole parts of at least 1 make the float fractions exact; the 4 x 4
    // neighbourhood must lie inside the panorama (no edge clamping).
    const __m512 floorX = _mm512_roundscale_ps(xs, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m512 floorY = _mm512_roundscale_ps(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    fast &= _mm512_cmp_ps_mask(floorX, _mm512_set1_ps(1.0f), _CMP_GE_OQ) &
            _mm512_cmp_ps_mask(floorX, _mm512_set1_ps(static_cast<float>(frame.pano.GetWidth() - 3)), _CMP_LE_OQ) &
            _mm512_cmp_ps_mask(floorY, _mm512_set1_ps(1.0f), _CMP_GE_OQ) &
            _mm512_cmp_ps_mask(floorY, _mm512_set1_ps(static_cast<float>(frame.pano.GetHeight() - 3)), _CMP_LE_OQ);

    if (fast) {
        const Weights16 wx = CubicWeights(_mm512_sub_ps(xs, floorX));
        const Weights16 wy = CubicWeights(_mm512_sub_ps(y, floorY));
        const __m512i ix = _mm512_cvttps_epi32(floorX);
        const __m512i iy = _mm512_cvttps_epi32(floorY);
        const __m512i index = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_sub_epi32(iy, _mm512_set1_epi32(1)),
                                                            _mm512_set1_epi32(view.strideWords)),
                                         _mm512_sub_epi32(ix, _mm512_set1_epi32(1)));
        // Lanes left to the exact path read the panorama's first pixels.
        alignas(64) std::int32_t offsets[16];
        _mm512_store_si512(offsets, _mm512_maskz_mov_epi32(fast, index));
        __m512 totals[3] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps()};
        for (int k = 0; k < 4; ++k) {
            __m512i taps[4];
            LoadTaps(view.origin + static_cast<std::ptrdiff_t>(k) * view.strideWords, offsets, taps);
            __m512 rows[3] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps()};
            for (int c = 0; c < 4; ++c) {
                for (int ch = 0; ch < 3; ++ch) {
                    rows[ch] = _mm512_fmadd_ps(wx.w[c], Channel(taps[c], ch), rows[ch]);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                totals[ch] = _mm512_fmadd_ps(wy.w[k], rows[ch], totals[ch]);
            }
        }
        const __m512i packed = RoundChannels(totals, fast);
        _mm512_mask_storeu_epi32(out, fast, packed);
    }

    for (unsigned rest = static_cast<std::uint16_t>(~(fast | outside)); rest; rest &= rest - 1) {
        const int lane = __builtin_ctz(rest);
        RenderOne(frame, entries[lane], out + lane, exact);
    }
}

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
    const RowFrame frame{pano, shift, period};
    const WideView view = MakeWideView(pano);
    ExactPairs exact(Table());
    std::int32_t j = 0;
    if (view.usable) {
        for (; j + 16 <= count; j += 16) {
            RenderSixteen(frame, view, entries + j, out + j, exact);
        }
    }
    for (; j < count; ++j) {
        RenderOne(frame, entries[j], out + j, exact);
    }
    exact.Flush();
}

}  // namespace skelvane

#endif
