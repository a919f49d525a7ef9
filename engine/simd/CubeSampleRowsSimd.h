// The filtered and supersampled cube dome loops (engine/projection/CubeSampleRows.h)
// for the instruction sets the processor has.
#pragma once

#include "engine/projection/CubeSampleRows.h"

namespace skelvane {

// The loops for the targets usable now (engine/simd/SimdTargets.h).
CubeSampleRowLoop ChooseCubeSampleRowLoop();
CubeDeepSampleRowLoop ChooseCubeDeepSampleRowLoop();
CubeReachRowLoop ChooseCubeReachRowLoop();
CubeTapSampleRowLoop ChooseCubeTapSampleRowLoop();
CubeDeepTapSampleRowLoop ChooseCubeDeepTapSampleRowLoop();
CubeTapSpanRowLoop ChooseCubeTapSpanRowLoop();
CubeTapFillRowLoop ChooseCubeTapFillRowLoop();

}  // namespace skelvane
