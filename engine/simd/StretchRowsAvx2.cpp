#include "engine/simd/StretchRowsAvx2.h"

#if SKELVANE_STRETCH_AVX512

#include <immintrin.h>

#include <cstring>

#define SKELVANE_STRETCH_TARGET __attribute__((target("avx2")))

namespace skelvane {
namespace {

// The four weights of row m of a column's fraction, as words, twice:
// w(m, 0..3) w(m, 0..3).
SKELVANE_STRETCH_TARGET inline __m128i RowWeights(const StretchWeights& weights, std::uint8_t fraction, int m)
{
    std::int32_t four;
    std::memcpy(&four, &weights.byColumnFraction[fraction][4 * m], sizeof four);
    return _mm_cvtepu8_epi16(_mm_set1_epi32(four));
}

SKELVANE_STRETCH_TARGET inline __m256i Pair(__m128i low, __m128i high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Each 128-bit half holds one column: per source row, its four neighbours
// are one 16-byte load, rearranged so that every channel's four bytes lie
// side by side, widened to words and multiplied with the row's weights in
// pairs (a byte multiply-add would saturate its 16-bit pairs: two
// neighbouring weights reach 139, and 255 x 139 > 32767); the sums of the
// four rows then add each channel's pairs. Sums are
// exact in 32 bits (at most 255 x 112 per product), and v * weight is what
// each tap's ((v << 8) * weight) >> 8 comes to, so these are the sums of the
// one-pixel loop. Halves hold columns 0 and 2, and 1 and 3, so that the packs
// below put the four pixels in order.
template <bool OneFraction>
SKELVANE_STRETCH_TARGET void StretchGroupsWith(const StretchGroups& groups, const StretchColumn* columns,
                                               const StretchRowSources& row, const StretchWeights& weights,
                                               std::uint32_t* out)
{
    const __m256i transpose = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i gain = _mm256_set1_epi32(266);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    __m256i sharedWeights[4] = {};
    if constexpr (OneFraction) {
        const std::uint8_t f = groups.groups.front().fractions[0];
        for (int m = 0; m < 4; ++m) {
            sharedWeights[m] = _mm256_broadcastsi128_si256(RowWeights(weights, f, m));
        }
    }
    const StretchColumn* column = columns + groups.firstColumn;
    std::uint32_t* target = out + groups.firstColumn;
    for (const StretchGroup& group : groups.groups) {
        __m256i lowEven = zero;  // columns 0 and 2: blue and green pairs
        __m256i highEven = zero;  // red and alpha pairs
        __m256i lowOdd = zero;  // columns 1 and 3
        __m256i highOdd = zero;
        for (int m = 0; m < 4; ++m) {
            const std::uint32_t* source = row.rows[m];
            auto load = [&](int k) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + column[k].columns[0]));
            };
            const __m256i even = _mm256_shuffle_epi8(Pair(load(0), load(2)), transpose);
            const __m256i odd = _mm256_shuffle_epi8(Pair(load(1), load(3)), transpose);
            __m256i evenWeights;
            __m256i oddWeights;
            if constexpr (OneFraction) {
                evenWeights = sharedWeights[m];
                oddWeights = sharedWeights[m];
            } else {
                evenWeights = Pair(RowWeights(weights, group.fractions[0], m), RowWeights(weights, group.fractions[2], m));
                oddWeights = Pair(RowWeights(weights, group.fractions[1], m), RowWeights(weights, group.fractions[3], m));
            }
            lowEven = _mm256_add_epi32(lowEven, _mm256_madd_epi16(_mm256_unpacklo_epi8(even, zero), evenWeights));
            highEven = _mm256_add_epi32(highEven, _mm256_madd_epi16(_mm256_unpackhi_epi8(even, zero), evenWeights));
            lowOdd = _mm256_add_epi32(lowOdd, _mm256_madd_epi16(_mm256_unpacklo_epi8(odd, zero), oddWeights));
            highOdd = _mm256_add_epi32(highOdd, _mm256_madd_epi16(_mm256_unpackhi_epi8(odd, zero), oddWeights));
        }
        // Per half: blue, green, red, alpha. (sum * 266) >> 16 clamped to
        // 0..255: no sum is negative, and none comes near 2^15 after
        // scaling, so the two unsigned narrowings clamp at 255 only.
        const __m256i even = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_hadd_epi32(lowEven, highEven), gain), 16);
        const __m256i odd = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_hadd_epi32(lowOdd, highOdd), gain), 16);
        // Words: columns 0, 1 in the low half, 2, 3 in the high; bytes
        // likewise, then the halves' first eight bytes side by side.
        const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(even, odd), zero);
        const __m256i ordered = _mm256_permute4x64_epi64(bytes, 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target),
                         _mm_or_si128(_mm256_castsi256_si128(ordered), opaque));
        column += 4;
        target += 4;
    }
}

}  // namespace

bool CpuHasStretchAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

void StretchGroupsAvx2(const StretchGroups& groups, const StretchColumn* columns, const StretchRowSources& row,
                       const StretchWeights& weights, std::uint32_t* out)
{
    if (groups.fractions.size() == 1) {
        StretchGroupsWith<true>(groups, columns, row, weights, out);
    } else {
        StretchGroupsWith<false>(groups, columns, row, weights, out);
    }
}

}  // namespace skelvane

#endif
