// The filtered and supersampled cube dome loops (engine/projection/CubeSampleRows.h):
// a vector of dome pixels at a time, each pixel's sub-samples one after the
// other, so that the sums stay in registers. The same code runs on every
// target, down to one lane where there are no vectors, and at every depth:
// only how taps are read (bytes of a word, or four floats) and how sums
// become pixels differ.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/simd/CubeSampleRowsSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <array>
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

HWY_INLINE VF DistanceSquared(VF dx, VF dySquared)
{
    return hn::Add(hn::Mul(dx, dx), dySquared);
}

// Steps 1 to 3 for sub-samples dx face units right of the centre on the row
// dy below it.
HWY_INLINE Located Locate(const CubeSampleView& view, VF dx, VF dy, VF dySquared)
{
    const DF df;
    const DI di;
    const VF distanceSquared = DistanceSquared(dx, dySquared);
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
    template <class Texel>
    explicit FaceTables(const CubeSampleSourcesOf<Texel>& sources)
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

// The taps of 32-bit texels, each channel a byte.
struct WordTaps {
    const std::uint32_t* texels;

    HWY_INLINE void One(const std::int32_t* index, VF out[4]) const
    {
        Channels(Collect(DU(), [&](int lane) { return texels[index[lane]]; }), out);
    }
    // taps[0..3]: top left, top right, bottom left, bottom right.
    HWY_INLINE void Square(const std::int32_t* index, const std::int32_t* pitch, VF taps[4][4]) const
    {
        VU quads[4];
        FetchQuads<2>(texels, index, pitch, 0, quads);
        for (int k = 0; k < 4; ++k) {
            Channels(quads[k], taps[k]);
        }
    }
    // taps[0..3]: the four texels of window row r.
    HWY_INLINE void Row(const std::int32_t* index, const std::int32_t* pitch, std::int32_t r, VF taps[4][4]) const
    {
        VU quads[4];
        FetchQuads<4>(texels, index, pitch, r, quads);
        for (int k = 0; k < 4; ++k) {
            Channels(quads[k], taps[k]);
        }
    }
};

// The taps of deep texels, four floats each: one 16-byte load per lane and
// texel, turned into a vector per channel.
struct DeepTaps {
    const CubeDeepTexel* texels;

    HWY_INLINE void Texel(const std::int32_t* index, const std::int32_t* pitch, std::int32_t right,
                          std::int32_t down, VF out[4]) const
    {
        auto at = [&](std::size_t lane) {
            return &texels[index[lane] + static_cast<std::ptrdiff_t>(down) * pitch[lane] + right].blue;
        };
#if SKELVANE_SIMD_HAS_VECTORS
        const hn::Full128<float> block;
        TransposeQuads(DF(), [&](std::size_t lane) { return hn::LoadU(block, at(lane)); }, out);
#else
        for (int c = 0; c < 4; ++c) {
            out[c] = Collect(DF(), [&](int lane) { return at(static_cast<std::size_t>(lane))[c]; });
        }
#endif
    }
    HWY_INLINE void One(const std::int32_t* index, VF out[4]) const
    {
        static constexpr std::int32_t kNoPitch[kLanes] = {};
        Texel(index, kNoPitch, 0, 0, out);
    }
    HWY_INLINE void Square(const std::int32_t* index, const std::int32_t* pitch, VF taps[4][4]) const
    {
        for (int k = 0; k < 4; ++k) {
            Texel(index, pitch, k & 1, k >> 1, taps[k]);
        }
    }
    HWY_INLINE void Row(const std::int32_t* index, const std::int32_t* pitch, std::int32_t r, VF taps[4][4]) const
    {
        for (int k = 0; k < 4; ++k) {
            Texel(index, pitch, k, r, taps[k]);
        }
    }
};

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

// Step 4 from the windows: the filtered colour of each lane's sub-sample, per
// channel, from the taps whose first texel is at `window` in the block, the
// position lying fromX and fromY beyond that texel. Bicubic ringing is
// clamped to 0 .. ceiling[c].
template <CubeFilter kFilter, class Taps>
HWY_INLINE void Filter(const Taps& taps, VI window, VI pitch, VF fromX, VF fromY, const VF ceiling[4], VF out[4])
{
    const DF df;
    const DI di;
    alignas(64) std::int32_t index[kLanes];
    hn::Store(window, di, index);
    if constexpr (kFilter == CubeFilter::Nearest) {
        taps.One(index, out);
        return;
    } else {
        alignas(64) std::int32_t pitches[kLanes];
        hn::Store(pitch, di, pitches);
        if constexpr (kFilter == CubeFilter::Bilinear) {
            VF square[4][4];
            taps.Square(index, pitches, square);
            for (int c = 0; c < 4; ++c) {
                out[c] = Lerp(Lerp(square[0][c], square[1][c], fromX), Lerp(square[2][c], square[3][c], fromX), fromY);
            }
        } else {
            const VF one = hn::Set(df, 1.0f);
            VF wx[4];
            VF wy[4];
            CubicWeights(hn::Sub(fromX, one), wx);
            CubicWeights(hn::Sub(fromY, one), wy);
            for (int r = 0; r < 4; ++r) {
                VF row4[4][4];
                taps.Row(index, pitches, r, row4);
                for (int c = 0; c < 4; ++c) {
                    VF row = hn::Mul(row4[0][c], wx[0]);
                    row = hn::Add(row, hn::Mul(row4[1][c], wx[1]));
                    row = hn::Add(row, hn::Mul(row4[2][c], wx[2]));
                    row = hn::Add(row, hn::Mul(row4[3][c], wx[3]));
                    out[c] = r == 0 ? hn::Mul(row, wy[0]) : hn::Add(out[c], hn::Mul(row, wy[r]));
                }
            }
            // Ringing may overshoot; every sub-sample is a colour the dome can
            // hold, and none below black.
            for (int c = 0; c < 4; ++c) {
                out[c] = hn::Min(hn::Max(out[c], hn::Zero(df)), ceiling[c]);
            }
        }
    }
}

// Step 4 for located sub-samples.
template <CubeFilter kFilter, class Taps>
HWY_INLINE void Sample(const Located& at, const FaceTables& tables, const Taps& taps, const VF ceiling[4],
                       VF out[4])
{
    const VF firstX = WindowStart<kFilter>(at.u);
    const VF firstY = WindowStart<kFilter>(at.v);
    VI pitch;
    const VI window = tables.Window(at.face, firstX, firstY, pitch);
    Filter<kFilter>(taps, window, pitch, hn::Sub(at.u, firstX), hn::Sub(at.v, firstY), ceiling, out);
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

// Pixels j .. j + kLanes - 1 of an 8-bit dome row from their sub-sample sums.
struct WordPixels {
    WordPixels(CImageBuffer& dome, std::int32_t rowShift) : m_dome(dome), m_rowShift(rowShift) {}

    static VF Ceiling(int) { return hn::Set(DF(), 255.0f); }

    HWY_INLINE void Write(std::int32_t row, std::int32_t j, std::int32_t width, const VF sum[4], VF inverseCount) const
    {
        const DU du;
        std::uint32_t* out = m_dome.Row32(row - m_rowShift);
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

    CImageBuffer& m_dome;
    std::int32_t m_rowShift;  // the picture row minus the row of m_dome it goes to
};

// The same for a 16-bit dome: averages rounded to the nearest level and
// clamped, channels interleaved into pixels.
struct Pixel16Pixels {
    Pixel16Pixels(CImageBuffer& dome, std::int32_t rowShift) : m_dome(dome), m_rowShift(rowShift) {}

    static VF Ceiling(int) { return hn::Set(DF(), 65535.0f); }

    HWY_INLINE void Write(std::int32_t row, std::int32_t j, std::int32_t width, const VF sum[4], VF inverseCount) const
    {
        const DF df;
        const DI di;
        const hn::Rebind<std::uint16_t, DI> d16;
        hn::Vec<decltype(d16)> channel[4];
        for (int c = 0; c < 4; ++c) {
            const VI level = hn::ConvertTo(di, hn::Add(hn::Mul(sum[c], inverseCount), hn::Set(df, 0.5f)));
            channel[c] = hn::DemoteTo(d16, hn::Min(hn::Max(level, hn::Zero(di)), hn::Set(di, 65535)));
        }
        auto* out = reinterpret_cast<std::uint16_t*>(m_dome.Row16(row - m_rowShift) + j);
        if (j + static_cast<std::int32_t>(kLanes) <= width) {
            hn::StoreInterleaved4(channel[0], channel[1], channel[2], channel[3], d16, out);
        } else {
            alignas(64) std::uint16_t tail[4 * kLanes];
            hn::StoreInterleaved4(channel[0], channel[1], channel[2], channel[3], d16, tail);
            std::memcpy(out, tail, static_cast<std::size_t>(width - j) * sizeof(Pixel16));
        }
    }

    CImageBuffer& m_dome;
    std::int32_t m_rowShift;  // the picture row minus the row of m_dome it goes to
};

// The same for a float dome: the averages as they are.
struct PixelFPixels {
    PixelFPixels(CImageBuffer& dome, std::int32_t rowShift) : m_dome(dome), m_rowShift(rowShift) {}

    // Colour may exceed 1 where the faces do; coverage may not.
    static VF Ceiling(int channel)
    {
        return hn::Set(DF(), channel == 3 ? 1.0f : std::numeric_limits<float>::infinity());
    }

    HWY_INLINE void Write(std::int32_t row, std::int32_t j, std::int32_t width, const VF sum[4], VF inverseCount) const
    {
        const DF df;
        VF channel[4];
        for (int c = 0; c < 4; ++c) {
            channel[c] = hn::Mul(sum[c], inverseCount);
        }
        float* out = &m_dome.RowF(row - m_rowShift)[j].blue;
        if (j + static_cast<std::int32_t>(kLanes) <= width) {
            hn::StoreInterleaved4(channel[0], channel[1], channel[2], channel[3], df, out);
        } else {
            alignas(64) float tail[4 * kLanes];
            hn::StoreInterleaved4(channel[0], channel[1], channel[2], channel[3], df, tail);
            std::memcpy(out, tail, static_cast<std::size_t>(width - j) * sizeof(PixelF));
        }
    }

    CImageBuffer& m_dome;
    std::int32_t m_rowShift;  // the picture row minus the row of m_dome it goes to
};

template <CubeFilter kFilter, class Taps, class Pixels, class Texel>
void SampleRowsWith(const CubeSampleView& view, const CubeSampleSourcesOf<Texel>& sources, const Pixels& pixels,
                    std::int32_t first, std::int32_t end)
{
    const DF df;
    const FaceTables tables(sources);
    const Taps taps{sources.texels};
    const VF ceiling[4] = {Pixels::Ceiling(0), Pixels::Ceiling(1), Pixels::Ceiling(2), Pixels::Ceiling(3)};
    const VF inverseCount = hn::Set(df, view.inverseCount);
    const int s = view.supersample;
    const std::int32_t width = view.outSize;
    for (std::int32_t i = first; i < end; ++i) {
        const SubRows rows(view, i);
        for (std::int32_t j = 0; j < width; j += static_cast<std::int32_t>(kLanes)) {
            VF sum[4] = {hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            for (int b = 0; b < s; ++b) {
                const VF dx = SubColumn(view, j, b);
                for (int a = 0; a < s; ++a) {
                    const Located at = Locate(view, dx, rows.dy[a], rows.dySquared[a]);
                    VF colour[4];
                    Sample<kFilter>(at, tables, taps, ceiling, colour);
                    for (int c = 0; c < 4; ++c) {
                        sum[c] = hn::Add(sum[c], hn::IfThenElseZero(at.inside, colour[c]));
                    }
                }
            }
            pixels.Write(i, j, width, sum, inverseCount);
        }
    }
}

template <class Taps, class Pixels, class Texel>
void SampleRowsOf(const CubeSampleView& view, const CubeSampleSourcesOf<Texel>& sources, const Pixels& pixels,
                  std::int32_t first, std::int32_t end)
{
    switch (view.filter) {
    case CubeFilter::Nearest:
        return SampleRowsWith<CubeFilter::Nearest, Taps>(view, sources, pixels, first, end);
    case CubeFilter::Bilinear:
        return SampleRowsWith<CubeFilter::Bilinear, Taps>(view, sources, pixels, first, end);
    case CubeFilter::Bicubic:
        return SampleRowsWith<CubeFilter::Bicubic, Taps>(view, sources, pixels, first, end);
    }
}

// Where a tap table's windows lie in the block: per face the block index of
// the first texel it holds, the furthest a window may start from it (0 for a
// face read from the one-colour patch, whatever the table says), and its
// pitch.
struct TapTables {
    template <class Texel>
    static std::array<std::int32_t, 8> Starts(const CubeSampleSourcesOf<Texel>& sources)
    {
        std::array<std::int32_t, 8> start{};
        for (int k = 0; k < 8; ++k) {
            start[k] = static_cast<std::int32_t>(sources.origin[k] + std::int64_t{sources.lowY[k]} * sources.pitch[k] +
                                                 sources.lowX[k]);
        }
        return start;
    }
    template <class Texel>
    static std::array<std::int32_t, 8> Limits(const CubeSampleSourcesOf<Texel>& sources)
    {
        std::array<std::int32_t, 8> limit{};
        for (int k = 0; k < 8; ++k) {
            limit[k] = static_cast<std::int32_t>(std::int64_t{sources.highY[k] - sources.lowY[k]} * sources.pitch[k] +
                                                 (sources.highX[k] - sources.lowX[k]));
        }
        return limit;
    }

    template <class Texel>
    explicit TapTables(const CubeSampleSourcesOf<Texel>& sources)
        : start(Starts(sources).data()), limit(Limits(sources).data()), pitch(sources.pitch)
    {
    }

    Table8 start;
    Table8 limit;
    Table8 pitch;
};

// The loops above with the windows and fractions of s = 1 from a tap table.
template <CubeFilter kFilter, class Taps, class Pixels, class Texel>
void SampleTapRowsWith(const CubeSampleView& view, const CubeTapTableView& table,
                       const CubeSampleSourcesOf<Texel>& sources, const Pixels& pixels, std::int32_t first,
                       std::int32_t end)
{
    const DF df;
    const DI di;
    const DU du;
    const TapTables tables(sources);
    const Taps taps{sources.texels};
    const VF ceiling[4] = {Pixels::Ceiling(0), Pixels::Ceiling(1), Pixels::Ceiling(2), Pixels::Ceiling(3)};
    const VF inverseCount = hn::Set(df, view.inverseCount);
    const VF outside[4] = {hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
    const std::int32_t width = view.outSize;
    for (std::int32_t i = first; i < end; ++i) {
        const CubeTapRow& row = table.rows[i];
        for (std::int32_t j = 0; j < width; j += static_cast<std::int32_t>(kLanes)) {
            const std::int32_t column = j / kCubeTapBlock;
            if (column < row.first || column >= row.end) {
                pixels.Write(i, j, width, outside, inverseCount);
                continue;
            }
            const CubeTapBlock& block = table.blocks[row.start + (column - row.first)];
            const std::size_t lane = static_cast<std::size_t>(j % kCubeTapBlock);
            const VU word = hn::Load(du, block.window + lane);
            const VI face = hn::BitCast(di, hn::ShiftRight<kCubeTapFaceShift>(word));
            const VI offset = hn::BitCast(di, hn::And(word, hn::Set(du, kCubeTapOffsetMask)));
            const VI window = hn::Add(tables.start.Lookup(face), hn::Min(offset, tables.limit.Lookup(face)));
            const VI pitch = tables.pitch.Lookup(face);
            if (lane == 0) {
                // The lines that the rows a few below will read, fetched
                // while this one renders: taps follow curves across the faces
                // that the processor's own prefetching does not, and the
                // faces of a frame are larger than its caches.
                for (std::size_t e : {std::size_t{0}, kLanes - 1}) {
                    const auto k = static_cast<std::size_t>(hn::ExtractLane(face, e));
                    const std::ptrdiff_t step = std::ptrdiff_t{table.rowsAhead[k]} * hn::ExtractLane(pitch, e);
                    const auto at = reinterpret_cast<std::uintptr_t>(sources.texels + hn::ExtractLane(window, e));
                    __builtin_prefetch(
                        reinterpret_cast<const void*>(at + static_cast<std::uintptr_t>(step) * sizeof(Texel)));
                }
            }
            VF colour[4];
            Filter<kFilter>(taps, window, pitch, hn::Load(df, block.fractionX + lane),
                            hn::Load(df, block.fractionY + lane), ceiling, colour);
            const MF inside = hn::RebindMask(df, hn::Ne(face, hn::Set(di, kCubeTapOutside >> kCubeTapFaceShift)));
            VF sum[4];
            for (int c = 0; c < 4; ++c) {
                sum[c] = hn::Add(hn::Zero(df), hn::IfThenElseZero(inside, colour[c]));
            }
            pixels.Write(i, j, width, sum, inverseCount);
        }
    }
}

template <class Taps, class Pixels, class Texel>
void SampleTapRowsOf(const CubeSampleView& view, const CubeTapTableView& table,
                     const CubeSampleSourcesOf<Texel>& sources, const Pixels& pixels, std::int32_t first,
                     std::int32_t end)
{
    if (view.filter == CubeFilter::Bicubic) {
        SampleTapRowsWith<CubeFilter::Bicubic, Taps>(view, table, sources, pixels, first, end);
    } else {
        SampleTapRowsWith<CubeFilter::Bilinear, Taps>(view, table, sources, pixels, first, end);
    }
}

void FindCubeTapSpans(const CubeSampleView& view, std::int32_t first, std::int32_t end, CubeTapRow* rows)
{
    const DI di;
    const std::int32_t width = view.outSize;
    const VF radiusSquared = hn::Set(DF(), view.radiusSquared);
    for (std::int32_t i = first; i < end; ++i) {
        const SubRows sub(view, i);
        std::int32_t low = std::numeric_limits<std::int32_t>::max();
        std::int32_t high = -1;
        for (std::int32_t j = 0; j < width; j += static_cast<std::int32_t>(kLanes)) {
            const auto inRow = hn::FirstN(di, static_cast<std::size_t>(width - j));
            const auto inside = hn::RebindMask(di, hn::Le(DistanceSquared(SubColumn(view, j, 0), sub.dySquared[0]),
                                                          radiusSquared));
            if (!hn::AllFalse(di, hn::And(inRow, inside))) {
                low = std::min(low, j / kCubeTapBlock);
                high = std::max(high, j / kCubeTapBlock);
            }
        }
        rows[i] = high < 0 ? CubeTapRow{0, 0, 0} : CubeTapRow{0, low, high + 1};
    }
}

template <CubeFilter kFilter>
void FillTapRowsWith(const CubeSampleView& view, const CubeHeldFaces& held, std::int32_t first, std::int32_t end,
                     const CubeTapRow* rows, CubeTapBlock* blocks)
{
    const DF df;
    const DI di;
    const DU du;
    // Entries 6 and 7 are never looked up by a face.
    auto table = [](const std::int32_t (&perFace)[6]) {
        std::int32_t entries[8] = {};
        std::copy(perFace, perFace + 6, entries);
        return Table8(entries);
    };
    const Table8 left = table(held.left);
    const Table8 top = table(held.top);
    const Table8 pitch = table(held.pitch);
    const Table8 highX = table(held.highX);
    const Table8 highY = table(held.highY);
    for (std::int32_t i = first; i < end; ++i) {
        const SubRows sub(view, i);
        const CubeTapRow& row = rows[i];
        for (std::int32_t column = row.first; column < row.end; ++column) {
            CubeTapBlock& block = blocks[row.start + (column - row.first)];
            for (std::size_t lane = 0; lane < static_cast<std::size_t>(kCubeTapBlock); lane += kLanes) {
                const std::int32_t j = column * kCubeTapBlock + static_cast<std::int32_t>(lane);
                const Located at = Locate(view, SubColumn(view, j, 0), sub.dy[0], sub.dySquared[0]);
                const VF firstX = WindowStart<kFilter>(at.u);
                const VF firstY = WindowStart<kFilter>(at.v);
                const VI faceLeft = left.Lookup(at.face);
                const VI faceTop = top.Lookup(at.face);
                const VI x = hn::Min(hn::Max(hn::ConvertTo(di, firstX), faceLeft), highX.Lookup(at.face));
                const VI y = hn::Min(hn::Max(hn::ConvertTo(di, firstY), faceTop), highY.Lookup(at.face));
                const VI offset =
                    hn::Add(hn::Mul(hn::Sub(y, faceTop), pitch.Lookup(at.face)), hn::Sub(x, faceLeft));
                const VU word = hn::Or(hn::ShiftLeft<kCubeTapFaceShift>(hn::BitCast(du, at.face)),
                                       hn::BitCast(du, offset));
                hn::Store(hn::IfThenElse(hn::RebindMask(du, at.inside), word, hn::Set(du, kCubeTapOutside)), du,
                          block.window + lane);
                hn::Store(hn::Sub(at.u, firstX), df, block.fractionX + lane);
                hn::Store(hn::Sub(at.v, firstY), df, block.fractionY + lane);
            }
        }
    }
}

void FillCubeTapTable(const CubeSampleView& view, const CubeHeldFaces& held, std::int32_t first, std::int32_t end,
                      const CubeTapRow* rows, CubeTapBlock* blocks)
{
    if (view.filter == CubeFilter::Bicubic) {
        FillTapRowsWith<CubeFilter::Bicubic>(view, held, first, end, rows, blocks);
    } else {
        FillTapRowsWith<CubeFilter::Bilinear>(view, held, first, end, rows, blocks);
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
                    std::int32_t first, std::int32_t end, std::int32_t targetFirst)
{
    SampleRowsOf<WordTaps>(view, sources, WordPixels(dome, first - targetFirst), first, end);
}

void SampleDeepCubeRows(const CubeSampleView& view, const CubeDeepSampleSources& sources, CImageBuffer& dome,
                        std::int32_t first, std::int32_t end, std::int32_t targetFirst)
{
    if (dome.GetChannelType() == ChannelType::Float) {
        SampleRowsOf<DeepTaps>(view, sources, PixelFPixels(dome, first - targetFirst), first, end);
    } else {
        SampleRowsOf<DeepTaps>(view, sources, Pixel16Pixels(dome, first - targetFirst), first, end);
    }
}

void SampleCubeTapRows(const CubeSampleView& view, const CubeTapTableView& table, const CubeSampleSources& sources,
                       CImageBuffer& dome, std::int32_t first, std::int32_t end, std::int32_t targetFirst)
{
    SampleTapRowsOf<WordTaps>(view, table, sources, WordPixels(dome, first - targetFirst), first, end);
}

void SampleDeepCubeTapRows(const CubeSampleView& view, const CubeTapTableView& table,
                           const CubeDeepSampleSources& sources, CImageBuffer& dome, std::int32_t first,
                           std::int32_t end, std::int32_t targetFirst)
{
    if (dome.GetChannelType() == ChannelType::Float) {
        SampleTapRowsOf<DeepTaps>(view, table, sources, PixelFPixels(dome, first - targetFirst), first, end);
    } else {
        SampleTapRowsOf<DeepTaps>(view, table, sources, Pixel16Pixels(dome, first - targetFirst), first, end);
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
HWY_EXPORT(SampleDeepCubeRows);
HWY_EXPORT(FindCubeReach);
HWY_EXPORT(SampleCubeTapRows);
HWY_EXPORT(SampleDeepCubeTapRows);
HWY_EXPORT(FindCubeTapSpans);
HWY_EXPORT(FillCubeTapTable);

CubeSampleRowLoop ChooseCubeSampleRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(SampleCubeRows);
}

CubeDeepSampleRowLoop ChooseCubeDeepSampleRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(SampleDeepCubeRows);
}

CubeReachRowLoop ChooseCubeReachRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(FindCubeReach);
}

CubeTapSampleRowLoop ChooseCubeTapSampleRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(SampleCubeTapRows);
}

CubeDeepTapSampleRowLoop ChooseCubeDeepTapSampleRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(SampleDeepCubeTapRows);
}

CubeTapSpanRowLoop ChooseCubeTapSpanRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(FindCubeTapSpans);
}

CubeTapFillRowLoop ChooseCubeTapFillRowLoop()
{
    return SKELVANE_CHOOSE_LOOP(FillCubeTapTable);
}

}  // namespace skelvane
#endif
