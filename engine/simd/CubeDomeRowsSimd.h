// The cube dome renderers' row loops (engine/projection/CubeDomeRows.h) for
// the instruction sets the processor has.
#pragma once

#include <cstdint>

#include "engine/projection/CubeDomeRows.h"

namespace skelvane {

// The loops for the targets usable now (engine/simd/SimdTargets.h).
FaceMapRowLoop ChooseFaceMapRowLoop();
PackedRowLoop ChoosePackedRowLoop();

}  // namespace skelvane
