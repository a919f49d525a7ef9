// The filtered and supersampled cube dome loops (engine/projection/CubeSampleRows.h):
// a vector of dome pixels at a time, each pixel's sub-samples one after the
// other, so that the sums stay in registers. The same code runs on every
// target, down to one lane where there are no vectors.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/CubeSampleRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/projection/CubeDomeProjector.h"
#include "engine/simd/ChooseLoop.h"
#include "engine/simd/CubeSampleRowsSimd.h"
#include "engine/simd/VectorBlocks.h"
#include "engine/simd/FisheyeLanes.h"

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {
namespace {

using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DU = hn::RebindToUnsigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using VU = hn::Vec<DU>;
using MF = hn::Mask<DF>;
constexpr std::size_t kLanes = hn::MaxLanes(DF());

// Where sub-samples fall: the face, the position on it, and whether they lie
// inside the circle.
struct Located {
    VI face;
    VF u;
    VF v;
    MF inside;
};

// Steps 1 to 3 for sub-samples dx face units right of the centre on the row
// dy below it.
HWY_INLINE Located Locate(const CubeSampleView& view, VF dx, VF dy, VF dySquared)
{
    const DF df;
    const DI di;
    const VF distanceSquared = hn::Add(hn::Mul(dx, dx), dySquared);
    const VF t = hn::Mul(hn::Set(df, view.thetaSquaredPerUnit), distanceSquared);
    const VF across = hn::Mul(hn::Set(df, view.reach), SinOverRoot(t));
    const VF R = hn::Set(df, view.halfFace);
    const VF x = hn::Mul(across, dx);
    const VF y = hn::Mul(across, dy);
    const VF z = hn::Mul(R, CosOfRoot(t));

    const VF cosTilt = hn::Set(df, view.cosTilt);
    const VF sinTilt = hn::Set(df, view.sinTilt);
    const VF cosPan = hn::Set(df, view.cosPan);
    const VF sinPan = hn::Set(df, view.sinPan);
    const VF tiltedY = hn::Sub(hn::Mul(y, cosTilt), hn::Mul(z, sinTilt));
    const VF tiltedZ = hn::Add(hn::Mul(z, cosTilt), hn::Mul(y, sinTilt));
    const VF X = hn::Add(hn::Mul(x, cosPan), hn::Mul(tiltedZ, sinPan));
    const VF Y = tiltedY;
    const VF Z = hn::Sub(hn::Mul(tiltedZ, cosPan), hn::Mul(x, sinPan));

    const VF ax = hn::Abs(X);
    const VF ay = hn::Abs(Y);
    const VF az = hn::Abs(Z);
    const MF alongX = hn::And(hn::Ge(ax, ay), hn::Ge(ax, az));
    const MF alongY = hn::AndNot(alongX, hn::Ge(ay, az));
    VF major = hn::IfThenElse(alongX, X, hn::IfThenElse(alongY, Y, Z));
    const VF uComponent = hn::IfThenElse(alongX, Z, X);
    const VF vComponent = hn::IfThenElse(alongY, Z, Y);
    const MF negative = hn::Lt(major, hn::Zero(df));
    // The series never give the zero direction; should rounding ever do so,
    // the sample reads the middle of a face instead of dividing by zero.
    major = hn::IfThenElse(hn::Eq(major, hn::Zero(df)), hn::Set(df, 1.0f), major);
    const VF q = hn::Div(R, major);
    const VF qu = hn::Mul(q, uComponent);
    const VF qv = hn::Mul(q, vComponent);
    // As the face map has them: u runs against its component on Left, Right
    // and Top, v with its component on Right and Front only.
    const MF uAgainst = hn::Or(alongX, hn::And(alongY, negative));
    const MF vWith = hn::Not(hn::Or(alongY, negative));

    Located at;
    at.u = hn::Add(R, hn::IfThenElse(uAgainst, hn::Neg(qu), qu));
    at.v = hn::Add(R, hn::IfThenElse(vWith, qv, hn::Neg(qv)));
    const auto negativeI = hn::RebindMask(di, negative);
    at.face = hn::IfThenElse(
        hn::RebindMask(di, alongX), hn::IfThenElse(negativeI, hn::Set(di, Left), hn::Set(di, Right)),
        hn::IfThenElse(hn::RebindMask(di, alongY), hn::IfThenElse(negativeI, hn::Set(di, Top), hn::Set(di, Bottom)),
                       hn::IfThenElse(negativeI, hn::Set(di, Back), hn::Set(di, Front))));
    at.inside = hn::Le(distanceSquared, hn::Set(df, view.radiusSquared));
    return at;
}

// The first texel of each lane's tap window: nearest rounds, the others
// start at the texel below the position (bicubic one further).
template <CubeFilter kFilter>
HWY_INLINE VF WindowStart(VF position)
{
    const DF df;
    if constexpr (kFilter == CubeFilter::Nearest) {
        return hn::Floor(hn::Add(position, hn::Set(df, 0.5f)));
    } else if constexpr (kFilter == CubeFilter::Bilinear) {
        return hn::Floor(position);
    } else {
        return hn::Sub(hn::Floor(position), hn::Set(df, 1.0f));
    }
}

// The per-face entries of CubeSampleSources as lane tables.
struct FaceTables {
    explicit FaceTables(const CubeSampleSources& sources)
        : origin(sources.origin), pitch(sources.pitch), lowX(sources.lowX), highX(sources.highX),
          lowY(sources.lowY), highY(sources.highY)
    {
    }

    // Where each lane's window starts in the block, and the lane's pitch.
    HWY_INLINE VI Window(VI face, VF firstX, VF firstY, VI& rowPitch) const
    {
        const DI di;
        const VI x = hn::Min(hn::Max(hn::ConvertTo(di, firstX), lowX.Lookup(face)), highX.Lookup(face));
        const VI y = hn::Min(hn::Max(hn::ConvertTo(di, firstY), lowY.Lookup(face)), highY.Lookup(face));
        rowPitch = pitch.Lookup(face);
        return hn::Add(origin.Lookup(face), hn::Add(hn::Mul(y, rowPitch), x));
    }

    Table8 origin;
    Table8 pitch;
    Table8 lowX;
    Table8 highX;
    Table8 lowY;
    Table8 highY;
};

template <int kChannel>
HWY_INLINE VF Channel(VU texels)
{
    const DU du;
    return hn::ConvertTo(DF(), hn::BitCast(DI(), hn::And(hn::ShiftRight<8 * kChannel>(texels), hn::Set(du, 0xFFu))));
}

HWY_INLINE void Channels(VU texels, VF channels[4])
{
    channels[0] = Channel<0>(texels);
    channels[1] = Channel<1>(texels);
    channels[2] = Channel<2>(texels);
    channels[3] = Channel<3>(texels);
}

// Four consecutive texels of a row per lane, or 2 + 2 of two rows, as
// quad(lane) gives them (pointer, count 2 or 4, pitch): quads[c] lane k is
// lane k's texel c.
template <int kTexelsPerRow>
HWY_INLINE void FetchQuads(const std::uint32_t* texels, const std::int32_t* index, const std::int32_t* pitch,
                           std::int32_t rowsDown, VU quads[4])
{
    const DU du;
    auto at = [&](std::size_t lane) {
        return texels + index[lane] + static_cast<std::ptrdiff_t>(rowsDown) * pitch[lane];
    };
#if SKELVANE_SIMD_HAS_VECTORS
    const hn::Full128<std::uint32_t> block;
    if constexpr (kTexelsPerRow == 4) {
        TransposeQuads(du, [&](std::size_t lane) { return hn::LoadU(block, at(lane)); }, quads);
    } else {
        const hn::Full64<std::uint32_t> pair;
        TransposeQuads(
            du,
            [&](std::size_t lane) {
                const std::uint32_t* p = at(lane);
                return hn::Combine(block, hn::LoadU(pair, p + pitch[lane]), hn::LoadU(pair, p));
            },
            quads);
    }
#else
    for (int c = 0; c < 4; ++c) {
        quads[c] = Collect(du, [&](int lane) {
            const std::uint32_t* p = at(static_cast<std::size_t>(lane));
            return kTexelsPerRow == 4 ? p[c] : p[(c & 1) + (c >> 1) * pitch[lane]];
        });
    }
#endif
}

HWY_INLINE VF Lerp(VF a, VF b, VF f)
{
    return hn::Add(a, hn::Mul(hn::Sub(b, a), f));
}

// The cubic convolution kernel of a = -0.5 at the four taps of fraction f.
HWY_INLINE void CubicWeights(VF f, VF w[4])
{
    const DF df;
    const VF one = hn::Set(df, 1.0f);
    const VF half = hn::Set(df, 0.5f);
    w[0] = hn::Mul(hn::Sub(hn::Mul(hn::Add(hn::Mul(hn::Set(df, -0.5f), f), one), f), half), f);
    w[1] = hn::Add(hn::Mul(hn::Mul(hn::Sub(hn::Mul(hn::Set(df, 1.5f), f), hn::Set(df, 2.5f)), f), f), one);
    w[2] = hn::Mul(hn::Add(hn::Mul(hn::Add(hn::Mul(hn::Set(df, -1.5f), f), hn::Set(df, 2.0f)), f), half), f);
    w[3] = hn::Mul(hn::Mul(hn::Sub(hn::Mul(half, f), half), f), f);
}

// Step 4: the filtered colour of each lane's sub-sample, per channel.
template <CubeFilter kFilter>
HWY_INLINE void Sample(const Located& at, const FaceTables& tables, const std::uint32_t* texels, VF out[4])
{
    const DF df;
    const DI di;
    const DU du;
    const VF firstX = WindowStart<kFilter>(at.u);
    const VF firstY = WindowStart<kFilter>(at.v);
    VI pitch;
    const VI window = tables.Window(at.face, firstX, firstY, pitch);
    alignas(64) std::int32_t index[kLanes];
    hn::Store(window, di, index);
    if constexpr (kFilter == CubeFilter::Nearest) {
        Channels(Collect(du, [&](int lane) { return texels[index[lane]]; }), out);
        return;
    } else {
        alignas(64) std::int32_t pitches[kLanes];
        hn::Store(pitch, di, pitches);
        if constexpr (kFilter == CubeFilter::Bilinear) {
            const VF fx = hn::Sub(at.u, firstX);
            const VF fy = hn::Sub(at.v, firstY);
            VU quads[4];
            FetchQuads<2>(texels, index, pitches, 0, quads);
            VF topLeft[4], topRight[4], bottomLeft[4], bottomRight[4];
            Channels(quads[0], topLeft);
            Channels(quads[1], topRight);
            Channels(quads[2], bottomLeft);
            Channels(quads[3], bottomRight);
            for (int c = 0; c < 4; ++c) {
                out[c] = Lerp(Lerp(topLeft[c], topRight[c], fx), Lerp(bottomLeft[c], bottomRight[c], fx), fy);
            }
        } else {
            const VF one = hn::Set(df, 1.0f);
            VF wx[4];
            VF wy[4];
            CubicWeights(hn::Sub(hn::Sub(at.u, firstX), one), wx);
            CubicWeights(hn::Sub(hn::Sub(at.v, firstY), one), wy);
            for (int r = 0; r < 4; ++r) {
                VU quads[4];
                FetchQuads<4>(texels, index, pitches, r, quads);
                VF taps[4][4];
                for (int k = 0; k < 4; ++k) {
                    Channels(quads[k], taps[k]);
                }
                for (int c = 0; c < 4; ++c) {
                    VF row = hn::Mul(taps[0][c], wx[0]);
                    row = hn::Add(row, hn::Mul(taps[1][c], wx[1]));
                    row = hn::Add(row, hn::Mul(taps[2][c], wx[2]));
                    row = hn::Add(row, hn::Mul(taps[3][c], wx[3]));
                    out[c] = r == 0 ? hn::Mul(row, wy[0]) : hn::Add(out[c], hn::Mul(row, wy[r]));
                }
            }
            // Ringing may overshoot; every sub-sample is a colour in 0..255.
            for (int c = 0; c < 4; ++c) {
                out[c] = hn::Min(hn::Max(out[c], hn::Zero(df)), hn::Set(df, 255.0f));
            }
        }
    }
}

// The rows' offsets of the sub-samples from the centre, in face units, and
// their squares.
struct SubRows {
    VF dy[kMaxSupersample];
    VF dySquared[kMaxSupersample];

    SubRows(const CubeSampleView& view, std::int32_t row)
    {
        const DF df;
        for (int a = 0; a < view.supersample; ++a) {
            const float dyScalar = ((static_cast<float>(row) - view.centre) + view.offsets[a]) * view.scale;
            dy[a] = hn::Set(df, dyScalar);
            dySquared[a] = hn::Set(df, dyScalar * dyScalar);
        }
    }
};

// The sub-samples' offsets from the centre, in face units, of the pixels
// j .. j + kLanes - 1 in sub-column b.
HWY_INLINE VF SubColumn(const CubeSampleView& view, std::int32_t j, int b)
{
    const DF df;
    const VF column = hn::Sub(hn::Iota(df, static_cast<float>(j)), hn::Set(df, view.centre));
    return hn::Mul(hn::Add(column, hn::Set(df, view.offsets[b])), hn::Set(df, view.scale));
}

template <int kChannel>
HWY_INLINE VU PackChannel(VF sum, VF inverseCount)
{
    const DF df;
    const DI di;
    const VI value = hn::ConvertTo(di, hn::Add(hn::Mul(sum, inverseCount), hn::Set(df, 0.5f)));
    return hn::ShiftLeft<8 * kChannel>(hn::BitCast(DU(), hn::Min(value, hn::Set(di, 255))));
}

template <CubeFilter kFilter>
void SampleRowsWith(const CubeSampleView& view, const CubeSampleSources& sources, CImageBuffer& dome,
                    std::int32_t first, std::int32_t end)
{
    const DF df;
    const DU du;
    const FaceTables tables(sources);
    const VF inverseCount = hn::Set(df, view.inverseCount);
    const int s = view.supersample;
    const std::int32_t width = view.outSize;
    for (std::int32_t i = first; i < end; ++i) {
        const SubRows rows(view, i);
        std::uint32_t* out = dome.Row32(i);
        for (std::int32_t j = 0; j < width; j += static_cast<std::int32_t>(kLanes)) {
            VF sum[4] = {hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            for (int b = 0; b < s; ++b) {
                const VF dx = SubColumn(view, j, b);
                for (int a = 0; a < s; ++a) {
                    const Located at = Locate(view, dx, rows.dy[a], rows.dySquared[a]);
                    VF colour[4];
                    Sample<kFilter>(at, tables, sources.texels, colour);
                    for (int c = 0; c < 4; ++c) {
                        sum[c] = hn::Add(sum[c], hn::IfThenElseZero(at.inside, colour[c]));
                    }
                }
            }
            const VU pixels = hn::Or(hn::Or(PackChannel<0>(sum[0], inverseCount), PackChannel<1>(sum[1], inverseCount)),
                                     hn::Or(PackChannel<2>(sum[2], inverseCount), PackChannel<3>(sum[3], inverseCount)));
            if (j + static_cast<std::int32_t>(kLanes) <= width) {
                hn::StoreU(pixels, du, out + j);
            } else {
                alignas(64) std::uint32_t tail[kLanes];
                hn::Store(pixels, du, tail);
                std::memcpy(out + j, tail, static_cast<std::size_t>(width - j) * sizeof(std::uint32_t));
            }
        }
    }
}

template <CubeFilter kFilter>
void ReachRowsWith(const CubeSampleView& view, std::int32_t first, std::int32_t end, CubeSampleReach& reach)
{
    const DI di;
    const VI none = hn::Set(di, std::numeric_limits<std::int32_t>::max());
    const VI noneBelow = hn::Set(di, std::numeric_limits<std::int32_t>::min());
    VI lowX[6], highX[6], lowY[6], highY[6];
    for (int k = 0; k < 6; ++k) {
        lowX[k] = lowY[k] = none;
        highX[k] = highY[k] = noneBelow;
    }
    const int s = view.supersample;
    const std::int32_t width = view.outSize;
    for (std::int32_t i = first; i < end; ++i) {
        const SubRows rows(view, i);
        for (std::int32_t j = 0; j < width; j += static_cast<std::int32_t>(kLanes)) {
            const auto inRow = hn::FirstN(di, static_cast<std::size_t>(width - j));
            for (int b = 0; b < s; ++b) {
                const VF dx = SubColumn(view, j, b);
                for (int a = 0; a < s; ++a) {
                    const Located at = Locate(view, dx, rows.dy[a], rows.dySquared[a]);
                    const auto counted = hn::And(inRow, hn::RebindMask(di, at.inside));
                    const VI x = hn::ConvertTo(di, WindowStart<kFilter>(at.u));
                    const VI y = hn::ConvertTo(di, WindowStart<kFilter>(at.v));
                    for (int k = 0; k < 6; ++k) {
                        const auto mine = hn::And(counted, hn::Eq(at.face, hn::Set(di, k)));
                        lowX[k] = hn::Min(lowX[k], hn::IfThenElse(mine, x, none));
                        highX[k] = hn::Max(highX[k], hn::IfThenElse(mine, x, noneBelow));
                        lowY[k] = hn::Min(lowY[k], hn::IfThenElse(mine, y, none));
                        highY[k] = hn::Max(highY[k], hn::IfThenElse(mine, y, noneBelow));
                    }
                }
            }
        }
    }
    for (int k = 0; k < 6; ++k) {
        reach.lowX[k] = std::min(reach.lowX[k], hn::GetLane(hn::MinOfLanes(di, lowX[k])));
        reach.highX[k] = std::max(reach.highX[k], hn::GetLane(hn::MaxOfLanes(di, highX[k])));
        reach.lowY[k] = std::min(reach.lowY[k], hn::GetLane(hn::MinOfLanes(di, lowY[k])));
        reach.highY[k] = std::max(reach.highY[k], hn::GetLane(hn::MaxOfLanes(di, highY[k])));
    }
}

}  // namespace

void SampleCubeRows(const CubeSampleView& view, const CubeSampleSources& sources, CImageBuffer& dome,
                    std::int32_t first, std::int32_t end)
{
    switch (view.filter) {
    case CubeFilter::Nearest:
        return SampleRowsWith<CubeFilter::Nearest>(view, sources, dome, first, end);
    case CubeFilter::Bilinear:
        return SampleRowsWith<CubeFilter::Bilinear>(view, sources, dome, first, end);
    case CubeFilter::Bicubic:
        return SampleRowsWith<CubeFilter::Bicubic>(view, sources, dome, first, end);
    }
}

void FindCubeReach(const CubeSampleView& view, std::int32_t first, std::int32_t end, CubeSampleReach& reach)
{
    switch (view.filter) {
    case CubeFilter::Nearest:
        return ReachRowsWith<CubeFilter::Nearest>(view, first, end, reach);
    case CubeFilter::Bilinear:
        return ReachRowsWith<CubeFilter::Bilinear>(view, first, end, reach);
    case CubeFilter::Bicubic:
        return ReachRowsWith<CubeFilter::Bicubic>(view, first, end, reach);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace skelvane {

HWY_EXPORT(SampleCubeRows);
HWY_EXPORT(FindCubeReach);

CubeSampleRowLoop ChooseCubeSampleRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(SampleCubeRows);
}

CubeReachRowLoop ChooseCubeReachRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(FindCubeReach);
}

}  // namespace skelvane
#endif
