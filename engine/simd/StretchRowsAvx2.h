// The four-at-a-time loop of engine/image/StretchRows.h for processors with AVX2
// but without the AVX-512 loop's instructions (the caller checks). Built
// wherever that loop is: x86-64 with GCC or Clang.
#pragma once

#include <cstdint>

#include "engine/image/StretchRows.h"
#include "engine/simd/StretchRowsAvx512.h"

#if SKELVANE_STRETCH_AVX512
namespace skelvane {

bool CpuHasStretchAvx2();

// As StretchGroupsAvx512, for the same groups; `columns` are the columns the
// groups were planned from.
void StretchGroupsAvx2(const StretchGroups& groups, const StretchColumn* columns, const StretchRowSources& row,
                       const StretchWeights& weights, std::uint32_t* out);

}  // namespace skelvane
#endif
