// Runs a test body under each pixel loop of the cube dome renderers.
#pragma once

#include "engine/CubeDomeRows.h"

namespace skelvane::test {

// Calls body(vector) with the one-pixel loop, then with the sixteen-pixel loop
// where the processor has it (`vector` says which one ran); the faster loop is
// left on.
template <class Body>
void ForEachCubeRowLoop(Body&& body)
{
    for (const bool wanted : {false, true}) {
        body(UseVectorCubeRows(wanted));
    }
}

}  // namespace skelvane::test
