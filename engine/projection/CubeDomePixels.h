// One output pixel of each cube dome loop, for the one-pixel loops and for
// the pixels the sixteen-pixel loops leave to them (engine/projection/CubeDomeRows.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/projection/CubeDomeRows.h"

namespace skelvane {

template <class P>
inline P FaceMapPixel(const FaceMapEntry& entry, std::int32_t faceSize, const CubeFaceSourcesOf<P>& sources,
                      bool& overflowW, bool& overflowH)
{
    if (entry.u == kOutsideCircle && entry.v == kOutsideCircle) {
        return P{};  // transparent black
    }
    std::int32_t x = cube_geometry::RoundToFacePixel(entry.u, faceSize, overflowW);
    std::int32_t y = cube_geometry::RoundToFacePixel(entry.v, faceSize, overflowH);
    const unsigned face = static_cast<unsigned>(entry.face) % kCubeFaceCount;
    x = std::min(x, sources.lastColumn[face]);
    y = std::min(y, sources.lastRow[face]);
    return sources.bottom[face][static_cast<std::size_t>(sources.lastRow[face] - y) * sources.pitch[face] + x];
}

// Columns [first, end) of output row `row`.
template <class P>
inline void FaceMapPixels(const FaceMapFrameOf<P>& frame, std::int32_t row, std::int32_t first, std::int32_t end,
                          bool& overflowW, bool& overflowH)
{
    const FaceMapEntry* entry = frame.map + static_cast<std::size_t>(row) * frame.outSize;
    P* out = frame.dome->template RowOf<P>(row);
    for (std::int32_t j = first; j < end; ++j) {
        out[j] = FaceMapPixel(entry[j], frame.faceSize, frame.sources, overflowW, overflowH);
    }
}

template <class P>
inline void PackedPixels(const PackedFrameOf<P>& frame, std::int32_t row, std::int32_t first, std::int32_t end)
{
    const std::uint32_t* word = frame.words + static_cast<std::size_t>(row) * frame.outSize;
    P* out = frame.dome->template RowOf<P>(row);
    for (std::int32_t j = first; j < end; ++j) {
        const std::uint32_t w = word[j];
        const std::uint32_t source = w >> kPackedSourceShift;
        out[j] = frame.base[source][w & frame.mask[source]];
    }
}

}  // namespace skelvane
