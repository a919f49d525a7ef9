// Runs a test body under each pixel loop of the cube dome renderers.
#pragma once

#include "engine/CubeDomeRows.h"

namespace skelvane::test {

// Calls body(name) with the one-pixel loop, then with each wider loop the
// processor has; the widest is left on.
template <class Body>
void ForEachCubeRowLoop(Body&& body)
{
    const struct {
        CubeRowLoop loop;
        const char* name;
    } loops[] = {{CubeRowLoop::OnePixel, "one pixel"}, {CubeRowLoop::Avx2, "AVX2"}, {CubeRowLoop::Avx512, "AVX-512"}};
    for (const auto& each : loops) {
        if (UseCubeRowLoop(each.loop)) {
            body(each.name);
        }
    }
}

}  // namespace skelvane::test
