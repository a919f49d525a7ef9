#include "engine/simd/StretchRowsAvx512.h"

#if SKELVANE_STRETCH_AVX512

#include <immintrin.h>

#include <algorithm>

// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#define SKELVANE_STRETCH_TARGET __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vnni,avx512vbmi")))

namespace skelvane {
namespace {

// Pixels one narrow group may load: one 512-bit register.
constexpr std::int32_t kNarrowSpan = 16;

bool Consecutive(const StretchColumn& column)
{
    const std::int32_t cx = column.columns[1];
    return column.columns[0] == cx - 1 && column.columns[2] == cx + 1 && column.columns[3] == cx + 2;
}

// Byte 4c + n of lane k: channel c of neighbour n of column k.
void SetLanes(StretchGroup& group, const StretchColumn* columns, bool gathered)
{
    for (int k = 0; k < 4; ++k) {
        const std::int32_t first = columns[k].columns[0];
        for (int n = 0; n < 4; ++n) {
            if (gathered) {
                const std::int32_t column = first + n;
                std::copy_n(reinterpret_cast<const std::uint8_t*>(&column), 4, group.lanes + 16 * k + 4 * n);
                continue;
            }
            for (int c = 0; c < 4; ++c) {
                group.lanes[16 * k + 4 * c + n] = static_cast<std::uint8_t>(4 * (first + n - group.start) + c);
            }
        }
    }
}

}  // namespace

bool CpuHasStretchAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni") &&
           __builtin_cpu_supports("avx512vbmi");
}

std::unique_ptr<StretchGroups> PlanStretchGroups(const std::vector<StretchColumn>& columns)
{
    const auto count = static_cast<std::int32_t>(columns.size());
    std::int32_t first = 0;
    while (first < count && !Consecutive(columns[first])) {
        ++first;
    }
    std::int32_t end = first;
    while (end < count && Consecutive(columns[end])) {
        ++end;
    }
    const std::int32_t groupCount = (end - first) / 4;
    if (groupCount == 0) {
        return nullptr;
    }
    auto plan = std::make_unique<StretchGroups>();
    plan->firstColumn = first;
    for (std::int32_t g = 0; g < groupCount; ++g) {
        const StretchColumn* four = &columns[first + 4 * g];
        if (four[3].columns[3] - four[0].columns[0] + 1 > kNarrowSpan) {
            plan->gathered = true;
        }
    }
    plan->groups.resize(static_cast<std::size_t>(groupCount));
    bool used[256] = {};
    for (std::int32_t g = 0; g < groupCount; ++g) {
        const StretchColumn* four = &columns[first + 4 * g];
        StretchGroup& group = plan->groups[g];
        group.start = four[0].columns[0];
        if (!plan->gathered) {
            group.loadMask = static_cast<std::uint16_t>((1u << (four[3].columns[3] - group.start + 1)) - 1);
        }
        SetLanes(group, four, plan->gathered);
        for (int k = 0; k < 4; ++k) {
            group.fractions[k] = static_cast<std::uint8_t>(four[k].fraction);
            used[four[k].fraction] = true;
        }
    }
    for (int f = 0; f < 256; ++f) {
        if (used[f]) {
            plan->fractions.push_back(static_cast<std::uint8_t>(f));
        }
    }
    return plan;
}

void PrepareStretchWeights(const StretchGroups& groups, std::int32_t rowFraction, StretchWeights& weights)
{
    if (weights.rowFraction == rowFraction) {
        return;
    }
    const SplineTaps& rowTaps = kSplineTable.byFraction[rowFraction];
    for (const std::uint8_t f : groups.fractions) {
        const SplineTaps& columnTaps = kSplineTable.byFraction[f];
        for (int m = 0; m < 4; ++m) {
            for (int n = 0; n < 4; ++n) {
                // 0..112 for every pair of fractions, so a signed byte holds it.
                weights.byColumnFraction[f][4 * m + n] =
                    static_cast<std::int8_t>((rowTaps.w[m] * columnTaps.w[n]) >> 8);
            }
        }
    }
    weights.rowFraction = rowFraction;
}

namespace {

// Lane k: the sixteen weights of column k's fraction.
SKELVANE_STRETCH_TARGET inline __m512i GroupWeights(const StretchGroup& group, const StretchWeights& weights)
{
    const auto* entries = reinterpret_cast<const __m128i*>(weights.byColumnFraction);
    __m512i w = _mm512_castsi128_si512(_mm_load_si128(entries + group.fractions[0]));
    w = _mm512_inserti32x4(w, _mm_load_si128(entries + group.fractions[1]), 1);
    w = _mm512_inserti32x4(w, _mm_load_si128(entries + group.fractions[2]), 2);
    return _mm512_inserti32x4(w, _mm_load_si128(entries + group.fractions[3]), 3);
}

// Each group: per source row, the sixteen pixels are arranged so that every
// 32-bit element holds one channel of one column's four neighbours, and one
// VNNI multiply-add adds the four products (pixel bytes unsigned, weights
// signed, sums exact in 32 bits) to that channel's sum. Each tap's
// ((v << 8) * weight) >> 8 is exactly v * weight, so these are the sums of
// the one-pixel loop.
template <bool Gathered, bool OneFraction>
SKELVANE_STRETCH_TARGET void StretchGroupsWith(const StretchGroups& groups, const StretchRowSources& row,
                                               const StretchWeights& weights, std::uint32_t* out)
{
    // Within each lane: byte 4c + n from byte 4n + c (a gathered lane holds
    // its four pixels whole), and byte 4c + n from weight 4m + n.
    const __m512i transpose =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    __m512i spreadRow[4];
    for (int m = 0; m < 4; ++m) {
        spreadRow[m] = _mm512_set1_epi32(0x03020100 + 0x04040404 * m);
    }
    __m512i sharedWeights[4] = {};
    if constexpr (OneFraction) {
        const __m512i w = GroupWeights(groups.groups.front(), weights);
        for (int m = 0; m < 4; ++m) {
            sharedWeights[m] = _mm512_shuffle_epi8(w, spreadRow[m]);
        }
    }
    const __m512i gain = _mm512_set1_epi32(266);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::uint32_t* target = out + groups.firstColumn;
    for (const StretchGroup& group : groups.groups) {
        __m512i w = _mm512_setzero_si512();
        if constexpr (!OneFraction) {
            w = GroupWeights(group, weights);
        }
        const __m512i lanes = _mm512_load_si512(group.lanes);
        __m512i sums = _mm512_setzero_si512();
        for (int m = 0; m < 4; ++m) {
            __m512i taps;
            if constexpr (Gathered) {
                taps = _mm512_shuffle_epi8(_mm512_i32gather_epi32(lanes, row.rows[m], 4), transpose);
            } else {
                taps = _mm512_permutexvar_epi8(lanes,
                                               _mm512_maskz_loadu_epi32(group.loadMask, row.rows[m] + group.start));
            }
            const __m512i rowWeights = OneFraction ? sharedWeights[m] : _mm512_shuffle_epi8(w, spreadRow[m]);
            sums = _mm512_dpbusd_epi32(sums, taps, rowWeights);
        }
        // (sum * 266) >> 16 clamped to 0..255: no weight is negative, so
        // neither is a sum, and the unsigned narrowing clamps at 255 (which
        // white reaches at some fractions).
        const __m512i scaled = _mm512_srai_epi32(_mm512_mullo_epi32(sums, gain), 16);
        const __m128i pixels = _mm_or_si128(_mm512_cvtusepi32_epi8(scaled), opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), pixels);
        target += 4;
    }
}

}  // namespace

void StretchGroupsAvx512(const StretchGroups& groups, const StretchRowSources& row, const StretchWeights& weights,
                         std::uint32_t* out)
{
    // Whole steps (the halving of a panorama among them) give every column
    // the same fraction.
    const bool oneFraction = groups.fractions.size() == 1;
    if (groups.gathered) {
        (oneFraction ? StretchGroupsWith<true, true> : StretchGroupsWith<true, false>)(groups, row, weights, out);
    } else {
        (oneFraction ? StretchGroupsWith<false, true> : StretchGroupsWith<false, false>)(groups, row, weights, out);
    }
}

}  // namespace skelvane

#endif
