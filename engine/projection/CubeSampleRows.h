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

// Dome rows [first, end).
using CubeSampleRowLoop = void (*)(const CubeSampleView& view, const CubeSampleSources& sources, CImageBuffer& dome,
                                   std::int32_t first, std::int32_t end);
// Dome rows [first, end) of a 16-bit or float dome. Each sub-sample is
// filtered as in the 8-bit loop, in floats; a 16-bit dome gets the average
// rounded to the nearest level, a float dome the average itself.
using CubeDeepSampleRowLoop = void (*)(const CubeSampleView& view, const CubeDeepSampleSources& sources,
                                       CImageBuffer& dome, std::int32_t first, std::int32_t end);
// The dry run over dome rows [first, end), added to `reach`.
using CubeReachRowLoop = void (*)(const CubeSampleView& view, std::int32_t first, std::int32_t end,
                                  CubeSampleReach& reach);

}  // namespace skelvane
