// Runs a test body under each pixel loop of a kind.
#pragma once

#include "engine/simd/LoopSwitch.h"

namespace skelvane::test {

// Calls body(name) with the one-pixel loop, then with each wider loop the
// processor has, switching them with use(loop) (UseCubeRowLoop and the
// like); the widest is left on.
template <class Use, class Body>
void ForEachPixelLoop(Use&& use, Body&& body)
{
    const struct {
        PixelLoop loop;
        const char* name;
    } loops[] = {{PixelLoop::OnePixel, "one pixel"}, {PixelLoop::Avx2, "AVX2"}, {PixelLoop::Avx512, "AVX-512"}};
    for (const auto& each : loops) {
        if (use(each.loop)) {
            body(each.name);
        }
    }
}

}  // namespace skelvane::test
