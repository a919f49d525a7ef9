// The bicubic row loop: the pixels of the one-pixel blend
// (engine/projection/PanoTaps.h), bit for bit, made a vector at a time.
//
// The one-pixel blend works in double precision. Here:
// 1. A vector of pixels is estimated at once in single precision: column (the
//    position plus the pan shift, wrapped as the one-pixel loop wraps it),
//    whole parts and fractions (exact in single precision for whole parts of
//    1 and more), the cubic weights, and each pixel's 4 x 4 neighbourhood
//    read as four 16-byte loads.
// 2. The estimate's error is below 1/1024, so every channel total further
//    than that from a rounding step rounds as the double-precision total
//    does. The other pixels (about one in a hundred), those at the
//    panorama's edges, unusual wraps and non-finite or outside entries take
//    the exact path: the one-pixel blend's arithmetic, operation for
//    operation, with a pixel's channels in the lanes of one vector of
//    doubles.
// Where there are no vectors every pixel takes the one-pixel blend.
//
// Deep panoramas (16-bit and float samples) have a loop of their own
// (engine/simd/DeepPanoRowsSimd.cpp).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/PanoRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "engine/projection/PanoTaps.h"
#include "engine/simd/ChooseLoop.h"
#include "engine/simd/PanoEntryLanes.h"
#include "engine/simd/PanoRowsSimd.h"
#include "engine/simd/VectorBlocks.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {
namespace {

// Vectors of four doubles at least (AVX2, AVX-512) hold a pixel's channels;
// narrower ones blend it one channel at a time.
#if SKELVANE_SIMD_HAS_VECTORS && HWY_MAX_BYTES >= 32
using D4 = hn::CappedTag<double, 4>;

// The cubic kernel in double lanes: the one-pixel blend's polynomials,
// operation for operation.
HWY_INLINE hn::Vec<D4> KernelLanes(hn::Vec<D4> t)
{
    const D4 d;
    const auto s = hn::Abs(t);
    const auto inner =
        hn::Add(hn::Sub(hn::Mul(hn::Mul(s, s), s), hn::Mul(hn::Mul(hn::Set(d, 2.0), s), s)), hn::Set(d, 1.0));
    const auto outer = hn::Add(hn::Sub(hn::Add(hn::Mul(hn::Mul(hn::Neg(s), s), s), hn::Mul(hn::Mul(hn::Set(d, 5.0), s), s)),
                                       hn::Mul(hn::Set(d, 8.0), s)),
                               hn::Set(d, 4.0));
    return hn::IfThenElse(hn::Le(s, hn::Set(d, 1.0)), inner, hn::IfThenElseZero(hn::Le(s, hn::Set(d, 2.0)), outer));
}

// f + 1, f, 1 - f, 2 - f: the kernel's arguments for the four taps.
HWY_INLINE hn::Vec<D4> TapDistances(double f)
{
    const D4 d;
    const hn::Half<D4> half;
    return hn::Combine(d, hn::InterleaveLower(half, hn::Set(half, 1.0 - f), hn::Set(half, 2.0 - f)),
                       hn::InterleaveLower(half, hn::Set(half, f + 1.0), hn::Set(half, f)));
}

// Lane k of `weights` in every lane.
HWY_INLINE hn::Vec<D4> SpreadLane(hn::Vec<D4> weights, std::int64_t k)
{
    return hn::TableLookupLanes(weights, hn::SetTableIndices(D4(), std::array<std::int64_t, 4>{k, k, k, k}.data()));
}

// The four column and four row weights of fractions fx and fy, each in every
// lane of its own vector: the one-pixel blend's kernel, lane by lane.
HWY_INLINE void SpreadWeights(double fx, double fy, hn::Vec<D4> columns[4], hn::Vec<D4> rows[4])
{
    const auto columnWeights = KernelLanes(TapDistances(fx));
    const auto rowWeights = KernelLanes(TapDistances(fy));
    for (int k = 0; k < 4; ++k) {
        columns[k] = SpreadLane(columnWeights, k);
        rows[k] = SpreadLane(rowWeights, k);
    }
}

// The one-pixel blend with the three channels in the lanes of one vector
// (blue, green, red, and alpha, which is thrown away). Lane by lane it is the
// same IEEE double arithmetic in the same order, so the pixels are the same
// bit for bit.
HWY_INLINE std::uint32_t BlendExact(const PanoTaps& taps)
{
    const D4 d;
    const hn::Rebind<std::int32_t, D4> d32;
    const hn::Rebind<std::uint8_t, D4> d8;
    hn::Vec<D4> w[4];
    hn::Vec<D4> rowWeights[4];
    SpreadWeights(taps.fx, taps.fy, w, rowWeights);
    auto total = hn::Zero(d);
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t* row = taps.rows[k];
        auto channels = [&](int c) {
            return hn::PromoteTo(d, hn::PromoteTo(d32, hn::LoadU(d8, reinterpret_cast<const std::uint8_t*>(
                                                                        row + taps.columns[c]))));
        };
        auto rowSum = hn::Mul(channels(0), w[0]);
        rowSum = hn::Add(rowSum, hn::Mul(channels(1), w[1]));
        rowSum = hn::Add(rowSum, hn::Mul(channels(2), w[2]));
        rowSum = hn::Add(rowSum, hn::Mul(channels(3), w[3]));
        total = hn::Add(total, hn::Mul(rowSum, rowWeights[k]));
    }
    // Truncation toward zero, then saturation into 0..255 on the way
    // down to bytes, which is the clamp.
    const auto whole = hn::DemoteTo(d32, hn::Add(total, hn::Set(d, 0.5)));
    const auto bytes = hn::DemoteTo(d8, whole);
    const hn::Repartition<std::uint32_t, decltype(d8)> dWord;
    return hn::GetLane(hn::BitCast(dWord, bytes)) | 0xFF000000u;
}
#else
HWY_INLINE std::uint32_t BlendExact(const PanoTaps& taps)
{
    return BlendPanoTaps(taps);
}
#endif

// Outside entries and positions that are not finite show as outside the
// disc. A finite entry whose shifted column overflows (a pan far beyond any
// turn) does too, as the direct renderer shows such a column, rather than
// wrapping into not-a-number.
HWY_INLINE bool ShowsOutside(const PanoMapEntry& e, float column)
{
    return (e.x == kPanoOutside && e.y == kPanoOutside) || !std::isfinite(column) || !std::isfinite(e.y);
}

// One pixel through the one-pixel blend; outside, transparent black.
HWY_INLINE void BlendOne(const CImageBuffer& pano, const PanoMapEntry& e, float shift, float period,
                         std::uint32_t* out)
{
    const float column = e.x + shift;
    if (ShowsOutside(e, column)) {
        *out = 0x00000000u;
        return;
    }
    PanoTaps taps;
    LocatePanoTaps(pano, pano_geometry::WrapColumn(column, period), e.y, taps);
    *out = BlendExact(taps);
}

#if SKELVANE_SIMD_HAS_VECTORS
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DU = hn::RebindToUnsigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using VU = hn::Vec<DU>;
using MF = hn::Mask<DF>;
constexpr std::size_t kLanes = hn::MaxLanes(DF());

// The fast estimate: kLanes pixels at a time in single precision, whose
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
struct CubicWeights {
    VF w[4];

    HWY_INLINE explicit CubicWeights(VF f)
    {
        const DF df;
        const VF one = hn::Set(df, 1.0f);
        const VF g = hn::Sub(one, f);
        w[0] = hn::Neg(hn::Mul(f, hn::Mul(g, g)));
        w[1] = hn::Neg(hn::Mul(g, hn::Sub(hn::Sub(hn::Mul(f, f), f), one)));
        w[2] = hn::Neg(hn::Mul(f, hn::Sub(hn::Sub(hn::Mul(g, g), g), one)));
        w[3] = hn::Neg(hn::Mul(g, hn::Mul(f, f)));
    }
};

// Truncation toward zero of values known to fit in 32 bits. Highway's
// ConvertTo also saturates values that do not fit, which costs four more
// instructions a vector on x86; here every lane that could overflow is masked
// out afterwards.
HWY_INLINE VI TruncateInRange(VF v)
{
#if HWY_TARGET == HWY_AVX2
    return VI{_mm256_cvttps_epi32(v.raw)};
#elif HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    return VI{_mm512_cvttps_epi32(v.raw)};
#else
    return hn::ConvertTo(DI(), v);
#endif
}

// Byte `channel` of every lane as a float.
HWY_INLINE VF Channel(VU pixels, int channel)
{
    const DF df;
    const DU du;
    const hn::Repartition<std::uint8_t, DU> d8;
    constexpr std::uint8_t Z = 0x80;
    alignas(16) static constexpr std::uint8_t kPick[3][16] = {
        {0, Z, Z, Z, 4, Z, Z, Z, 8, Z, Z, Z, 12, Z, Z, Z},
        {1, Z, Z, Z, 5, Z, Z, Z, 9, Z, Z, Z, 13, Z, Z, Z},
        {2, Z, Z, Z, 6, Z, Z, Z, 10, Z, Z, Z, 14, Z, Z, Z}};
    const auto bytes = hn::TableLookupBytesOr0(hn::BitCast(d8, pixels), hn::LoadDup128(d8, kPick[channel]));
    return hn::ConvertTo(df, hn::BitCast(DI(), hn::BitCast(du, bytes)));
}

// One row of the 4 x 4 neighbourhoods of kLanes pixels: taps[c] holds the
// c-th of the four consecutive panorama pixels of every lane, each lane's
// four one 16-byte load.
HWY_INLINE void LoadTaps(const std::uint32_t* row, const std::int32_t* offsets, VU taps[4])
{
    const hn::Full128<std::uint32_t> block;
    TransposeQuads(DU(), [&](std::size_t lane) { return hn::LoadU(block, row + offsets[lane]); }, taps);
}

// Rounds the three channel totals as the one-pixel blend does; clears from
// `fast` every lane whose rounding the estimate cannot vouch for.
HWY_INLINE VU RoundChannels(const VF totals[3], MF& fast)
{
    const DF df;
    const DI di;
    const DU du;
    VU packed = hn::Set(du, 0xFF000000u);
    for (int c = 0; c < 3; ++c) {
        const VF t = hn::Add(totals[c], hn::Set(df, 0.5f));
        const VF distance = hn::Abs(hn::Sub(t, hn::Round(t)));
        fast = hn::And(fast, hn::Ge(distance, hn::Set(df, kAmbiguity)));
        const VI channel = hn::Min(hn::Max(TruncateInRange(t), hn::Zero(di)), hn::Set(di, 255));
        packed = hn::Or(packed, hn::ShiftLeftSame(hn::BitCast(du, channel), 8 * c));
    }
    return packed;
}

// What the frames of kLanes consecutive entries share: their columns before
// the shift and all that depends on their rows alone.
struct LaneRows {
    VF x;
    MF outside;  // transparent black in every frame
    MF fast;     // lanes whose 4 x 4 rows lie inside the panorama
    CubicWeights wy;
    VI rowIndex;  // of the neighbourhood's top row
};

HWY_INLINE LaneRows PlaceRows(const CImageBuffer& pano, const WideView& view, const PanoMapEntry* entries)
{
    const DF df;
    const DI di;
    VF x;
    VF y;
    // Outside the circle and non-finite entries are transparent black, as in
    // BlendOne; any other lane left out of `fast` goes through BlendOne.
    const MF outside = LoadPanoEntries(df, entries, x, y);
    // Whole parts of at least 1 make the float fractions exact; the 4 x 4
    // neighbourhood must lie inside the panorama (no edge clamping).
    const VF floorY = hn::Floor(y);
    const MF fast = hn::AndNot(outside, hn::And(hn::Ge(floorY, hn::Set(df, 1.0f)),
                                                hn::Le(floorY, hn::Set(df, static_cast<float>(pano.GetHeight() - 3)))));
    const VI rowIndex = hn::Mul(hn::Add(TruncateInRange(floorY), hn::Set(di, -1)), hn::Set(di, view.strideWords));
    return {x, outside, fast, CubicWeights(hn::Sub(y, floorY)), rowIndex};
}

// kLanes consecutive dome pixels of the frame shifted by `shift`; the lanes
// the estimate cannot take go through the one-pixel blend.
HWY_INLINE void BlendLanes(const CImageBuffer& pano, const WideView& view, const PanoMapEntry* entries,
                           const LaneRows& rows, float shift, float period, std::uint32_t* out)
{
    const DF df;
    const DI di;
    const DU du;

    // The projector's wrap for columns up to three periods (one or two
    // subtractions, as it does them); the others take the one-pixel blend.
    const VF periods = hn::Set(df, period);
    const VF column = hn::Add(rows.x, hn::Set(df, shift));
    const MF above = hn::Gt(column, periods);
    const VF once = hn::Sub(column, periods);
    const MF twiceAbove = hn::And(above, hn::Gt(once, periods));
    const VF twice = hn::Sub(once, periods);
    MF fast = hn::AndNot(hn::And(twiceAbove, hn::Gt(twice, periods)), rows.fast);
    fast = hn::And(fast, hn::Ge(column, hn::Zero(df)));
    const VF xs = hn::IfThenElse(twiceAbove, twice, hn::IfThenElse(above, once, column));

    const VF floorX = hn::Floor(xs);
    fast = hn::And(fast, hn::And(hn::Ge(floorX, hn::Set(df, 1.0f)),
                                 hn::Le(floorX, hn::Set(df, static_cast<float>(pano.GetWidth() - 3)))));

    VU pixels = hn::Zero(du);
    if (!hn::AllFalse(df, fast)) {
        const CubicWeights wx(hn::Sub(xs, floorX));
        const VI index = hn::Add(rows.rowIndex, hn::Add(TruncateInRange(floorX), hn::Set(di, -1)));
        // Lanes left to the one-pixel blend read the panorama's first pixels.
        alignas(64) std::int32_t offsets[kLanes];
        hn::Store(hn::IfThenElseZero(hn::RebindMask(di, fast), index), di, offsets);
        VF totals[3] = {hn::Zero(df), hn::Zero(df), hn::Zero(df)};
        for (int k = 0; k < 4; ++k) {
            VU taps[4];
            LoadTaps(view.origin + static_cast<std::ptrdiff_t>(k) * view.strideWords, offsets, taps);
            VF sums[3] = {hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            for (int c = 0; c < 4; ++c) {
                for (int ch = 0; ch < 3; ++ch) {
                    sums[ch] = hn::MulAdd(wx.w[c], Channel(taps[c], ch), sums[ch]);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                totals[ch] = hn::MulAdd(rows.wy.w[k], sums[ch], totals[ch]);
            }
        }
        const VU rounded = RoundChannels(totals, fast);
        pixels = hn::IfThenElseZero(hn::RebindMask(du, fast), rounded);
    }
    // Every lane is stored; those of the one-pixel blend are written over below.
    hn::StoreU(pixels, du, out);

    for (std::uint64_t rest = LaneBits(DF(), hn::Not(hn::Or(fast, rows.outside))); rest; rest &= rest - 1) {
        const int lane = __builtin_ctzll(rest);
        BlendOne(pano, entries[lane], shift, period, out + lane);
    }
}
#endif

}  // namespace

// Count is std::int32_t, or a constant for the one-frame loop of every other
// render, which then keeps to its registers as it did before frames shared
// their rows.
template <class Count>
HWY_INLINE void BlendFramesRow(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                               const float* shifts, Count frames, float period, std::uint32_t* const* out)
{
    std::int32_t j = 0;
#if SKELVANE_SIMD_HAS_VECTORS
    const WideView view = MakeWideView(pano);
    if (view.usable) {
        for (; j + static_cast<std::int32_t>(kLanes) <= count; j += kLanes) {
            const LaneRows rows = PlaceRows(pano, view, entries + j);
            for (std::int32_t f = 0; f < frames; ++f) {
                BlendLanes(pano, view, entries + j, rows, shifts[f], period, out[f] + j);
            }
        }
    }
#endif
    for (std::int32_t f = 0; f < frames; ++f) {
        for (std::int32_t k = j; k < count; ++k) {
            BlendOne(pano, entries[k], shifts[f], period, out[f] + k);
        }
    }
}

void BlendPanoFramesRow(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                        const float* shifts, std::int32_t frames, float period, std::uint32_t* const* out)
{
    if (frames == 1) {
        BlendFramesRow(pano, entries, count, shifts, std::integral_constant<std::int32_t, 1>(), period, out);
    } else {
        BlendFramesRow(pano, entries, count, shifts, frames, period, out);
    }
}

void BlendPanoRow(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                  float period, std::uint32_t* out)
{
    BlendFramesRow(pano, entries, count, &shift, std::integral_constant<std::int32_t, 1>(), period, &out);
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(BlendPanoRow);
HWY_EXPORT(BlendPanoFramesRow);

PanoRowLoop ChoosePanoRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoRow);
}

PanoFramesRowLoopOf<std::uint32_t> ChoosePanoFramesRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoFramesRow);
}

}  // namespace skelvane
#endif
