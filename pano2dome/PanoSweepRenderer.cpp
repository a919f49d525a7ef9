#include "pano2dome/PanoSweepRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>

#include "engine/PanoTaps.h"
#include "engine/ParallelRows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SKELVANE_HAVE_AVX512 1
#define SKELVANE_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#define SKELVANE_INLINE inline __attribute__((always_inline))
#include <immintrin.h>
// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#else
#define SKELVANE_HAVE_AVX512 0
#endif

namespace skelvane {
namespace {

#if SKELVANE_HAVE_AVX512
bool CpuHasAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}
std::atomic<bool> g_paired{CpuHasAvx512()};

// Tiles of this many columns down a band keep the panorama rows a tile reads
// in cache while the map rows stream past.
constexpr std::int32_t kTileColumns = 128;

struct SweepFrame {
    const CImageBuffer& pano;
    const PanoMapEntry* map;
    CImageBuffer& dome;
    std::int32_t outSize;
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
// it loses one period; anything else goes through the projector's own wrap
// (its steps beyond the first are not plain subtractions).
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

SKELVANE_AVX512 void RenderRowsPaired(const SweepFrame& frame, std::int32_t first, std::int32_t end)
{
    const KernelTable& table = Table();
    for (std::int32_t j0 = 0; j0 < frame.outSize; j0 += kTileColumns) {
        const std::int32_t j1 = std::min(j0 + kTileColumns, frame.outSize);
        for (std::int32_t i = first; i < end; ++i) {
            const PanoMapEntry* entry = frame.map + static_cast<std::size_t>(i) * frame.outSize;
            std::uint32_t* out = frame.dome.Row32(i);
            PixelTaps pending{};
            std::uint32_t* pendingOut = nullptr;
            for (std::int32_t j = j0; j < j1; ++j) {
                const PanoMapEntry& e = entry[j];
                if (!IsInside(e)) {
                    out[j] = 0x00000000u;
                    continue;
                }
                if (!pendingOut) {
                    Locate(frame.pano, WrappedColumn(e.x, frame.shift, frame.period), e.y, pending);
                    pendingOut = out + j;
                    continue;
                }
                PixelTaps taps;
                Locate(frame.pano, WrappedColumn(e.x, frame.shift, frame.period), e.y, taps);
                BlendPair(table, pending, taps, *pendingOut, out[j]);
                pendingOut = nullptr;
            }
            if (pendingOut) {
                std::uint32_t twin;
                BlendPair(table, pending, pending, *pendingOut, twin);
            }
        }
    }
}
#endif

}  // namespace

bool CPanoSweepRenderer::UsePairedLoop(bool enable)
{
#if SKELVANE_HAVE_AVX512
    g_paired.store(enable && CpuHasAvx512());
    return g_paired.load();
#else
    (void)enable;
    return false;
#endif
}

bool CPanoSweepRenderer::PairedLoopInUse()
{
#if SKELVANE_HAVE_AVX512
    return g_paired.load();
#else
    return false;
#endif
}

std::unique_ptr<CImageBuffer> CPanoSweepRenderer::Render(const CImageBuffer& pano, const PanoMapEntry* map,
                                                         std::int32_t outSize, float pan)
{
#if SKELVANE_HAVE_AVX512
    // Everything the projector refuses, it refuses (and reports) itself.
    if (g_paired.load(std::memory_order_relaxed) && map && !pano.IsEmpty() && pano.GetBitCount() == 32 &&
        outSize >= 2 && outSize <= kMaxPanoDomeSize && std::isfinite(pan)) {
        try {
            auto dome = std::make_unique<CImageBuffer>();
            dome->Create(outSize, outSize);
            const SweepFrame frame{pano, map, *dome, outSize, pano_geometry::PanShift(pan, pano.GetWidth()),
                                   static_cast<float>(pano.GetWidth())};
            ForEachRowBand(outSize, outSize,
                           [&](std::int32_t first, std::int32_t end) { RenderRowsPaired(frame, first, end); });
            return dome;
        } catch (const std::bad_alloc&) {
            m_reporter.ShowMessage(kOutOfMemoryText);
        }
        return nullptr;
    }
#endif
    return m_projector.RenderPanoDome(pano, map, outSize, pan);
}

}  // namespace skelvane
