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
// black.
using PanoRowLoop = void (*)(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                             float period, std::uint32_t* out);

// The row loop for the targets usable now (engine/simd/SimdTargets.h).
PanoRowLoop ChoosePanoRowLoop();

}  // namespace skelvane
