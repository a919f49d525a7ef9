// The pixel loops of the filtered and supersampled cube dome render
// (engine/projection/CubeDomeSampler.h).
//
// Every dome pixel is the box average of s x s sub-samples placed on a
// regular grid inside it (s = 1: its centre). For each sub-sample the loops:
// 1. Take its point in the output plane and its squared distance from the
//    centre in face units; beyond the circle it is transparent black.
// 2. Turn the distance into the fisheye direction, sin(theta) / theta and
//    cos(theta) evaluated as series in theta^2 (no square root, no calls),
//    and turn the direction by the tilt and then the pan.
// 3. Pick the face of the largest component and project onto it: u and v as
//    the face map has them, texel centres from 0 to F - 1.
// 4. Read the filter's taps from the frame's sampled faces, which hold
//    around every face a border of texels showing its neighbours, so that no
//    tap ever tests for an edge, and blend them (nearest: one texel;
//    bilinear: 2 x 2; bicubic: 4 x 4 with the cubic convolution kernel of
//    a = -0.5, its ringing clamped to 0..255, to 0..65535 at 16 bits; at
//    float depth only below 0, and alpha above 1, so that light brighter
//    than white stays brighter).
// 5. Sum the sub-samples per channel, alpha included, and divide.
// A dry run of steps 1 to 4 finds which texels of each face a view reads.
//
// All four channels are averaged alike, so the colour is the picture over
// black and alpha its coverage: the rim of the disc fades out in every format,
// with or without alpha. The arithmetic is the same float operations in the
// same order on every instruction set (no fused multiply-adds), so every set
// gives the same pixels, bit for bit.
#pragma once

#include <cstdint>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

enum class CubeFilter : int { Nearest = 0, Bilinear = 1, Bicubic = 2 };

inline constexpr int kMaxSupersample = 4;

// Texels a filter's tap window spans along each axis, and how far its first
// tap can lie before a face's first texel (and its last beyond the last).
constexpr std::int32_t TapWindow(CubeFilter filter)
{
    return filter == CubeFilter::Bicubic ? 4 : filter == CubeFilter::Bilinear ? 2 : 1;
}
constexpr std::int32_t FaceBorder(CubeFilter filter)
{
    return filter == CubeFilter::Bicubic ? 2 : filter == CubeFilter::Bilinear ? 1 : 0;
}

// A view of the cube as the loops use it.
struct CubeSampleView {
    std::int32_t faceSize;
    std::int32_t outSize;
    CubeFilter filter;
    std::int32_t supersample;   // s, 1 .. kMaxSupersample
    float centre;               // (N - 1) / 2
    float scale;                // face units per dome pixel, F / N
    float halfFace;             // R = (F - 1) / 2
    float radiusSquared;        // R^2: the circle
    float thetaSquaredPerUnit;  // k^2, theta = k r for a distance r in face units
    float reach;                // R k: the direction is (R k S dx, R k S dy, R C)
    float cosTilt;
    float sinTilt;
    float cosPan;
    float sinPan;
    float offsets[kMaxSupersample];  // sub-sample positions from the pixel's centre
    float inverseCount;              // 1 / s^2
};

// The faces of one frame as the loops read them: one block of texels
// holding, per face, the texels the view reads, a border beyond the face's
// edges included. Face texel (x, y), counted from the top left of the face,
// is texels[origin + y x pitch + x]. Tap windows start within
// [lowX, highX] x [lowY, highY]; the loops clamp them there, which keeps
// every read inside the block whatever the arithmetic gives. Entries 6 and 7
// are never read. 8-bit faces are read as 32-bit words; deep ones as four
// floats a texel (CubeDeepTexel).
template <class Texel>
struct CubeSampleSourcesOf {
    const Texel* texels;
    std::int32_t origin[8];
    std::int32_t pitch[8];
    std::int32_t lowX[8];
    std::int32_t highX[8];
    std::int32_t lowY[8];
    std::int32_t highY[8];
};
using CubeSampleSources = CubeSampleSourcesOf<std::uint32_t>;

// A texel of 16-bit or float faces, in the units of the dome's channel type:
// 0 .. 65535 for a 16-bit dome, the picture's own floats for a float one.
using CubeDeepTexel = PixelF;
using CubeDeepSampleSources = CubeSampleSourcesOf<CubeDeepTexel>;

// The first texels of the tap windows a view reads from each face (inclusive
// bounds, face coordinates); low above high for a face it never reads.
struct CubeSampleReach {
    std::int32_t lowX[6];
    std::int32_t highX[6];
    std::int32_t lowY[6];
    std::int32_t highY[6];

    static CubeSampleReach None();
    void Include(const CubeSampleReach& other);
    bool Reads(int face) const { return lowX[face] <= highX[face]; }
};

// Where a view at s = 1 reads every dome pixel, as the loops above compute it
// from the projection, kept so that the frames of a job read it instead of
// projecting again: per pixel the tap window's first texel, clamped as the
// loops clamp it, and the position's distance from it along x and y. Rows hold
// the blocks of kCubeTapBlock pixels that meet the circle; the rest of a row
// lies outside it and is transparent black.
inline constexpr std::int32_t kCubeTapBlock = 16;  // a whole number of vectors on every target

// Bits 31..29: the face, 7 outside the circle; bits 28..0: the window's first
// texel counted from the first texel the face holds, row by row at the pitch
// it is held at (CubeSampleSourcesOf).
inline constexpr int kCubeTapFaceShift = 29;
inline constexpr std::uint32_t kCubeTapOffsetMask = (1u << kCubeTapFaceShift) - 1;
inline constexpr std::uint32_t kCubeTapOutside = 7u << kCubeTapFaceShift;

struct alignas(64) CubeTapBlock {
    std::uint32_t window[kCubeTapBlock];
    float fractionX[kCubeTapBlock];
    float fractionY[kCubeTapBlock];
};

struct CubeTapRow {
    std::int64_t start;  // index of the row's first block in the table
    std::int32_t first;  // its first and end block columns (pixel / kCubeTapBlock)
    std::int32_t end;
};

// The texels a view holds of each face, as the loops clamp windows into them.
struct CubeHeldFaces {
    std::int32_t left[6];
    std::int32_t top[6];
    std::int32_t pitch[6];
    std::int32_t highX[6];
    std::int32_t highY[6];
};

struct CubeTapTableView {
    const CubeTapRow* rows;  // one per dome row
    const CubeTapBlock* blocks;
    // Per face, how many of its rows further down the dome's next rows read
    // (negative where they read upwards), for prefetching; 0 for 6 and 7.
    std::int32_t rowsAhead[8];
};

// Dome rows [first, end), written to rows [targetFirst, targetFirst + end -
// first) of `dome`: the whole dome (targetFirst = first), or a band of it.
using CubeSampleRowLoop = void (*)(const CubeSampleView& view, const CubeSampleSources& sources, CImageBuffer& dome,
                                   std::int32_t first, std::int32_t end, std::int32_t targetFirst);
// Dome rows [first, end) of a 16-bit or float dome. Each sub-sample is
// filtered as in the 8-bit loop, in floats; a 16-bit dome gets the average
// rounded to the nearest level, a float dome the average itself.
using CubeDeepSampleRowLoop = void (*)(const CubeSampleView& view, const CubeDeepSampleSources& sources,
                                       CImageBuffer& dome, std::int32_t first, std::int32_t end,
                                       std::int32_t targetFirst);
// The same from a tap table of the view, which must be at s = 1 and the
// filter bilinear or bicubic: pixel for pixel what the loops above give.
using CubeTapSampleRowLoop = void (*)(const CubeSampleView& view, const CubeTapTableView& table,
                                      const CubeSampleSources& sources, CImageBuffer& dome, std::int32_t first,
                                      std::int32_t end, std::int32_t targetFirst);
using CubeDeepTapSampleRowLoop = void (*)(const CubeSampleView& view, const CubeTapTableView& table,
                                          const CubeDeepSampleSources& sources, CImageBuffer& dome,
                                          std::int32_t first, std::int32_t end, std::int32_t targetFirst);
// Building a tap table over dome rows [first, end): first the span of blocks
// of each row that meet the circle (rows[i].first and end), then, once the
// rows have their starts, the blocks.
using CubeTapSpanRowLoop = void (*)(const CubeSampleView& view, std::int32_t first, std::int32_t end,
                                    CubeTapRow* rows);
using CubeTapFillRowLoop = void (*)(const CubeSampleView& view, const CubeHeldFaces& held, std::int32_t first,
                                    std::int32_t end, const CubeTapRow* rows, CubeTapBlock* blocks);

// The dry run over dome rows [first, end), added to `reach`.
using CubeReachRowLoop = void (*)(const CubeSampleView& view, std::int32_t first, std::int32_t end,
                                  CubeSampleReach& reach);

}  // namespace skelvane
