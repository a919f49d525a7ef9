// The 4 x 4 neighbourhood of a panorama position and its one-pixel blend,
// shared by every bicubic pixel loop (engine/simd/PanoRowsSimd.cpp), so that
// all of them read exactly the same pixels and round exactly alike. Deep
// panoramas (16-bit and float) take the same neighbourhood, weights and sums
// as 8-bit ones; only the samples and the final rounding differ.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "engine/image/ImageBuffer.h"
#include "engine/image/PixelDepth.h"

namespace skelvane {

// The integer part of a finite position, clamped to where the 4 x 4 reads
// are clamped anyway (any index below -3 or above size + 1 reads only edge
// pixels), so that no position, however far off, converts out of range.
inline std::int32_t PanoWholePart(double floored, std::int32_t size)
{
    if (floored < -3.0) {
        return -3;
    }
    if (floored > static_cast<double>(size) + 1.0) {
        return size + 1;
    }
    return static_cast<std::int32_t>(floored);
}

// The 4 x 4 neighbourhood of a finite panorama position: the four rows'
// pixels from the top, the four columns (consecutive unless clamped at an
// edge) and the fractions. P is the panorama's pixel: std::uint32_t, Pixel16
// or PixelF.
template <class P>
struct PanoTapsOf {
    const P* rows[4];
    std::int32_t columns[4];
    double fx;
    double fy;
    bool consecutive;
};
using PanoTaps = PanoTapsOf<std::uint32_t>;

template <class P>
inline void LocatePanoTaps(const CImageBuffer& pano, float xs, float ys, PanoTapsOf<P>& taps)
{
    const std::int32_t width = pano.GetWidth();
    const std::int32_t height = pano.GetHeight();
    const double x = xs;
    const double y = ys;
    const double floorX = std::floor(x);
    const double floorY = std::floor(y);
    taps.fx = x - floorX;
    taps.fy = y - floorY;
    const std::int32_t ix = PanoWholePart(floorX, width);
    const std::int32_t iy = PanoWholePart(floorY, height);
    taps.consecutive = ix >= 1 && ix + 2 < width;
    for (int k = 0; k < 4; ++k) {
        taps.columns[k] = taps.consecutive ? ix - 1 + k : std::clamp(ix - 1 + k, 0, width - 1);
    }
    if (iy >= 1 && iy + 2 < height) {
        for (int k = 0; k < 4; ++k) {
            taps.rows[k] = pano.RowOf<P>(iy - 1 + k);
        }
    } else {
        // The neighbourhood crosses an edge: every read is clamped into the
        // panorama (no wrap across the seam).
        for (int k = 0; k < 4; ++k) {
            taps.rows[k] = pano.RowOf<P>(std::clamp(iy - 1 + k, 0, height - 1));
        }
    }
}

// The cubic convolution kernel with a = -1, in double precision.
inline double PanoKernel(double t)
{
    const double s = std::fabs(t);
    if (s <= 1.0) {
        return s * s * s - 2.0 * s * s + 1.0;
    }
    if (s <= 2.0) {
        return -s * s * s + 5.0 * s * s - 8.0 * s + 4.0;
    }
    return 0.0;
}

inline std::uint32_t PanoChannel(double total)
{
    const auto value = static_cast<std::int32_t>(total + 0.5);
    return static_cast<std::uint32_t>(std::clamp(value, 0, 255));
}

// The four column and four row weights of a neighbourhood: the eight kernel
// evaluations of a pixel.
struct PanoWeights {
    double columns[4];
    double rows[4];
};

inline PanoWeights PanoWeightsOf(double fx, double fy)
{
    return {{PanoKernel(fx + 1.0), PanoKernel(fx), PanoKernel(1.0 - fx), PanoKernel(2.0 - fx)},
            {PanoKernel(fy + 1.0), PanoKernel(fy), PanoKernel(1.0 - fy), PanoKernel(2.0 - fy)}};
}

// Bicubic convolution: four column weights and four row weights once per
// pixel (the eight kernel evaluations), each row summed over its columns
// first, then the rows summed with their weights, per channel in double;
// truncate(total + 0.5), clamped into 0..255, alpha opaque.
inline std::uint32_t BlendPanoTaps(const PanoTaps& taps)
{
    const PanoWeights w = PanoWeightsOf(taps.fx, taps.fy);
    const double wc0 = w.columns[0];
    const double wc1 = w.columns[1];
    const double wc2 = w.columns[2];
    const double wc3 = w.columns[3];
    auto r = [](std::uint32_t p) { return static_cast<double>(p >> 16 & 255u); };
    auto g = [](std::uint32_t p) { return static_cast<double>(p >> 8 & 255u); };
    auto b = [](std::uint32_t p) { return static_cast<double>(p & 255u); };
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t* row = taps.rows[k];
        const std::uint32_t p0 = row[taps.columns[0]];
        const std::uint32_t p1 = row[taps.columns[1]];
        const std::uint32_t p2 = row[taps.columns[2]];
        const std::uint32_t p3 = row[taps.columns[3]];
        red += (r(p0) * wc0 + r(p1) * wc1 + r(p2) * wc2 + r(p3) * wc3) * w.rows[k];
        green += (g(p0) * wc0 + g(p1) * wc1 + g(p2) * wc2 + g(p3) * wc3) * w.rows[k];
        blue += (b(p0) * wc0 + b(p1) * wc1 + b(p2) * wc2 + b(p3) * wc3) * w.rows[k];
    }
    return 0xFF000000u | PanoChannel(red) << 16 | PanoChannel(green) << 8 | PanoChannel(blue);
}

// ---- deep pixels ----

// The samples of a deep pixel, blue, green, red, alpha.
template <class P>
using PanoSample = std::conditional_t<std::is_same_v<P, Pixel16>, std::uint16_t, float>;

// A 16-bit channel total as BlendPanoTaps rounds an 8-bit one:
// truncate(total + 0.5), clamped into 0..65535.
inline std::uint16_t PanoChannel16(double total)
{
    const auto value = static_cast<std::int32_t>(total + 0.5);
    return static_cast<std::uint16_t>(std::clamp(value, 0, 65535));
}

// A float channel total as it is, except below zero: the kernel's negative
// lobes undershoot next to bright light (a sun of 50 beside a sky of 0.2),
// and negative light means nothing to a compositor, so it is cut to 0, as
// not-a-number (from a sample that was one) is. Totals above 1.0 stay: they
// are light brighter than white, or the kernel's overshoot of it.
inline float PanoChannelFloat(double total)
{
    return total > 0.0 ? static_cast<float>(total) : 0.0f;
}

// BlendPanoTaps for a deep panorama: the same weights and the same sums in
// the same order, per channel, over the samples as they are (a 16-bit sample
// as its integer, a float as its value); rounded as above, alpha opaque.
template <class P>
inline P BlendDeepPanoTaps(const PanoTapsOf<P>& taps)
{
    const PanoWeights w = PanoWeightsOf(taps.fx, taps.fy);
    double totals[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < 4; ++k) {
        const auto* row = reinterpret_cast<const PanoSample<P>*>(taps.rows[k]);
        auto s = [&](int tap, int channel) { return static_cast<double>(row[4 * taps.columns[tap] + channel]); };
        for (int c = 0; c < 3; ++c) {
            totals[c] += (s(0, c) * w.columns[0] + s(1, c) * w.columns[1] + s(2, c) * w.columns[2] +
                          s(3, c) * w.columns[3]) *
                         w.rows[k];
        }
    }
    if constexpr (std::is_same_v<P, Pixel16>) {
        return {PanoChannel16(totals[0]), PanoChannel16(totals[1]), PanoChannel16(totals[2]), 65535};
    } else {
        return {PanoChannelFloat(totals[0]), PanoChannelFloat(totals[1]), PanoChannelFloat(totals[2]), 1.0f};
    }
}

}  // namespace skelvane
