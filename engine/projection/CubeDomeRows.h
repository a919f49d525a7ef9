// The per-frame pixel loops of the cube dome renderers.
//
// Both renderers end in the same gather: each output pixel names one pixel of
// one face, or none, and copies it. These loops do it for a band of rows, one
// pixel at a time or, where the processor has vectors, in blocks of a vector
// of pixels, in a pipeline of two steps (engine/simd/CubeDomeRowsSimd.cpp):
// 1. Plan: a block of map entries is turned into a face and a pixel of it
//    per lane. From the face map (CCubeDomeProjector::RenderCubeDome) that
//    means rounding u and v exactly as cube_geometry::RoundToFacePixel does,
//    overflow flags included, and clamping them into the face; from packed
//    words (CFaceGatherMap::Render) the top three bits pick one of eight
//    sources and the bits below are the offset in it. Face lines that the
//    block reads for the first time are prefetched now.
// 2. Gather: a few hundred pixels behind the plan, when those lines have
//    arrived, the block is read and written. A dome too large for the caches
//    is written with streaming stores, which do not read its lines before
//    overwriting them.
// Pixels before a row's first 64-byte line and after its last block take the
// one-pixel loop, as do blocks whose face numbers need wrapping; the
// one-pixel loop is also the whole loop without vectors.
#pragma once

#include <cstdint>

#include "engine/projection/CubeDomeProjector.h"
#include "engine/image/ImageBuffer.h"

namespace skelvane {

// Where each of eight sources is read: the first pixel of its block (its
// bottom row, as blocks are stored bottom-up), its last row and column, and
// the pixels from one row to the next. A source that reads one fixed pixel
// has last row, last column and pitch 0. P is the pixel type (std::uint32_t,
// Pixel16 or PixelF); the vector loops read 32-bit faces.
template <class P>
struct CubeFaceSourcesOf {
    const P* bottom[8];
    std::int32_t lastColumn[8];
    std::int32_t lastRow[8];
    std::int32_t pitch[8];
};
using CubeFaceSources = CubeFaceSourcesOf<std::uint32_t>;

// The faces as RenderCubeDome reads them: each face is read with its own
// size; an empty face or one of another channel type than P reads opaque
// black.
template <class P>
CubeFaceSourcesOf<P> FaceMapSourcesOf(const CubeFaces& faces);

template <class P>
struct FaceMapFrameOf {
    const FaceMapEntry* map;
    std::int32_t outSize;
    std::int32_t faceSize;  // the size the map was built for
    CubeFaceSourcesOf<P> sources;
    CImageBuffer* dome;
};
using FaceMapFrame = FaceMapFrameOf<std::uint32_t>;

// Rows [first, end) of the dome from the face map. Sets the flags where a
// position rounds to or beyond the face size, as RoundToFacePixel does.
using FaceMapRowLoop = void (*)(const FaceMapFrame& frame, std::int32_t first, std::int32_t end, bool& overflowW,
                                bool& overflowH);

// The top three bits of a packed word pick a source; the word masked with the
// source's mask is the pixel's offset from the source's base.
inline constexpr int kPackedSourceShift = 29;

template <class P>
struct PackedFrameOf {
    const std::uint32_t* words;
    std::int32_t outSize;
    const P* base[8];
    std::uint32_t mask[8];
    CImageBuffer* dome;
};
using PackedFrame = PackedFrameOf<std::uint32_t>;

// Rows [first, end) of the dome from packed words.
using PackedRowLoop = void (*)(const PackedFrame& frame, std::int32_t first, std::int32_t end);

// Rows per band that let the two passes run ahead of each other; bands of
// fewer rows still come out right.
inline constexpr std::int32_t kCubeRowsPerBand = 32;

}  // namespace skelvane
