// The 4 x 4 neighbourhood of a panorama position, shared by every bicubic
// pixel loop (the projector's one-pixel, AVX2 and AVX-512 loops), so
// that all of them read exactly the same pixels.
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

}  // namespace skelvane
