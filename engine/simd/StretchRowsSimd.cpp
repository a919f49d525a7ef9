// The resampler's rows with vectors. The interior columns (all sixteen
// neighbours inside the source) of rows whose four source rows lie inside go
// one 128-bit block per column: per source row, the column's four neighbours
// are one 16-byte load, rearranged so that each channel's four bytes lie side
// by side, widened to words and multiplied with the row's four weights in
// pairs (a byte multiply-add would saturate its 16-bit pairs: two
// neighbouring weights reach 139, and 255 x 139 > 32767). Sums are exact in
// 32 bits, and v * weight is what each tap's ((v << 8) * weight) >> 8 comes
// to, so these are the sums of the one-pixel loop. Every other pixel, and
// every pixel where there are no vectors, takes the one-pixel loop.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/StretchRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "engine/simd/ChooseLoop.h"
#include "engine/simd/StretchRowsSimd.h"
#include "engine/simd/VectorBlocks.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {

#if SKELVANE_SIMD_HAS_VECTORS

// The interior columns [first, end) of one row, a vector of columns at a time.
template <bool OneFraction>
void StretchInterior(const StretchPlan& plan, const StretchRowSources& row, const StretchWeights& weights,
                     std::uint32_t* out)
{
    const hn::ScalableTag<std::uint8_t> d8;
    const hn::Repartition<std::int16_t, decltype(d8)> d16;
    const hn::Repartition<std::int32_t, decltype(d8)> d32;
    const hn::Rebind<std::uint8_t, decltype(d32)> dPixelBytes;
    const hn::Repartition<std::uint32_t, decltype(dPixelBytes)> dPixels;
    constexpr std::size_t kColumns = hn::MaxLanes(decltype(d8)()) / 16;

    // Within each block: byte 4c + n from byte 4n + c (channel c of
    // neighbour n), and row m's weights as words, w0 w1 w2 w3 twice.
    alignas(16) static constexpr std::uint8_t kTranspose[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    constexpr std::uint8_t Z = 0x80;
    alignas(16) static constexpr std::uint8_t kRowWeights[4][16] = {
        {0, Z, 1, Z, 2, Z, 3, Z, 0, Z, 1, Z, 2, Z, 3, Z},
        {4, Z, 5, Z, 6, Z, 7, Z, 4, Z, 5, Z, 6, Z, 7, Z},
        {8, Z, 9, Z, 10, Z, 11, Z, 8, Z, 9, Z, 10, Z, 11, Z},
        {12, Z, 13, Z, 14, Z, 15, Z, 12, Z, 13, Z, 14, Z, 15, Z}};
    const auto transpose = hn::LoadDup128(d8, kTranspose);
    decltype(hn::Zero(d8)) spreadRow[4];
    for (int m = 0; m < 4; ++m) {
        spreadRow[m] = hn::LoadDup128(d8, kRowWeights[m]);
    }
    const auto zero = hn::Zero(d8);
    decltype(hn::Zero(d16)) sharedWeights[4];
    if constexpr (OneFraction) {
        const auto all = hn::LoadDup128(d8, weights.byColumnFraction[plan.fractions.front()]);
        for (int m = 0; m < 4; ++m) {
            sharedWeights[m] = hn::BitCast(d16, hn::TableLookupBytesOr0(all, spreadRow[m]));
        }
    }
    const auto gain = hn::Set(d32, 266);
    const auto opaque = hn::Set(dPixels, 0xFF000000u);
    const StretchColumn* columns = plan.columns.data();
    for (std::int32_t j = plan.interiorFirst; j < plan.interiorEnd; j += kColumns) {
        decltype(hn::Zero(d8)) columnWeights;
        if constexpr (!OneFraction) {
            columnWeights = LoadBlocks(d8, [&](std::size_t k) { return weights.byColumnFraction[columns[j + k].fraction]; });
        }
        auto low0 = hn::Zero(d32);  // blue and green pairs
        auto low1 = hn::Zero(d32);
        auto high0 = hn::Zero(d32);  // red and alpha pairs
        auto high1 = hn::Zero(d32);
        for (int m = 0; m < 4; ++m) {
            const std::uint32_t* source = row.rows[m];
            const auto taps = hn::TableLookupBytes(LoadBlocks(d8, [&](std::size_t k) {
                return reinterpret_cast<const std::uint8_t*>(source + columns[j + k].columns[0]);
            }), transpose);
            decltype(hn::Zero(d16)) w;
            if constexpr (OneFraction) {
                w = sharedWeights[m];
            } else {
                w = hn::BitCast(d16, hn::TableLookupBytesOr0(columnWeights, spreadRow[m]));
            }
            const auto low = hn::BitCast(d16, hn::ZipLower(taps, zero));
            const auto high = hn::BitCast(d16, hn::ZipUpper(d16, taps, zero));
            low0 = hn::ReorderWidenMulAccumulate(d32, low, w, low0, low1);
            high0 = hn::ReorderWidenMulAccumulate(d32, high, w, high0, high1);
        }
        // Per block: blue, green pairs [B01 B23 G01 G23] and red, alpha pairs;
        // interleaved twice they become [B01 G01 R01 A01] and [B23 ...].
        const auto low = hn::RearrangeToOddPlusEven(low0, low1);
        const auto high = hn::RearrangeToOddPlusEven(high0, high1);
        const auto lowerPairs = hn::InterleaveLower(d32, low, high);
        const auto upperPairs = hn::InterleaveUpper(d32, low, high);
        const auto sums = hn::Add(hn::InterleaveLower(d32, lowerPairs, upperPairs),
                                  hn::InterleaveUpper(d32, lowerPairs, upperPairs));
        // (sum * 266) >> 16 clamped to 0..255: no sum is negative, so the
        // saturating narrowing is the clamp.
        const auto scaled = hn::ShiftRight<16>(hn::Mul(sums, gain));
        const auto bytes = hn::DemoteTo(dPixelBytes, scaled);
        hn::StoreU(hn::Or(hn::BitCast(dPixels, bytes), opaque), dPixels, out + j);
    }
}
#endif

void StretchRow(const StretchPlan& plan, const StretchRowSources& row, StretchWeights& weights, std::uint32_t* out)
{
    const auto count = static_cast<std::int32_t>(plan.columns.size());
#if SKELVANE_SIMD_HAS_VECTORS
    if (!row.outside && plan.interiorEnd > plan.interiorFirst) {
        StretchPixels(plan, row, 0, plan.interiorFirst, out);
        PrepareStretchWeights(plan, row.fraction, weights);
        // Whole steps (the halving of a panorama among them) give every
        // column the same fraction.
        if (plan.fractions.size() == 1) {
            StretchInterior<true>(plan, row, weights, out);
        } else {
            StretchInterior<false>(plan, row, weights, out);
        }
        StretchPixels(plan, row, plan.interiorEnd, count, out);
        return;
    }
#else
    (void)weights;
#endif
    StretchPixels(plan, row, 0, count, out);
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(StretchRow);

StretchRowLoop ChooseStretchRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(StretchRow);
}

}  // namespace skelvane
#endif
