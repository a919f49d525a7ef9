// The 4 x 4 neighbourhood of a panorama position and its one-pixel blend,
// shared by every bicubic pixel loop (engine/simd/PanoRowsSimd.cpp), so that
// all of them read exactly the same pixels and round exactly alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/image/ImageBuffer.h"

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
// edge) and the fractions.
struct PanoTaps {
    const std::uint32_t* rows[4];
    std::int32_t columns[4];
    double fx;
    double fy;
    bool consecutive;
};

inline void LocatePanoTaps(const CImageBuffer& pano, float xs, float ys, PanoTaps& taps)
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
            taps.rows[k] = pano.Row32(iy - 1 + k);
        }
    } else {
        // The neighbourhood crosses an edge: every read is clamped into the
        // panorama (no wrap across the seam).
        for (int k = 0; k < 4; ++k) {
            taps.rows[k] = pano.Row32(std::clamp(iy - 1 + k, 0, height - 1));
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

// Bicubic convolution: four column weights and four row weights once per
// pixel (the eight kernel evaluations), each row summed over its columns
// first, then the rows summed with their weights, per channel in double;
// truncate(total + 0.5), clamped into 0..255, alpha opaque.
inline std::uint32_t BlendPanoTaps(const PanoTaps& taps)
{
    const double fx = taps.fx;
    const double fy = taps.fy;
    const double wc0 = PanoKernel(fx + 1.0);
    const double wc1 = PanoKernel(fx);
    const double wc2 = PanoKernel(1.0 - fx);
    const double wc3 = PanoKernel(2.0 - fx);
    const double wr[4] = {PanoKernel(fy + 1.0), PanoKernel(fy), PanoKernel(1.0 - fy), PanoKernel(2.0 - fy)};
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
        red += (r(p0) * wc0 + r(p1) * wc1 + r(p2) * wc2 + r(p3) * wc3) * wr[k];
        green += (g(p0) * wc0 + g(p1) * wc1 + g(p2) * wc2 + g(p3) * wc3) * wr[k];
        blue += (b(p0) * wc0 + b(p1) * wc1 + b(p2) * wc2 + b(p3) * wc3) * wr[k];
    }
    return 0xFF000000u | PanoChannel(red) << 16 | PanoChannel(green) << 8 | PanoChannel(blue);
}

}  // namespace skelvane
