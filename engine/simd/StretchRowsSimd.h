// The resampler's row loop (engine/image/StretchRows.h) for the instruction
// sets the processor has.
#pragma once

#include "engine/image/StretchRows.h"

namespace skelvane {

// The row loop for the targets usable now (engine/simd/SimdTargets.h).
StretchRowLoop ChooseStretchRowLoop();

}  // namespace skelvane
