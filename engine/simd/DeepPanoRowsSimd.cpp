// The bicubic row loop for deep panoramas (16-bit and float samples): the
// pixels of the one-pixel blend BlendDeepPanoTaps (engine/projection/PanoTaps.h),
// bit for bit, a vector of pixels at a time.
//
// The one-pixel blend sums in double precision, and a float or 16-bit result
// needs all of it to round as it does (a float estimate cannot say which of
// two neighbouring floats a total rounds to), so here each lane of a vector of
// doubles is one pixel, and every operation of the one-pixel blend is done for
// all lanes at once, in its order: the same IEEE arithmetic, lane by lane.
// 1. Positions, wraps, whole parts and fractions are worked out in float lanes
//    as the 8-bit loop works them out (exact for whole parts of 1 and more),
//    the fractions widened to doubles for the kernel.
// 2. A pixel's 4 x 4 neighbourhood is gathered sample by sample, from its top
//    left pixel's offset.
// Pixels whose neighbourhood crosses the panorama's edges, unusual wraps, and
// outside or non-finite entries take the one-pixel blend; so does every pixel
// where there are no vectors.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/DeepPanoRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

// Outside entries and positions that are not finite show as outside the
// disc, as do finite entries whose shifted column overflows (the 8-bit loop's
// rule).
HWY_INLINE bool ShowsOutside(const PanoMapEntry& e, float column)
{
    return (e.x == kPanoOutside && e.y == kPanoOutside) || !std::isfinite(column) || !std::isfinite(e.y);
}

// One pixel through the one-pixel blend; outside, all zeros.
template <class P>
HWY_INLINE void BlendOne(const CImageBuffer& pano, const PanoMapEntry& e, float shift, float period, P* out)
{
    const float column = e.x + shift;
    if (ShowsOutside(e, column)) {
        *out = P{};
        return;
    }
    PanoTapsOf<P> taps;
    LocatePanoTaps(pano, pano_geometry::WrapColumn(column, period), e.y, taps);
    *out = BlendDeepPanoTaps(taps);
}

#if SKELVANE_SIMD_HAS_VECTORS && HWY_HAVE_FLOAT64
using DD = hn::ScalableTag<double>;
using DF = hn::Rebind<float, DD>;
using DI = hn::Rebind<std::int32_t, DD>;
using VD = hn::Vec<DD>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using MF = hn::Mask<DF>;
constexpr std::size_t kLanes = hn::MaxLanes(DD());

// The cubic kernel (a = -1) in double lanes: PanoKernel's polynomials,
// operation for operation.
HWY_INLINE VD Kernel(VD t)
{
    const DD d;
    const VD s = hn::Abs(t);
    const VD inner = hn::Add(hn::Sub(hn::Mul(hn::Mul(s, s), s), hn::Mul(hn::Mul(hn::Set(d, 2.0), s), s)),
                             hn::Set(d, 1.0));
    const VD outer =
        hn::Add(hn::Sub(hn::Add(hn::Mul(hn::Mul(hn::Neg(s), s), s), hn::Mul(hn::Mul(hn::Set(d, 5.0), s), s)),
                        hn::Mul(hn::Set(d, 8.0), s)),
                hn::Set(d, 4.0));
    return hn::IfThenElse(hn::Le(s, hn::Set(d, 1.0)), inner, hn::IfThenElseZero(hn::Le(s, hn::Set(d, 2.0)), outer));
}

// PanoWeightsOf's four weights of fraction f.
HWY_INLINE void KernelWeights(VD f, VD w[4])
{
    const DD d;
    const VD one = hn::Set(d, 1.0);
    const VD two = hn::Set(d, 2.0);
    w[0] = Kernel(hn::Add(f, one));
    w[1] = Kernel(f);
    w[2] = Kernel(hn::Sub(one, f));
    w[3] = Kernel(hn::Sub(two, f));
}

// Where the vectors can read the panorama: four rows and columns at least,
// every sample reachable by a 32-bit offset from row 0.
template <class P>
struct DeepView {
    const PanoSample<P>* origin = nullptr;  // row 0
    std::int32_t stride = 0;                // samples from one row to the next
    bool usable = false;

    explicit DeepView(const CImageBuffer& pano)
    {
        const std::int64_t width = pano.GetWidth();
        const std::int64_t height = pano.GetHeight();
        if (height < 4 || width < 4) {
            return;
        }
        const auto* first = reinterpret_cast<const PanoSample<P>*>(pano.RowOf<P>(0));
        const std::int64_t samples = reinterpret_cast<const PanoSample<P>*>(pano.RowOf<P>(1)) - first;
        const std::int64_t reach = (samples < 0 ? -samples : samples) * height + width * 4;
        if (reach >= (std::int64_t{1} << 31)) {
            return;
        }
        origin = first;
        stride = static_cast<std::int32_t>(samples);
        usable = true;
    }
};

// A pixel's four samples as doubles, one a lane of d4 (blue, green, red, alpha).
template <class D4>
HWY_INLINE hn::Vec<D4> PixelSamples(D4 d4, const float* pixel)
{
    return hn::PromoteTo(d4, hn::LoadU(hn::Rebind<float, D4>(), pixel));
}

template <class D4>
HWY_INLINE hn::Vec<D4> PixelSamples(D4 d4, const std::uint16_t* pixel)
{
    const auto words = hn::LoadU(hn::Rebind<std::uint16_t, D4>(), pixel);
    return hn::PromoteTo(d4, hn::PromoteTo(hn::Rebind<std::int32_t, D4>(), words));
}

// The totals of a pixel's channels rounded as PanoChannelFloat and
// PanoChannel16 round them; the alpha lane is written over by the caller.
template <class D4>
HWY_INLINE void StoreChannels(D4 d4, hn::Vec<D4> totals, float* out)
{
    const auto positive = hn::IfThenElseZero(hn::Gt(totals, hn::Zero(d4)), totals);
    hn::StoreU(hn::DemoteTo(hn::Rebind<float, D4>(), positive), hn::Rebind<float, D4>(), out);
}

template <class D4>
HWY_INLINE void StoreChannels(D4 d4, hn::Vec<D4> totals, std::uint16_t* out)
{
    // Truncation toward zero, then saturation into 0..65535, which is the clamp.
    const auto whole = hn::DemoteTo(hn::Rebind<std::int32_t, D4>(), hn::Add(totals, hn::Set(d4, 0.5)));
    hn::StoreU(hn::DemoteTo(hn::Rebind<std::uint16_t, D4>(), whole), hn::Rebind<std::uint16_t, D4>(), out);
}

// The kernel weights of the pixels of a vector, by lane: what the one-pixel
// blend of lane j reads as weight m is columns[m][j] and rows[m][j].
struct LaneWeights {
    alignas(64) double columns[4][kLanes];
    alignas(64) double rows[4][kLanes];
};

// The one-pixel blend of a pixel whose 4 x 4 neighbourhood lies inside the
// panorama from `corner` on, its channels in lanes: as many at once as a
// vector of doubles holds (four from 256 bits on).
template <class P>
HWY_INLINE void BlendInside(const DeepView<P>& view, const PanoSample<P>* corner, const LaneWeights& w,
                            std::size_t lane, P* out)
{
    const hn::CappedTag<double, 4> d4;
    const std::size_t width = hn::Lanes(d4);
    auto* samples = reinterpret_cast<PanoSample<P>*>(out);
    for (std::size_t first = 0; first < 4; first += width) {
        auto total = hn::Zero(d4);
        for (int k = 0; k < 4; ++k) {
            const PanoSample<P>* row = corner + static_cast<std::ptrdiff_t>(k) * view.stride + first;
            auto sum = hn::Mul(PixelSamples(d4, row), hn::Set(d4, w.columns[0][lane]));
            sum = hn::Add(sum, hn::Mul(PixelSamples(d4, row + 4), hn::Set(d4, w.columns[1][lane])));
            sum = hn::Add(sum, hn::Mul(PixelSamples(d4, row + 8), hn::Set(d4, w.columns[2][lane])));
            sum = hn::Add(sum, hn::Mul(PixelSamples(d4, row + 12), hn::Set(d4, w.columns[3][lane])));
            total = hn::Add(total, hn::Mul(sum, hn::Set(d4, w.rows[k][lane])));
        }
        StoreChannels(d4, total, samples + first);
    }
    samples[3] = std::is_same_v<P, Pixel16> ? PanoSample<P>(65535) : PanoSample<P>(1);
}

// What the vectors work out for kLanes consecutive dome pixels before any of
// them is blended.
struct LanePlan {
    LaneWeights weights;
    alignas(64) std::int32_t corners[kLanes];  // the top left samples, for the lanes inside
    std::uint64_t inside;   // lanes blended here
    std::uint64_t outside;  // lanes outside the disc
    std::uint64_t others;   // lanes left to the one-pixel blend
};

template <class P>
HWY_INLINE void PlanLanes(const CImageBuffer& pano, const DeepView<P>& view, const PanoMapEntry* entries,
                          float shift, float period, LanePlan& plan)
{
    const DD d;
    const DF df;
    const DI di;
    VF x;
    VF y;
    const MF outside = LoadPanoEntries(df, entries, x, y);
    MF fast = hn::Not(outside);

    // The projector's wrap for columns up to three periods (one or two
    // subtractions, as it does them); the others take the one-pixel blend.
    const VF periods = hn::Set(df, period);
    const VF column = hn::Add(x, hn::Set(df, shift));
    const MF above = hn::Gt(column, periods);
    const VF once = hn::Sub(column, periods);
    const MF twiceAbove = hn::And(above, hn::Gt(once, periods));
    const VF twice = hn::Sub(once, periods);
    fast = hn::AndNot(hn::And(twiceAbove, hn::Gt(twice, periods)), fast);
    fast = hn::And(fast, hn::Ge(column, hn::Zero(df)));
    const VF xs = hn::IfThenElse(twiceAbove, twice, hn::IfThenElse(above, once, column));

    // Whole parts of at least 1 make the float fractions exact; the 4 x 4
    // neighbourhood must lie inside the panorama (no edge clamping).
    const VF floorX = hn::Floor(xs);
    const VF floorY = hn::Floor(y);
    const VF one = hn::Set(df, 1.0f);
    fast = hn::And(fast, hn::And(hn::Ge(floorX, one),
                                 hn::Le(floorX, hn::Set(df, static_cast<float>(pano.GetWidth() - 3)))));
    fast = hn::And(fast, hn::And(hn::Ge(floorY, one),
                                 hn::Le(floorY, hn::Set(df, static_cast<float>(pano.GetHeight() - 3)))));

    plan.inside = LaneBits(DF(), fast);
    plan.outside = LaneBits(DF(), outside);
    plan.others = LaneBits(DF(), hn::Not(hn::Or(fast, outside)));
    if (!plan.inside) {
        return;
    }
    VD weights[4];
    KernelWeights(hn::PromoteTo(d, hn::Sub(xs, floorX)), weights);
    for (int m = 0; m < 4; ++m) {
        hn::Store(weights[m], d, plan.weights.columns[m]);
    }
    KernelWeights(hn::PromoteTo(d, hn::Sub(y, floorY)), weights);
    for (int m = 0; m < 4; ++m) {
        hn::Store(weights[m], d, plan.weights.rows[m]);
    }
    const VI minusOne = hn::Set(di, -1);
    const VI corner = hn::Add(hn::Mul(hn::Add(hn::ConvertTo(di, floorY), minusOne), hn::Set(di, view.stride)),
                              hn::ShiftLeft<2>(hn::Add(hn::ConvertTo(di, floorX), minusOne)));
    hn::Store(corner, di, plan.corners);
}

// Asks for the cache lines the plan's pixels will read: the panorama is far
// larger than the caches, and a pixel's four rows lie a whole row apart, so
// the processor's own prefetching does not see them coming.
template <class P>
HWY_INLINE void FetchLanes(const DeepView<P>& view, const LanePlan& plan)
{
    for (std::uint64_t rest = plan.inside; rest; rest &= rest - 1) {
        const PanoSample<P>* corner = view.origin + plan.corners[__builtin_ctzll(rest)];
        for (int k = 0; k < 4; ++k) {
            const PanoSample<P>* row = corner + static_cast<std::ptrdiff_t>(k) * view.stride;
            hwy::Prefetch(row);
            hwy::Prefetch(row + 15);
        }
    }
}

template <class P>
HWY_INLINE void BlendLanes(const CImageBuffer& pano, const DeepView<P>& view, const LanePlan& plan,
                           const PanoMapEntry* entries, float shift, float period, P* out)
{
    for (std::uint64_t rest = plan.inside; rest; rest &= rest - 1) {
        const int lane = __builtin_ctzll(rest);
        BlendInside(view, view.origin + plan.corners[lane], plan.weights, static_cast<std::size_t>(lane),
                    out + lane);
    }
    for (std::uint64_t rest = plan.outside; rest; rest &= rest - 1) {
        out[__builtin_ctzll(rest)] = P{};
    }
    for (std::uint64_t rest = plan.others; rest; rest &= rest - 1) {
        const int lane = __builtin_ctzll(rest);
        BlendOne(pano, entries[lane], shift, period, out + lane);
    }
}

// Plans run this many vectors of pixels ahead of the blend, so that the lines
// they fetch have arrived when the blend reads them.
constexpr std::int32_t kPlansAhead = 2;
#endif

template <class P>
HWY_INLINE void BlendDeepRow(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                             float period, P* out)
{
    std::int32_t j = 0;
#if SKELVANE_SIMD_HAS_VECTORS && HWY_HAVE_FLOAT64
    const DeepView<P> view(pano);
    const std::int32_t vectors = view.usable ? count / static_cast<std::int32_t>(kLanes) : 0;
    LanePlan plans[kPlansAhead + 1];
    auto plan = [&](std::int32_t v) -> LanePlan& { return plans[v % (kPlansAhead + 1)]; };
    for (std::int32_t v = 0; v < std::min(vectors, kPlansAhead); ++v) {
        PlanLanes(pano, view, entries + v * kLanes, shift, period, plan(v));
        FetchLanes(view, plan(v));
    }
    for (std::int32_t v = 0; v < vectors; ++v) {
        if (const std::int32_t ahead = v + kPlansAhead; ahead < vectors) {
            PlanLanes(pano, view, entries + ahead * kLanes, shift, period, plan(ahead));
            FetchLanes(view, plan(ahead));
        }
        BlendLanes(pano, view, plan(v), entries + v * kLanes, shift, period, out + v * kLanes);
    }
    j = vectors * static_cast<std::int32_t>(kLanes);
#endif
    for (; j < count; ++j) {
        BlendOne(pano, entries[j], shift, period, out + j);
    }
}

}  // namespace

void BlendPanoFramesRow16(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                          const float* shifts, std::int32_t frames, float period, Pixel16* const* out)
{
    for (std::int32_t f = 0; f < frames; ++f) {
        BlendDeepRow(pano, entries, count, shifts[f], period, out[f]);
    }
}

void BlendPanoFramesRowFloat(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                             const float* shifts, std::int32_t frames, float period, PixelF* const* out)
{
    for (std::int32_t f = 0; f < frames; ++f) {
        BlendDeepRow(pano, entries, count, shifts[f], period, out[f]);
    }
}

void BlendPanoRow16(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                    float period, Pixel16* out)
{
    BlendDeepRow(pano, entries, count, shift, period, out);
}

void BlendPanoRowFloat(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                       float period, PixelF* out)
{
    BlendDeepRow(pano, entries, count, shift, period, out);
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(BlendPanoRow16);
HWY_EXPORT(BlendPanoRowFloat);
HWY_EXPORT(BlendPanoFramesRow16);
HWY_EXPORT(BlendPanoFramesRowFloat);

PanoRowLoopOf<Pixel16> ChoosePanoRow16Loop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoRow16);
}

PanoRowLoopOf<PixelF> ChoosePanoRowFloatLoop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoRowFloat);
}

PanoFramesRowLoopOf<Pixel16> ChoosePanoFramesRow16Loop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoFramesRow16);
}

PanoFramesRowLoopOf<PixelF> ChoosePanoFramesRowFloatLoop()
{
    return SKELVANE_CHOOSE_LOOP(BlendPanoFramesRowFloat);
}

}  // namespace skelvane
#endif
