// The bicubic row loop of the panorama renderers
// (engine/projection/PanoDomeProjector.h) for the instruction sets the
// processor has.
#pragma once

#include <cstdint>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"

namespace skelvane {

// `count` consecutive dome pixels from their panorama positions: entry k
// read at column WrapColumn(x + shift, period) and row y into out[k], the
// outside marker, and columns and rows that are not finite, as transparent
// black. P is the panorama's and the dome's pixel (std::uint32_t, Pixel16 or
// PixelF).
template <class P>
using PanoRowLoopOf = void (*)(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                               float shift, float period, P* out);
using PanoRowLoop = PanoRowLoopOf<std::uint32_t>;

// The most frames one call of a frames loop blends.
inline constexpr std::int32_t kMaxPanoRowFrames = 8;

// The row loop for `frames` frames (1 .. kMaxPanoRowFrames) of one map at
// once: into out[f] the pixels the row loop gives for shifts[f]. The frames
// differ only in their columns, so what depends on the entries' rows alone
// is worked out once for all of them.
template <class P>
using PanoFramesRowLoopOf = void (*)(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count,
                                     const float* shifts, std::int32_t frames, float period, P* const* out);

// The row loops for the targets usable now (engine/simd/SimdTargets.h).
PanoRowLoop ChoosePanoRowLoop();
PanoRowLoopOf<Pixel16> ChoosePanoRow16Loop();
PanoRowLoopOf<PixelF> ChoosePanoRowFloatLoop();
PanoFramesRowLoopOf<std::uint32_t> ChoosePanoFramesRowLoop();
PanoFramesRowLoopOf<Pixel16> ChoosePanoFramesRow16Loop();
PanoFramesRowLoopOf<PixelF> ChoosePanoFramesRowFloatLoop();

}  // namespace skelvane
