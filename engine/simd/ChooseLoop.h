// Picks a loop from a Highway dispatch table (HWY_EXPORT) once, for the
// targets usable now, so that a plan or frame keeps a plain function pointer
// instead of dispatching on every call.
#pragma once

#include <cstddef>

#include <hwy/highway.h>

#include "engine/simd/SimdTargets.h"

namespace skelvane::simd {

template <class Function, std::size_t N>
Function ChooseFromTable(Function const (&table)[N])
{
    if constexpr (N == 1) {
        return table[0];
    } else {
        hwy::ChosenTarget chosen;
        chosen.Update(UsableTargets());
        return table[chosen.GetIndex()];
    }
}

}  // namespace skelvane::simd

// The loop FUNCTION, exported with HWY_EXPORT in this file, for the targets
// usable now.
#define SKELVANE_CHOOSE_LOOP(FUNCTION) ::skelvane::simd::ChooseFromTable(HWY_DISPATCH_TABLE(FUNCTION))
