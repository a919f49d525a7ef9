// Runs a test body under each pixel loop of the cube dome renderers.
#pragma once

#include "engine/projection/CubeDomeRows.h"
#include "support/PixelLoops.h"

namespace skelvane::test {

template <class Body>
void ForEachCubeRowLoop(Body&& body)
{
    ForEachPixelLoop(UseCubeRowLoop, body);
}

}  // namespace skelvane::test
