// Runs a test body under each instruction set the pixel loops are built for
// and the processor has.
#pragma once

#include <string>

#include "engine/simd/SimdTargets.h"

namespace skelvane::test {

// Calls body(name) once per target, narrowest (no vectors) first, with the
// loops picked from that target only; afterwards the loops are picked as
// before.
template <class Body>
void ForEachSimdTarget(Body&& body)
{
    for (const std::int64_t target : simd::SupportedTargets()) {
        simd::UseOnlyTargetForTest(target);
        const std::string name = simd::TargetName(target);
        body(name.c_str());
    }
    simd::UseOnlyTargetForTest(0);
}

}  // namespace skelvane::test
