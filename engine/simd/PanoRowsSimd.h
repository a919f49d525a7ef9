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

// The row loops for the targets usable now (engine/simd/SimdTargets.h).
PanoRowLoop ChoosePanoRowLoop();
PanoRowLoopOf<Pixel16> ChoosePanoRow16Loop();
PanoRowLoopOf<PixelF> ChoosePanoRowFloatLoop();

}  // namespace skelvane
