// The estimate-and-verify bicubic loop of engine/simd/PanoRowsAvx512.h and
// engine/simd/PanoRowsAvx2.h, written once for any number of lanes.
//
// Included only by the files of those loops, each after defining
// SKELVANE_LANES_TARGET (the processor features its functions are compiled
// for) and with a lanes type `L` of that width:
//   L::kCount                    lanes
//   L::F, L::I                   float and int32 vectors; masks are lane bits
//   L::Set, Add, Sub, Mul, MulAdd, Floor, Nearest, Abs, Truncate, Select
//   L::Compare<predicate>        the _CMP_* predicate, as lane bits
//   L::LoadPositions, NotFinite, StoreInts, Store, LoadTaps, Channel
// and an exact path `Exact` with Add(pano, column, row, out) and Flush(),
// which must write *out, at the latest on Flush, as the one-pixel blend would.
#pragma once

#ifndef SKELVANE_LANES_TARGET
#error "define SKELVANE_LANES_TARGET before including engine/simd/PanoBlendLanes.h"
#endif

#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"

#define SKELVANE_INLINE inline __attribute__((always_inline))

namespace skelvane {
namespace {

struct RowFrame {
    const CImageBuffer& pano;
    float shift;
    float period;
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

template <class Exact>
SKELVANE_LANES_TARGET SKELVANE_INLINE void RenderOne(const RowFrame& frame, const PanoMapEntry& e,
                                                     std::uint32_t* out, Exact& exact)
{
    if (!IsInside(e)) {
        *out = 0x00000000u;
        return;
    }
    exact.Add(frame.pano, WrappedColumn(e.x, frame.shift, frame.period), e.y, out);
}

// The fast estimate: L::kCount pixels at a time in single precision, whose
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

inline WideView MakeWideView(const CImageBuffer& pano)
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
template <class L>
struct CubicWeights {
    typename L::F w[4];

    SKELVANE_LANES_TARGET SKELVANE_INLINE explicit CubicWeights(typename L::F f)
    {
        const auto one = L::Set(1.0f);
        const auto zero = L::Set(0.0f);
        const auto g = L::Sub(one, f);
        w[0] = L::Sub(zero, L::Mul(f, L::Mul(g, g)));
        w[1] = L::Sub(zero, L::Mul(g, L::Sub(L::Sub(L::Mul(f, f), f), one)));
        w[2] = L::Sub(zero, L::Mul(f, L::Sub(L::Sub(L::Mul(g, g), g), one)));
        w[3] = L::Sub(zero, L::Mul(g, L::Mul(f, f)));
    }
};

// Rounds the three channel totals as the exact path does; clears from `fast`
// every lane whose rounding the estimate cannot vouch for.
template <class L>
SKELVANE_LANES_TARGET SKELVANE_INLINE typename L::I RoundChannels(const typename L::F totals[3], unsigned& fast)
{
    auto packed = L::Set(static_cast<std::int32_t>(0xFF000000u));
    for (int c = 0; c < 3; ++c) {
        const auto t = L::Add(totals[c], L::Set(0.5f));
        const auto distance = L::Abs(L::Sub(t, L::Nearest(t)));
        fast &= L::template Compare<_CMP_GE_OQ>(distance, L::Set(kAmbiguity));
        packed = L::Or(packed, L::ShiftLeft(L::Clamp255(L::Truncate(t)), 8 * c));
    }
    return packed;
}

// L::kCount consecutive dome pixels; the lanes the estimate cannot take go
// through `exact`.
template <class L, class Exact>
SKELVANE_LANES_TARGET SKELVANE_INLINE void RenderLanes(const RowFrame& frame, const WideView& view,
                                                       const PanoMapEntry* entries, std::uint32_t* out,
                                                       Exact& exact)
{
    using F = typename L::F;
    constexpr unsigned kAll = (1u << L::kCount) - 1;
    F x;
    F y;
    L::LoadPositions(entries, x, y);

    // Outside the circle and non-finite entries are transparent black, as in
    // RenderOne; any other lane left out of `fast` goes through RenderOne.
    const F marker = L::Set(kPanoOutside);
    const unsigned outside = L::NotFinite(x) | L::NotFinite(y) |
                             (L::template Compare<_CMP_EQ_OQ>(x, marker) & L::template Compare<_CMP_EQ_OQ>(y, marker));
    unsigned fast = kAll & ~outside;

    // The projector's wrap for columns up to three periods (one or two
    // subtractions, as it does them); the others take the exact path.
    const F period = L::Set(frame.period);
    const F column = L::Add(x, L::Set(frame.shift));
    const unsigned above = L::template Compare<_CMP_GT_OQ>(column, period);
    const F once = L::Sub(column, period);
    const unsigned twiceAbove = above & L::template Compare<_CMP_GT_OQ>(once, period);
    const F twice = L::Sub(once, period);
    fast &= ~(twiceAbove & L::template Compare<_CMP_GT_OQ>(twice, period));
    fast &= L::template Compare<_CMP_GE_OQ>(column, L::Set(0.0f));
    const F xs = L::Select(twiceAbove, L::Select(above, column, once), twice);

    // Whole parts of at least 1 make the float fractions exact; the 4 x 4
    // neighbourhood must lie inside the panorama (no edge clamping).
    const F floorX = L::Floor(xs);
    const F floorY = L::Floor(y);
    const F one = L::Set(1.0f);
    fast &= L::template Compare<_CMP_GE_OQ>(floorX, one) &
            L::template Compare<_CMP_LE_OQ>(floorX, L::Set(static_cast<float>(frame.pano.GetWidth() - 3))) &
            L::template Compare<_CMP_GE_OQ>(floorY, one) &
            L::template Compare<_CMP_LE_OQ>(floorY, L::Set(static_cast<float>(frame.pano.GetHeight() - 3)));

    auto pixels = L::Set(0);
    if (fast) {
        const CubicWeights<L> wx(L::Sub(xs, floorX));
        const CubicWeights<L> wy(L::Sub(y, floorY));
        const auto minusOne = L::Set(-1);
        const auto index = L::Add(L::Mullo(L::Add(L::Truncate(floorY), minusOne), L::Set(view.strideWords)),
                                  L::Add(L::Truncate(floorX), minusOne));
        // Lanes left to the exact path read the panorama's first pixels.
        alignas(64) std::int32_t offsets[L::kCount];
        L::StoreInts(offsets, L::Select(fast, L::Set(0), index));
        F totals[3] = {L::Set(0.0f), L::Set(0.0f), L::Set(0.0f)};
        for (int k = 0; k < 4; ++k) {
            typename L::I taps[4];
            L::LoadTaps(view.origin + static_cast<std::ptrdiff_t>(k) * view.strideWords, offsets, taps);
            F rows[3] = {L::Set(0.0f), L::Set(0.0f), L::Set(0.0f)};
            for (int c = 0; c < 4; ++c) {
                for (int ch = 0; ch < 3; ++ch) {
                    rows[ch] = L::MulAdd(wx.w[c], L::Channel(taps[c], ch), rows[ch]);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                totals[ch] = L::MulAdd(wy.w[k], rows[ch], totals[ch]);
            }
        }
        const auto rounded = RoundChannels<L>(totals, fast);
        pixels = L::Select(fast, L::Set(0), rounded);
    }
    // Every lane is stored; those of the exact path are written over below.
    L::Store(out, pixels);

    for (unsigned rest = kAll & ~(fast | outside); rest; rest &= rest - 1) {
        const int lane = __builtin_ctz(rest);
        RenderOne(frame, entries[lane], out + lane, exact);
    }
}

// `count` consecutive dome pixels, L::kCount at a time where the panorama
// allows it.
template <class L, class Exact>
SKELVANE_LANES_TARGET SKELVANE_INLINE void BlendPanoRowLanes(const CImageBuffer& pano, const PanoMapEntry* entries,
                                                             std::int32_t count, float shift, float period,
                                                             std::uint32_t* out, Exact& exact)
{
    const RowFrame frame{pano, shift, period};
    const WideView view = MakeWideView(pano);
    std::int32_t j = 0;
    if (view.usable) {
        for (; j + L::kCount <= count; j += L::kCount) {
            RenderLanes<L>(frame, view, entries + j, out + j, exact);
        }
    }
    for (; j < count; ++j) {
        RenderOne(frame, entries[j], out + j, exact);
    }
    exact.Flush();
}

}  // namespace
}  // namespace skelvane
