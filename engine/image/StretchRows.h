// The rows of CImageBuffer::StretchFrom, a fixed-point cubic B-spline
// resampler.
//
// 1. Each destination pixel has a centre in the source, in 8.8 fixed point:
//    whole column cx and fraction fx, whole row cy and fraction fy. Its value
//    is a weighted sum over the 4 x 4 source pixels around the centre
//    (offsets -1, 0, 1, 2). A neighbour whose row or whose column lies
//    outside the source is replaced by the centre pixel itself, not by the
//    nearest edge pixel nor by the centre of its own row or column.
// 2. The weight of neighbour (m, n) is (rowTaps[m] * columnTaps[n]) >> 8,
//    the taps coming from kSplineTable by fraction. The truncation makes the
//    sixteen weights differ from a product of row and column weights, so the
//    sum is not separable: all sixteen products are formed.
// 3. Each channel's sum is scaled by 266 / 65536 and clamped to 0..255; alpha
//    is always opaque. Deep images take the same weights: 16-bit sums are
//    scaled and clamped to 0..65535 alike, float sums scaled only.
// Columns are worked out once per call (CStretchColumns), rows once per row.
// The pixels whose sixteen neighbours all lie inside the source go through a
// vector loop where the processor has one (engine/simd/StretchRowsSimd.cpp);
// the others, and every pixel without one, go one at a time, so the border
// rule is written once.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/image/PixelDepth.h"


namespace skelvane {

// The cubic B-spline of the resampler in 8.8 fixed point.
constexpr std::int32_t SplineCube(std::int32_t u)
{
    return u <= 0 ? 0 : (((u * u) >> 8) * u) >> 8;
}

constexpr std::int32_t SplineWeight(std::int32_t t)
{
    return (256 * (SplineCube(t + 512) - 4 * SplineCube(t + 256) - 4 * SplineCube(t - 256)) +
            1536 * SplineCube(t)) /
           1536;
}

// Weights of the four neighbours (offsets -1, 0, 1, 2) for a fraction f.
struct SplineTaps {
    std::int32_t w[4];
};

constexpr SplineTaps TapsFor(std::int32_t fraction)
{
    SplineTaps taps{};
    for (int k = -1; k <= 2; ++k) {
        taps.w[k + 1] = SplineWeight(256 * k - fraction);
    }
    return taps;
}

struct SplineTable {
    SplineTaps byFraction[256];
    constexpr SplineTable() : byFraction{}
    {
        for (int f = 0; f < 256; ++f) {
            byFraction[f] = TapsFor(f);
        }
    }
};

inline constexpr SplineTable kSplineTable;

// One destination column: its four source columns, those outside the source
// (bit n of `outside` for neighbour n) held at the centre column so that
// every index stays readable, and its fraction.
struct StretchColumn {
    std::int32_t columns[4];
    std::int32_t fraction;
    std::uint32_t outside;
};

// One destination row: its four source rows, held at the centre row likewise
// where bit m of `outside` says they lie outside, and its fraction.
struct StretchRowSources {
    const std::uint32_t* rows[4];
    std::int32_t fraction;
    std::uint32_t outside;
};

// The sixteen weights (m * 4 + n) for each column fraction, at the row
// fraction last prepared; one per thread, kept from row to row. Each is at
// most 112, for every pair of fractions.
struct StretchWeights {
    alignas(64) std::uint8_t byColumnFraction[256][16];
    std::int32_t rowFraction = -1;
};

// The destination columns of one call.
struct StretchPlan {
    std::vector<StretchColumn> columns;
    // Columns [interiorFirst, interiorEnd), a multiple of four of them, have
    // all four neighbours inside the source.
    std::int32_t interiorFirst = 0;
    std::int32_t interiorEnd = 0;
    // Each fraction of the interior columns, once.
    std::vector<std::uint8_t> fractions;
};

// The rows of a deep image's destination row, as StretchRowSources has them.
template <class P>
struct DeepStretchRowSources {
    const P* rows[4];
    std::int32_t fraction;
    std::uint32_t outside;
};

// A whole row of a 16-bit or float image (P is Pixel16 or PixelF), one pixel
// at a time, with the same neighbours and weights as the 8-bit rows: 16-bit
// sums are scaled and clamped as the 8-bit ones are, float sums scaled only.
void StretchDeepRow(const StretchPlan& plan, const DeepStretchRowSources<Pixel16>& row, Pixel16* out);
void StretchDeepRow(const StretchPlan& plan, const DeepStretchRowSources<PixelF>& row, PixelF* out);

// Columns [first, end) of a row, one pixel at a time.
void StretchPixels(const StretchPlan& plan, const StretchRowSources& row, std::int32_t first, std::int32_t end,
                   std::uint32_t* out);

// Fills the weights of the interior's fractions for `rowFraction`.
void PrepareStretchWeights(const StretchPlan& plan, std::int32_t rowFraction, StretchWeights& weights);

// Writes a whole row (`out` is its column 0).
using StretchRowLoop = void (*)(const StretchPlan& plan, const StretchRowSources& row, StretchWeights& weights,
                                std::uint32_t* out);

class CStretchColumns {
public:
    // Destination columns j in [0, count), whose centres are at
    // firstColumn + (j * step >> 8) with fraction (j * step) & 255, in a
    // source `sourceWidth` pixels wide.
    CStretchColumns(std::int32_t firstColumn, std::int32_t step, std::int32_t count, std::int32_t sourceWidth);

    // Writes the row's `count` pixels to out.
    void RenderRow(const StretchRowSources& row, std::uint32_t* out, StretchWeights& weights) const
    {
        m_loop(m_plan, row, weights, out);
    }

    const StretchPlan& Plan() const { return m_plan; }

private:
    StretchPlan m_plan;
    StretchRowLoop m_loop;
};

}  // namespace skelvane
